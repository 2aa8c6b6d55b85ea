"""Drives the viewer's tools and mended faults on the generated records:
channels by position, cursors, panes, values, the shared window, the link,
export, keys, slow and failed requests, header notes, small screens and dark
colours."""
import os
import re

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from generated_records import (EMPTY_STATION, GEN_SAMPLES, GEN_STATION, STORE, gen_analog,
                               gen_status)
from page_driving import (ANALOG, COUNT_PIXELS_JS, STATUS, check, legend_text, option_texts,
                          pick, shown_window, tick, wait_for, wait_redrawn, waveform_answers)

# Records the URL of every download the page starts, and keeps it from
# navigating, so that the test can read what was saved.
HOOK_DOWNLOADS_JS = """
window.savedFiles = [];
HTMLAnchorElement.prototype.click = function () {
  if (this.download) window.savedFiles.push({ name: this.download, url: this.href });
};
"""
# The saved file arguments[0] as {type, size, text}.
READ_DOWNLOAD_JS = """
const [index, done] = arguments;
const file = window.savedFiles[index];
fetch(file.url).then((r) => r.blob()).then(async (b) =>
    done({ name: file.name, type: b.type, size: b.size, text: await b.text() }));
"""
# Sets window.busySeen once the busy sign is shown.
WATCH_BUSY_JS = """
const busy = document.getElementById("busy");
window.busySeen = false;
new MutationObserver(() => { if (!busy.hidden) window.busySeen = true; })
    .observe(busy, { attributes: true });
"""
# The x axis labels of each chart, top to bottom.
X_LABELS_JS = """
return [...document.querySelectorAll("#panes .chart")].map((c) =>
    [...c.querySelectorAll(".dygraph-axis-label-x")].map((l) => l.textContent).join("|"));
"""


def open_record(driver, url, station, record):
    driver.get(url + "/viewer")
    pick(driver, "stations", station)
    pick(driver, "records", record)
    return wait_for(driver, f"{record} drawn", lambda: shown_window(driver))


def readout(driver):
    """{caption: (A, B, B−A)} and the cursor headings of the readout table."""
    table = driver.find_element(By.ID, "readout")
    if not table.is_displayed():
        return {}, []
    heads = [th.text for th in table.find_elements(By.CSS_SELECTOR, "thead th")]
    rows = {}
    for tr in table.find_elements(By.CSS_SELECTOR, "tbody tr"):
        cells = [td.text for td in tr.find_elements(By.TAG_NAME, "td")]
        rows[cells[0]] = tuple(cells[1:])
    return rows, heads


def cursor_sample(heads, column):
    match = re.search(r"sample (\d+)", heads[column])
    return int(match.group(1)) if match else None


def click_chart(driver, fraction):
    canvas = driver.find_elements(By.CSS_SELECTOR, f"{ANALOG} canvas")[-1]
    ActionChains(driver).move_to_element_with_offset(
        canvas, int((fraction - 0.5) * canvas.size["width"]), 0).click().perform()


def expected_readout(n):
    """What the readout shows for each generated channel at sample n."""
    values = {"Ia [A]": f"{gen_analog(0, n):.4f}", "Ib [A]": f"{gen_analog(1, n):.4f}",
              "Ua [kV]": f"{gen_analog(2, n):.4f}"}
    for k, caption in enumerate(["* #s1", "* #s2", "* #s3", "Ua", "Man_Close_Cmd"]):
        values[caption] = str(gen_status(k, n))
    return values


def wait_cursor(driver, what, column, accept):
    def placed():
        rows, heads = readout(driver)
        at = cursor_sample(heads, column) if heads else None
        return at is not None and accept(at) and (rows, at)
    return wait_for(driver, what, placed)


