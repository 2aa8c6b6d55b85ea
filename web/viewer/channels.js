// Channels of a record as the page handles them: by kind and position (names
// repeat in real records), grouped into panes, and scaled to primary or
// secondary values. Free of the page itself.

// The key of a channel in the page's state and in the URL: "a3" is the third
// analog channel, "s2" the second status channel.
export function channelKey(kind, index) {
  return `${kind === "status" ? "s" : "a"}${index}`;
}

// The "/getWaveform" selector of a key, or null when it is not one.
export function selectorOf(key) {
  const m = /^([as])([1-9]\d*)$/.exec(key);
  if (!m) return null;
  return m[1] === "a" ? { analog: +m[2] } : { status: +m[2] };
}

// The record's channels as the page uses them: "/getRecordInfo"'s analogs and
// digitals, each with its kind, its 1-based position within its kind and its
// key. Positions are counted here, not read from "index": older services
// send the number as written, which for status channels often continues the
// analogs' numbering.
export function recordChannels(info) {
  const tag = (list, kind) => (list || []).map((c, i) => (
    { ...c, kind, index: i + 1, key: channelKey(kind, i + 1) }));
  return { analogs: tag(info.analogs, "analog"), digitals: tag(info.digitals, "status") };
}

// The key of a channel of a "/getWaveform" answer: by its kind and index when
// it has them, else the key asked for at its place in the request.
export function answerKeys(view, askedKeys) {
  return view.channels.map((c, i) =>
      c.kind && c.index ? channelKey(c.kind, c.index) : askedKeys[i]);
}

// The analog channels of `chosen` (record entries in record order) split
// into panes: "unit" puts channels of one unit together (kV apart from A, so
// that neither flattens the other), "channel" gives each its own. Returns
// [{title, channels}] in the order of each pane's first channel.
export function panesOf(chosen, mode, decode) {
  const panes = [];
  const byUnit = new Map();
  for (const c of chosen) {
    const unit = decode(c.unit || "").trim();
    if (mode === "channel") {
      panes.push({ title: decode(c.name).trim(), channels: [c] });
      continue;
    }
    const group = unit.toLowerCase();
    if (!byUnit.has(group)) {
      const pane = { title: unit || "no unit", channels: [] };
      byUnit.set(group, pane);
      panes.push(pane);
    }
    byUnit.get(group).channels.push(c);
  }
  return panes;
}

// The factor that turns a channel's values as recorded into `mode`'s
// ("recorded", "primary" or "secondary"), from the record's ratios and its
// "P"/"S" flag. 1 where the record gives no usable ratio: the values stay
// as recorded rather than become wrong.
export function scaleFactor(channel, mode) {
  const primary = Number(channel.primary), secondary = Number(channel.secondary);
  const ps = String(channel.ps || "").trim().toUpperCase();
  if (mode === "recorded" || !(primary > 0) || !(secondary > 0) || (ps !== "P" && ps !== "S")) {
    return 1;
  }
  if (mode === "primary") return ps === "S" ? primary / secondary : 1;
  return ps === "P" ? secondary / primary : 1;
}

// True when a channel's shown caption matches the filter text (any case;
// every word of the filter must occur).
export function matchesFilter(caption, filter) {
  const text = caption.toLowerCase();
  return filter.toLowerCase().split(/\s+/).filter(Boolean).every((w) => text.includes(w));
}
