// The record viewer: lists stations, records and channels through the
// service's JSON queries and plots the chosen channels with dygraphs. The
// window on screen changes only when its samples are drawn: every action
// asks for a new window and the answer, when it is still the newest one,
// becomes the view.
import { Analysis } from "./analysis.js";
import { Charts } from "./charts.js";
import { answerKeys, panesOf, recordChannels, scaleFactor, selectorOf } from "./channels.js";
import { showReadout } from "./cursors.js";
import { chartsPng, csvText, download } from "./export.js";
import { fragmentOf, parseFragment } from "./fragment.js";
import { showHeader, showUnits } from "./header.js";
import { display, recordDecoder, seriesLabels } from "./names.js";
import { Picker } from "./picker.js";
import {
  QueryError, recordInfo, recordList, showWhileBusy, stationList, waveform,
} from "./queries.js";
import {
  MAX_POINTS, centredOn, clampWindow, panned, plausibleTriggerMs, pointsForWidth, sampleAt,
  triggerOffsetMs, viewSpanMs, zoomed,
} from "./samples.js";

// A request that takes longer than this shows the busy sign.
const BUSY_AFTER_MS = 200;

const state = {
  stations: [], station: null, records: [], record: null,
  info: null, decode: display, channels: { analogs: [], digitals: [] },
  labels: new Map(),  // key -> the channel's label, unique within the record
  triggerMs: null,  // trigger time after the first sample, or null
  held: null,       // samples the data file holds, once an answer showed it short
  chosen: [],       // keys of the shown channels (see channels.js), in record order
  window: null,     // the window on screen, {from, to} in samples
  view: null,       // the "/getWaveform" answer on screen
  // Clicks place the active cursor; keys move the one placed last.
  cursors: { a: null, b: null }, active: "a", last: "a",
  panes: "unit", values: "recorded",
  asked: 0,         // numbers the requests, so a late answer cannot overwrite a newer one
};

const $ = (id) => document.getElementById(id);

const charts = new Charts($("panes"), {
  marks: () => ({ trigger: state.triggerMs, a: state.cursors.a && state.cursors.a.ms,
                  b: state.cursors.b && state.cursors.b.ms }),
  zoomTo: (minMs, maxMs) => {
    if (state.view) show(sampleAt(state.view, minMs), sampleAt(state.view, maxMs) + 1);
  },
  panMs: (ms) => {
    if (!state.view) return;
    // Samples per ms of the span on screen: a drag may reach beyond it.
    const [first, last] = viewSpanMs(state.view);
    const shift = Math.round(ms * Math.max(1, state.view.to - state.view.from - 1) / (last - first));
    show(state.window.from + shift, state.window.to + shift);
  },
  click: (ms) => state.view && placeCursor(state.active, Math.floor(sampleAt(state.view, ms))),
  showWhole: () => showWhole(),
});

const analysis = new Analysis(state, {
  factor: (key) => scaleFactor(entry(key), state.values), redraw: () => redraw(), failed: showError,
  goTo: (n) => state.window && show(...centredOn(state.window, n, total())).then(() => placeCursor("a", n)),
});

const picker = new Picker({ analog: $("analog-channels"), status: $("status-channels") },
                          $("filter"), (keys) => { state.chosen = keys; show(); });

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

// The samples a window may reach: fewer than the .cfg says when the data
// file is short.
const total = () => (state.held === null ? state.info.samples : state.held);

async function loadStations() {
  try {
    state.stations = await stationList();
    fillList($("stations"), state.stations, "(no stations)");
    $("status").textContent = `${state.stations.length} station(s). Choose one.`;
  } catch (err) {
    $("status").textContent = "No stations.";
    showError(err);
  }
}

async function loadRecords() {
  clearError();
  showRecord(null);
  fillList($("records"), [], "(loading…)");
  const asked = ++state.asked;
  try {
    let records;
    try {
      records = await recordList(state.station);
    } catch (err) {
      // An empty station is answered as a failure naming the service's
      // empty list; to a person it is a station without records.
      if (!(err instanceof QueryError) || !display(err.info).includes("station_vec")) throw err;
      records = [];
    }
    if (asked !== state.asked) return false;
    state.records = records;
    fillList($("records"), records, "(no records)");
    $("status").textContent = `${display(state.station)}: ${records.length ? records.length : "no"} records.`;
    return true;
  } catch (err) {
    if (asked !== state.asked) return false;
    state.records = [];
    fillList($("records"), [], "(no records)");
    showError(err);
    return false;
  }
}

