// What the page saves: the shown window and channels as CSV, the charts as
// one PNG, and the download that hands either to the browser.
import { valueText } from "./samples.js";

// A CSV field, quoted when it holds a separator, a quote or a line end.
function field(text) {
  return /[",\r\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
}

// The CSV text of a "/getWaveform" answer: "time_us", then a column a channel
// (its label from `columns`, [{label, status, factor}] in the answer's order);
// one line a sample. When the answer is in buckets of several samples each
// channel gets a "min" and a "max" column, since a bucket has no single value.
export function csvText(view, columns) {
  const single = view.step === 1;
  const head = ["time_us"];
  for (const c of columns) {
    if (single) head.push(c.label); else head.push(`${c.label} min`, `${c.label} max`);
  }
  const value = (c, v) => (v === null ? "" : c.status ? String(v) : valueText(v * c.factor));
  const lines = [head.map(field).join(",")];
  view.time.forEach((us, i) => {
    const row = [us.toFixed(3)];
    view.channels.forEach((ch, k) => {
      const c = columns[k];
      row.push(value(c, ch.min[i]));
      if (!single) row.push(value(c, ch.max[i]));
    });
    lines.push(row.join(","));
  });
  return lines.join("\r\n") + "\r\n";
}

// Hands `blob` to the browser as a download named `name`.
export function download(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  // The browser has started reading the blob by now; a minute is generous.
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// The canvases of each element of `charts` (what dygraphs draws on) laid
// one under another on `background`, as a PNG blob.
export function chartsPng(charts, background) {
  const boxes = charts.filter((el) => !el.hidden && el.offsetHeight > 0)
      .map((el) => ({ el, rect: el.getBoundingClientRect() }));
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, ...boxes.map((b) => b.rect.width));
  const height = Math.max(1, boxes.reduce((sum, b) => sum + b.rect.height, 0));
  const out = document.createElement("canvas");
  out.width = Math.round(width * ratio);
  out.height = Math.round(height * ratio);
  const ctx = out.getContext("2d");
  ctx.fillStyle = background;
  ctx.fillRect(0, 0, out.width, out.height);
  let top = 0;
  for (const { el, rect } of boxes) {
    for (const canvas of el.querySelectorAll("canvas")) {
      const r = canvas.getBoundingClientRect();
      if (!r.width || !r.height) continue;
      ctx.drawImage(canvas, (r.left - rect.left) * ratio, (top + r.top - rect.top) * ratio,
                    r.width * ratio, r.height * ratio);
    }
    top += rect.height;
  }
  return new Promise((resolve) => out.toBlob(resolve, "image/png"));
}