def test_channels_and_cursors(driver, url):
    open_record(driver, url, GEN_STATION, "names")
    for caption in ("Ia [A]", "Ib [A]", "Ua [kV]", "* #s2", "Man_Close_Cmd"):
        check(any(l.text.strip() == caption for l in
                  driver.find_elements(By.CSS_SELECTOR, "fieldset label")),
              f"the channel list shows {caption!r}")
    # Two ticks in quick succession and "all" of a kind: one request each.
    asked = len(waveform_answers(driver))
    tick(driver, "Ib")
    tick(driver, "Ua [kV]")
    wait_for(driver, "three analog channels", lambda: "Ua [kV]" in legend_text(driver, ANALOG))
    driver.find_element(By.CSS_SELECTOR, "#status-channels .all").click()
    wait_for(driver, "every status channel", lambda: "Man_Close_Cmd" in legend_text(driver, STATUS))
    check(len(waveform_answers(driver)) == asked + 2,
          f"two ticks and 'all' cost two requests ({len(waveform_answers(driver)) - asked})")
    check(len(driver.find_elements(By.CSS_SELECTOR, ANALOG)) == 2,
          "currents and voltages are drawn in a pane each")
    clipped = driver.execute_script(
        f"return [...document.querySelectorAll('{STATUS} .dygraph-axis-label-y')]"
        ".filter((l) => l.scrollWidth > l.clientWidth + 1).map((l) => l.textContent);")
    check(not clipped, f"no status lane label is clipped ({clipped})")
    # The text filter and "none" act on the channels it shows.
    driver.find_element(By.ID, "filter").send_keys("*")
    driver.find_element(By.CSS_SELECTOR, "#status-channels .none").click()
    driver.find_element(By.ID, "filter").clear()
    driver.find_element(By.ID, "filter").send_keys(" ")
    wait_for(driver, "the '*' lanes gone", lambda: "* #s1" not in legend_text(driver, STATUS))
    check("Man_Close_Cmd" in legend_text(driver, STATUS), "'none' under a filter clears only the matching channels")
    driver.find_element(By.CSS_SELECTOR, "#status-channels .all").click()
    wait_for(driver, "every status channel again", lambda: "* #s3" in legend_text(driver, STATUS))

    # Cursors read the samples themselves, whatever the bucket size.
    whole = shown_window(driver)
    click_chart(driver, 0.3)
    rows, a = wait_cursor(driver, "cursor A", 1, lambda n: True)
    check({k: v[0] for k, v in rows.items()} == expected_readout(a),
          f"cursor A at sample {a} reads every channel's sample: {rows}")
    ActionChains(driver).send_keys(".").perform()
    rows, a = wait_cursor(driver, "cursor A moved by '.'", 1, lambda n, a0=a: n == a0 + 1)
    check({k: v[0] for k, v in rows.items()} == expected_readout(a), f"'.' moved A to sample {a}")
    click_chart(driver, 0.7)
    rows, b = wait_cursor(driver, "cursor B", 2, lambda n: n > a)
    check({k: v[1] for k, v in rows.items()} == expected_readout(b),
          f"cursor B at sample {b} reads every channel's sample")
    delta = driver.find_element(By.CSS_SELECTOR, "#readout tfoot").text
    check(f"Δt = {b - a:.3f} ms" in delta and f"1/Δt = {1000 / (b - a):.3f} Hz" in delta,
          f"the readout gives Δt and 1/Δt: {delta!r}")
    coloured, _ = driver.execute_script(COUNT_PIXELS_JS, STATUS)
    check(coloured > 200, "the cursors' lines are drawn across the status lanes too")

    # Primary values from the record's ratios (600 A / 5 A, recorded as secondary).
    driver.find_element(By.CSS_SELECTOR, "#values option[value=primary]").click()
    wait_for(driver, "primary values", lambda: readout(driver)[0]["Ia [A]"][0] ==
             f"{gen_analog(0, a) * 120:.4f}")
    check(readout(driver)[0]["Ua [kV]"][0] == f"{gen_analog(2, a):.4f}",
          "primary values: secondary currents scaled, primary voltages kept")
    driver.find_element(By.CSS_SELECTOR, "#panes-mode option[value=channel]").click()
    wait_for(driver, "a pane a channel", lambda: len(driver.find_elements(By.CSS_SELECTOR, ANALOG)) == 3)

    # Shift-drag moves the shared window and fetches it.
    ActionChains(driver).send_keys("+").perform()
    zoomed_in = wait_redrawn(driver, "the window after '+'", whole, lambda w: w[0] > 0)
    canvas = driver.find_elements(By.CSS_SELECTOR, f"{ANALOG} canvas")[-1]
    ActionChains(driver).move_to_element_with_offset(canvas, 0, 0).key_down(Keys.SHIFT) \
        .click_and_hold().move_by_offset(int(0.2 * canvas.size["width"]), 0).release() \
        .key_up(Keys.SHIFT).perform()
    panned_w = wait_redrawn(driver, "the window after a shift-drag", zoomed_in,
                            lambda w: w[0] < zoomed_in[0])
    check(panned_w[1] - panned_w[0] == zoomed_in[1] - zoomed_in[0],
          f"a shift-drag moved the window earlier: {zoomed_in} -> {panned_w}")
    axes = driver.execute_script(X_LABELS_JS)
    check(len(axes) == 4 and len(set(axes)) == 1, f"every chart shows the same time axis: {axes}")

    # The fragment holds the view: a fresh page on the link shows it again.
    link = driver.current_url
    shown_rows, shown_heads = readout(driver)
    driver.get("about:blank")
    driver.get(link)
    wait_for(driver, "the linked view", lambda: shown_window(driver) == panned_w and
             readout(driver)[1] == shown_heads)
    check(readout(driver) == (shown_rows, shown_heads) and
          len(driver.find_elements(By.CSS_SELECTOR, ANALOG)) == 3,
          f"the link restores window, channels, cursors and settings: {link.split('#')[1]}")

    # Export: the window's samples as CSV, the charts as PNG.
    driver.execute_script(HOOK_DOWNLOADS_JS)
    driver.find_element(By.ID, "export-csv").click()
    driver.find_element(By.ID, "export-png").click()
    wait_for(driver, "two saved files", lambda: driver.execute_script(
        "return window.savedFiles.length") == 2)
    csv = driver.execute_async_script(READ_DOWNLOAD_JS, 0)
    lines = csv["text"].split("\r\n")
    first = panned_w[0]
    row = dict(zip(lines[0].split(","), lines[1].split(",")))
    check(csv["name"] == f"names_{first}-{panned_w[1] + 1}.csv" and
          len(lines) == panned_w[1] - first + 3 and row["time_us"] == f"{first * 1000:.3f}" and
          row["Ia [A]"] == f"{gen_analog(0, first) * 120:.4f}" and row["* #s2"] == str(gen_status(1, first)),
          f"the CSV holds the window's samples as shown: {csv['name']}, {lines[:2]}")
    png = driver.execute_async_script(READ_DOWNLOAD_JS, 1)
    check(png["type"] == "image/png" and png["size"] > 5000,
          f"the PNG holds the charts ({png['size']} bytes)")


