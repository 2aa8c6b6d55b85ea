// The record's header as the page shows it: the facts of its .cfg, its
// sampling rates (folded when there are many), what its data file really
// holds, and the table of its analog channels' units and scaling.
import { countText, plausibleTriggerMs } from "./samples.js";
import { unitText } from "./names.js";

// Above this many rate lines the rates fold into a table.
const RATES_INLINE = 2;

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (className) e.className = className;
  return e;
}

function ratesNode(rates) {
  if (rates.length === 0) return document.createTextNode("none");
  const line = (r) => `${r.rate} Hz to sample ${r.last}`;
  if (rates.length <= RATES_INLINE) return document.createTextNode(rates.map(line).join(", "));
  const hz = rates.map((r) => Number(r.rate)).filter(Number.isFinite);
  const details = element("details");
  details.id = "rates";
  details.append(element("summary",
      `${rates.length} rates, ${Math.min(...hz)}–${Math.max(...hz)} Hz`));
  const table = element("table");
  table.append(...rates.map((r, i) => {
    const tr = element("tr");
    tr.append(element("td", String(i + 1)), element("td", `${r.rate} Hz`),
              element("td", `to sample ${r.last}`));
    return tr;
  }));
  details.append(table);
  return details;
}

// The trigger as written and where it falls, when that is believable.
function triggerText(info, triggerMs) {
  const durationMs = info.durationUs / 1000;
  if (triggerMs === null) return info.triggerTime;
  if (plausibleTriggerMs(triggerMs, durationMs) === null) {
    return `${info.triggerTime} (not near the record's start: its clock was probably unset)`;
  }
  return `${info.triggerTime} (${triggerMs.toFixed(3)} ms after start)`;
}

// Fills the <dl> `list` with the header of `info` decoded with `decode`;
// `held` is the samples the data file holds (null until known).
export function showHeader(list, info, decode, triggerMs, held) {
  const duration = info.durationUs >= 10e6 ? `${(info.durationUs / 1e6).toFixed(3)} s`
                                           : `${(info.durationUs / 1000).toFixed(3)} ms`;
  let samples = countText(info.samples);
  if (held !== null && held < info.samples) {
    samples = `the data holds ${countText(held)} of ${countText(info.samples)} samples`;
  }
  const rows = [
    ["Station", decode(info.station)], ["Device", decode(info.device)],
    ["Revision", info.revision], ["Start", info.startTime],
    ["Trigger", triggerText(info, triggerMs)],
    ["Line frequency", info.frequency === null ? "—" : `${info.frequency} Hz`],
    ["Sampling", ratesNode(info.rates || [])], ["Samples", samples],
    ["Duration", duration],
    ["File type", info.fileType], ["Time multiplier", info.timeMultiplier],
  ];
  list.replaceChildren(...rows.flatMap(([term, value]) => {
    const dd = element("dd");
    if (value instanceof Node) dd.append(value); else dd.textContent = value;
    if (term === "Samples" && held !== null && held < info.samples) {
      dd.className = "short";
      dd.id = "short-data";
    }
    return [element("dt", term), dd];
  }));
}

// Fills the units table's <tbody> with the analog channels.
export function showUnits(tbody, analogs, decode) {
  tbody.replaceChildren(...analogs.map((a) => {
    const tr = element("tr");
    for (const value of [a.index, decode(a.name), decode(a.phase), decode(a.circuit),
                         unitText(decode, a.unit), a.a, a.b, a.skew, a.primary, a.secondary,
                         a.ps]) {
      tr.append(element("td", value === null || value === "" ? "—" : String(value)));
    }
    return tr;
  }));
}
