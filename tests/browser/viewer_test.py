#!/usr/bin/python3
"""Drives the /viewer page in headless Chromium the way a person does.

Starts the real service on a copy of the demo installation (free port), opens
/viewer, picks the GBK-named station and record, ticks two channels, checks
that the charts are drawn and that their legends name the channels, zooms
with a mouse drag and with keys, and checks that each zoom asked
/getWaveform for a finer window and drew the answer. With VIEWER_SCREENSHOT
set it saves a screenshot of the page there. It also imports the page's
modules of pure helpers into the page and checks them against tables
(helper_cases.py), and drives the page's tools and mended faults on records
it writes into that copy (viewer_tools.py, generated_records.py).

Usage: viewer_test.py --service BINARY --demo DEMO_DIR
       viewer_test.py --url http://127.0.0.1:8000   (a service already running,
           on a copy of the demo records with generated_records.py DIR run on it)
"""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from generated_records import EMPTY_STATION, GEN_STATION, STORE, write_generated_records
from helper_cases import (CHANNELS_CASES, CURSORS_CASES, DIAGRAMS_CASES, EXPORT_CASES,
                          FRAGMENT_CASES, NAMES_CASES, SAMPLES_CASES)
from page_driving import (ANALOG, COUNT_PIXELS_JS, STATUS, Failure, chart_image, check,
                          check_helpers, legend_text, option_texts, pick, shown_window, tick,
                          wait_for, wait_redrawn, waveform_answers)
from viewer_analysis import test_analysis
from viewer_tools import (test_channels_and_cursors, test_header_faults, test_small_and_dark,
                          test_window_faults)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Without the background-networking flags Chromium keeps calling out, and a
# machine without outside network refuses those connections.
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--window-size=1280,1000",
]


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
    return launch_service(binary, root)


def launch_service(binary, root):
    """The service on the installation `root` (its cfg/ComTrade.ini names the
    records), on a free port: (process, base URL)."""
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


def stop_all(driver, service):
    """Quits the browser and ends the service, whichever of them started."""
    if driver:
        driver.quit()
    if service:
        service.kill()
        service.wait()


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def test_sample_helpers(driver, url):
    check_helpers(driver, url, "samples.js", SAMPLES_CASES)


def test_name_helpers(driver, url):
    check_helpers(driver, url, "names.js", NAMES_CASES)


def test_other_helpers(driver, url):
    for module, cases in (("channels.js", CHANNELS_CASES), ("fragment.js", FRAGMENT_CASES),
                          ("export.js", EXPORT_CASES), ("cursors.js", CURSORS_CASES),
                          ("diagrams.js", DIAGRAMS_CASES)):
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


TESTS = [test_page, test_channels_and_cursors, test_window_faults, test_header_faults,
         test_small_and_dark, test_analysis, test_sample_helpers, test_name_helpers, test_other_helpers]


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
            stop_all(driver, service)


if __name__ == "__main__":
    sys.exit(main())
