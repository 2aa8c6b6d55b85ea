// Names as the service sends them: raw bytes, kept as byte strings so that
// they go back byte for byte, and decoded only to be shown.

// "x-user-defined" turns every byte into one character (0x80-0xFF become
// U+F780-U+F7FF), so a name parsed from a reply can be sent back as exactly
// the bytes it came as; only the display functions decode.
const byteDecoder = new TextDecoder("x-user-defined");
const gbkDecoder = new TextDecoder("gbk");
const utf8Decoder = new TextDecoder("utf-8", { fatal: true });

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

// True when the bytes of `raw` hold a non-ASCII character and are valid UTF-8:
// GBK texts almost never are (their trail bytes are rarely UTF-8's).
function isUtf8(raw) {
  const bytes = byteString(raw);
  if (bytes.every((b) => b < 0x80)) return false;
  try {
    utf8Decoder.decode(bytes);
    return true;
  } catch (err) {
    return false;
  }
}

// The text of a byte string: UTF-8 where it is valid UTF-8 with non-ASCII
// characters, GBK otherwise. For names that stand alone (stations, records).
export function display(raw) {
  return (isUtf8(raw) ? new TextDecoder("utf-8") : gbkDecoder).decode(byteString(raw));
}

// The decoder of one record's texts, given all of them: 2013 records may be
// written in UTF-8, and a record is one or the other, so one text that is not
// valid UTF-8 makes the whole record GBK.
export function recordDecoder(texts) {
  const raws = texts.filter((t) => typeof t === "string" && t !== "");
  const utf8 = raws.some((t) => isUtf8(t)) &&
      raws.every((t) => byteString(t).every((b) => b < 0x80) || isUtf8(t));
  const decoder = utf8 ? new TextDecoder("utf-8") : gbkDecoder;
  return (raw) => (raw ? decoder.decode(byteString(raw)) : "");
}

// A unit as shown: writers pad it inside its field.
export function unitText(decode, raw) {
  return decode(raw || "").trim();
}

// Labels must be unique within a chart; a repeated label gets the channel's
// kind letter and position. `channels` are the record's channel entries
// ({kind, index, name, unit}) and `decode` the record's decoder.
export function seriesLabels(channels, decode) {
  const count = new Map();
  const base = channels.map((c) => {
    const unit = unitText(decode, c.unit);
    const label = decode(c.name).trim() + (unit ? ` [${unit}]` : "");
    count.set(label, (count.get(label) || 0) + 1);
    return label;
  });
  return base.map((label, i) => count.get(label) > 1
      ? `${label} #${channels[i].kind === "status" ? "s" : "a"}${channels[i].index}` : label);
}