// Opens the record; `restore` is a view parsed from the URL, or null.
async function loadRecord(restore) {
  clearError();
  showRecord(null);
  const asked = ++state.asked;
  const started = performance.now();
  try {
    const info = await recordInfo(state.station, state.record);
    if (asked !== state.asked) return;
    state.info = info;
    state.channels = recordChannels(info);
    state.decode = recordDecoder([info.station, info.device,
        ...[...info.analogs, ...info.digitals].flatMap((c) => [c.name, c.phase, c.circuit, c.unit])]);
    state.held = null;
    // Labels over the whole record, so that a repeated name reads the same
    // in the lists, the legends, the readout and the exports.
    const all = [...state.channels.analogs, ...state.channels.digitals];
    const labels = seriesLabels(all, state.decode);
    state.labels = new Map(all.map((c, i) => [c.key, labels[i]]));
    state.triggerMs = plausibleTriggerMs(triggerOffsetMs(info), info.durationUs / 1000);
    const known = new Set([...state.channels.analogs, ...state.channels.digitals].map((c) => c.key));
    state.chosen = restore ? restore.channels.filter((k) => known.has(k))
                           : state.channels.analogs.slice(0, 1).map((c) => c.key);
    state.cursors = { a: null, b: null };
    state.active = state.last = "a";
    if (restore) {
      state.panes = restore.panes;
      state.values = restore.values;
    }
    $("panes-mode").value = state.panes;
    $("values").value = state.values;
    showRecord(info);
    analysis.recordOpened().catch(showError);
    const w = restore && restore.window ? restore.window : { from: 0, to: info.samples };
    await show(w.from, w.to);
    if (restore) {
      for (const name of ["a", "b"]) {
        if (restore.cursors[name] !== null) await placeCursor(name, restore.cursors[name]);
      }
    }
    if (state.view) {
      $("status").textContent =
          `${display(state.record)} opened in ${Math.round(performance.now() - started)} ms.`;
    }
  } catch (err) {
    if (asked === state.asked) showError(err);
  }
}

function showRecord(info) {
  charts.clear();
  state.view = null;
  state.window = null;
  $("record").hidden = !info;
  $("channel-picking").hidden = !info;
  if (!info) {
    state.info = null;
    return;
  }
  showHeader($("header"), info, state.decode, triggerOffsetMs(info), state.held);
  showUnits($("units").querySelector("tbody"), state.channels.analogs, state.decode);
  const chosen = new Set(state.chosen);
  const caption = (c) => state.labels.get(c.key);
  picker.fill("analog", state.channels.analogs.map((c) => ({ key: c.key, caption: caption(c) })), chosen);
  picker.fill("status", state.channels.digitals.map((c) => ({ key: c.key, caption: caption(c) })), chosen);
  showReadout($("readout"), [], state.cursors);
}

// The record's entry of a key.
function entry(key) {
  const list = key[0] === "a" ? state.channels.analogs : state.channels.digitals;
  return list[+key.slice(1) - 1];
}

// The shown channels as columns: their labels (unique), whether they are
// status channels and the factor of the chosen values.
function columns(keys) {
  return keys.map(entry).map((c) => ({
    key: c.key, label: state.labels.get(c.key), status: c.kind === "status",
    factor: c.kind === "status" ? 1 : scaleFactor(c, state.values),
  }));
}

