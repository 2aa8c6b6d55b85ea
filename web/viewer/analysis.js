// The analysis panel below the charts: the phasors of the shown analog
// channels at cursor A with the sequence components of a three-phase set,
// the harmonics of one channel there, the record's status changes (a click
// goes to one), the RMS traces the charts may add, and the service's files
// of the window. Every figure is the service's; the page only draws it.
import { selectorOf } from "./channels.js";
import {
  eventMs, fileNameOf, harmonicsSvg, onBuckets, phasorSvg, relativeAngle, threePhaseKeys,
} from "./diagrams.js";
import { download } from "./export.js";
import { display } from "./names.js";
import { QueryError, events, exportFile, harmonics, phasors } from "./queries.js";
import { valueText } from "./samples.js";

// Beyond this many the list would cost more than it tells; the rest are
// counted.
const LISTED_EVENTS = 1000;
const DIAGRAM_PX = 260;

const $ = (id) => document.getElementById(id);

// What rounds to 0.00° reads so, not "-0.00°".
const angleText = (deg) => (deg === null || deg === undefined ? "—"
                            : `${(Math.abs(deg) < 0.005 ? 0 : deg).toFixed(2)}°`);

function cells(row, texts) {
  for (const text of texts) row.insertCell().textContent = text;
  return row;
}

function fillSelect(select, options, value) {
  select.replaceChildren(...options.map(([v, text]) => new Option(text, v)));
  if (options.some(([v]) => v === value)) select.value = value;
}

// `state` is the page's (read only here); `hooks` are factor(key) (the
// chosen values' factor of an analog channel), goTo(sample) (centre the
// window on a sample and put cursor A there), redraw() (draw the view again)
// and failed(err).
export class Analysis {
  constructor(state, hooks) {
    this.state = state;
    this.hooks = hooks;
    this.asked = 0;       // numbers the panel's requests, so that a late answer is dropped
    this.opened = 0;      // numbers the records opened, for the events' answers
    this.rms = null;      // {view, answer}: the RMS points of the view on screen
    this.shownKeys = "";  // the analog channels the phasor table was read for
    for (const id of ["phasor-ref", "seq-a", "seq-b", "seq-c", "harmonics-channel"]) {
      $(id).addEventListener("change", () => this.update());
    }
    $("harmonics-channel").addEventListener("change", (e) => { e.target.dataset.picked = "1"; });
    $("rms").addEventListener("change", () => {
      this.rms = null;
      if ($("rms").checked) this.windowShown(state.view); else hooks.redraw();
    });
    $("export-cff").addEventListener("click", () => this.save("cff").catch(hooks.failed));
    $("export-slice-csv").addEventListener("click", () => this.save("csv").catch(hooks.failed));
    $("event-list").addEventListener("click", (event) => {
      const item = event.target.closest("[data-sample]");
      if (item) hooks.goTo(+item.dataset.sample);
    });
  }

  label(key) {
    return this.state.labels.get(key) || key;
  }

  analogKeys() {
    return this.state.chosen.filter((k) => k[0] === "a");
  }

  // A record was opened: its channels in the panel's lists, and its events.
  async recordOpened() {
    const s = this.state;
    this.rms = null;
    const all = s.channels.analogs.map((c) => [c.key, this.label(c.key)]);
    const set = threePhaseKeys(s.channels.analogs, s.decode);
    ["seq-a", "seq-b", "seq-c"].forEach((id, i) => fillSelect($(id), all, set[i]));
    fillSelect($("harmonics-channel"), all, all.length ? all[0][0] : "");
    delete $("harmonics-channel").dataset.picked;
    this.channelsShown();
    this.update();
    $("event-list").replaceChildren();
    $("events-note").textContent = "";
    if (!s.channels.digitals.length) {
      $("events-note").textContent = "This record has no status channels.";
      return;
    }
    const opened = ++this.opened;
    const answer = await events(s.station, s.record);
    if (opened === this.opened) this.showEvents(answer);
  }

