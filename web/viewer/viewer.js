// The record viewer: lists stations, records and channels through the
// service's JSON queries and plots the chosen channels with dygraphs. Every
// action changes `state` and calls refresh(), which fetches the window of
// samples the charts show and draws it.
import { Charts } from "./charts.js";
import { display } from "./names.js";
import { QueryError, recordInfo, recordList, stationList, waveform } from "./queries.js";
import {
  clampWindow, panned, pointsForWidth, sampleAt, triggerOffsetMs, zoomed,
} from "./samples.js";

const state = {
  stations: [],     // station names as byte strings
  station: null,
  records: [],
  record: null,     // the record's name
  info: null,       // the "/getRecordInfo" record
  triggerMs: null,  // trigger time after the first sample, or null
  analogs: [],      // chosen analog channel names, in record order
  digitals: [],     // chosen status channel names, in record order
  window: { from: 0, to: 0 },  // samples, `to` exclusive
  view: null,       // the "/getWaveform" answer on screen
  asked: 0,         // numbers the requests, so a late answer cannot overwrite a newer one
};

const charts = new Charts({
  triggerMs: () => state.triggerMs,
  zoomTo: zoomToTimes,
  showWhole: () => setWindow(0, state.info.samples),
});

const $ = (id) => document.getElementById(id);

function showError(err) {
  const box = $("error");
  box.textContent = err instanceof QueryError ? err.message : `Unexpected error: ${err.message}`;
  box.hidden = false;
  if (!(err instanceof QueryError)) console.error(err);
}

function clearError() {
  $("error").hidden = true;
  $("error").textContent = "";
}

function setStatus(text) {
  $("status").textContent = text;
}

function fillList(select, names, emptyText) {
  select.replaceChildren();
  if (names.length === 0) {
    const option = new Option(emptyText, "");
    option.disabled = true;
    select.add(option);
    return;
  }
  names.forEach((name, i) => select.add(new Option(display(name), String(i))));
}

async function loadStations() {
  try {
    state.stations = await stationList();
    fillList($("stations"), state.stations, "(no stations)");
    setStatus(`${state.stations.length} station(s). Choose one.`);
  } catch (err) {
    setStatus("No stations.");
    showError(err);
  }
}

async function loadRecords() {
  clearError();
  showRecord(null);
  fillList($("records"), [], "(loading…)");
  const asked = ++state.asked;
  try {
    const records = await recordList(state.station);
    if (asked !== state.asked) return;
    state.records = records;
    fillList($("records"), state.records, "(no records)");
    setStatus(`${display(state.station)}: ${state.records.length} record(s). Choose one.`);
  } catch (err) {
    if (asked !== state.asked) return;
    state.records = [];
    fillList($("records"), [], "(no records)");
    showError(err);
  }
}

async function loadRecord() {
  clearError();
  showRecord(null);
  const asked = ++state.asked;
  const started = performance.now();
  try {
    const info = await recordInfo(state.station, state.record);
    if (asked !== state.asked) return;
    state.info = info;
    state.triggerMs = triggerOffsetMs(info);
    // One analog channel at once, so that opening a record shows it.
    state.analogs = info.analogs.length ? [info.analogs[0].name] : [];
    state.digitals = [];
    state.window = { from: 0, to: info.samples };
    showRecord(info);
    await refresh();
    if (state.view) {
      setStatus(`${display(state.record)} opened in ${Math.round(performance.now() - started)} ms.`);
    }
  } catch (err) {
    if (asked === state.asked) showError(err);
  }
}

function showRecord(info) {
  charts.destroy();
  state.view = null;
  $("record").hidden = !info;
  $("analog-channels").hidden = !info;
  $("status-channels").hidden = !info;
  if (!info) {
    state.info = null;
    return;
  }
  const rates = (info.rates || [])
      .map((r) => `${r.rate} Hz to sample ${r.last}`).join(", ") || "none";
  const rows = [
    ["Station", display(info.station)], ["Device", display(info.device)],
    ["Revision", info.revision], ["Start", info.startTime],
    ["Trigger", info.triggerTime + (state.triggerMs === null ? "" :
        ` (${state.triggerMs.toFixed(3)} ms after start)`)],
    ["Line frequency", info.frequency === null ? "—" : `${info.frequency} Hz`],
    ["Sampling", rates], ["Samples", info.samples],
    ["Duration", `${(info.durationUs / 1000).toFixed(3)} ms`],
    ["File type", info.fileType], ["Time multiplier", info.timeMultiplier],
  ];
  $("header").replaceChildren(...rows.flatMap(([term, value]) => {
    const dt = document.createElement("dt");
    const dd = document.createElement("dd");
    dt.textContent = term;
    dd.textContent = value;
    return [dt, dd];
  }));
  $("units").querySelector("tbody").replaceChildren(...info.analogs.map((a) => {
    const tr = document.createElement("tr");
    for (const value of [a.index, display(a.name), display(a.phase), display(a.circuit),
                         display(a.unit), a.a, a.b, a.skew, a.primary, a.secondary, a.ps]) {
      const td = document.createElement("td");
      td.textContent = value === null ? "—" : value;
      tr.append(td);
    }
    return tr;
  }));
  fillChoices($("analog-channels"), "analogs", info.analogs,
              (a) => a.unit ? `${display(a.name)} [${display(a.unit)}]` : display(a.name));
  fillChoices($("status-channels"), "digitals", info.digitals, (d) => display(d.name));
}