// Asks for the window [from, to) (the one on screen when left out) and draws
// it when its answer is still the newest request's.
async function show(from, to) {
  if (!state.info) return;
  const base = state.window || { from: 0, to: state.info.samples };
  const target = from === undefined ? base : clampWindow(from, to, total());
  const keys = state.chosen;
  const asked = ++state.asked;
  if (keys.length === 0) {
    state.view = null;
    state.window = target;
    charts.clear();
    $("window").textContent = "Choose channels to plot them.";
    updateFragment();
    return;
  }
  try {
    const width = $("panes").clientWidth || $("record").clientWidth || 1000;
    const view = await waveform(state.station, state.record, keys.map(selectorOf), target,
                                pointsForWidth(width));
    if (asked !== state.asked) return;
    clearError();
    if (view.to < target.to && (state.held === null || view.to < state.held)) {
      state.held = view.to;
      showHeader($("header"), state.info, state.decode, triggerOffsetMs(state.info), state.held);
    }
    state.window = { from: view.from, to: Math.max(view.from, view.to) };
    draw(view, keys);
  } catch (err) {
    if (asked === state.asked) showError(err);
  }
}

function draw(view, askedKeys) {
  const range = viewSpanMs(view);
  if (!range) {
    state.view = null;
    charts.clear();
    $("window").textContent = "This record has no samples.";
    updateFragment();
    return;
  }
  state.view = view;
  view.keys = answerKeys(view, askedKeys);
  redraw();
  analysis.windowShown(view);
  const info = state.info;
  const w = state.window;
  $("window").textContent =
      `Samples ${w.from}–${w.to - 1} of ${info.samples} · step ${view.step} · ` +
      `${view.time.length} points · ${range[0].toFixed(3)}–${range[1].toFixed(3)} ms` +
      (w.from === 0 && w.to >= total() ? " (whole record)" : "");
  updateFragment();
}

// Draws the view on screen again, as the pane and value settings say.
function redraw() {
  const view = state.view;
  if (!view) return;
  const cols = columns(view.keys);
  const series = view.channels.map((c, i) => ({
    label: cols[i].label,
    min: c.min.map((v) => (v === null ? null : v * cols[i].factor)),
    max: c.max.map((v) => (v === null ? null : v * cols[i].factor)),
  }));
  const byKey = new Map(view.keys.map((k, i) => [k, series[i]]));
  const analog = view.keys.filter((k) => k[0] === "a").map(entry);
  const panes = panesOf(analog, state.panes, state.decode)
      .map((p) => ({ title: p.title,
                     series: p.channels.flatMap((c) => [byKey.get(c.key), ...analysis.rmsSeries(c.key)]) }));
  const status = view.keys.filter((k) => k[0] === "s").map((k) => byKey.get(k));
  charts.draw(view.time.map((us) => us / 1000), viewSpanMs(view), panes, status);
  showReadout($("readout"), cols, state.cursors);
}

function updateFragment() {
  if (!state.info || !state.window) return;
  const c = state.cursors;
  const hash = fragmentOf({
    station: state.station, record: state.record, channels: state.chosen, window: state.window,
    cursors: { a: c.a && c.a.sample, b: c.b && c.b.sample }, panes: state.panes,
    values: state.values,
  });
  if (location.hash !== hash) history.replaceState(null, "", hash);
}

// Puts cursor `name` on `sample` and reads the shown channels' samples there.
async function placeCursor(name, sample) {
  if (!state.info || total() === 0) return;
  sample = Math.max(0, Math.min(total() - 1, Math.round(sample)));
  const keys = state.chosen.length ? state.chosen : [state.channels.analogs.length ? "a1" : "s1"];
  const at = await waveform(state.station, state.record, keys.map(selectorOf),
                            { from: sample, to: sample + 1 }, 1);
  const values = new Map(answerKeys(at, keys).map((k, i) => [k, at.channels[i].min[0]]));
  state.cursors[name] = { sample, ms: at.time.length ? at.time[0] / 1000 : 0, values };
  state.last = name;
  if (name === "a") analysis.update();
  // The next click places the other cursor until both are set.
  const other = name === "a" ? "b" : "a";
  if (!state.cursors[other]) state.active = other;
  showActive();
  charts.redrawMarks();
  showReadout($("readout"), state.view ? columns(state.view.keys) : [], state.cursors);
  updateFragment();
}

function showActive() {
  for (const name of ["a", "b"]) {
    $(`cursor-${name}`).setAttribute("aria-pressed", String(state.active === name));
  }
}

// Makes `name` the cursor that clicks place and keys move.
function choose(name) {
  state.active = state.last = name;
  showActive();
}