  // The shown analog channels offered as the reference; the harmonics follow
  // the first of them until one is picked.
  channelsShown() {
    const shown = this.analogKeys().map((k) => [k, this.label(k)]);
    fillSelect($("phasor-ref"), shown, $("phasor-ref").value);
    if (!$("harmonics-channel").dataset.picked && shown.length) $("harmonics-channel").value = shown[0][0];
  }

  showEvents(answer) {
    const list = $("event-list");
    const shown = answer.events.slice(0, LISTED_EVENTS);
    const relative = answer.triggerUs === null || answer.triggerUs === undefined
        ? "after the first sample" : "after the trigger";
    list.replaceChildren(...shown.map((e) => {
      const item = document.createElement("li");
      const button = document.createElement("button");
      button.type = "button";
      button.dataset.sample = String(e.sample);
      const ms = eventMs(e.time, answer.triggerUs);
      button.textContent = `${ms >= 0 ? "+" : ""}${ms.toFixed(3)} ms  ${this.label(`s${e.index}`)} → ${e.value}`;
      button.title = `sample ${e.sample}, ${relative}`;
      item.append(button);
      return item;
    }));
    const more = answer.events.length - shown.length;
    $("events-note").textContent = answer.events.length === 0 ? "No status channel changes."
        : `${answer.events.length}${answer.truncated ? "+" : ""} changes, times ${relative}` +
          (more > 0 || answer.truncated ? `; the first ${shown.length} are listed.` : ".");
  }

  // Reads the phasors and harmonics at cursor A again.
  async update() {
    const s = this.state;
    const a = s.cursors.a;
    const asked = ++this.asked;
    $("analysis-note").hidden = !!a;
    $("analysis-figures").hidden = !a;
    if (!a || !s.info) return;
    const window = { from: a.sample, to: a.sample + 1 };
    const set = ["seq-a", "seq-b", "seq-c"].map((id) => $(id).value);
    const shown = this.analogKeys();
    const keys = shown.length ? shown : set.filter(Boolean);
    const sequence = set.every(Boolean) ? set.map(selectorOf) : null;
    const harmonicsKey = $("harmonics-channel").value;
    try {
      const [ph, hm] = await Promise.all([
        keys.length ? phasors(s.station, s.record, keys.map(selectorOf), window, 1, sequence) : null,
        harmonicsKey ? harmonics(s.station, s.record, selectorOf(harmonicsKey), a.sample) : null,
      ]);
      if (asked !== this.asked) return;
      this.showPhasors(ph, set);
      this.showHarmonics(hm, harmonicsKey);
    } catch (err) {
      if (asked !== this.asked) return;
      // Every placing of A asks again: a record the service cannot analyse
      // (no line frequency) is said here once, not as the page's error.
      if (!(err instanceof QueryError)) {
        this.hooks.failed(err);
        return;
      }
      this.showPhasors(null, set);
      this.showHarmonics(null, harmonicsKey);
      $("phasor-note").textContent = err.message;
    }
  }

  showPhasors(answer, set) {
    const body = $("phasor-table").tBodies[0];
    const diagram = $("phasor-diagram");
    if (!answer) {
      body.replaceChildren();
      diagram.replaceChildren();
      $("phasor-note").textContent = "";
      this.showSequence(null, set, null);
      return;
    }
    const rows = answer.channels.map((c) => {
      const key = `a${c.index}`;
      const factor = this.hooks.factor(key);
      const scale = (v) => (v === null ? null : v * factor);
      return { key, label: this.label(key), magnitude: scale(c.magnitude[0]), angle: c.angle[0],
               rms: scale(c.rms[0]) };
    });
    const ref = rows.find((r) => r.key === $("phasor-ref").value) || rows[0];
    const refAngle = ref ? ref.angle : null;
    const drawn = rows.map((r) => ({ ...r, angle: relativeAngle(r.angle, refAngle) }));
    body.replaceChildren(...drawn.map((r) => {
      const row = cells(body.insertRow(), [r.label, valueText(r.magnitude), angleText(r.angle),
                                           valueText(r.rms)]);
      row.dataset.key = r.key;
      return row;
    }));
    diagram.replaceChildren(phasorSvg(drawn, DIAGRAM_PX));
    const spc = Array.isArray(answer.samplesPerCycle) ? answer.samplesPerCycle[0] : answer.samplesPerCycle;
    $("phasor-note").textContent = (ref ? `Angles against ${ref.label}. ` : "") +
        (spc ? `${spc} samples a cycle` : "No whole cycle ends at A") +
        (answer.approximate ? " (the rate is not a whole multiple of the line frequency)." : ".");
    this.showSequence(answer.sequence, set, refAngle);
  }

