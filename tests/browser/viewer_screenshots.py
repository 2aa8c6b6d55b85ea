#!/usr/bin/python3
"""A picture of the viewer for the README: a real record copied into a
temporary store at run time (never into the repository), currents and
voltages in their panes, status lanes, both cursors and their readout.

Usage: viewer_screenshots.py --service BINARY --record PATH.cfg --out DIR
       [--channels a1,a2,...] [--zoom N]
Writes DIR/viewer-cursors.png: the record zoomed in N times, both cursors on it.
"""
import argparse
import glob
import json
import os
import shutil
import sys
import tempfile
import urllib.request

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from page_driving import ANALOG, Failure, shown_window, wait_for
from viewer_test import launch_service, start_browser, stop_all

STATION = "Relay"
PICTURE = "viewer-cursors.png"


def changing_status(url, record, limit=6):
    """Keys of up to `limit` status channels that change within the record,
    so that the lanes show something; the first ones when none changes."""
    def ask(uri, body):
        request = urllib.request.Request(url + uri, data=json.dumps(body).encode(), method="POST")
        with urllib.request.urlopen(request, timeout=30) as reply:
            return json.loads(reply.read().decode("latin-1"))
    info = ask("/getRecordInfo", {"groupName": STATION, "fileName": record})["record"]
    count = len(info["digitals"])
    if count == 0:
        return []
    view = ask("/getWaveform", {"groupName": STATION, "fileName": record, "points": 1,
                                "channelList": [{"status": n} for n in range(1, count + 1)]})
    changing = [f"s{c['index']}" for c in view["channels"] if c["min"] != c["max"]]
    return (changing or [f"s{n}" for n in range(1, count + 1)])[:limit]


def place_cursors(driver, at_a, at_b):
    canvas = driver.find_elements(By.CSS_SELECTOR, f"{ANALOG} canvas")[-1]
    for name, fraction in (("a", at_a), ("b", at_b)):
        driver.find_element(By.ID, f"cursor-{name}").click()
        heads = driver.find_element(By.CSS_SELECTOR, "#readout").text
        ActionChains(driver).move_to_element_with_offset(
            canvas, int((fraction - 0.5) * canvas.size["width"]), 0).click().perform()
        wait_for(driver, "a cursor read", lambda h=heads: driver.find_element(
            By.CSS_SELECTOR, "#readout").text != h)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--record", required=True, help="the record's .cfg")
    parser.add_argument("--out", required=True)
    parser.add_argument("--channels", default="a1,a2,a3,a6,a7,a8",
                        help="analog keys; status channels that change are added")
    parser.add_argument("--zoom", type=int, default=4, help="'+' presses before the picture")
    args = parser.parse_args()
    base = os.path.splitext(args.record)[0]
    name = os.path.basename(base)
    with tempfile.TemporaryDirectory(prefix="viewer-shots-") as scratch:
        root = os.path.join(scratch, "install")
        store = os.path.join(root, "records", STATION)
        os.makedirs(store)
        os.makedirs(os.path.join(root, "log"))
        os.makedirs(os.path.join(root, "cfg"))
        with open(os.path.join(root, "cfg", "ComTrade.ini"), "w", encoding="utf-8") as f:
            f.write("[base]\nfileDir = records\nlogDir = log/comtradeInfo.log\nport = 0\n")
        for part in glob.glob(glob.escape(base) + ".*"):
            shutil.copy(part, store)
        service, driver = None, None
        try:
            service, url = launch_service(os.path.abspath(args.service), root)
            driver = start_browser(os.path.join(scratch, "profile"))
            channels = ",".join([args.channels] + changing_status(url, name))
            # Tall enough for the panes, the lanes and the readout below them
            # (the window's frame takes about 140 px of its height).
            driver.set_window_size(1100, 1500)
            driver.get(f"{url}/viewer#st={STATION}&rec={name}&ch={channels}")
            wait_for(driver, "the record drawn", lambda: shown_window(driver))
            # Zoomed in until the cycles are apart: a whole record's bands
            # make a large picture that tells little.
            for _ in range(args.zoom):
                before = shown_window(driver)
                ActionChains(driver).send_keys("+").perform()
                wait_for(driver, "a zoom", lambda b=before: shown_window(driver) != b)
            place_cursors(driver, 0.4, 0.6)
            # The record's part of the page only, to keep the picture small.
            driver.find_element(By.ID, "record").screenshot(os.path.join(args.out, PICTURE))
            print(f"a picture of {name} written to {os.path.join(args.out, PICTURE)}")
            return 0
        except Failure as failure:
            print(f"viewer screenshots: {failure}", file=sys.stderr)
            return 1
        finally:
            stop_all(driver, service)


if __name__ == "__main__":
    sys.exit(main())
