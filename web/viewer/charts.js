// The page's charts, drawn with dygraphs (the classic script that sets the
// global Dygraph): a pane a unit (or a channel) of analog bands, each with its
// own y axis, and one chart of status lanes below, all on one time axis. The
// trigger and the cursors are lines across every chart.
import { bandText, bucket, msText, stateText, timeUnit } from "./samples.js";

// A status lane is this high; its values 0 and 1 sit inside it.
const LANE_HEIGHT = 1.5;
const LINE_COLOURS = { trigger: "#d22", a: "#1f6fd1", b: "#0a9a52" };

function markTime(ctx, area, g, ms, colour, text) {
  if (ms === null || ms === undefined) return;
  const x = g.toDomXCoord(ms);
  if (x < area.x || x > area.x + area.w) return;
  ctx.save();
  ctx.strokeStyle = ctx.fillStyle = colour;
  ctx.lineWidth = 1.5;
  ctx.beginPath();
  ctx.moveTo(x, area.y);
  ctx.lineTo(x, area.y + area.h);
  ctx.stroke();
  ctx.font = "11px sans-serif";
  ctx.fillText(text, x + 3, area.y + 11);
  ctx.restore();
}

// Pixels the y axis needs for the longest of `labels`, the same for every
// chart so that their time axes line up.
function labelWidth(labels) {
  const ctx = document.createElement("canvas").getContext("2d");
  // Dygraphs writes axis labels at 14 px.
  ctx.font = "14px sans-serif";
  const widest = Math.max(0, ...labels.map((l) => ctx.measureText(l).width));
  return Math.round(Math.min(240, Math.max(64, widest + 20)));
}

// The charts inside the element `box`. `hooks` are the page's: marks() the
// times to draw ({trigger, a, b} in ms, each or null), zoomTo(minMs, maxMs)
// for a drag across a chart, panMs(ms) for a shift-drag, click(ms) for a
// click, showWhole() for a double-click.
export class Charts {
  constructor(box, hooks) {
    this.box = box;
    this.hooks = hooks;
    this.charts = [];    // [{key, graph, element}]
    this.layoutKey = "";
  }

  // Drops every chart and empties the box.
  clear() {
    for (const c of this.charts) if (c.graph) c.graph.destroy();
    this.charts = [];
    this.layoutKey = "";
    this.box.replaceChildren();
  }

  // Redraws the marks (trigger, cursors) without new data.
  redrawMarks() {
    for (const c of this.charts) if (c.graph) c.graph.updateOptions({});
  }

  // The elements the charts are drawn in, top to bottom.
  elements() {
    return this.charts.map((c) => c.element);
  }

  // Draws `series`: analog `panes` ([{title, series}]) and the `status`
  // series, each series {label, min, max} of one "/getWaveform" answer whose
  // bucket start times in ms are `xs`, over `range` [first, last] ms.
  draw(xs, range, panes, status) {
    const span = range[1] - range[0];
    const key = JSON.stringify([panes.map((p) => [p.title, p.series.map((s) => s.label)]),
                                status.map((s) => s.label)]);
    if (key !== this.layoutKey) {
      this.clear();
      this.layoutKey = key;
      for (const pane of panes) this.add("analog", pane.title);
      if (status.length) this.add("status", "status");
    }
    const width = labelWidth(status.map((s) => s.label));
    // A last row at the end of the span, so that the last bucket reaches it.
    const ends = range[1] > xs[xs.length - 1];
    const rows = (series, offset) => {
      const out = xs.map((x, i) => [x, ...series.map((s, k) => bucket(s.min[i], s.max[i], offset(k)))]);
      if (ends) out.push([range[1], ...out[out.length - 1].slice(1)]);
      return out;
    };
    const height = panes.length > 1 ? 200 : 300;
    panes.forEach((pane, i) => {
      this.update(this.charts[i], pane.series.map((s) => s.label), rows(pane.series, () => 0),
                  range, span, width, { height, ylabel: pane.title });
    });
    if (status.length) {
      const lanes = status.length;
      const offset = (i) => (lanes - 1 - i) * LANE_HEIGHT;
      const labels = status.map((s) => s.label);
      this.update(this.charts[panes.length], labels, rows(status, offset), range, span, width, {
        height: Math.max(90, 22 * lanes + 50),
        // A y label like the panes' keeps the plot areas, and so the time axes, aligned.
        ylabel: "state",
        stepPlot: true,
        valueRange: [-0.25, lanes * LANE_HEIGHT - 0.25],
        y: {
          ticker: () => labels.map((label, i) => ({ v: offset(i) + 0.5, label })),
          valueFormatter: (y, opts, series, g, row, col) =>
              stateText(g.getValue(row, col), offset(col - 1)),
        },
      });
    }
  }

