// The record viewer: lists stations, records and channels through the
// service's JSON queries and plots the chosen channels with dygraphs. Every
// action changes `state` and calls refresh(), which fetches the window of
// samples the charts show and draws it.

// Names in replies are GBK bytes. "x-user-defined" turns every byte into one
// character (0x80-0xFF become U+F780-U+F7FF), so a name parsed from a reply
// can be sent back as exactly the bytes it came as; only display() decodes
// GBK.
const byteDecoder = new TextDecoder("x-user-defined");
const gbkDecoder = new TextDecoder("gbk");

// A status lane is this high; its values 0 and 1 sit inside it.
const LANE_HEIGHT = 1.5;
// The narrowest window, in samples: a handful of single samples.
const MIN_WINDOW = 8;
const MAX_POINTS = 100000;
// The service does not answer URIs it does not know; without a limit the page
// would wait for ever.
const QUERY_TIMEOUT_MS = 60000;

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
  charts: { analog: null, status: null },
  asked: 0,         // numbers the requests, so a late answer cannot overwrite a newer one
};

const $ = (id) => document.getElementById(id);

class QueryError extends Error {}

function byteString(raw) {
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; i++) {
    const c = raw.charCodeAt(i);
    bytes[i] = c >= 0xf780 ? c - 0xf700 : c;
  }
  return bytes;
}

function display(raw) {
  return gbkDecoder.decode(byteString(raw));
}

// Posts `request` to `uri` and returns the answer when its "result" is 200.
async function query(uri, request) {
  let reply;
  try {
    reply = await fetch(uri, {
      method: "POST",
      body: byteString(JSON.stringify(request)),
      signal: AbortSignal.timeout(QUERY_TIMEOUT_MS),
    });
  } catch (err) {
    const why = err.name === "TimeoutError" ? `no answer within ${QUERY_TIMEOUT_MS / 1000} s`
                                            : err.message;
    throw new QueryError(`The service did not answer ${uri} (${why}).`);
  }
  if (!reply.ok) throw new QueryError(`${uri} answered HTTP ${reply.status}.`);
  let answer;
  try {
    answer = JSON.parse(byteDecoder.decode(await reply.arrayBuffer()));
  } catch (err) {
    throw new QueryError(`${uri} answered something that is not JSON (${err.message}).`);
  }
  if (answer.result !== 200) {
    const why = answer.errorinfo ? display(answer.errorinfo) : "no reason given";
    throw new QueryError(`${uri} answered result ${answer.result}: ${why}`);
  }
  return answer;
}

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
    const answer = await query("/getStationList", {});
    state.stations = answer.stationList || [];
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
    const answer = await query("/getFileName_list", { groupName: state.station });
    if (asked !== state.asked) return;
    state.records = answer.fileName_list || [];
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
    const answer = await query("/getRecordInfo",
                               { groupName: state.station, fileName: state.record });
    if (asked !== state.asked) return;
    const info = answer.record;
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

// Microseconds of a COMTRADE time stamp "dd/mm/yyyy,hh:mm:ss.ffffff"
// (month first in 1991 records), counted from an arbitrary day; null when the
// text is not one. Writers mix the two orders up, so a "month" above 12 is
// taken as the day. Only differences of two stamps are used.
function timestampUs(text, monthFirst) {
  const m = /^\s*(\d+)\/(\d+)\/(\d+)\s*,\s*(\d+):(\d+):(\d+)(\.\d*)?/.exec(text || "");
  if (!m) return null;
  let [day, month] = monthFirst ? [+m[2], +m[1]] : [+m[1], +m[2]];
  if (month > 12) [day, month] = [month, day];
  const seconds = Date.UTC(+m[3], month - 1, day) / 1000 + +m[4] * 3600 + +m[5] * 60 + +m[6];
  return seconds * 1e6 + (m[7] ? Math.round(parseFloat("0" + m[7]) * 1e6) : 0);
}

