"""The map page in headless Chromium: the example run's page and a page of several targets and
two satellites. Loads from file:// with no console error and no request; one swath and one row
per contact; a row's click selects its swath; the pass filter hides the other direction; the
screenshot shows land, sea and the swaths where their coordinates say."""
import argparse
from datetime import datetime
import io
import json
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ARGS = None
BLUE, ORANGE = (0x1F, 0x77, 0xB4), (0xFF, 0x7F, 0x0E)
# Names that would become markup, end a script or break a quoted attribute if a page took
# them for HTML.
HOSTILE = ['<img src=x onerror=alert(1)>', '</script><script>alert(1)</script>',
           '"Q" \'q\' S\u00e3o Tom\u00e9 & \u6771\u4eac <b>x</b>']


def page_data(html):
    return json.loads(re.search(r'id="orvus-data">(.*?)</script>', html, re.S).group(1))


def start_browser(profile):
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1280,1000",
                 "--force-device-scale-factor=1", "--user-data-dir=" + profile):
        opts.add_argument(flag)
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


class MapPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = Path(ARGS.work)
        shutil.rmtree(work, ignore_errors=True)
        (work / "example").mkdir(parents=True)
        for f in Path(ARGS.examples).iterdir():
            shutil.copy(f, work / "example")
        # The example again, its location (record 2) a hostile name.
        shutil.copytree(work / "example", work / "hostile")
        lines = (work / "example" / "ORVUS_IN.TXT").read_text().splitlines()
        lines[1] = HOSTILE[0] + " " + HOSTILE[2][:20]
        (work / "hostile" / "ORVUS_IN.TXT").write_text("\n".join(lines) + "\n")
        for run in ("example", "hostile"):
            for program in (ARGS.orvus, ARGS.orvus_map):
                subprocess.run([str(Path(program).resolve())], cwd=work / run, check=True,
                               capture_output=True)
        # A plan of two satellites over three boxes (the last across the antimeridian),
        # written by orvus-plan itself.
        plan = work / "plan"
        plan.mkdir()
        data = Path(ARGS.data).resolve()
        (plan / "targets.csv").write_text("id,name,lon1,lon2,lat1,lat2\n"
                                          f"BSB,{HOSTILE[0]},-49.0,-46.5,-17.0,-14.5\n"
                                          f"SAH,{HOSTILE[1]},2.0,6.0,12.0,16.0\n"
                                          "FJI,\"" + HOSTILE[2].replace('"', '""') +
                                          "\",177.0,182.0,-19.0,-15.0\n",
                                          encoding="utf-8")
        cls.plan_targets = {"BSB": (HOSTILE[0], -47.75, -15.75), "SAH": (HOSTILE[1], 4.0, 14.0),
                            "FJI": (HOSTILE[2], 179.5, -17.0)}
        (plan / "plan.toml").write_text(f"""start = 2025-03-01T00:00:00
end = 2025-03-04T00:00:00
utc_offset_hours = 0
step_s = 10.0
earth_orientation = "{data / 'finals2000A.data'}"
targets = "targets.csv"
rule = "points"
output = "out"

[[satellite]]
name = "LANDSAT 8"
elements = "{data / 'tle' / 'landsat8_2024.tle'}"
alpha_deg = 0.0
beta_deg = 15.0

[[satellite]]
name = "AMAZONIA 1"
elements = "{data / 'tle' / 'amazonia1_2025.tle'}"
alpha_deg = 0.0
beta_deg = 60.0
""")
        subprocess.run([str(Path(ARGS.orvus_plan).resolve()), str(plan / "plan.toml")],
                       check=True, capture_output=True)
        rows = (plan / "out" / "opportunities.csv").read_text().splitlines()
        cls.plan_count = len(rows) - 1
        cls.pages = {"example": work / "example" / "ORVUS_v1.13_MAP.html",
                     "hostile": work / "hostile" / "ORVUS_v1.13_MAP.html",
                     "plan": plan / "out" / "opportunities.html"}
        # The example's contacts as the GeoJSON file gives them, a count independent of the page.
        geojson = json.loads((work / "example" / "ORVUS_v1.13_CONTACTS.geojson").read_text())
        cls.example_count = len({f["properties"]["contact"] for f in geojson["features"]
                                 if f["properties"]["feature"] == "swath"})
        cls.profile = tempfile.mkdtemp(prefix="orvus-chromium-")
        cls.driver = start_browser(cls.profile)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.profile, ignore_errors=True)

    def open(self, name):
        d = self.driver
        d.get_log("browser")
        d.get_log("performance")
        d.get(self.pages[name].as_uri())
        WebDriverWait(d, 30).until(lambda d: d.execute_script(
            "return document.readyState === 'complete' && !!window.orvusMap"))
        errors = [e for e in d.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [], name)
        # The page's requests (the browser's own pages aside): its own file and data: URLs only;
        # and nothing at all to the network.
        page, urls, network = self.pages[name].as_uri(), [], []
        for entry in d.get_log("performance"):
            msg = json.loads(entry["message"])["message"]
            if msg["method"] == "Network.requestWillBeSent":
                url = msg["params"]["request"]["url"]
                if msg["params"].get("documentURL") == page:
                    urls.append(url)
                if url.startswith(("http:", "https:", "ws:", "wss:", "ftp:")):
                    network.append(url)
        self.assertIn(page, urls)
        self.assertEqual([u for u in urls if not u.startswith(("file:", "data:"))], [], name)
        self.assertEqual(network, [], name)
        return page_data(self.pages[name].read_text(encoding="utf-8"))

    def ids(self, css):
        return sorted(e.get_attribute("data-contact")
                      for e in self.driver.find_elements(By.CSS_SELECTOR, css))

    def screenshot(self):
        # The pointer off the map, so that no swath's tooltip covers the places sampled.
        self.driver.execute_script("window.scrollTo(0, 0);")
        ActionChains(self.driver).move_to_element(
            self.driver.find_element(By.ID, "orvus-title")).perform()
        self.driver.execute_script("orvusMap.eachLayer(function (l) { l.closeTooltip(); });")
        return Image.open(io.BytesIO(self.driver.get_screenshot_as_png())).convert("RGB")

    def pixel(self, image, lon, lat):
        x, y = self.driver.execute_script(
            # The longitude's copy nearest the view's centre.
            "var c = orvusMap.getCenter().lng, lon = c + ((arguments[0] - c) % 360 + 540) % 360 - 180;"
            "var p = orvusMap.latLngToContainerPoint([arguments[1], lon]);"
            "var r = orvusMap.getContainer().getBoundingClientRect();"
            "return [r.left + p.x, r.top + p.y];", lon, lat)
        return image.getpixel((round(x), round(y)))

    def check_page(self, name, count):
        d = self.driver
        data = self.open(name)
        self.assertEqual(len(data["contacts"]), count)
        ids = sorted(c["id"] for c in data["contacts"])
        self.assertEqual(len(set(ids)), count)
        self.assertEqual(self.ids(".orvus-swath"), ids)
        self.assertEqual(self.ids("tr.orvus-contact-row"), ids)

        # A click on a row selects its swath, and that one only.
        for c in data["contacts"][:3]:
            d.find_element(By.CSS_SELECTOR, f'tr.orvus-contact-row[data-contact="{c["id"]}"]').click()
            self.assertEqual(self.ids(".orvus-swath.orvus-selected"), [c["id"]])
        # Sorted by local start on a click on its head, in time order (dates are DD/MM/YYYY).
        d.find_element(By.CSS_SELECTOR, 'th[data-key="start"]').click()
        rows = [r.get_attribute("data-contact")
                for r in d.find_elements(By.CSS_SELECTOR, "tr.orvus-contact-row")]
        when = {c["id"]: datetime.strptime(c["start"][:19], "%d/%m/%Y %H:%M:%S")
                for c in data["contacts"]}
        self.assertEqual(rows, sorted(ids, key=lambda i: (when[i], i)))
        # Hovering the selected swath shows its contact's fields.
        swath = d.find_element(By.CSS_SELECTOR, ".orvus-swath.orvus-selected")
        ActionChains(d).move_to_element(swath).perform()
        tip = WebDriverWait(d, 5).until(lambda d: d.find_element(By.CLASS_NAME, "leaflet-tooltip"))
        self.assertIn("Local start: " + c["start"], tip.text)

        # Each swath in its pass's colour where its steps lie: a quarter and three quarters of
        # the way from point (1) to point (2) of its middle step (clear of the track between).
        for c in data["contacts"]:
            if len(c["swath"]) != 1:  # cut at +-180: its ring is no longer steps (1) then (2)
                continue
            ring = c["swath"][0]
            m = (len(ring) - 1) // 2
            if m < 2 or not c["pass"]:
                continue
            d.find_element(By.CSS_SELECTOR, f'tr.orvus-contact-row[data-contact="{c["id"]}"]').click()
            d.execute_script("orvusMap.setZoom(Math.min(orvusMap.getZoom(), 8), {animate: false});")
            image = self.screenshot()
            p1, p2 = ring[m // 2], ring[2 * m - 1 - m // 2]
            dlon = (p2[0] - p1[0] + 540) % 360 - 180
            for f in (0.25, 0.75):
                r, g, b = self.pixel(image, p1[0] + f * dlon, p1[1] + f * (p2[1] - p1[1]))
                if c["pass"] == "A":
                    self.assertGreater(b, r + 40, (c["id"], f, (r, g, b)))
                else:
                    self.assertGreater(r, b + 60, (c["id"], f, (r, g, b)))

        # Land and sea at places far from any swath, on a view of the Atlantic.
        d.execute_script("orvusMap.setView([0, -30], 3, {animate: false});")
        image = self.screenshot()
        for lon, lat in ((-62.3, -7.2), (11.4, 21.3), (-3.6, 41.2)):  # Amazonas, Sahara, Spain
            r, g, b = self.pixel(image, lon, lat)
            self.assertGreater(r, b + 5, ("land", lon, lat, (r, g, b)))
        for lon, lat in ((-23.3, -27.4), (-31.2, 3.3), (-41.7, 32.6)):  # the Atlantic
            r, g, b = self.pixel(image, lon, lat)
            self.assertGreater(b, r + 20, ("sea", lon, lat, (r, g, b)))

        # The pass filter: the other direction's swaths and rows hidden, this one's shown.
        for kept in ("A", "D"):
            Select(d.find_element(By.ID, "orvus-pass")).select_by_value(kept)
            for c in data["contacts"]:
                for css in (".orvus-swath", "tr.orvus-contact-row"):
                    # (a swath outside the view is still shown: its display is what says)
                    shown = d.execute_script(
                        "return getComputedStyle(arguments[0]).display !== 'none';",
                        d.find_element(By.CSS_SELECTOR, f'{css}[data-contact="{c["id"]}"]'))
                    self.assertEqual(shown, c["pass"] == kept, (kept, css, c["id"]))
        Select(d.find_element(By.ID, "orvus-pass")).select_by_value("")
        return data

    def test_example(self):
        self.assertGreater(self.example_count, 0)
        self.check_page("example", self.example_count)
        self.assertLess(self.pages["example"].stat().st_size, 2_000_000)
        # The whole page for the README's picture.
        self.driver.execute_script("orvusMap.fitBounds(orvusMap.getBounds().pad(-0.3));")
        self.open("example")
        self.driver.save_screenshot(str(Path(ARGS.work) / "example-page.png"))

    def hover_targets(self, name, targets):
        """Hovers each target (swaths filtered away): its tooltip shows its name as text, and
        no name has made an element or run a script."""
        d = self.driver
        self.open(name)
        d.execute_script("var e = document.getElementById('orvus-min-sun'); e.value = 90;"
                         "e.dispatchEvent(new Event('input'));")
        before = d.execute_script("return document.scripts.length;")
        for label, lon, lat in targets:
            d.execute_script("orvusMap.setView([arguments[1], arguments[0]], 6, {animate: false});",
                             lon, lat)
            box = d.find_element(By.ID, "orvus-map")
            x, y = d.execute_script(
                "var p = orvusMap.latLngToContainerPoint([arguments[1], arguments[0]]);"
                "return [p.x - arguments[2] / 2, p.y - arguments[3] / 2];",
                lon, lat, box.size["width"], box.size["height"])
            ActionChains(d).move_to_element_with_offset(box, round(x), round(y)).perform()
            tip = WebDriverWait(d, 5).until(lambda d: d.find_element(By.CLASS_NAME, "leaflet-tooltip"))
            self.assertIn(label, tip.get_property("textContent"), name)
            ActionChains(d).move_to_element(d.find_element(By.ID, "orvus-title")).perform()
        self.assertEqual(d.execute_script("return document.scripts.length;"), before)
        self.assertEqual(d.execute_script(
            "return document.querySelectorAll('img').length + Array.from("
            "document.querySelectorAll('b')).filter(function (b) { return b.textContent === 'x'; })"
            ".length;"), 0, name)
        self.assertEqual([e for e in d.get_log("browser") if e["level"] == "SEVERE"], [], name)

    def test_names_stay_text(self):
        label = HOSTILE[0] + " " + HOSTILE[2][:20]
        self.hover_targets("hostile", [(label, -47.8, -15.75)])
        self.assertEqual(self.driver.find_element(By.ID, "orvus-location").get_property(
            "textContent"), label)
        self.hover_targets("plan", [(tid + " " + n, lon, lat)
                                    for tid, (n, lon, lat) in self.plan_targets.items()])

    def test_plan_of_two_satellites(self):
        data = self.check_page("plan", self.plan_count)
        self.assertEqual({c["satellite"] for c in data["contacts"]}, {"LANDSAT 8", "AMAZONIA 1"})
        self.assertGreaterEqual(len({c["target"] for c in data["contacts"]}), 3)
        self.assertEqual({c["pass"] for c in data["contacts"]} >= {"A", "D"}, True)
        # A click on a row of Fiji's zooms to its swath drawn over Fiji, not a turn away.
        fiji = [c for c in data["contacts"] if c["target"] == 2]
        self.assertGreater(len(fiji), 0)
        for c in fiji:
            self.driver.find_element(
                By.CSS_SELECTOR, f'tr.orvus-contact-row[data-contact="{c["id"]}"]').click()
            lon = self.driver.execute_script("return orvusMap.getCenter().lng;")
            self.assertLess(abs(lon - 179.5), 20, c["id"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--orvus", "--orvus-map", "--orvus-plan", "--examples", "--data", "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
