"""What the browser tests share: finding and waiting for what the viewer
shows, and checking it."""
import re

from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

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
WINDOW_PATTERN = re.compile(r"Samples (\d+)–(\d+) of (\d+) · step (\d+)")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print(f"ok - {what}", flush=True)


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
    # Read in one script: a chart redrawn between finding a legend and
    # reading it would leave a stale element.
    return driver.execute_script(
        "return [...document.querySelectorAll(arguments[0])].map((e) => e.innerText.trim()).join(' ');",
        f"{selector} .legend")


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