function triggerOffsetMs(info) {
  const revision = String(info.revision).trim();
  const monthFirst = revision === "" || revision === "1991";
  const start = timestampUs(info.startTime, monthFirst);
  const trigger = timestampUs(info.triggerTime, monthFirst);
  return start === null || trigger === null ? null : (trigger - start) / 1000;
}

function showRecord(info) {
  for (const chart of Object.values(state.charts)) if (chart) chart.destroy();
  state.charts = { analog: null, status: null };
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

// The number of buckets to ask for: about one per pixel of the chart.
function pointsForWidth() {
  const width = $("analog-chart").clientWidth || $("record").clientWidth || 1000;
  return Math.max(1, Math.min(MAX_POINTS, Math.round(width)));
}

async function fetchWindow(names) {
  return query("/getWaveform", {
    groupName: state.station, fileName: state.record, channelList: names,
    from: state.window.from, to: state.window.to, points: pointsForWidth(),
  });
}

// Empties both charts and says why in the window line.
function clearCharts(why) {
  state.view = null;
  drawChart("analog", [], [], null, [], null, {});
  drawChart("status", [], [], null, [], null, {});
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
    const view = await fetchWindow(names);
    if (asked !== state.asked) return;
    clearError();
    draw(view);
  } catch (err) {
    if (asked !== state.asked) return;
    $("window").textContent = "";
    showError(err);
  }
}

// Labels must be unique within a chart; a repeated name gets its index.
function seriesLabels(channels, info) {
  const seen = new Set();
  return channels.map((c, i) => {
    const meta = info.find((m) => m.name === c.name);
    let label = display(c.name) + (meta && meta.unit ? ` [${display(meta.unit)}]` : "");
    if (seen.has(label)) label += ` #${i + 1}`;
    seen.add(label);
    return label;
  });
}

function bucket(min, max, offset) {
  if (min === null || max === null) return null;
  return [min + offset, (min + max) / 2 + offset, max + offset];
}

function draw(view) {
  state.view = view;
  const info = state.info;
  const statusNames = new Set(state.digitals);
  const analog = view.channels.filter((c) => !statusNames.has(c.name));
  const status = view.channels.filter((c) => statusNames.has(c.name));
  const xs = view.time.map((us) => us / 1000);
  if (xs.length === 0) {
    clearCharts("This record has no samples.");
    return;
  }
  const range = [xs[0], xs.length > 1 ? xs[xs.length - 1] : xs[0] + 1];

  drawChart("analog", analog, xs, range, seriesLabels(analog, info.analogs), () => 0, {});
  const lanes = status.length;
  const offset = (i) => (lanes - 1 - i) * LANE_HEIGHT;
  const labels = seriesLabels(status, info.digitals);
  drawChart("status", status, xs, range, labels, offset, {
    stepPlot: true,
    valueRange: [-0.25, lanes * LANE_HEIGHT - 0.25],
    height: Math.max(90, 26 * lanes + 50),
    y: {
      ticker: () => labels.map((label, i) => ({ v: offset(i) + 0.5, label })),
      valueFormatter: (y, opts, series, g, row, col) => {
        const b = g.getValue(row, col);
        if (!b) return "—";
        const off = offset(col - 1);
        const lo = Math.round(b[0] - off), hi = Math.round(b[2] - off);
        return lo === hi ? String(lo) : `${lo}/${hi}`;
      },
    },
  });

  const w = state.window;
  $("window").textContent =
      `Samples ${view.from}–${view.to - 1} of ${info.samples} · step ${view.step} · ` +
      `${xs.length} points · ${range[0].toFixed(3)}–${range[1].toFixed(3)} ms` +
      (w.from === 0 && w.to === info.samples ? " (whole record)" : "");
}