  showSequence(sequence, set, refAngle) {
    const body = $("sequence-table").tBodies[0];
    if (!sequence) {
      body.replaceChildren();
      return;
    }
    // Scaled only when the three channels share a factor; mixed ones stay as recorded.
    const factors = set.map((k) => this.hooks.factor(k));
    const factor = factors.every((f) => f === factors[0]) ? factors[0] : 1;
    body.replaceChildren(...["zero", "positive", "negative"].map((name) => {
      const c = sequence[name];
      const m = c.magnitude[0];
      const row = cells(body.insertRow(), [name, valueText(m === null ? null : m * factor),
                                           angleText(relativeAngle(c.angle[0], refAngle))]);
      row.dataset.component = name;
      return row;
    }));
  }

  showHarmonics(answer, key) {
    const box = $("harmonics-diagram");
    const channel = answer && answer.channels[0];
    if (!channel || !channel.harmonics) {
      box.replaceChildren();
      $("thd").textContent = answer ? "No whole cycle ends at A." : "";
      return;
    }
    const factor = this.hooks.factor(key);
    box.replaceChildren(harmonicsSvg(channel.harmonics, 360, 160));
    for (const bar of box.querySelectorAll(".bar")) {
      const h = channel.harmonics[+bar.dataset.order];
      const title = document.createElementNS("http://www.w3.org/2000/svg", "title");
      title.textContent = `order ${h.order}: ${valueText(h.magnitude * factor)}`;
      bar.prepend(title);
    }
    $("thd").textContent = `THD ${channel.thd === null ? "—" : `${channel.thd.toFixed(3)} %`} · ` +
        `RMS ${valueText(channel.rms === null ? null : channel.rms * factor)}`;
  }

  // A view was drawn: the lists follow its channels, and with "RMS" ticked
  // the cycle RMS over its window is fetched and the charts drawn again.
  async windowShown(view) {
    this.channelsShown();
    const keys = this.analogKeys();
    if (keys.join() !== this.shownKeys) {
      this.shownKeys = keys.join();
      if (this.state.cursors.a) this.update();
    }
    if (!$("rms").checked || !view || !keys.length) return;
    if (this.rms && this.rms.view === view) return;
    const s = this.state;
    const answer = await phasors(s.station, s.record, keys.map(selectorOf),
                                 { from: view.from, to: view.to }, Math.max(1, view.time.length), null)
        .catch((err) => { this.hooks.failed(err); return null; });
    if (!answer || view !== s.view || !$("rms").checked) return;
    this.rms = { view, answer };
    this.hooks.redraw();
  }

  // The RMS series of analog channel `key` for the view on screen, as
  // [] or [{label, min, max}] on the view's buckets.
  rmsSeries(key) {
    const s = this.state;
    if (!this.rms || this.rms.view !== s.view || !$("rms").checked) return [];
    const c = this.rms.answer.channels.find((ch) => `a${ch.index}` === key);
    if (!c) return [];
    const factor = this.hooks.factor(key);
    const values = onBuckets(this.rms.answer.time, c.rms, s.view.time)
        .map((v) => (v === null ? null : v * factor));
    return [{ label: `${this.label(key)} RMS`, min: values, max: values }];
  }

  // Saves the service's file of the window and the shown channels.
  async save(format) {
    const s = this.state;
    if (!s.window || !s.chosen.length) return;
    const { blob, disposition } = await exportFile(s.station, s.record, s.chosen.map(selectorOf),
                                                   s.window, format);
    const fallback = `${s.record}_${s.window.from}-${s.window.to}.${format}`;
    download(blob, display(fileNameOf(disposition, fallback)));
  }
}
