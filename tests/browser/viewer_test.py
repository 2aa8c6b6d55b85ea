#!/usr/bin/python3
"""Drives the /viewer page in headless Chromium the way a person does.

Starts the real service on a copy of the demo installation (free port), opens
/viewer, picks the GBK-named station and record, ticks two channels, checks
that the charts are drawn and that their legends name the channels, zooms
with a mouse drag and with keys, and checks that each zoom asked
/getWaveform for a finer window and drew the answer. With VIEWER_SCREENSHOT
set it saves a screenshot of the page there. It also imports the page's
modules of pure helpers into the page and checks them against tables.

Usage: viewer_test.py --service BINARY --demo DEMO_DIR
       viewer_test.py --url http://127.0.0.1:8000   (a service already running)
"""
import argparse
import math
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Without the background-networking flags Chromium keeps calling out, and a
# machine without outside network refuses those connections.
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--window-size=1280,1000",
]
WAIT_SECONDS = 15

# The analog panes and the status lanes.
ANALOG = "#panes .pane.analog"
STATUS = "#panes .pane.status"
# Pixels of the charts' canvases that are coloured (series and bands; the axes
# and grid are grey) and that are the trigger line's red.
COUNT_PIXELS_JS = """
const [selector] = arguments;
let coloured = 0, red = 0;
for (const canvas of document.querySelectorAll(`${selector} canvas`)) {
  if (!canvas.width || !canvas.height) continue;
  const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
  for (let i = 0; i < data.length; i += 4) {
    const [r, g, b, a] = [data[i], data[i + 1], data[i + 2], data[i + 3]];
    if (a < 128) continue;
    if (Math.max(r, g, b) - Math.min(r, g, b) > 60) coloured++;
    if (r > 180 && g < 90 && b < 90) red++;
  }
}
return [coloured, red];
"""
# What the browser fetched from /getWaveform and how it was answered.
WAVEFORM_REQUESTS_JS = """
return performance.getEntriesByType("resource")
    .filter((e) => new URL(e.name).pathname === "/getWaveform")
    .map((e) => e.responseStatus);
"""
# Imports the module at arguments[0] into the page and evaluates each of the
# expressions in arguments[1] with the module as `m`: a {value} or an {error}
# for each.
EVALUATE_JS = """
const [url, expressions, done] = arguments;
import(url).then((m) => done(expressions.map((e) => {
  try {
    return { value: new Function("m", `return (${e});`)(m) };
  } catch (err) {
    return { error: String(err) };
  }
})), (err) => done([{ error: `import ${url}: ${err}` }]));
"""
# Expressions over samples.js and what they give. Time stamps are told apart
# by their differences, the only use the page makes of them.
SAMPLES_CASES = [
    ('m.timestampUs("01/12/2026,10:00:00.100000", false) -'
     ' m.timestampUs("01/12/2026,10:00:00.000000", false)', 100000),
    ('m.timestampUs("02/01/2026, 00:00:00", false) - m.timestampUs("01/01/2026,23:59:59.5", false)',
     500000),
    ('m.timestampUs("01/01/2026,00:00:01.", false) - m.timestampUs("01/01/2026,00:00:00", false)',
     1000000),
    ('m.timestampUs("12/01/2026,00:00:00", true) === m.timestampUs("01/12/2026,00:00:00", false)',
     True),
    ('m.timestampUs("13/01/2026,00:00:00", true) === m.timestampUs("13/01/2026,00:00:00", false)',
     True),
    ('m.timestampUs("yesterday", false)', None),
    ('m.timestampUs(null, true)', None),
    ('m.triggerOffsetMs({ revision: "1999", startTime: "01/12/2026,10:00:00.000000",'
     ' triggerTime: "01/12/2026,10:00:00.100000" })', 100),
    ('m.triggerOffsetMs({ revision: "1991", startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 86400000),
    ('m.triggerOffsetMs({ revision: " ", startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 86400000),
    ('m.triggerOffsetMs({ revision: 2013, startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 28 * 86400000),
    ('m.triggerOffsetMs({ revision: "1999", startTime: "01/02/2026,00:00:00", triggerTime: "" })',
     None),
    ("[0, 1280.4, 1e7].map(m.pointsForWidth)", [1, 1280, 100000]),
    ("[m.bucket(1, 3, 0), m.bucket(0, 1, 1.5), m.bucket(null, 1, 0), m.bucket(1, null, 0)]",
     [[1, 2, 3], [1.5, 2, 2.5], None, None]),
    # Equal steps, before the first and after the last bucket, then two rates
    # and a single bucket.
    ("[0, 0.5, 1, 2.5, -1, 10]"
     ".map((ms) => m.sampleAt({ from: 100, step: 2, time: [0, 1000, 2000] }, ms))",
     [100, 101, 102, 105, 100, 106]),
    ("m.sampleAt({ from: 0, step: 1, time: [0, 1000, 1500] }, 1.25)", 1.5),
    ("m.sampleAt({ from: 40, step: 4, time: [3000] }, 3.5)", 42),
    ("[[10, 20], [-5, 5], [95, 110], [50, 51], [2.4, 12.6]]"
     ".map(([f, t]) => m.clampWindow(f, t, 100))",
     [{"from": 10, "to": 20}, {"from": 0, "to": 10}, {"from": 85, "to": 100},
      {"from": 47, "to": 55}, {"from": 2, "to": 12}]),
    # "+" at the narrowest window leaves it where it is.
    ("m.clampWindow(...m.zoomed({ from: 100, to: 108 }, 0.5), 1000)", {"from": 100, "to": 108}),
    ("[m.clampWindow(0, 3, 5), m.clampWindow(0, 0, 0)]",
     [{"from": 0, "to": 5}, {"from": 0, "to": 0}]),
    ("[m.zoomed({ from: 0, to: 100 }, 0.5), m.zoomed({ from: 0, to: 100 }, 2)]",
     [[25, 75], [-50, 150]]),
    # A window too narrow for a quarter still moves by a sample, either way.
    ("[m.panned({ from: 0, to: 100 }, 0.25), m.panned({ from: 10, to: 12 }, -0.25),"
     " m.panned({ from: 10, to: 11 }, 0.25)]", [[25, 125], [9, 11], [11, 12]]),
    ("[m.msText(1.23456), m.msText(0), m.msText(12345.6, 30000), m.timeUnit(9999),"
     " m.timeUnit(10000)]", ["1.235 ms", "0.000 ms", "12.3456 s", "ms", "s"]),
    # The span runs to the last sample, not to the start of the last bucket.
    ("[m.viewSpanMs({ from: 0, to: 6, step: 2, time: [0, 4000, 8000] }),"
     " m.viewSpanMs({ from: 5, to: 8, step: 1, time: [1000, 2000, 3000] }),"
     " m.viewSpanMs({ from: 0, to: 7, step: 3, time: [0, 3000, 6000] }),"
     " m.viewSpanMs({ from: 0, to: 1, step: 1, time: [0] }),"
     " m.viewSpanMs({ from: 0, to: 0, step: 1, time: [] })]",
     [[0, 10], [1, 3], [0, 6], [0, 1], None]),
    ("[m.plausibleTriggerMs(100, 500), m.plausibleTriggerMs(-1266874889659, 500),"
     " m.plausibleTriggerMs(null, 500), m.plausibleTriggerMs(-2000, 500)]",
     [100, None, None, -2000]),
    ("[m.countText(45600), m.countText(186), m.countText(1000000)]",
     ["45,600", "186", "1,000,000"]),
    ("[m.bandText([1, 1, 1]), m.bandText([1, 1.5, 2]), m.bandText(null)]",
     ["1.0000", "1.0000 … 2.0000", "—"]),
    ("[[1.5, 1.5, 1.5], [2.5, 2.5, 2.5], [1.5, 2, 2.5], null].map((b) => m.stateText(b, 1.5))",
     ["0", "1", "0/1", "—"]),
]
# Expressions over names.js: "\uf7b1\uf7b1\uf7be\uf7a9" is the byte string of
# 北京 in GBK.
NAMES_CASES = [
    (r'Array.from(m.byteString("A\uf7b1\uf7a9"))', [65, 0xB1, 0xA9]),
    ("(() => { const all = Uint8Array.from({ length: 256 }, (_, i) => i);"
     " return Array.from(m.byteString(m.byteText(all))).every((b, i) => b === i); })()", True),
    (r'[m.display("\uf7b1\uf7b1\uf7be\uf7a9_001"), m.display("GEN01"), m.display("")]',
     ["北京_001", "GEN01", ""]),
    # UTF-8 where the bytes are valid UTF-8 (电 is E7 94 B5), GBK otherwise.
    (r'[m.display("\uf7e7\uf794\uf7b5"), m.recordDecoder(["A", "\uf7e7\uf794\uf7b5"])("\uf7e7\uf794\uf7b5"),'
     r' m.recordDecoder(["\uf7b1\uf7b1", "\uf7e7\uf794\uf7b5"])("\uf7b1\uf7b1")]',
     ["电", "电", "北"]),
    # Repeated labels are told apart by kind and position; units lose their padding.
    ('m.seriesLabels([{ kind: "analog", index: 1, name: "Ua", unit: " kV" },'
     ' { kind: "analog", index: 2, name: "Ub", unit: "" },'
     ' { kind: "status", index: 1, name: "*" }, { kind: "status", index: 2, name: "*" },'
     ' { kind: "status", index: 3, name: "Ua" }], (t) => t)',
     ["Ua [kV]", "Ub", "* #s1", "* #s2", "Ua"]),
    (r'm.seriesLabels([{ kind: "analog", index: 1, name: "\uf7b1\uf7b1", unit: "\uf7a1\uf7e6" }],'
     r' m.recordDecoder([]))', ["北 [℃]"]),
]
# Expressions over channels.js.
CHANNELS_CASES = [
    ('[m.selectorOf("a3"), m.selectorOf("s12"), m.selectorOf("a0"), m.selectorOf("x1"),'
     ' m.selectorOf("a")]', [{"analog": 3}, {"status": 12}, None, None, None]),
    # Positions are counted within each kind, whatever number the record wrote.
    ('m.recordChannels({ analogs: [{ index: 1 }], digitals: [{ index: 25 }, { index: 26 }] })'
     '.digitals.map((c) => c.key)', ["s1", "s2"]),
    ('m.answerKeys({ channels: [{ kind: "status", index: 2 }, {}] }, ["a1", "a7"])', ["s2", "a7"]),
    ('m.panesOf([{ name: "Ia", unit: "A" }, { name: "Ua", unit: "kV" }, { name: "Ib", unit: " a" },'
     ' { name: "X", unit: "" }], "unit", (t) => t)'
     '.map((p) => [p.title, p.channels.map((c) => c.name)])',
     [["A", ["Ia", "Ib"]], ["kV", ["Ua"]], ["no unit", ["X"]]]),
    ('m.panesOf([{ name: "Ia", unit: "A" }, { name: "Ib", unit: "A" }], "channel", (t) => t).length', 2),
    ('[["recorded", "S"], ["primary", "S"], ["secondary", "S"], ["primary", "P"],'
     ' ["secondary", "P"], ["primary", "x"]]'
     '.map(([mode, ps]) => m.scaleFactor({ primary: 600, secondary: 5, ps }, mode))',
     [1, 120, 1, 1, 5 / 600, 1]),
    ('[m.scaleFactor({ primary: 0, secondary: 5, ps: "S" }, "primary"),'
     ' m.scaleFactor({ primary: null, secondary: 5, ps: "S" }, "primary")]', [1, 1]),
    ('[m.matchesFilter("Ia [A]", "ia"), m.matchesFilter("Ia [A]", "kv"),'
     ' m.matchesFilter("Man_Close_Cmd", "close man"), m.matchesFilter("x", "  ")]',
     [True, False, True, True]),
]
# Expressions over fragment.js: a GBK station name and every part of a view
# come back as they went in; parts that do not parse are left out.
FRAGMENT_CASES = [
    (r'm.parseFragment(m.fragmentOf({ station: "\uf7b1\uf7b1 x", record: "r&1",'
     r' channels: ["a1", "s3"], window: { from: 10, to: 20 }, cursors: { a: 12, b: null },'
     r' panes: "channel", values: "primary" }))',
     {"station": " x", "record": "r&1", "channels": ["a1", "s3"],
      "window": {"from": 10, "to": 20}, "cursors": {"a": 12, "b": None}, "panes": "channel",
      "values": "primary"}),
    ('m.parseFragment("#st=N&rec=R&ch=a1,zz,s0&w=9-3&ca=x&pane=q&val=y")',
     {"station": "N", "record": "R", "channels": ["a1"], "window": None,
      "cursors": {"a": None, "b": None}, "panes": "unit", "values": "recorded"}),
    ('[m.parseFragment(""), m.parseFragment("#st=N")]', [None, None]),
]
# Expressions over export.js and cursors.js.
EXPORT_CASES = [
    ('m.csvText({ step: 1, time: [0, 250], channels: [{ min: [1, -2.5], max: [1, -2.5] },'
     ' { min: [0, 1], max: [0, 1] }] }, [{ label: "Ia [A]", factor: 2 },'
     ' { label: "a,b", status: true, factor: 1 }])',
     'time_us,Ia [A],"a,b"\r\n0.000,2.0000,0\r\n250.000,-5.0000,1\r\n'),
    ('m.csvText({ step: 4, time: [0], channels: [{ min: [null], max: [null] }] },'
     ' [{ label: "U", factor: 1 }])', "time_us,U min,U max\r\n0.000,,\r\n"),
]
CURSORS_CASES = [
    ('[m.deltaText(1, 21), m.deltaText(5, 5), m.deltaText(null, 1)]',
     ["Δt = 20.000 ms · 1/Δt = 50.000 Hz", "Δt = 0.000 ms · 1/Δt = —", ""]),
]
WINDOW_PATTERN = re.compile(r"Samples (\d+)–(\d+) of (\d+) · step (\d+)")


# Records the page is tried on, written at run time into the copy of the demo
# installation, as ASCII so that the values at each sample are known here.
GEN_STATION = "Gen"
EMPTY_STATION = "Empty"
GEN_RATE = 1000
GEN_SAMPLES = 400


def gen_analog(channel, n):
    """The value written for analog channel `channel` (0-based) at sample n."""
    raw = [(n * 7) % 200 - 100, 50 - n % 100, round(200 * math.sin(2 * math.pi * 50 * n / GEN_RATE))]
    return raw[channel] * (0.01 if channel < 2 else 1)


def gen_status(channel, n):
    return [0, (n // 10) % 2, 1, int(n >= 200), (n // 50) % 2][channel]


def write_record(folder, name, analogs, statuses, rates, rows, *,
                 revision="1999", start="01/12/2026,10:00:00.000000",
                 trigger="01/12/2026,10:00:00.100000", encoding="gbk"):
    """An ASCII record: `analogs` are (name, unit, a, primary, secondary, ps),
    `rows` the raw integers of each written sample; the samples the .cfg
    declares are the last rate's last sample."""
    lines = [f"{GEN_STATION},DEV1,{revision}",
             f"{len(analogs) + len(statuses)},{len(analogs)}A,{len(statuses)}D"]
    for i, (label, unit, a, primary, secondary, ps) in enumerate(analogs, 1):
        lines.append(f"{i},{label},,,{unit},{a},0,0,-32767,32767,{primary},{secondary},{ps}")
    # Status channels numbered on from the analogs, as real records do.
    lines += [f"{len(analogs) + i},{label},,,0" for i, label in enumerate(statuses, 1)]
    lines += ["50", str(len(rates))] + [f"{r},{last}" for r, last in rates]
    lines += [start, trigger, "ASCII", "1"]
    if revision == "2013":
        lines += ["+8h00,+8h00", "0,0"]
    with open(os.path.join(folder, name + ".cfg"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode(encoding))
    with open(os.path.join(folder, name + ".dat"), "w", newline="\r\n") as f:
        for n, row in enumerate(rows):
            f.write(",".join([str(n + 1), str(n * 1000)] + [str(v) for v in row]) + "\n")


def write_generated_records(records):
    folder = os.path.join(records, GEN_STATION)
    os.makedirs(folder)
    os.makedirs(os.path.join(records, EMPTY_STATION))
    # Names repeated within the status kind and across kinds; ±200 kV beside
    # currents of a few A; a unit padded inside its field.
    analogs = [("Ia", " A", 0.01, 600, 5, "S"), ("Ib", "A", 0.01, 600, 5, "S"),
               ("Ua", "kV", 1, 220, 0.1, "P")]
    statuses = ["*", "*", "*", "Ua", "Man_Close_Cmd"]
    rows = [[round(gen_analog(k, n) / (0.01 if k < 2 else 1)) for k in range(3)] +
            [gen_status(k, n) for k in range(5)] for n in range(GEN_SAMPLES)]
    write_record(folder, "names", analogs, statuses, [(GEN_RATE, GEN_SAMPLES)], rows)
    # A data file shorter than its .cfg declares.
    write_record(folder, "short", [("I", "A", 1, 1, 1, "P")], [], [(GEN_RATE, 1000)],
                 [[n] for n in range(186)])
    # 83 rate lines, two samples each.
    write_record(folder, "rates83", [("I", "A", 1, 1, 1, "P")], [],
                 [(1000 + k, 2 * (k + 1)) for k in range(83)], [[n] for n in range(166)])
    # 30 s at 10 Hz, triggered by a clock that was never set.
    write_record(folder, "clock", [("I", "A", 1, 1, 1, "P")], [], [(10, 300)],
                 [[n % 7] for n in range(300)], trigger="01/01/1970,00:00:00.000000")
    # A 2013 record written in UTF-8.
    write_record(folder, "utf8", [("电流", "A", 1, 1, 1, "P")], [], [(GEN_RATE, 50)],
                 [[n] for n in range(50)], revision="2013", encoding="utf-8")


# The record store of the service under test, when this script started it.
STORE = {}


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print(f"ok - {what}", flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_service(binary, demo, root):
    """The service on a copy of the demo installation, on a free port."""
    shutil.copytree(os.path.join(demo, "cfg"), os.path.join(root, "cfg"))
    shutil.copytree(os.path.join(demo, "records"), os.path.join(root, "records"))
    os.makedirs(os.path.join(root, "log"))
    STORE["records"] = os.path.join(root, "records")
    write_generated_records(STORE["records"])
    port = free_port()
    settings = os.path.join(root, "cfg", "ComTrade.ini")
    with open(settings, encoding="utf-8") as f:
        text = re.sub(r"(?m)^port\s*=.*$", f"port = {port}", f.read())
    with open(settings, "w", encoding="utf-8") as f:
        f.write(text)
    out = open(os.path.join(root, "service.out"), "wb")
    service = subprocess.Popen([binary], cwd=root, env=dict(os.environ, TAVROOT=root),
                               stdout=out, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if service.poll() is not None:
            raise Failure(f"the service exited with {service.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return service, f"http://127.0.0.1:{port}"
        except OSError:
            time.sleep(0.05)
    service.kill()
    raise Failure("the service did not listen within 10 s")


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(driver, what, condition):
    try:
        return WebDriverWait(driver, WAIT_SECONDS).until(lambda d: condition())
    except TimeoutException:
        error = driver.find_element(By.ID, "error")
        shown = f"; the page shows the error: {error.text}" if error.is_displayed() else ""
        raise Failure(f"timed out waiting for {what}{shown}") from None


def option_texts(driver, list_id):
    return [o.text for o in driver.find_elements(By.CSS_SELECTOR, f"#{list_id} option")]


def pick(driver, list_id, text):
    wait_for(driver, f"{text!r} in #{list_id}", lambda: text in option_texts(driver, list_id))
    next(o for o in driver.find_elements(By.CSS_SELECTOR, f"#{list_id} option")
         if o.text == text).click()


def tick(driver, caption):
    label = next(l for l in driver.find_elements(By.CSS_SELECTOR, "fieldset label")
                 if l.text.strip().startswith(caption))
    label.click()


def shown_window(driver):
    """(from, to, samples, step) as the status line under the toolbar says."""
    match = WINDOW_PATTERN.search(driver.find_element(By.ID, "window").text)
    return tuple(int(g) for g in match.groups()) if match else None


def waveform_answers(driver):
    return driver.execute_script(WAVEFORM_REQUESTS_JS)


def legend_text(driver, selector):
    return " ".join(e.text for e in driver.find_elements(By.CSS_SELECTOR, f"{selector} .legend"))


def chart_image(driver, selector):
    return driver.execute_script(
        f"return [...document.querySelectorAll('{selector} canvas')]"
        ".map((c) => c.toDataURL()).join();")


def wait_redrawn(driver, what, before, accept):
    """Waits until a /getWaveform answer newer than `before` is on screen and
    `accept(window)` holds for the window it shows."""
    asked = len(waveform_answers(driver))

    def done():
        window = shown_window(driver)
        return window and window != before and accept(window)
    window = wait_for(driver, what, lambda: done() and shown_window(driver))
    answers = waveform_answers(driver)
    check(len(answers) >= asked and answers and answers[-1] in (0, 200),
          f"{what}: /getWaveform was asked and answered ({len(answers)} so far)")
    return window


def check_helpers(driver, url, module, cases):
    driver.get(url + "/viewer")
    got = driver.execute_async_script(EVALUATE_JS, f"/viewer/{module}", [e for e, _ in cases])
    wrong = [f"{e} gave {g}, not {expected!r}"
             for (e, expected), g in zip(cases, got) if g != {"value": expected}]
    check(len(got) == len(cases) and not wrong,
          f"{module} gives what each of its {len(cases)} cases expects" +
          "".join(f"\n  {w}" for w in wrong))


def test_sample_helpers(driver, url):
    check_helpers(driver, url, "samples.js", SAMPLES_CASES)


def test_name_helpers(driver, url):
    check_helpers(driver, url, "names.js", NAMES_CASES)


def test_other_helpers(driver, url):
    for module, cases in (("channels.js", CHANNELS_CASES), ("fragment.js", FRAGMENT_CASES),
                          ("export.js", EXPORT_CASES), ("cursors.js", CURSORS_CASES)):
        check_helpers(driver, url, module, cases)


def test_page(driver, url):
    driver.get(url + "/viewer")
    wait_for(driver, "the station list", lambda: len(option_texts(driver, "stations")) == 4)
    check(option_texts(driver, "stations") == [EMPTY_STATION, GEN_STATION, "North", "北京"],
          "the stations are listed with their GBK names decoded")

    pick(driver, "stations", "北京")
    wait_for(driver, "the record list", lambda: len(option_texts(driver, "records")) == 3)
    check(option_texts(driver, "records") == ["B_02", "fault_0103", "北京_001"],
          "the station's records are listed")

    pick(driver, "records", "北京_001")
    wait_for(driver, "the whole record drawn", lambda: shown_window(driver) is not None)
    header = driver.find_element(By.ID, "header").text
    for shown in ("北京", "GEN01", "01/12/2026,10:00:00.000000", "01/12/2026,10:00:00.100000",
                  "5000 Hz to sample 3000", "100.000 ms after start"):
        check(shown in header, f"the header shows {shown!r}")

    tick(driver, "Ub电压")
    tick(driver, "跳闸")
    whole = wait_for(driver, "both charts with the chosen channels", lambda: (
        "Ub电压" in legend_text(driver, ANALOG) and
        "跳闸" in legend_text(driver, STATUS) and shown_window(driver)))
    analog_legend = legend_text(driver, ANALOG)
    check("Ua电压 [kV]" in analog_legend and "Ub电压 [kV]" in analog_legend,
          f"the analog legend names the channels: {analog_legend!r}")
    check("跳闸" in legend_text(driver, STATUS),
          "the status legend names the status channel")
    check(whole[:3] == (0, 2999, 3000) and whole[3] > 1,
          f"the whole record is shown in buckets: {whole}")
    coloured, red = driver.execute_script(COUNT_PIXELS_JS, ANALOG)
    check(coloured > 2000, f"the analog chart is drawn ({coloured} coloured pixels)")
    check(red > 50, f"the trigger time is marked ({red} red pixels)")
    coloured, _ = driver.execute_script(COUNT_PIXELS_JS, STATUS)
    check(coloured > 200, f"the status chart is drawn ({coloured} coloured pixels)")

    screenshot = os.environ.get("VIEWER_SCREENSHOT")
    if screenshot:
        driver.save_screenshot(os.path.abspath(screenshot))
        print(f"# screenshot written to {screenshot}")

    # A drag over the middle of the analog chart, as a person zooms.
    before_image = chart_image(driver, ANALOG)
    canvas = driver.find_elements(By.CSS_SELECTOR, f"{ANALOG} canvas")[-1]
    width = canvas.size["width"]
    ActionChains(driver).move_to_element_with_offset(canvas, int(-0.15 * width), 0) \
        .click_and_hold().move_by_offset(int(0.2 * width), 0).release().perform()
    dragged = wait_redrawn(driver, "the dragged window", whole,
                           lambda w: w[0] > 0 and w[1] - w[0] < 0.4 * 3000)
    check(dragged[3] < whole[3] and dragged[3] == 1,
          f"the dragged window is drawn from single samples: {dragged}")
    check(chart_image(driver, ANALOG) != before_image, "the chart was redrawn")
    coloured, _ = driver.execute_script(COUNT_PIXELS_JS, ANALOG)
    check(coloured > 1000, f"the zoomed chart is drawn ({coloured} coloured pixels)")

    # Keys: "+" halves the window around its centre, Home shows the whole record.
    ActionChains(driver).send_keys("+").perform()
    halved = wait_redrawn(driver, "the window after '+'", dragged,
                          lambda w: abs((w[1] - w[0]) * 2 - (dragged[1] - dragged[0])) <= 2)
    check(dragged[0] < halved[0] and halved[1] < dragged[1],
          f"'+' zoomed into the middle: {dragged} -> {halved}")
    ActionChains(driver).send_keys("\ue011").perform()  # Home
    wait_redrawn(driver, "the whole record after Home", halved, lambda w: w == whole)
    check(not driver.find_element(By.ID, "error").is_displayed(), "no error is shown")
    check(all(status == 200 for status in waveform_answers(driver)),
          "every /getWaveform request was answered with 200")


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
    try:
        ActionChains(driver).send_keys("-").send_keys("-").send_keys("-").perform()
        wait_for(driver, "the busy sign", lambda: driver.find_element(By.ID, "busy").is_displayed())
        wider = wait_redrawn(driver, "the window after three '-' in one request's time", narrowest,
                             lambda w: True)
    finally:
        driver.execute_cdp_cmd("Network.emulateNetworkConditions", {
            "offline": False, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})
    check(wider[1] - wider[0] + 1 == 16, f"three presses during a request widened once: {wider}")
    wait_for(driver, "the busy sign gone", lambda: not driver.find_element(By.ID, "busy").is_displayed())

    # A failed request leaves the window; the next one is drawn.
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


TESTS = [test_page, test_channels_and_cursors, test_window_faults, test_header_faults,
         test_small_and_dark, test_sample_helpers, test_name_helpers, test_other_helpers]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", help="the comtrade_service binary")
    parser.add_argument("--demo", help="the demo installation to copy")
    parser.add_argument("--url", help="use a service that is already running")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="viewer-test-") as scratch:
        service = None
        driver = None
        try:
            if args.url:
                url = args.url.rstrip("/")
            else:
                service, url = start_service(os.path.abspath(args.service),
                                             os.path.abspath(args.demo),
                                             os.path.join(scratch, "install"))
            driver = start_browser(os.path.join(scratch, "profile"))
            failed = 0
            for test in TESTS:
                try:
                    test(driver, url)
                except Failure as failure:
                    print(f"not ok - {failure}")
                    driver.save_screenshot(
                        os.path.join(tempfile.gettempdir(), f"viewer-failure-{test.__name__}.png"))
                    failed += 1
            print(f"{len(TESTS) - failed} passed, {failed} failed")
            return 1 if failed else 0
        except Failure as failure:
            # The service did not start: no test could run.
            print(f"not ok - {failure}")
            print(f"0 passed, {len(TESTS)} failed")
            return 1
        finally:
            if driver:
                driver.quit()
            if service:
                service.kill()
                service.wait()


if __name__ == "__main__":
    sys.exit(main())
