// Names as the service sends them: GBK bytes, kept as byte strings so that
// they go back byte for byte, and decoded only to be shown.

// "x-user-defined" turns every byte into one character (0x80-0xFF become
// U+F780-U+F7FF), so a name parsed from a reply can be sent back as exactly
// the bytes it came as; only display() decodes GBK.
const byteDecoder = new TextDecoder("x-user-defined");
const gbkDecoder = new TextDecoder("gbk");

// The byte string of `bytes` (an ArrayBuffer or a view of one).
export function byteText(bytes) {
  return byteDecoder.decode(bytes);
}

// The bytes a byte string stands for.
export function byteString(raw) {
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; i++) {
    const c = raw.charCodeAt(i);
    bytes[i] = c >= 0xf780 ? c - 0xf700 : c;
  }
  return bytes;
}

export function display(raw) {
  return gbkDecoder.decode(byteString(raw));
}

// Labels must be unique within a chart; a repeated name gets its index.
// `info` is the record's list of those channels, for their units.
export function seriesLabels(channels, info) {
  const seen = new Set();
  return channels.map((c, i) => {
    const meta = info.find((m) => m.name === c.name);
    let label = display(c.name) + (meta && meta.unit ? ` [${display(meta.unit)}]` : "");
    if (seen.has(label)) label += ` #${i + 1}`;
    seen.add(label);
    return label;
  });
}
