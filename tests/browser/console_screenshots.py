"""Screenshots of the console for docs/: the requester's view (an area over Brasilia, its
opportunities, one row hovered) and the operator's (a plan of a dozen orders over Brazil, a
day of its timeline around one acquisition). Runs orvus-serve on the bundled example as the
console's test does:

    PYTHONPATH=build/python /usr/bin/python3 tests/browser/console_screenshots.py \\
        --serve build/python/orvus-serve --examples examples --pythonpath build/python \\
        --work build/console-shots --out docs
"""
import argparse
import json
import os
import shutil
import sys
import tempfile
import time
from pathlib import Path

from PIL import Image
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_console  # noqa: E402  (its service and browser)

PLACES = [(-47.88, -15.79), (-43.21, -22.91), (-46.63, -23.55), (-60.02, -3.12), (-38.52, -3.73),
          (-49.27, -25.43), (-51.23, -30.03), (-34.88, -8.05), (-56.10, -15.60), (-48.50, -1.45),
          (-54.59, -25.41), (-44.30, -2.53)]


def save(driver, path):
    driver.save_screenshot(str(path))
    Image.open(path).convert("RGB").quantize(colors=96, method=Image.Quantize.MEDIANCUT) \
        .save(path, optimize=True)
    print(f"{path}: {path.stat().st_size // 1024} KB")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--serve", "--examples", "--pythonpath", "--work", "--out"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    test_console.ARGS = args
    test_console.ENV = dict(os.environ, PYTHONPATH=args.pythonpath)
    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    serve = test_console.Serve(work)
    profile = tempfile.mkdtemp(prefix="orvus-chromium-")
    driver = None
    try:
        ana, operator = serve.add_key("ana"), serve.operator_key
        for k, (lon, lat) in enumerate(PLACES):
            box = [[lon - 0.3, lat - 0.2], [lon + 0.3, lat - 0.2], [lon + 0.3, lat + 0.2],
                   [lon - 0.3, lat + 0.2], [lon - 0.3, lat - 0.2]]
            serve.api("POST", "/products/optical-day/orders", ana, {
                "datetime": f"{test_console.NOW}/..", "order_parameters": {"priority": 1 + k % 5},
                "geometry": {"type": "Polygon", "coordinates": [box]}})
        serve.api("POST", "/admin/replan", operator)

        driver = test_console.start_browser(profile)
        wait = WebDriverWait(driver, 120, poll_frequency=0.1)

        def sign_in(key):
            driver.get(serve.origin + "/console")
            wait.until(lambda d: d.find_element(By.ID, "key-dialog").get_attribute("open"))
            driver.find_element(By.ID, "key-input").send_keys(key)
            driver.find_element(By.ID, "key-submit").click()
            wait.until(lambda d: d.execute_script("return document.body.dataset.state") == "ready")

        sign_in(ana)
        area = work / "brasilia.geojson"
        area.write_text(json.dumps({"type": "Polygon", "coordinates": [[
            [-48.3, -16.1], [-47.3, -16.1], [-47.3, -15.4], [-48.3, -15.4], [-48.3, -16.1]]]}))
        driver.find_element(By.ID, "area-file").send_keys(str(area))
        driver.find_element(By.ID, "find").click()
        wait.until(lambda d: d.find_element(By.ID, "find").is_enabled())
        rows = driver.find_elements(By.CSS_SELECTOR, "#opportunity-rows tr")
        time.sleep(1)
        driver.execute_script("window.orvusConsole.map.setView([-15.5, -46.5], 5, "
                              "{animate: false})")
        ActionChains(driver).move_to_element(rows[0]).perform()
        time.sleep(0.5)
        save(driver, Path(args.out) / "console-requester.png")

        driver.delete_all_cookies()
        driver.switch_to.new_window("window")
        sign_in(operator)
        driver.find_element(By.ID, "tab-plan").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#plan-rows tr"))
        Select(driver.find_element(By.ID, "timeline-span")).select_by_value("3600000")
        row = driver.find_elements(By.CSS_SELECTOR, "#plan-rows tr")[2]
        driver.execute_script("arguments[0].dispatchEvent(new MouseEvent('click', "
                              "{bubbles: true}))", row.find_element(By.TAG_NAME, "td"))
        time.sleep(1)
        driver.execute_script("document.getElementById('panel').scrollTop = 0;"
                              "window.orvusConsole.map.setView([-14, -47], 4.5, {animate: false})")
        time.sleep(0.5)
        save(driver, Path(args.out) / "console-operator.png")
    finally:
        if driver:
            driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        serve.close()


if __name__ == "__main__":
    main()