// `kind` is "analogs" or "digitals": the member of both `state` and the record.
function fillChoices(fieldset, kind, channels, caption) {
  const box = fieldset.querySelector(".choices");
  box.replaceChildren(...channels.map((channel) => {
    const label = document.createElement("label");
    const input = document.createElement("input");
    input.type = "checkbox";
    input.checked = state[kind].includes(channel.name);
    input.addEventListener("change", () => chooseChannel(kind, channel.name, input.checked));
    label.append(input, " ", caption(channel));
    return label;
  }));
}

function chooseChannel(kind, name, on) {
  const chosen = new Set(state[kind]);
  if (on) chosen.add(name); else chosen.delete(name);
  state[kind] = state.info[kind].map((c) => c.name).filter((n) => chosen.has(n));
  refresh();
}

// Empties both charts and says why in the window line.
function clearCharts(why) {
  state.view = null;
  charts.clear();
  $("window").textContent = why;
}

// Fetches the current window for the chosen channels and draws it.
async function refresh() {
  const names = [...state.analogs, ...state.digitals];
  const asked = ++state.asked;
  if (names.length === 0) {
    clearCharts("Choose channels to plot them.");
    return;
  }
  $("window").textContent = "Loading…";
  try {
    const width = $("analog-chart").clientWidth || $("record").clientWidth || 1000;
    const view = await waveform(state.station, state.record, names, state.window,
                                pointsForWidth(width));
    if (asked !== state.asked) return;
    clearError();
    draw(view);
  } catch (err) {
    if (asked !== state.asked) return;
    $("window").textContent = "";
    showError(err);
  }
}

function draw(view) {
  const info = state.info;
  const range = charts.draw(view, info, new Set(state.digitals));
  if (!range) {
    clearCharts("This record has no samples.");
    return;
  }
  state.view = view;
  const w = state.window;
  $("window").textContent =
      `Samples ${view.from}–${view.to - 1} of ${info.samples} · step ${view.step} · ` +
      `${view.time.length} points · ${range[0].toFixed(3)}–${range[1].toFixed(3)} ms` +
      (w.from === 0 && w.to === info.samples ? " (whole record)" : "");
}

function zoomToTimes(minMs, maxMs) {
  if (!state.view) return;
  setWindow(Math.floor(sampleAt(state.view, minMs)), Math.ceil(sampleAt(state.view, maxMs)) + 1);
}

function setWindow(from, to) {
  state.window = clampWindow(from, to, state.info.samples);
  refresh();
}

function zoomBy(factor) {
  setWindow(...zoomed(state.window, factor));
}

function panBy(fraction) {
  setWindow(...panned(state.window, fraction));
}

function onKey(event) {
  if (!state.info || event.ctrlKey || event.metaKey || event.altKey) return;
  const target = event.target;
  // Lists and text fields keep their own keys (arrows move the selection).
  if (target.tagName === "SELECT" || (target.tagName === "INPUT" && target.type !== "checkbox")) {
    return;
  }
  const actions = {
    "+": () => zoomBy(0.5), "=": () => zoomBy(0.5),
    "-": () => zoomBy(2), "_": () => zoomBy(2),
    ArrowLeft: () => panBy(-0.25), ArrowRight: () => panBy(0.25),
    "0": () => setWindow(0, state.info.samples), Home: () => setWindow(0, state.info.samples),
  };
  const action = actions[event.key];
  if (!action) return;
  event.preventDefault();
  action();
}

function init() {
  if (typeof Dygraph === "undefined") {
    showError(new QueryError("The chart library did not load from /viewer/dygraph.min.js " +
                             "(Debian's libjs-dygraphs must be installed where the service runs)."));
  }
  $("stations").addEventListener("change", (event) => {
    const name = state.stations[+event.target.value];
    if (name === undefined) return;
    state.station = name;
    loadRecords();
  });
  $("records").addEventListener("change", (event) => {
    const name = state.records[+event.target.value];
    if (name === undefined) return;
    state.record = name;
    loadRecord();
  });
  $("zoom-in").addEventListener("click", () => zoomBy(0.5));
  $("zoom-out").addEventListener("click", () => zoomBy(2));
  $("pan-left").addEventListener("click", () => panBy(-0.25));
  $("pan-right").addEventListener("click", () => panBy(0.25));
  $("zoom-reset").addEventListener("click", () => setWindow(0, state.info.samples));
  document.addEventListener("keydown", onKey);
  loadStations();
}

init();
