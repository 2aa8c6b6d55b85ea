// Cursors A and B: where they are (a sample and its time), the values of the
// shown channels at each (the samples themselves, fetched one sample wide,
// never a bucket's), and the table that reads them out with Δt and 1/Δt.
import { valueText } from "./samples.js";

// The difference of two cursor times in ms as text, with its frequency.
export function deltaText(msA, msB) {
  if (msA === null || msB === null) return "";
  const dt = msB - msA;
  const hz = dt === 0 ? "—" : `${(1000 / Math.abs(dt)).toFixed(3)} Hz`;
  return `Δt = ${dt.toFixed(3)} ms · 1/Δt = ${hz}`;
}

// The readout of the cursors into `table` (<table> with a <thead>, <tbody>
// and <tfoot>): `columns` the shown channels ({key, label, status, factor}),
// `cursors` {a, b}, each null or {sample, ms, values: Map key -> value}.
export function showReadout(table, columns, cursors) {
  const { a, b } = cursors;
  table.hidden = !a && !b;
  if (table.hidden) return;
  const head = (c, name) => (c ? `${name}: sample ${c.sample}, ${c.ms.toFixed(3)} ms` : name);
  const tr = (cells, tag = "td") => {
    const row = document.createElement("tr");
    for (const text of cells) {
      const cell = document.createElement(tag);
      cell.textContent = text;
      row.append(cell);
    }
    return row;
  };
  table.tHead.replaceChildren(tr(["Channel", head(a, "A"), head(b, "B"), "B − A"], "th"));
  const value = (c, col) => {
    if (!c || !c.values.has(col.key)) return null;
    const v = c.values.get(col.key);
    return v === null ? null : col.status ? v : v * col.factor;
  };
  const text = (col, v) => (v === null ? "—" : col.status ? String(v) : valueText(v));
  table.tBodies[0].replaceChildren(...columns.map((col) => {
    const va = value(a, col), vb = value(b, col);
    const diff = va === null || vb === null ? "—" : text(col, vb - va);
    const row = tr([col.label, text(col, va), text(col, vb), diff]);
    row.dataset.key = col.key;
    return row;
  }));
  table.tFoot.replaceChildren(tr([a && b ? deltaText(a.ms, b.ms) : ""]));
  table.tFoot.rows[0].cells[0].colSpan = 4;
}
