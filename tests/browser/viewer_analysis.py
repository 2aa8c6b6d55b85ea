"""Drives the viewer's analysis panel on the generated analysis record: the
phasors and sequence components at cursor A, the harmonics, the RMS traces,
the status changes and the service's files of the window. What the page shows
is checked against the service's own answers and against the values the
record was written with."""
import json
import math
import urllib.request

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from generated_records import (GEN_STATION, PH_HARMONICS, PH_SAMPLES, PH_STEPS, PH_VOLTS)
from page_driving import ANALOG, check, legend_text, shown_window, tick, wait_for
from viewer_tools import (HOOK_DOWNLOADS_JS, READ_DOWNLOAD_JS, click_chart, cursor_sample,
                          open_record, readout)

RECORD = "phasors"
# Rounding the written samples to 0.01 kV moves the phasors by less than this.
VOLT_TOLERANCE = 0.01
ANGLE_TOLERANCE = 0.05


def ask(url, uri, body, raw=False):
    request = urllib.request.Request(url + uri, data=json.dumps(
        {"groupName": GEN_STATION, "fileName": RECORD, **body}).encode(), method="POST")
    with urllib.request.urlopen(request, timeout=30) as reply:
        data = reply.read()
    return data if raw else json.loads(data)


def table_rows(driver, table_id):
    return [[td.text for td in tr.find_elements(By.TAG_NAME, "td")]
            for tr in driver.find_elements(By.CSS_SELECTOR, f"#{table_id} tbody tr")]


def relative(angle, ref):
    d = (angle - ref) % 360
    return d - 360 if d > 180 else d


def angle_text(d):
    return f"{0 if abs(d) < 0.005 else d:.2f}°"


def near(a, b, tolerance):
    return abs(a - b) <= tolerance


def check_phasors(driver, url, sample, ref):
    """The table and diagram at cursor A equal /getPhasors' answer, angles
    against channel `ref` (0-based), and the written balanced set."""
    answer = ask(url, "/getPhasors", {"channelList": [{"analog": k} for k in (1, 2, 3)],
                                      "from": sample, "to": sample + 1, "points": 1,
                                      "sequence": [{"analog": k} for k in (1, 2, 3)]})
    angles = [c["angle"][0] for c in answer["channels"]]
    expected = [[f"U{p} [kV]", f"{c['magnitude'][0]:.4f}", angle_text(relative(angles[k], angles[ref])),
                 f"{c['rms'][0]:.4f}"] for k, (p, c) in enumerate(zip("abc", answer["channels"]))]
    rows = wait_for(driver, f"the phasors against U{'abc'[ref]}",
                    lambda: table_rows(driver, "phasor-table") == expected and
                    table_rows(driver, "phasor-table"))
    check(all(near(float(r[1]), PH_VOLTS, VOLT_TOLERANCE) and
              near(relative(float(r[2][:-1]), [0, -120, 120][k] - [0, -120, 120][ref]), 0,
                   ANGLE_TOLERANCE) for k, r in enumerate(rows)),
          f"the phasors at A are the service's and the balanced set's: {rows}")
    sequence = answer["sequence"]
    shown = wait_for(driver, "the sequence components", lambda: table_rows(driver, "sequence-table"))
    check(shown == [[name, f"{sequence[name]['magnitude'][0]:.4f}",
                     angle_text(relative(sequence[name]["angle"][0], angles[ref]))]
                    for name in ("zero", "positive", "negative")] and
          near(float(shown[1][1]), PH_VOLTS, VOLT_TOLERANCE) and
          float(shown[0][1]) < VOLT_TOLERANCE and float(shown[2][1]) < VOLT_TOLERANCE,
          f"the sequence components are the service's, all positive: {shown}")


