// The channel lists: a tick box a channel, a filter over both lists, and
// "all" / "none" per kind. Several ticks in quick succession make one
// change, so that they cost one request.
import { matchesFilter } from "./channels.js";

// Ticks closer together than this are one change.
const SETTLE_MS = 400;

export class Picker {
  // `fieldsets` maps a kind ("analog", "status") to its <fieldset>; `filter`
  // is the filter's text box; changed(keys) gets the ticked keys.
  constructor(fieldsets, filter, changed) {
    this.fieldsets = fieldsets;
    this.filter = filter;
    this.changed = changed;
    this.timer = null;
    filter.addEventListener("input", () => this.applyFilter());
    for (const [kind, fieldset] of Object.entries(fieldsets)) {
      fieldset.querySelector(".all").addEventListener("click", () => this.setAll(kind, true));
      fieldset.querySelector(".none").addEventListener("click", () => this.setAll(kind, false));
    }
  }

  // Lists `channels` of `kind` ({key, caption}), ticking those in `chosen`.
  fill(kind, channels, chosen) {
    const box = this.fieldsets[kind].querySelector(".choices");
    box.replaceChildren(...channels.map((channel) => {
      const label = document.createElement("label");
      const input = document.createElement("input");
      input.type = "checkbox";
      input.value = channel.key;
      input.checked = chosen.has(channel.key);
      input.addEventListener("change", () => this.settle());
      label.append(input, " ", channel.caption);
      label.dataset.caption = channel.caption;
      return label;
    }));
    this.applyFilter();
  }

  // The ticked keys of both lists, in list order.
  keys() {
    return Object.values(this.fieldsets).flatMap((f) =>
        [...f.querySelectorAll("input:checked")].map((i) => i.value));
  }

  applyFilter() {
    const text = this.filter.value;
    for (const fieldset of Object.values(this.fieldsets)) {
      for (const label of fieldset.querySelectorAll(".choices label")) {
        label.hidden = !matchesFilter(label.dataset.caption, text);
      }
    }
  }

  // Ticks or clears every channel of `kind` that the filter shows.
  setAll(kind, on) {
    for (const label of this.fieldsets[kind].querySelectorAll(".choices label")) {
      if (!label.hidden) label.querySelector("input").checked = on;
    }
    this.fire();
  }

  settle() {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.fire(), SETTLE_MS);
  }

  fire() {
    clearTimeout(this.timer);
    this.timer = null;
    this.changed(this.keys());
  }
}
