// The view as a URL fragment, so that a reloaded or sent link shows the same
// station, record, channels, window, cursors and settings. Names are byte
// strings (see names.js) and go into the fragment as their bytes,
// percent-encoded, so that a GBK name comes back as the same bytes.
import { byteString, byteText } from "./names.js";
import { selectorOf } from "./channels.js";

const UNRESERVED = /[A-Za-z0-9_.~-]/;

function encodeBytes(raw) {
  let out = "";
  for (const b of byteString(raw)) {
    const c = String.fromCharCode(b);
    out += UNRESERVED.test(c) ? c : `%${b.toString(16).toUpperCase().padStart(2, "0")}`;
  }
  return out;
}

function decodeBytes(text) {
  const bytes = [];
  for (let i = 0; i < text.length; i++) {
    if (text[i] === "%" && /^[0-9A-Fa-f]{2}$/.test(text.substr(i + 1, 2))) {
      bytes.push(parseInt(text.substr(i + 1, 2), 16));
      i += 2;
    } else {
      // Browsers may hand back characters they chose not to escape.
      bytes.push(...new TextEncoder().encode(text[i]));
    }
  }
  return byteText(new Uint8Array(bytes));
}

// The fragment (with its "#") of `view`: {station, record, channels (keys),
// window {from, to}, cursors {a, b} (samples or null), panes, values}.
export function fragmentOf(view) {
  const parts = [`st=${encodeBytes(view.station)}`, `rec=${encodeBytes(view.record)}`];
  if (view.channels && view.channels.length) parts.push(`ch=${view.channels.join(",")}`);
  if (view.window) parts.push(`w=${view.window.from}-${view.window.to}`);
  for (const name of ["a", "b"]) {
    const at = view.cursors && view.cursors[name];
    if (at !== null && at !== undefined) parts.push(`c${name}=${at}`);
  }
  if (view.panes) parts.push(`pane=${view.panes}`);
  if (view.values) parts.push(`val=${view.values}`);
  return `#${parts.join("&")}`;
}

const whole = (text) => (/^\d+$/.test(text || "") ? +text : null);

// The view a fragment stands for, or null when it names no station and
// record. Parts that do not parse are left out, never guessed.
export function parseFragment(hash) {
  const fields = new Map();
  for (const part of String(hash || "").replace(/^#/, "").split("&")) {
    const eq = part.indexOf("=");
    if (eq > 0) fields.set(part.slice(0, eq), part.slice(eq + 1));
  }
  if (!fields.get("st") || !fields.get("rec")) return null;
  const view = {
    station: decodeBytes(fields.get("st")),
    record: decodeBytes(fields.get("rec")),
    channels: (fields.get("ch") || "").split(",").filter((k) => selectorOf(k) !== null),
    window: null,
    cursors: { a: whole(fields.get("ca")), b: whole(fields.get("cb")) },
    panes: fields.get("pane") === "channel" ? "channel" : "unit",
    values: ["primary", "secondary"].includes(fields.get("val")) ? fields.get("val") : "recorded",
  };
  const w = /^(\d+)-(\d+)$/.exec(fields.get("w") || "");
  if (w && +w[2] > +w[1]) view.window = { from: +w[1], to: +w[2] };
  return view;
}
