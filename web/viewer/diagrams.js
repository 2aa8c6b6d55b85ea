// The analysis panel's pictures and the arithmetic behind them: the phasor
// diagram and the harmonics bars as SVG, angles against a reference, event
// times against the trigger, the RMS points laid on the chart's buckets and
// the name a download gets. Free of the page's state.

import { byteText } from "./names.js";

const SVG = "http://www.w3.org/2000/svg";

// `angle` in degrees against `ref`, in (-180, 180] as the service gives
// angles; null when either is.
export function relativeAngle(angle, ref) {
  if (angle === null || ref === null || angle === undefined || ref === undefined) return null;
  let d = (angle - ref) % 360;
  if (d <= -180) d += 360;
  if (d > 180) d -= 360;
  return d;
}

// The arrow tips of `phasors` ([{magnitude, angle}], angles already against
// the reference) in a circle of `radius`, the largest magnitude at its rim and
// 0° pointing right, counter-clockwise positive (y grows downwards in SVG).
// A phasor without a value gets null: it has no arrow, and scaling the
// others by it would be wrong.
export function arrowTips(phasors, radius) {
  const drawn = (p) => p.magnitude !== null && p.angle !== null;
  const largest = Math.max(0, ...phasors.filter(drawn).map((p) => p.magnitude));
  return phasors.map((p) => {
    if (!drawn(p)) return null;
    const r = largest > 0 ? (p.magnitude / largest) * radius : 0;
    const rad = (p.angle * Math.PI) / 180;
    return { x: +(r * Math.cos(rad)).toFixed(3), y: +(-r * Math.sin(rad)).toFixed(3) };
  });
}

// The bars of `harmonics` ([{order, magnitude}]) in a `width` × `height`
// box: one slot an order, the tallest bar the box's height.
export function harmonicBars(harmonics, width, height) {
  const largest = Math.max(0, ...harmonics.map((h) => h.magnitude || 0));
  const slot = harmonics.length ? width / harmonics.length : 0;
  return harmonics.map((h, i) => {
    const tall = largest > 0 ? ((h.magnitude || 0) / largest) * height : 0;
    return { order: h.order, x: +(i * slot + slot * 0.15).toFixed(3), w: +(slot * 0.7).toFixed(3),
             y: +(height - tall).toFixed(3), h: +tall.toFixed(3) };
  });
}

// The time of an event in ms after the trigger, or after the first sample
// when the record's trigger time does not parse.
export function eventMs(timeUs, triggerUs) {
  return (timeUs - (triggerUs === null || triggerUs === undefined ? 0 : triggerUs)) / 1000;
}

// The values of points at `times` (µs, rising) on the chart's buckets that
// start at `xs` (µs): each bucket gets the last point at or before its end
// (the next bucket's start), null before the first point.
export function onBuckets(times, values, xs) {
  const out = [];
  let k = -1;
  xs.forEach((x, i) => {
    const end = i + 1 < xs.length ? xs[i + 1] : Infinity;
    while (k + 1 < times.length && times[k + 1] < end) k++;
    out.push(k < 0 ? null : values[k]);
  });
  return out;
}

// The file name a Content-Disposition header gives, else `fallback`, as a
// byte string (see names.js): the browser hands a header's bytes over as
// Latin-1 characters, and a record's name is GBK or UTF-8.
export function fileNameOf(disposition, fallback) {
  // filename* holds the record's own name, in UTF-8; filename only the
  // ASCII of it.
  const extended = /filename\*=UTF-8''([^;\s]+)/i.exec(disposition || "");
  if (extended) {
    try {
      return byteText(new TextEncoder().encode(decodeURIComponent(extended[1])));
    } catch (err) {
      // A broken escape: the plain name below.
    }
  }
  const m = /filename="([^"]*)"/.exec(disposition || "") || /filename=([^;\s]+)/.exec(disposition || "");
  if (!m || !m[1]) return fallback;
  return m[1].replace(/[\x80-\xff]/g, (ch) => String.fromCharCode(0xf700 + ch.charCodeAt(0)));
}

// The three channels first offered as a three-phase set: the first three of
// the first unit that has three, else the first three channels. `analogs`
// are record entries with keys, `decode` turns a unit's bytes into text.
export function threePhaseKeys(analogs, decode) {
  const byUnit = new Map();
  for (const c of analogs) {
    const unit = decode(c.unit || "").trim().toLowerCase();
    if (!byUnit.has(unit)) byUnit.set(unit, []);
    byUnit.get(unit).push(c.key);
  }
  const set = [...byUnit.values()].find((keys) => keys.length >= 3);
  return (set || analogs.map((c) => c.key)).slice(0, 3);
}

function svgNode(name, attributes, text) {
  const node = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, String(v));
  if (text !== undefined) node.textContent = text;
  return node;
}

// The phasor diagram of `phasors` ([{label, magnitude, angle}], angles
// against the reference) as an SVG element `size` pixels square.
export function phasorSvg(phasors, size) {
  // Room outside the rim for a label as wide as "Ua [kV]".
  const c = size / 2, radius = size / 2 - 56;
  const svg = svgNode("svg", { viewBox: `0 0 ${size} ${size}`, width: size, height: size,
                               class: "phasor-diagram", role: "img" });
  svg.append(svgNode("circle", { cx: c, cy: c, r: radius, class: "rim" }),
             svgNode("line", { x1: c - radius, y1: c, x2: c + radius, y2: c, class: "axis" }),
             svgNode("line", { x1: c, y1: c - radius, x2: c, y2: c + radius, class: "axis" }));
  arrowTips(phasors, radius).forEach((tip, i) => {
    if (!tip) return;
    const group = svgNode("g", { class: `phasor colour${i % 8}`, "data-label": phasors[i].label });
    const x = c + tip.x, y = c + tip.y;
    // The head: two short strokes back from the tip, 25° either side.
    const back = Math.atan2(-tip.y, -tip.x);
    const head = [back - 0.44, back + 0.44].map((a) => `${x + 9 * Math.cos(a)},${y + 9 * Math.sin(a)}`);
    group.append(svgNode("line", { x1: c, y1: c, x2: x, y2: y }),
                 svgNode("polyline", { points: `${head[0]} ${x},${y} ${head[1]}` }),
                 svgNode("text", { x: x + (tip.x >= 0 ? 4 : -4), y: y - 4,
                                   "text-anchor": tip.x >= 0 ? "start" : "end" }, phasors[i].label));
    svg.append(group);
  });
  return svg;
}

// The bar chart of `harmonics` ([{order, magnitude}]) as an SVG element.
export function harmonicsSvg(harmonics, width, height) {
  const top = 8, bottom = 18;
  const svg = svgNode("svg", { viewBox: `0 0 ${width} ${height}`, width, height,
                               class: "harmonics-chart", role: "img" });
  const inner = height - top - bottom;
  for (const bar of harmonicBars(harmonics, width, inner)) {
    const group = svgNode("g", { class: "bar", "data-order": bar.order });
    group.append(svgNode("rect", { x: bar.x, y: top + bar.y, width: bar.w, height: bar.h }),
                 svgNode("text", { x: bar.x + bar.w / 2, y: height - 4, "text-anchor": "middle" },
                         String(bar.order)));
    svg.append(group);
  }
  return svg;
}
