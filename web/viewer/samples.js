// Time stamps, buckets and windows of samples: the arithmetic of the page,
// free of the page itself.

// The narrowest window, in samples: a handful of single samples.
export const MIN_WINDOW = 8;
export const MAX_POINTS = 100000;
// From this span on, times are written in s.
const LONG_SPAN_MS = 10000;

// Microseconds of a COMTRADE time stamp "dd/mm/yyyy,hh:mm:ss.ffffff"
// (month first in 1991 records), counted from an arbitrary day; null when the
// text is not one. Writers mix the two orders up, so a "month" above 12 is
// taken as the day. A year of one or two digits is 1969-2068, as the
// service reads it, so that the page's trigger agrees with its answers. Only
// differences of two stamps are used.
export function timestampUs(text, monthFirst) {
  const m = /^\s*(\d+)\/(\d+)\/(\d+)\s*,\s*(\d+):(\d+):(\d+)(\.\d*)?/.exec(text || "");
  if (!m) return null;
  let [day, month] = monthFirst ? [+m[2], +m[1]] : [+m[1], +m[2]];
  if (month > 12) [day, month] = [month, day];
  let year = +m[3];
  if (m[3].length <= 2) year += year < 69 ? 2000 : 1900;
  // Date.UTC would take years below 100 for 19yy.
  const date = new Date(0);
  date.setUTCFullYear(year, month - 1, day);
  const seconds = date.getTime() / 1000 + +m[4] * 3600 + +m[5] * 60 + +m[6];
  return seconds * 1e6 + (m[7] ? Math.round(parseFloat("0" + m[7]) * 1e6) : 0);
}

// The trigger time after the first sample of a "/getRecordInfo" record, in
// ms, or null when either stamp cannot be read.
export function triggerOffsetMs(info) {
  const revision = String(info.revision).trim();
  const monthFirst = revision === "" || revision === "1991";
  const start = timestampUs(info.startTime, monthFirst);
  const trigger = timestampUs(info.triggerTime, monthFirst);
  return start === null || trigger === null ? null : (trigger - start) / 1000;
}

// The number of buckets to ask for a chart `width` pixels wide: about one per
// pixel.
export function pointsForWidth(width) {
  return Math.max(1, Math.min(MAX_POINTS, Math.round(width)));
}

// A bucket as a chart row's [low, middle, high], lifted by `offset`; null
// where the bucket has no value.
export function bucket(min, max, offset) {
  if (min === null || max === null) return null;
  return [min + offset, (min + max) / 2 + offset, max + offset];
}

// The sample at time `ms` of a "/getWaveform" answer, read off the buckets'
// start times, so that records with several rates map correctly too.
export function sampleAt(view, ms) {
  const xs = view.time.map((us) => us / 1000);
  let i = 0;
  while (i + 1 < xs.length && xs[i + 1] <= ms) i++;
  const next = i + 1 < xs.length ? xs[i + 1] : xs[i] + (i > 0 ? xs[i] - xs[i - 1] : 1);
  const fraction = next > xs[i] ? Math.min(1, Math.max(0, (ms - xs[i]) / (next - xs[i]))) : 0;
  return view.from + (i + fraction) * view.step;
}

// The window [from, to) of whole samples nearest to the one asked for, no
// narrower than MIN_WINDOW and inside a record of `total` samples. A window
// widened to MIN_WINDOW keeps its centre, so zooming in at the narrowest
// window leaves it where it is.
export function clampWindow(from, to, total) {
  let width = Math.round(to - from);
  if (width < MIN_WINDOW) {
    from = (from + to) / 2 - MIN_WINDOW / 2;
    width = MIN_WINDOW;
  }
  width = Math.min(total, width);
  from = Math.max(0, Math.min(total - width, Math.round(from)));
  return { from, to: from + width };
}

// [from, to) of `window` scaled by `factor` around its centre.
export function zoomed(window, factor) {
  const { from, to } = window;
  const centre = (from + to) / 2;
  const width = (to - from) * factor;
  return [centre - width / 2, centre + width / 2];
}

// [from, to) of `window` moved by `fraction` of its width, at least a sample.
export function panned(window, fraction) {
  const { from, to } = window;
  const shift = Math.round((to - from) * fraction) || Math.sign(fraction);
  return [from + shift, to + shift];
}

// [from, to) of a window around `sample`: the width of `window`, but no more
// than a quarter of the `total` samples, so that a jump from the whole record
// shows where it landed (clampWindow keeps it inside the record).
export function centredOn(window, sample, total) {
  const width = Math.max(1, Math.min(window.to - window.from, Math.ceil(total / 4)));
  const from = Math.round(sample - width / 2);
  return [from, from + width];
}

// A time on the charts' axis, in ms, or in s when `spanMs` (the length of
// what is shown) is long enough that ms figures stop being readable.
export function msText(ms, spanMs = 0) {
  return spanMs >= LONG_SPAN_MS ? `${(ms / 1000).toFixed(4)} s` : `${ms.toFixed(3)} ms`;
}

// The unit msText writes for a span.
export function timeUnit(spanMs) {
  return spanMs >= LONG_SPAN_MS ? "s" : "ms";
}

// The time span [first, last] in ms that a "/getWaveform" answer covers, from
// its first sample to its last one (not to the start of its last bucket), or
// null when it has no samples. The samples of the last bucket are taken to be
// as far apart as those of the bucket before it.
export function viewSpanMs(view) {
  const n = view.time.length;
  if (n === 0) return null;
  const first = view.time[0] / 1000, last = view.time[n - 1] / 1000;
  const inLast = view.to - (view.from + (n - 1) * view.step);
  const perSample = n > 1 ? (last - view.time[n - 2] / 1000) / view.step : 0;
  const end = last + Math.max(0, inLast - 1) * perSample;
  return [first, end > first ? end : first + 1];
}

// The trigger offset when it is one a record can have: clocks left unset
// write 1970 and others, thousands of years from the start. Within a day of
// the record's span, else null.
export function plausibleTriggerMs(offsetMs, durationMs) {
  const day = 86400000;
  if (offsetMs === null || !Number.isFinite(offsetMs)) return null;
  return offsetMs >= -day && offsetMs <= (durationMs || 0) + day ? offsetMs : null;
}

// Thousands grouped, as people read sample counts.
export function countText(n) {
  return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ",");
}

// A bucket's [low, middle, high] as its value, or its span when it has one.
export function bandText(b) {
  if (!b) return "—";
  return b[0] === b[2] ? valueText(b[0]) : `${valueText(b[0])} … ${valueText(b[2])}`;
}

// A channel value as "/getFileInfo" writes it.
export function valueText(v) {
  return v === null || v === undefined || !Number.isFinite(v) ? "—" : v.toFixed(4);
}

// A status bucket lifted by `offset` as 0 or 1, or "0/1" when it changed.
export function stateText(b, offset) {
  if (!b) return "—";
  const lo = Math.round(b[0] - offset), hi = Math.round(b[2] - offset);
  return lo === hi ? String(lo) : `${lo}/${hi}`;
}
