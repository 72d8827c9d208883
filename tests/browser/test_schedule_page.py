"""The schedule on the page of the bundled plan (examples/plan) in headless Chromium, checked
against orvus-plan's own schedule.csv and passes.csv, not against the page's data: one timeline
row per satellite; one bar per acquisition, on its satellite's row, where its local start lies
on the row's time axis and above the axis for a roll to the left; one band per station pass;
names that would be markup shown as text; no style or script but those the policy hashes;
every acquired swath highlighted on the map; a click on a bar selects it and its swath; the
satellite filter keeps that satellite's row alone; no console error."""
import argparse
import csv
import datetime
import shutil
import subprocess
import sys
import tempfile
import tomllib
import unittest
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ARGS = None


class SchedulePage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = Path(ARGS.work)
        shutil.rmtree(work, ignore_errors=True)
        (work / "plan").mkdir(parents=True)
        examples = Path(ARGS.examples)
        for f in examples.iterdir():
            if f.is_file():
                shutil.copy(f, work)
        for f in (examples / "plan").iterdir():
            if f.is_file():
                shutil.copy(f, work / "plan")
        # Names from the inputs that would be markup if the page let them.
        toml = work / "plan" / "plan.toml"
        toml.write_text(toml.read_text().replace('"ORVUS TWIN"', '"<img src=x id=pwn>TWIN"')
                        .replace('"ALCANTARA"', '"<b id=pwn2>ALC</b>"'))
        subprocess.run([str(Path(ARGS.orvus_plan).resolve()), str(work / "plan" / "plan.toml")],
                       check=True, capture_output=True)
        out = work / "plan" / "out"
        cls.page = out / "opportunities.html"
        with open(out / "schedule.csv", newline="", encoding="utf-8") as f:
            cls.rows = list(csv.DictReader(f))
        with open(out / "passes.csv", newline="", encoding="utf-8") as f:
            cls.passes = list(csv.DictReader(f))
        with open(work / "plan" / "plan.toml", "rb") as f:
            plan = tomllib.load(f)
        cls.satellites = [s["name"] for s in plan["satellite"]]
        cls.start, cls.end = plan["start"], plan["end"]
        cls.profile = tempfile.mkdtemp(prefix="orvus-chromium-")
        opts = webdriver.ChromeOptions()
        opts.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=1280,1000",
                     "--force-device-scale-factor=1", "--user-data-dir=" + cls.profile):
            opts.add_argument(flag)
        opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.profile, ignore_errors=True)

    def fraction(self, local_text):
        """Where a local time of the CSV lies between the plan's start and end."""
        t = datetime.datetime.fromisoformat(local_text[:23])
        return (t - self.start) / (self.end - self.start)

    def test_the_timeline_shows_the_acquisitions(self):
        d = self.driver
        d.get(self.page.as_uri())
        WebDriverWait(d, 60).until(lambda d: d.execute_script(
            "return document.readyState === 'complete' && !!window.orvusPage"))
        self.assertEqual([e for e in d.get_log("browser") if e["level"] == "SEVERE"], [])
        self.assertGreater(len(self.rows), 2)
        # Styles and scripts run by their hashes alone, and the page's own sheet applies.
        csp = d.find_element(By.CSS_SELECTOR, "meta[http-equiv='Content-Security-Policy']")
        self.assertNotIn("unsafe-inline", csp.get_attribute("content"))
        self.assertEqual(d.execute_script(
            "return getComputedStyle(document.querySelector('.orvus-tl-row')).display"), "flex")
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#pwn, #pwn2"), [])
        rows = d.find_elements(By.CSS_SELECTOR, ".orvus-tl-row")
        self.assertEqual([r.find_element(By.CSS_SELECTOR, ".orvus-tl-label").text for r in rows],
                         self.satellites)
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, ".orvus-pass-band")),
                         len(self.passes))
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, ".orvus-acquired")), len(self.rows))
        for k, name in enumerate(self.satellites):
            row = rows[k]
            box = row.find_element(By.TAG_NAME, "svg").rect
            bars = row.find_elements(By.CSS_SELECTOR, ".orvus-acq")
            mine = [i for i, r in enumerate(self.rows) if r["satellite"] == name]
            self.assertEqual(sorted(int(b.get_attribute("data-acquisition")) for b in bars), mine)
            for b in bars:
                r = self.rows[int(b.get_attribute("data-acquisition"))]
                rect = b.rect
                left = (rect["x"] - box["x"]) / box["width"]
                self.assertAlmostEqual(left, self.fraction(r["start_local"]), delta=0.003)
                middle = rect["y"] + rect["height"] / 2 - box["y"] - box["height"] / 2
                roll = float(r["roll_deg"])
                if abs(roll) > 1:
                    self.assertEqual(middle < 0, roll > 0, (r["target_id"], roll, middle))

        # A click on a bar selects it and its swath.
        bar = d.find_elements(By.CSS_SELECTOR, ".orvus-acq")[1]
        i = bar.get_attribute("data-acquisition")
        d.execute_script("arguments[0].dispatchEvent(new MouseEvent('click', {bubbles: true}))", bar)
        self.assertEqual([e.get_attribute("data-acquisition")
                          for e in d.find_elements(By.CSS_SELECTOR, ".orvus-acq.orvus-selected")], [i])
        self.assertEqual([e.get_attribute("data-acquisition")
                          for e in d.find_elements(By.CSS_SELECTOR, ".orvus-acquired.orvus-selected")],
                         [i])

        # The satellite filter keeps that satellite's row and acquisitions alone.
        Select(d.find_element(By.ID, "orvus-satellite")).select_by_value("1")
        rows = d.find_elements(By.CSS_SELECTOR, ".orvus-tl-row")
        self.assertEqual([r.get_attribute("data-satellite") for r in rows], ["1"])
        second = [r for r in self.rows if r["satellite"] == self.satellites[1]]
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, ".orvus-acq")), len(second))
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, ".orvus-acquired")), len(second))
        self.assertEqual([e for e in d.get_log("browser") if e["level"] == "SEVERE"], [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--orvus-plan", "--examples", "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