// Draws one chart; `extra` adds options, its `y` the y axis's, its `height`
// the chart's height in pixels.
function drawChart(key, channels, xs, range, labels, offset, extra) {
  const element = $(`${key}-chart`);
  const legend = $(`${key}-legend`);
  if (channels.length === 0) {
    if (state.charts[key]) state.charts[key].destroy();
    state.charts[key] = null;
    element.hidden = legend.hidden = true;
    return;
  }
  element.hidden = legend.hidden = false;
  const { y, height, ...more } = extra;
  if (height) element.style.height = `${height}px`;
  const rows = xs.map((x, i) =>
      [x, ...channels.map((c, k) => bucket(c.min[i], c.max[i], offset(k)))]);
  const options = {
    labels: ["ms", ...labels],
    file: rows,
    dateWindow: range,
    customBars: true,
    fillAlpha: 0.35,
    legend: "always",
    labelsDiv: legend,
    labelsSeparateLines: false,
    xlabel: "time after the first sample (ms)",
    // Follows the page's width (a scroll bar coming or going included).
    resizable: "passive",
    axes: {
      x: { valueFormatter: (x) => `${x.toFixed(3)} ms` },
      y: {
        // The same for both charts, so that their time axes line up.
        axisLabelWidth: 64,
        valueFormatter: (value, opts, series, g, row, col) => {
          const b = g.getValue(row, col);
          if (!b) return "—";
          return b[0] === b[2] ? b[0].toFixed(4) : `${b[0].toFixed(4)} … ${b[2].toFixed(4)}`;
        },
        ...y,
      },
    },
    underlayCallback: markTrigger,
    zoomCallback: zoomToTimes,
    interactionModel: Object.assign({}, Dygraph.defaultInteractionModel, {
      dblclick: () => setWindow(0, state.info.samples),
    }),
    ...more,
  };
  const chart = state.charts[key];
  // Same series: keep the chart (and what the mouse is doing on it).
  const sameSeries = chart && chart.getLabels().join("\n") === options.labels.join("\n");
  if (sameSeries) {
    chart.updateOptions(options);
  } else {
    if (chart) chart.destroy();
    const { file, ...rest } = options;
    state.charts[key] = new Dygraph(element, file, rest);
  }
}

function markTrigger(ctx, area, g) {
  if (state.triggerMs === null) return;
  const x = g.toDomXCoord(state.triggerMs);
  if (x < area.x || x > area.x + area.w) return;
  ctx.save();
  ctx.strokeStyle = "#d22";
  ctx.lineWidth = 1.5;
  ctx.beginPath();
  ctx.moveTo(x, area.y);
  ctx.lineTo(x, area.y + area.h);
  ctx.stroke();
  ctx.fillStyle = "#d22";
  ctx.font = "11px sans-serif";
  ctx.fillText("trigger", x + 3, area.y + 11);
  ctx.restore();
}

// The sample at time `ms` of the window on screen, read off the buckets'
// start times, so that records with several rates map correctly too.
function sampleAt(ms) {
  const view = state.view;
  const xs = view.time.map((us) => us / 1000);
  let i = 0;
  while (i + 1 < xs.length && xs[i + 1] <= ms) i++;
  const next = i + 1 < xs.length ? xs[i + 1] : xs[i] + (i > 0 ? xs[i] - xs[i - 1] : 1);
  const fraction = next > xs[i] ? Math.min(1, Math.max(0, (ms - xs[i]) / (next - xs[i]))) : 0;
  return view.from + (i + fraction) * view.step;
}

function zoomToTimes(minMs, maxMs) {
  if (!state.view) return;
  setWindow(Math.floor(sampleAt(minMs)), Math.ceil(sampleAt(maxMs)) + 1);
}

function setWindow(from, to) {
  const total = state.info.samples;
  const width = Math.min(total, Math.max(MIN_WINDOW, Math.round(to - from)));
  from = Math.max(0, Math.min(total - width, Math.round(from)));
  state.window = { from, to: from + width };
  refresh();
}

function zoomBy(factor) {
  const { from, to } = state.window;
  const centre = (from + to) / 2;
  const width = (to - from) * factor;
  setWindow(centre - width / 2, centre + width / 2);
}

function panBy(fraction) {
  const { from, to } = state.window;
  const shift = Math.round((to - from) * fraction) || Math.sign(fraction);
  setWindow(from + shift, to + shift);
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
