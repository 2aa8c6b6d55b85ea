// The page's two charts, drawn with dygraphs (the classic script that sets
// the global Dygraph): analog channels as bands, status channels as lanes.
import { seriesLabels } from "./names.js";
import { bandText, bucket, msText, stateText } from "./samples.js";

// A status lane is this high; its values 0 and 1 sit inside it.
const LANE_HEIGHT = 1.5;

function markTrigger(ctx, area, g, triggerMs) {
  if (triggerMs === null) return;
  const x = g.toDomXCoord(triggerMs);
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

// The charts in #analog-chart and #status-chart with their legends. `hooks`
// are the page's: triggerMs() the time to mark or null, zoomTo(minMs, maxMs)
// for a drag across a chart, showWhole() for a double-click.
export class Charts {
  constructor(hooks) {
    this.hooks = hooks;
    this.charts = { analog: null, status: null };
  }

  // Drops both charts, leaving their elements as they are.
  destroy() {
    for (const chart of Object.values(this.charts)) if (chart) chart.destroy();
    this.charts = { analog: null, status: null };
  }

  // Drops both charts and hides them.
  clear() {
    this.drawChart("analog", [], [], null, [], null, {});
    this.drawChart("status", [], [], null, [], null, {});
  }

  // Draws a "/getWaveform" answer: the channels named in `statusNames` on the
  // status chart, the others on the analog one; `info` is the record. Returns
  // the time span drawn, [first, last] in ms, or null when `view` has no
  // samples (and nothing was drawn).
  draw(view, info, statusNames) {
    const analog = view.channels.filter((c) => !statusNames.has(c.name));
    const status = view.channels.filter((c) => statusNames.has(c.name));
    const xs = view.time.map((us) => us / 1000);
    if (xs.length === 0) return null;
    const range = [xs[0], xs.length > 1 ? xs[xs.length - 1] : xs[0] + 1];

    this.drawChart("analog", analog, xs, range, seriesLabels(analog, info.analogs), () => 0, {});
    const lanes = status.length;
    const offset = (i) => (lanes - 1 - i) * LANE_HEIGHT;
    const labels = seriesLabels(status, info.digitals);
    this.drawChart("status", status, xs, range, labels, offset, {
      stepPlot: true,
      valueRange: [-0.25, lanes * LANE_HEIGHT - 0.25],
      height: Math.max(90, 26 * lanes + 50),
      y: {
        ticker: () => labels.map((label, i) => ({ v: offset(i) + 0.5, label })),
        valueFormatter: (y, opts, series, g, row, col) =>
            stateText(g.getValue(row, col), offset(col - 1)),
      },
    });
    return range;
  }

  // Draws one chart; `extra` adds options, its `y` the y axis's, its `height`
  // the chart's height in pixels.
  drawChart(key, channels, xs, range, labels, offset, extra) {
    const element = document.getElementById(`${key}-chart`);
    const legend = document.getElementById(`${key}-legend`);
    if (channels.length === 0) {
      if (this.charts[key]) this.charts[key].destroy();
      this.charts[key] = null;
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
        x: { valueFormatter: msText },
        y: {
          // The same for both charts, so that their time axes line up.
          axisLabelWidth: 64,
          valueFormatter: (value, opts, series, g, row, col) => bandText(g.getValue(row, col)),
          ...y,
        },
      },
      underlayCallback: (ctx, area, g) => markTrigger(ctx, area, g, this.hooks.triggerMs()),
      zoomCallback: (minMs, maxMs) => this.hooks.zoomTo(minMs, maxMs),
      interactionModel: Object.assign({}, Dygraph.defaultInteractionModel, {
        dblclick: () => this.hooks.showWhole(),
      }),
      ...more,
    };
    const chart = this.charts[key];
    // Same series: keep the chart (and what the mouse is doing on it).
    const sameSeries = chart && chart.getLabels().join("\n") === options.labels.join("\n");
    if (sameSeries) {
      chart.updateOptions(options);
    } else {
      if (chart) chart.destroy();
      const { file, ...rest } = options;
      this.charts[key] = new Dygraph(element, file, rest);
    }
  }
}