def test_window_faults(driver, url):
    whole = open_record(driver, url, GEN_STATION, "names")
    # Keys work right after a record is chosen; ↓ does not open the next one.
    ActionChains(driver).send_keys(Keys.ARROW_DOWN).send_keys("+").perform()
    half = wait_redrawn(driver, "'+' right after choosing", whole, lambda w: w[1] - w[0] < 250)
    check(driver.find_element(By.ID, "records").get_attribute("value") ==
          str(option_texts(driver, "records").index("names")) and half[2] == GEN_SAMPLES,
          f"keys work after choosing a record, and ↓ kept it: {half}")
    check(abs((whole[1] + whole[0]) - (half[1] + half[0])) <= 1, f"'+' kept the centre: {half}")
    narrowest = half
    while narrowest[1] - narrowest[0] + 1 > 8:
        ActionChains(driver).send_keys("+").perform()
        narrowest = wait_redrawn(driver, "a narrower window", narrowest, lambda w: True)
    asked = len(waveform_answers(driver))
    ActionChains(driver).send_keys("+").send_keys("+").perform()
    wait_for(driver, "the requests of two more '+'", lambda: len(waveform_answers(driver)) >= asked + 2)
    check(shown_window(driver) == narrowest, f"'+' at the narrowest window keeps it: {narrowest}")

    # Presses while a request is out start from the window on screen.
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
        "offline": False, "latency": 600, "downloadThroughput": -1, "uploadThroughput": -1})
    # The sign shows for a fraction of a second, shorter than a poll of
    # wait_for: the page notes when it appears.
    driver.execute_script(WATCH_BUSY_JS)
    try:
        ActionChains(driver).send_keys("-").send_keys("-").send_keys("-").perform()
        wait_for(driver, "the busy sign", lambda: driver.execute_script("return window.busySeen"))
        wider = wait_redrawn(driver, "the window after three '-' in one request's time", narrowest,
                             lambda w: True)
    finally:
        driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
            "offline": False, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})
    check(wider[1] - wider[0] + 1 == 16, f"three presses during a request widened once: {wider}")
    wait_for(driver, "the busy sign gone", lambda: not driver.find_element(By.ID, "busy").is_displayed())

    # A failed request leaves the window; the next one is drawn.
    if "records" not in STORE:
        print("# the store of a service started elsewhere is not changed: no failed request")
        return
    cfg = os.path.join(STORE["records"], GEN_STATION, "names.cfg")
    os.rename(cfg, cfg + ".away")
    try:
        ActionChains(driver).send_keys("-").perform()
        wait_for(driver, "the failure shown", lambda: driver.find_element(By.ID, "error").is_displayed())
    finally:
        os.rename(cfg + ".away", cfg)
    check(shown_window(driver) == wider, "a failed request left the window on screen")
    ActionChains(driver).send_keys("-").perform()
    after = wait_redrawn(driver, "the window after the failure", wider, lambda w: True)
    check(after[1] - after[0] + 1 == 32 and not driver.find_element(By.ID, "error").is_displayed(),
          f"the first request after a failure is drawn: {after}")


