"""Opportunity searches: STAPI's forms of the interval, every kind of geometry, the CQL2
filter, footprints cut at +-180, and the same answer as orvus-plan."""

import csv
import math
import os
import subprocess

import pytest
import stapi_schemas as stapi
from conftest import BRASILIA, EOP, EXAMPLES, NOW

from orvus.serve.inputs import interval_text, parse_instant

END = "2025-08-01T12:00:00Z"  # NOW + the configuration's 3-day horizon


def search(service, body, product="optical", who="alice"):
    r = service.client.post(f"/products/{product}/opportunities", json=body,
                            headers=service.auth(who))
    assert r.status_code == 200, r.text
    doc = r.json()
    stapi.validate(doc, "OpportunityCollection")
    return doc["features"]


def windows(features):
    return [(f["properties"]["platform"], f["properties"]["datetime"]) for f in features]


def inside(point, ring):
    """Whether a point lies in a ring (even-odd rule on longitude and latitude)."""
    x, y = point
    hit = False
    for (x1, y1), (x2, y2) in zip(ring, ring[1:]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def test_the_interval_in_each_of_stapis_forms_gives_the_same_search(sqlite_service):
    s = sqlite_service
    solidus = search(s, {"datetime": f"{NOW}/{END}", "geometry": BRASILIA})
    assert len(solidus) >= 2
    assert windows(search(s, {"datetime": [NOW, END], "geometry": BRASILIA})) == windows(solidus)
    # The same instants in other zones.
    zoned = "2025-07-29T09:00:00-03:00/2025-08-01T17:30:00+05:30"
    assert windows(search(s, {"datetime": zoned, "geometry": BRASILIA})) == windows(solidus)
    # An open end is closed by the horizon, an open start by now.
    for open_form in (f"{NOW}/..", f"{NOW}/", [NOW, None], f"../{END}", f"/{END}",
                      [None, END]):
        assert windows(search(s, {"datetime": open_form, "geometry": BRASILIA})) == \
            windows(solidus), open_form
    # A shorter interval keeps exactly the opportunities lying in it.
    first = [parse_instant(t, []) for t in solidus[0]["properties"]["datetime"].split("/")]
    one = search(s, {"datetime": interval_text(first[0] - 1000, first[1] + 1000),
                     "geometry": BRASILIA})
    assert windows(one) == windows(solidus[:1])


def test_each_opportunity_describes_the_planners_contact(sqlite_service):
    found = search(sqlite_service, {"datetime": f"{NOW}/{END}", "geometry": BRASILIA})
    for f in found:
        p = f["properties"]
        start, end = p["datetime"].split("/")
        assert start <= p["orvus:best_time"] <= end
        assert p["view:off_nadir"] == abs(p["orvus:roll_deg"]) <= 30.0
        assert p["view:sun_elevation"] >= 10.0
        assert p["platform"] in ("AMAZONIA 1", "ORVUS TWIN")
        assert p["orvus:norad_id"] == {"AMAZONIA 1": 47699, "ORVUS TWIN": 99001}[p["platform"]]
        assert 0.0 < p["orvus:coverage"] <= 1.0
        assert abs(p["orvus:element_age_days"]) < 3.1
        link = f["links"][0]
        assert link["rel"] == "create-order" and link["method"] == "POST"
        assert link["body"] == {"datetime": p["datetime"]}
        # The footprint is the ground the field swept: a whole view of the box holds its centre.
        assert f["geometry"]["type"] == "Polygon"
        if p["orvus:coverage"] == 1.0:
            assert inside((-47.8, -15.75), f["geometry"]["coordinates"][0])
        west, south, east, north = f["bbox"]
        for lon, lat in f["geometry"]["coordinates"][0]:
            assert west <= lon <= east and south <= lat <= north


def test_the_filter_keeps_what_it_says(sqlite_service):
    s = sqlite_service
    base = {"datetime": f"{NOW}/{END}", "geometry": BRASILIA}
    every = search(s, base, "any-pass")
    assert {f["properties"]["sat:orbit_state"] for f in every} == {"ascending", "descending"}

    def kept(cql2, test):
        got = windows(search(s, dict(base, filter=cql2), "any-pass"))
        assert got == windows([f for f in every if test(f["properties"])]), cql2
        return got

    off = {"property": "view:off_nadir"}
    sun = {"property": "view:sun_elevation"}
    assert kept({"op": "=", "args": [{"property": "sat:orbit_state"}, "ascending"]},
                lambda p: p["sat:orbit_state"] == "ascending")
    kept({"op": "<=", "args": [off, 20]}, lambda p: p["view:off_nadir"] <= 20)
    kept({"op": ">", "args": [20, off]}, lambda p: p["view:off_nadir"] < 20)
    kept({"op": "or", "args": [{"op": "not", "args": [{"op": "<", "args": [sun, 0]}]},
                               {"op": "between", "args": [off, 10, 25]}]},
         lambda p: p["view:sun_elevation"] >= 0 or 10 <= p["view:off_nadir"] <= 25)
    kept({"op": "and", "args": [{"op": ">=", "args": [{"property": "orvus:duration_s"}, 8]},
                                {"op": "between", "args": [sun, [-90, 0]]}]},
         lambda p: p["orvus:duration_s"] >= 8 and p["view:sun_elevation"] <= 0)


@pytest.mark.parametrize("geometry", [
    {"type": "Point", "coordinates": [-47.9, -15.8]},
    {"type": "MultiPoint", "coordinates": [[-47.9, -15.8], [-49.25, -16.68]]},
    {"type": "LineString", "coordinates": [[-48.0, -15.0], [-47.0, -16.0, 1000.0]]},
    {"type": "MultiLineString", "coordinates": [[[-48.0, -15.0], [-47.0, -16.0]],
                                                [[-50.0, -10.0], [-50.5, -10.5]]]},
    {"type": "MultiPolygon", "coordinates": [BRASILIA["coordinates"],
                                             [[[-50.6, -6.2], [-49.9, -5.9], [-49.8, -6.4],
                                               [-50.5, -6.5], [-50.6, -6.2]]]]},
], ids=lambda g: g["type"])
def test_every_geometry_the_planner_reads_is_searched(sqlite_service, geometry):
    found = search(sqlite_service, {"datetime": f"{NOW}/{END}", "geometry": geometry})
    assert found
    if geometry["type"] == "Point":  # seen in an instant: the scene about that instant
        assert all(f["properties"]["orvus:duration_s"] == 0.0 for f in found)
        for f in found:
            check_scene(f, geometry["coordinates"])


def _mean_motion(platform):
    """The mean motion (rev/day) of a platform's element set, columns 53-63 of line 2."""
    name = {"AMAZONIA 1": "amazonia1.tle", "ORVUS TWIN": "plan/twin.tle"}[platform]
    with open(os.path.join(EXAMPLES, name)) as f:
        return float(f.read().split("\n")[2][52:63])


def _km(p, q, radius):
    """Great-circle distance (km) between two lon/lat points on a sphere."""
    lon1, lat1, lon2, lat2 = map(math.radians, (*p, *q))
    h = math.sin((lat2 - lat1) / 2) ** 2 + \
        math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    return 2 * radius * math.asin(math.sqrt(h))


def check_scene(feature, point):
    """An instant's footprint is the field's scene for min_imaging_s (2 s here) centred on the
    best time: as wide as ALPHA 0 / BETA 60 reach from the orbit's height, as long as the
    ground track runs in 2 s, and holding the point (crossed at the best time)."""
    assert feature["geometry"]["type"] == "Polygon"
    ring = feature["geometry"]["coordinates"][0]
    assert inside(point, ring)
    # By hand: the orbit's radius from its mean motion (Kepler), the Earth's radius there
    # (WGS 84), the field's edge 30 degrees off nadir seen at the central angle
    # asin(r sin 30 / R) - 30 degrees, and the track's speed about n R.
    n = _mean_motion(feature["properties"]["platform"]) * 2 * math.pi / 86400.0  # rad/s
    r = (398600.4418 / n ** 2) ** (1 / 3)
    phi = math.radians(point[1])
    a, b = 6378.137, 6356.752
    big = math.sqrt(((a * a * math.cos(phi)) ** 2 + (b * b * math.sin(phi)) ** 2) /
                    ((a * math.cos(phi)) ** 2 + (b * math.sin(phi)) ** 2))
    half = math.asin(r / big * math.sin(math.radians(30.0))) - math.radians(30.0)
    edges = [_km(p, q, big) for p, q in zip(ring, ring[1:])]
    width = max(edges)
    length = (sum(edges) - 2 * width) / 2
    assert width == pytest.approx(2 * big * half, rel=0.02)
    assert length == pytest.approx(n * big * 2.0, rel=0.05)


def test_footprints_across_the_antimeridian_are_cut(sqlite_service):
    fiji = {"type": "Polygon", "coordinates": [[[179.5, -17.5], [180.5, -17.5], [180.5, -16.5],
                                                [179.5, -16.5], [179.5, -17.5]]]}
    found = search(sqlite_service, {"datetime": f"{NOW}/{END}", "geometry": fiji}, "any-pass")
    cut = [f for f in found if f["geometry"]["type"] == "MultiPolygon"]
    assert cut, "a swath over 180 degrees is cut in two"
    for f in cut:
        for (ring,) in f["geometry"]["coordinates"]:
            lons = [p[0] for p in ring]
            assert -180.0 <= min(lons) and max(lons) <= 180.0 and max(lons) - min(lons) < 180
        west, _, east, _ = f["bbox"]
        assert west > east  # RFC 7946's box across the antimeridian


def test_the_service_finds_what_orvus_plan_finds(sqlite_service, tmp_path):
    binary = os.environ.get("ORVUS_PLAN_BINARY")
    if not binary:
        pytest.skip("orvus-plan is not built")
    # The same question to orvus-plan: the product's limits and the filter as constraints.
    plan = tmp_path / "plan.toml"
    plan.write_text(f"""start = 2025-07-29T12:00:00
end = 2025-08-01T12:00:00
utc_offset_hours = 0
step_s = 1.0
earth_orientation = "{EOP}"
targets = "targets.geojson"
output = "out"
[constraints]
min_sun_elevation_deg = 10.0
max_abs_best_alpha_deg = 30.0
pass = "D"
[[satellite]]
name = "AMAZONIA 1"
elements = "{EXAMPLES}/amazonia1.tle"
alpha_deg = 0.0
beta_deg = 60.0
[[satellite]]
name = "ORVUS TWIN"
elements = "{EXAMPLES}/plan/twin.tle"
alpha_deg = 0.0
beta_deg = 60.0
""")
    deck = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"id": "BSB"}, "geometry": BRASILIA}]}
    (tmp_path / "targets.geojson").write_text(__import__("json").dumps(deck))
    subprocess.run([binary, str(plan)], check=True, capture_output=True, timeout=120)
    with open(tmp_path / "out" / "opportunities.csv", newline="") as f:
        expected = [(r["satellite"], f"{r['start_utc']}/{r['end_utc']}", r["best_time_utc"],
                     float(r["best_alpha_deg"]), float(r["sun_elevation_deg"]),
                     float(r["coverage"])) for r in csv.DictReader(f)]
    found = search(sqlite_service, {
        "datetime": f"{NOW}/{END}", "geometry": BRASILIA,
        "filter": {"op": "=", "args": [{"property": "sat:orbit_state"}, "descending"]}})
    got = [(f["properties"]["platform"], f["properties"]["datetime"],
            f["properties"]["orvus:best_time"], f["properties"]["orvus:roll_deg"],
            f["properties"]["view:sun_elevation"], f["properties"]["orvus:coverage"])
           for f in found]
    assert len(expected) >= 2
    assert got == expected