def test_analysis(driver, url):
    open_record(driver, url, GEN_STATION, RECORD)
    tick(driver, "Ub [kV]")
    tick(driver, "Uc [kV]")
    wait_for(driver, "three voltages", lambda: "Uc [kV]" in legend_text(driver, ANALOG))
    check(driver.find_element(By.ID, "analysis-note").is_displayed(),
          "the panel asks for cursor A before it reads anything")

    click_chart(driver, 0.5)
    sample = wait_for(driver, "cursor A", lambda: readout(driver)[1] and
                      cursor_sample(readout(driver)[1], 1))
    check_phasors(driver, url, sample, 0)
    arrows = driver.find_elements(By.CSS_SELECTOR, "#phasor-diagram .phasor")
    check([a.get_attribute("data-label") for a in arrows] == ["Ua [kV]", "Ub [kV]", "Uc [kV]"],
          "the diagram draws an arrow a shown channel")
    Select(driver.find_element(By.ID, "phasor-ref")).select_by_visible_text("Ub [kV]")
    check_phasors(driver, url, sample, 1)

    # The harmonics of the current with DC, 3rd and 5th.
    Select(driver.find_element(By.ID, "harmonics-channel")).select_by_visible_text("Ih [A]")
    answer = ask(url, "/getHarmonics", {"channelList": [{"analog": 4}], "at": sample})["channels"][0]
    thd = wait_for(driver, "the THD", lambda: "THD" in driver.find_element(By.ID, "thd").text and
                   driver.find_element(By.ID, "thd").text)
    fundamental = PH_HARMONICS[1]
    written = 100 * math.sqrt(sum(m * m for h, m in PH_HARMONICS.items() if h >= 2)) / fundamental
    check(thd.startswith(f"THD {answer['thd']:.3f} %") and near(answer["thd"], written, 0.05),
          f"the THD is the service's and the written wave's ({written:.3f} %): {thd!r}")
    bars = driver.find_elements(By.CSS_SELECTOR, "#harmonics-diagram .bar rect")
    heights = [float(b.get_attribute("height")) for b in bars]
    check(len(bars) == len(answer["harmonics"]) and heights.index(max(heights)) == 1 and
          near(heights[3] / heights[1], PH_HARMONICS[3] / fundamental, 0.01),
          f"a bar an order, scaled to the fundamental: {heights}")

    # RMS traces: the true RMS of a steady sine at the middle of the record.
    driver.find_element(By.ID, "rms").click()
    wait_for(driver, "the RMS series", lambda: "Ua [kV] RMS" in legend_text(driver, ANALOG))
    canvas = driver.find_elements(By.CSS_SELECTOR, f"{ANALOG} canvas")[-1]
    ActionChains(driver).move_to_element_with_offset(canvas, int(0.1 * canvas.size["width"]), 0).perform()
    legend = wait_for(driver, "the RMS value in the legend",
                      lambda: "RMS:" in legend_text(driver, ANALOG) and legend_text(driver, ANALOG))
    value = float(legend.split("Ua [kV] RMS:")[1].split()[0])
    check(near(value, PH_VOLTS, VOLT_TOLERANCE), f"the RMS trace reads {value} kV")
    driver.find_element(By.ID, "rms").click()
    wait_for(driver, "the RMS series gone", lambda: "RMS" not in legend_text(driver, ANALOG))

    # Status changes: against the trigger (sample 200), and a click goes there.
    events = ask(url, "/getEvents", {})
    items = [b.text for b in driver.find_elements(By.CSS_SELECTOR, "#event-list button")]
    expected = [f"+{(e['time'] - events['triggerUs']) / 1000:.3f} ms  {e['name']} → {e['value']}"
                for e in events["events"]]
    written = [f"+{(at - 200) / 2:.3f} ms  {name} → {after}" for name, (at, _, after) in PH_STEPS.items()]
    check(items == expected == written, f"the status changes are listed: {items}")
    driver.find_elements(By.CSS_SELECTOR, "#event-list button")[1].click()
    at = PH_STEPS["CB"][0]
    wait_for(driver, "cursor A at the event", lambda: cursor_sample(readout(driver)[1], 1) == at)
    window = wait_for(driver, "the window around it", lambda: (
        shown_window(driver)[:2] == (at - PH_SAMPLES // 8, at + PH_SAMPLES // 8 - 1) and shown_window(driver)))
    check(window[0] < at < window[1], f"the event moved cursor A to {at} and the window to {window}")

    # The service's files of that window and the shown channels.
    driver.execute_script(HOOK_DOWNLOADS_JS)
    driver.find_element(By.ID, "export-cff").click()
    driver.find_element(By.ID, "export-slice-csv").click()
    wait_for(driver, "two saved files", lambda: driver.execute_script(
        "return window.savedFiles.length") == 2)
    span = {"channelList": [{"analog": k} for k in (1, 2, 3)], "from": window[0], "to": window[1] + 1}
    for index, fmt in enumerate(("cff", "csv")):
        saved = driver.execute_async_script(READ_DOWNLOAD_JS, index)
        served = ask(url, "/exportRecord", {**span, "format": fmt}, raw=True).decode("latin-1")
        check(saved["name"] == f"{RECORD}_{window[0]}-{window[1] + 1}.{fmt}" and
              saved["text"] == served and saved["text"].startswith(
                  "--- file type: CFG ---" if fmt == "cff" else "time_us,Ua[kV],Ub[kV],Uc[kV]"),
              f"the {fmt} file is the service's: {saved['name']}, {saved['text'][:40]!r}")
    check(not driver.find_element(By.ID, "error").is_displayed(), "no error is shown")

    # A record without a line frequency: the panel says so at each placing of A.
    driver.get("about:blank")
    driver.get(f"{url}/viewer#st={GEN_STATION}&rec=nofreq&ch=a1&ca=50")
    note = wait_for(driver, "the panel's note", lambda: driver.find_element(By.ID, "phasor-note").text)
    check("no line frequency" in note and not driver.find_element(By.ID, "error").is_displayed(),
          f"a record without a line frequency is told in the panel: {note!r}")