def test_header_faults(driver, url):
    window = open_record(driver, url, GEN_STATION, "short")
    wait_for(driver, "the short data noted", lambda: "the data holds 186 of 1,000 samples" in
             driver.find_element(By.ID, "header").text)
    check(window[:3] == (0, 185, 1000), f"only the samples the data holds are drawn: {window}")
    open_record(driver, url, GEN_STATION, "rates83")
    header = driver.find_element(By.ID, "header")
    check(header.size["height"] < 200 and "83 rates, 1000–1082 Hz" in header.text and
          len(driver.find_elements(By.CSS_SELECTOR, "#rates tr")) == 83,
          f"83 rates fold into a table ({header.size['height']} px)")
    open_record(driver, url, GEN_STATION, "clock")
    text = driver.find_element(By.ID, "header").text
    check("after start" not in text and "clock was probably unset" in text and "29.900 s" in text,
          "an unset trigger clock gives no offset; 30 s are written in s")
    check("(s)" in driver.find_element(By.ID, "panes").text and
          "0.000–29900.000 ms (whole record)" in driver.find_element(By.ID, "window").text,
          "a long span is labelled in s and the whole record ends at its last sample")
    open_record(driver, url, GEN_STATION, "utf8")
    check("电流 [A]" in legend_text(driver, ANALOG), "a UTF-8 record's names are decoded as UTF-8")
    driver.get(url + "/viewer")
    pick(driver, "stations", EMPTY_STATION)
    wait_for(driver, "the empty list", lambda: option_texts(driver, "records") == ["(no records)"])
    check(not driver.find_element(By.ID, "error").is_displayed() and
          "no records" in driver.find_element(By.ID, "status").text,
          "an empty station says 'no records', not an error")


def test_small_and_dark(driver, url):
    driver.set_window_size(390, 844)
    try:
        open_record(driver, url, "北京", "北京_001")
        widths = driver.execute_script(
            "return [document.documentElement.scrollWidth, window.innerWidth,"
            " document.querySelector('#panes canvas').getBoundingClientRect().width];")
        check(widths[0] <= widths[1] and widths[2] > 250,
              f"at 390 px the page fits and the chart fills it: {widths}")
    finally:
        driver.set_window_size(1280, 1000)
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
        "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
    try:
        background = driver.execute_script("return getComputedStyle(document.body).backgroundColor")
    finally:
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
    level = [int(v) for v in re.findall(r"\d+", background)[:3]]
    check(max(level) < 80, f"dark rooms get dark colours: {background}")