  add(kind, title) {
    const pane = document.createElement("div");
    pane.className = `pane ${kind}`;
    const legend = document.createElement("div");
    legend.className = "legend";
    const element = document.createElement("div");
    element.className = "chart";
    element.dataset.title = title;
    pane.append(legend, element);
    this.box.append(pane);
    this.charts.push({ kind, element, legend, graph: null });
  }

  update(chart, labels, rows, range, span, width, extra) {
    const { y, height, ylabel, ...more } = extra;
    chart.element.style.height = `${height}px`;
    const hooks = this.hooks;
    const options = {
      labels: ["ms", ...labels],
      file: rows,
      dateWindow: range,
      customBars: true,
      fillAlpha: 0.35,
      legend: "always",
      labelsDiv: chart.legend,
      labelsSeparateLines: false,
      xlabel: chart.kind === "status" || chart === this.charts[this.charts.length - 1]
          ? `time after the first sample (${timeUnit(span)})` : undefined,
      ylabel,
      resizable: "passive",
      axes: {
        x: {
          valueFormatter: (ms) => msText(ms, span),
          // Tick labels without trailing zeros: "1500", not "1500.000".
          axisLabelFormatter: (ms) => String(+(timeUnit(span) === "s" ? ms / 1000 : ms).toFixed(4)),
        },
        y: {
          axisLabelWidth: width,
          valueFormatter: (value, opts, series, g, row, col) => bandText(g.getValue(row, col)),
          ...y,
        },
      },
      underlayCallback: (ctx, area, g) => {
        const marks = hooks.marks();
        markTime(ctx, area, g, marks.trigger, LINE_COLOURS.trigger, "trigger");
        markTime(ctx, area, g, marks.a, LINE_COLOURS.a, "A");
        markTime(ctx, area, g, marks.b, LINE_COLOURS.b, "B");
      },
      zoomCallback: (minMs, maxMs) => hooks.zoomTo(minMs, maxMs),
      clickCallback: (event, x, points) => {
        const g = chart.graph;
        hooks.click(g.toDataXCoord(event.clientX - g.graphDiv.getBoundingClientRect().left));
      },
      interactionModel: {
        // A shift-drag moves the shared window (and fetches it) instead of
        // panning this chart alone; a plain drag zooms as dygraphs does.
        mousedown: (event, g, context) => {
          if (!event.shiftKey && !event.altKey) {
            Dygraph.defaultInteractionModel.mousedown(event, g, context);
            return;
          }
          event.preventDefault();
          const left = g.graphDiv.getBoundingClientRect().left;
          const from = g.toDataXCoord(event.clientX - left);
          const up = (end) => {
            document.removeEventListener("mouseup", up);
            const ms = from - g.toDataXCoord(end.clientX - left);
            if (Math.abs(end.clientX - event.clientX) > 2) hooks.panMs(ms);
          };
          document.addEventListener("mouseup", up);
        },
        willDestroyContextMyself: true,
        dblclick: () => hooks.showWhole(),
      },
      ...more,
    };
    if (chart.graph) {
      chart.graph.updateOptions(options);
    } else {
      const { file, ...rest } = options;
      chart.graph = new Dygraph(chart.element, file, rest);
    }
  }
}
