#!/usr/bin/python3
"""Times the viewer in headless Chromium on a 1,000,000-sample record: opening
it (choosing it in the list until its chart is drawn) and one zoom ("+"
until the halved window is drawn), each the median of several runs, measured
inside the page from the action to the drawn window line. Prints the figures.

Usage: viewer_bench.py --service BINARY --gen COMTRADE_GEN [--runs N]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from page_driving import Failure, pick, shown_window, wait_for
from viewer_test import launch_service, start_browser, stop_all

SAMPLES = 1000000
# From an action in the page until #window shows a new window: the page's
# own measure of an answer fetched and drawn. arguments: what to do ("open"
# with the option's value, or "zoom"), then the callback.
TIME_ACTION_JS = """
const [what, value, done] = arguments;
const line = document.getElementById("window");
const before = line.textContent;
const started = performance.now();
const seen = new MutationObserver(() => {
  if (/^Samples /.test(line.textContent) && line.textContent !== before) {
    seen.disconnect();
    // The chart is drawn in the same task that writes the line.
    requestAnimationFrame(() => done(performance.now() - started));
  }
});
seen.observe(line, { childList: true, characterData: true, subtree: true });
if (what === "open") {
  const list = document.getElementById("records");
  list.value = value;
  list.dispatchEvent(new Event("change"));
} else {
  document.body.dispatchEvent(new KeyboardEvent("keydown", { key: "+", bubbles: true }));
}
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--gen", required=True, help="the comtrade_gen binary")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="viewer-bench-") as scratch:
        root = os.path.join(scratch, "install")
        records = os.path.join(root, "records", "bench")
        os.makedirs(records)
        os.makedirs(os.path.join(root, "log"))
        os.makedirs(os.path.join(root, "cfg"))
        with open(os.path.join(root, "cfg", "ComTrade.ini"), "w", encoding="utf-8") as f:
            f.write("[base]\nfileDir = records\nlogDir = log/comtradeInfo.log\nport = 0\n")
        subprocess.run([args.gen, "--out", os.path.join(records, "binary_1m"), "--binary",
                        "--analog", "8", "--digital", "16", "--samples", str(SAMPLES)],
                       check=True, stdout=subprocess.DEVNULL, timeout=300)
        service, driver = None, None
        try:
            service, url = launch_service(os.path.abspath(args.service), root)
            driver = start_browser(os.path.join(scratch, "profile"))
            driver.set_script_timeout(60)
            driver.get(url + "/viewer")
            pick(driver, "stations", "bench")
            wait_for(driver, "the record list", lambda: "binary_1m" in driver.find_element(
                "id", "records").text)
            opens, zooms = [], []
            for _ in range(args.runs):
                # Each run opens the record afresh at the whole window.
                driver.execute_script("document.getElementById('records').value = '';")
                opens.append(driver.execute_async_script(TIME_ACTION_JS, "open", "0"))
                whole = shown_window(driver)
                if not whole or whole[:3] != (0, SAMPLES - 1, SAMPLES):
                    raise Failure(f"the record was not drawn whole: {whole}")
                zooms.append(driver.execute_async_script(TIME_ACTION_JS, "zoom", None))
            print(f"viewer, headless Chromium, {SAMPLES:,} samples of 8A+16D BINARY, "
                  f"1 analog channel, median of {args.runs} (ms)")
            for what, times in (("open the record (list -> chart drawn)", opens),
                                ("zoom: '+' on the whole record (-> drawn)", zooms)):
                print(f"{what:44} {statistics.median(times):8.1f}"
                      f"   min {min(times):.1f} max {max(times):.1f}")
            return 0
        except Failure as failure:
            print(f"viewer bench: {failure}", file=sys.stderr)
            return 1
        finally:
            stop_all(driver, service)
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