function moveCursor(by) {
  const c = state.cursors[state.last];
  const start = c ? c.sample : Math.floor((state.window.from + state.window.to) / 2);
  placeCursor(state.last, start + by);
}

function showWhole() {
  show(0, state.info.samples);
}

function onKey(event) {
  if (!state.info || event.ctrlKey || event.metaKey || event.altKey) return;
  const t = event.target;
  // Only text fields keep their keys; lists and buttons do not, so that the
  // keys work right after a record is chosen.
  if (t.tagName === "TEXTAREA" || t.isContentEditable ||
      (t.tagName === "INPUT" && !["checkbox", "radio", "button"].includes(t.type))) {
    return;
  }
  const w = state.window;
  const actions = {
    "+": () => show(...zoomed(w, 0.5)), "=": () => show(...zoomed(w, 0.5)),
    "-": () => show(...zoomed(w, 2)), "_": () => show(...zoomed(w, 2)),
    ArrowLeft: () => show(...panned(w, -0.25)), ArrowRight: () => show(...panned(w, 0.25)),
    ArrowUp: () => {}, ArrowDown: () => {},
    "0": showWhole, Home: showWhole,
    a: () => choose("a"), b: () => choose("b"),
    ",": () => moveCursor(-1), ".": () => moveCursor(1),
    "<": () => moveCursor(-10), ">": () => moveCursor(10),
  };
  const action = actions[event.key];
  if (!action || !w) return;
  event.preventDefault();
  action();
}

async function exportCsv() {
  if (!state.view) return;
  const w = state.window;
  const keys = state.view.keys;
  const view = await waveform(state.station, state.record, keys.map(selectorOf), w,
                              Math.min(MAX_POINTS, w.to - w.from));
  const name = `${display(state.record)}_${w.from}-${w.to}.csv`;
  download(new Blob([csvText(view, columns(answerKeys(view, keys)))], { type: "text/csv" }), name);
}

async function exportPng() {
  const background = getComputedStyle(document.body).backgroundColor;
  download(await chartsPng(charts.elements(), background), `${display(state.record)}.png`);
}

// Opens the view of the URL's fragment, if it names one.
async function restoreFragment() {
  const view = parseFragment(location.hash);
  if (!view) return;
  const i = state.stations.indexOf(view.station);
  if (i < 0) return;
  $("stations").value = String(i);
  state.station = view.station;
  if (!(await loadRecords())) return;
  const r = state.records.indexOf(view.record);
  if (r < 0) return;
  $("records").value = String(r);
  state.record = view.record;
  await loadRecord(view);
}

async function init() {
  if (typeof Dygraph === "undefined") {
    showError(new QueryError("The chart library did not load from /viewer/dygraph.min.js " +
                             "(Debian's libjs-dygraphs must be installed where the service runs)."));
  }
  showWhileBusy($("busy"), BUSY_AFTER_MS);
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
    // The list would keep the keys: ↓ would open the next record.
    event.target.blur();
    loadRecord(null);
  });
  const on = (id, what) => $(id).addEventListener("click", what);
  on("zoom-in", () => state.window && show(...zoomed(state.window, 0.5)));
  on("zoom-out", () => state.window && show(...zoomed(state.window, 2)));
  on("pan-left", () => state.window && show(...panned(state.window, -0.25)));
  on("pan-right", () => state.window && show(...panned(state.window, 0.25)));
  on("zoom-reset", () => showWhole());
  on("cursor-a", () => choose("a"));
  on("cursor-b", () => choose("b"));
  on("export-csv", () => exportCsv().catch(showError));
  on("export-png", () => exportPng().catch(showError));
  $("panes-mode").addEventListener("change", (e) => { state.panes = e.target.value; redraw(); updateFragment(); });
  $("values").addEventListener("change", (e) => {
    state.values = e.target.value; redraw(); analysis.update(); updateFragment();
  });
  document.addEventListener("keydown", onKey);
  // The page writes its own fragment with replaceState, which fires no
  // hashchange: this is a link pasted or edited by hand.
  window.addEventListener("hashchange", () => restoreFragment());
  await loadStations();
  await restoreFragment();
}

init();
