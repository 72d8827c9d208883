"""orvus for Python against published vectors and against the orvus program itself."""

import datetime as dt
import json
import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import numpy as np
import pandas as pd
import pytest

import orvus

DATA = os.environ.get("ORVUS_TEST_DATA", os.path.join(os.path.dirname(__file__), "../../tests/data"))
EOP = os.path.join(DATA, "finals2000A.data")


def test_states_match_the_published_sgp8_vectors():
    es = orvus.read_elements(os.path.join(DATA, "tle/str3_88888.tle"))
    assert (es.name, es.catalogue_number) == ("STR3 TEST CASE 88888", 88888)
    # Epoch 80275.98708465: day 275 of 1980 is 1 October, 0.98708465 d = 23:41:24.1138.
    assert abs(es.epoch - dt.datetime(1980, 10, 1, 23, 41, 24, 113760)) < dt.timedelta(microseconds=2)
    rows = np.loadtxt(os.path.join(DATA, "str3_sgp8_expected.txt"))
    times = [es.epoch + dt.timedelta(minutes=m) for m in rows[:, 0]]
    states = orvus.propagate(es, times)
    assert states.shape == (len(rows), 6)
    np.testing.assert_allclose(states[:, :3] / 1000, rows[:, 1:4], atol=0.02)
    np.testing.assert_allclose(states[:, 3:] / 1000, rows[:, 4:7], atol=2e-5)
    # numpy.datetime64 and zone-aware datetimes name the same instants.
    as64 = np.array(times, dtype="datetime64[ns]")
    np.testing.assert_array_equal(orvus.propagate(es, as64), states)
    aware = [t.replace(tzinfo=dt.timezone.utc).astimezone(dt.timezone(dt.timedelta(hours=5))) for t in times]
    np.testing.assert_array_equal(orvus.propagate(es, aware), states)


def run_orvus(tmp_path, tle, utc_diff, box, alpha_beta, start, end, step=1):
    """OUT2 rows and console of the orvus program for the same search."""
    if os.path.exists(tle):
        shutil.copy(tle, tmp_path / os.path.basename(tle))
    shutil.copy(EOP, tmp_path / "finals2000A.data")
    records = ["SAT", "PLACE", str(utc_diff), ", ".join(map(str, box)), os.path.basename(tle),
               ", ".join(map(str, alpha_beta)), start, end, str(step)]
    (tmp_path / "ORVUS_IN.TXT").write_text("\n".join(records) + "\n")
    run = subprocess.run([os.environ["ORVUS_BINARY"]], cwd=tmp_path, capture_output=True, text=True)
    out2 = tmp_path / "ORVUS_v1.13_OUT2.CSV"
    rows = [l.split(",") for l in out2.read_text().splitlines()[1:]] if out2.exists() else []
    return rows, run


def report_time(t):
    """A time as the reports write it, 31/07/2025 10:14:25.000."""
    return t.strftime("%d/%m/%Y %H:%M:%S.%f")[:-3]


@pytest.fixture
def short_tmp():
    """A working directory of a short absolute path: orvus-map reads the element file by its
    directory and name as one record of 70 characters."""
    path = pathlib.Path(tempfile.mkdtemp(prefix="orvus-"))
    yield path
    shutil.rmtree(path)


CASES = [  # element file, UTC_DIFF, box, ALPHA/BETA, local start and end
    ("tle/amazonia1_2025.tle", -3, (-48.30, -47.30, -16.10, -15.40), (0.0, 60.0),
     "31/07/2025 00:00:00.000000000", "05/08/2025 00:00:00.000000000"),
    # Fiji, a box across the antimeridian, looking to the left of the track.
    ("tle/landsat8_2024.tle", 12, (172.77, 181.60, -19.2, -16.0), (10.0, 30.0),
     "04/10/2024 12:00:00.000000000", "12/10/2024 00:00:00.000000000"),
]


@pytest.mark.skipif("ORVUS_BINARY" not in os.environ, reason="needs the orvus program (ORVUS_BINARY)")
@pytest.mark.parametrize("case", CASES, ids=["brasilia", "fiji"])
def test_contacts_are_those_orvus_reports(short_tmp, case):
    tmp_path = short_tmp
    tle, utc_diff, box, (alpha, beta), start, end = case
    expected, run = run_orvus(tmp_path, os.path.join(DATA, tle), utc_diff, box, (alpha, beta), start, end)
    assert run.returncode == 0, run.stdout
    assert expected, "the case must have contacts"
    es = orvus.read_elements(os.path.join(DATA, tle))
    iso = lambda t: f"{t[6:10]}-{t[3:5]}-{t[0:2]}T{t[11:29]}"
    table = orvus.contacts(es, box, iso(start), dt.datetime.fromisoformat(iso(end)), step_s=1.0,
                           alpha_deg=alpha, beta_deg=beta, utc_offset_hours=utc_diff,
                           earth_orientation=EOP, target_id="FJ", target_name="x")
    assert list(table.columns) == orvus.COLUMNS
    assert len(table) == len(expected)
    for row, out2 in zip(table.itertuples(index=False), expected):
        assert row.contact == int(out2[0])
        assert [report_time(t) for t in (row.start_local, row.end_local, row.best_time_local)] == out2[1:3] + [out2[4]]
        assert row.best_alpha_deg == pytest.approx(float(out2[5]), rel=5e-4, abs=5e-5)
        assert row.distance_deg == pytest.approx(float(out2[6]), rel=5e-4, abs=5e-5)
        assert (row.pass_ if hasattr(row, "pass_") else row[14]) == out2[7]
        assert row.duration_s == pytest.approx(float(out2[3]), rel=5e-4)
        # UTC is local minus the offset, and the age counts from the epoch to the best time.
        local, utc = row.best_time_local, row.best_time_utc
        assert local == utc and local.utcoffset() == dt.timedelta(hours=utc_diff)
        assert utc.utcoffset() == dt.timedelta(0)
        age = (utc.tz_localize(None) - es.epoch) / dt.timedelta(days=1)
        assert row.element_age_days == pytest.approx(age, abs=1e-7)
        assert 0.0 < row.coverage <= 1.0 and -90.0 <= row.sun_elevation_deg <= 90.0
    assert set(table.satellite) == {es.name} and set(table.norad_id) == {es.catalogue_number}
    # orvus-map, a second program over the same run, gives the daylight and coverage.
    if "ORVUS_MAP_BINARY" in os.environ:
        subprocess.run([os.environ["ORVUS_MAP_BINARY"]], cwd=tmp_path, check=True, capture_output=True)
        features = json.loads((tmp_path / "ORVUS_v1.13_CONTACTS.geojson").read_text())["features"]
        mapped = {f["properties"]["contact"]: f["properties"] for f in features
                  if "sun_elevation_deg" in f["properties"]}
        assert sorted(mapped) == table.contact.tolist()
        for row in table.itertuples(index=False):
            props = mapped[row.contact]
            assert row.sun_elevation_deg == pytest.approx(props["sun_elevation_deg"], abs=6e-4)
            assert row.coverage == pytest.approx(props["box_coverage"], abs=6e-5)
            assert row.best_alpha_deg == pytest.approx(props["best_alpha_deg"], abs=6e-5)


@pytest.mark.skipif("ORVUS_BINARY" not in os.environ, reason="needs the orvus program (ORVUS_BINARY)")
def test_errors_carry_the_lines_orvus_prints(tmp_path, monkeypatch):
    # The program and the module, each given an element file that is not there.
    _, run = run_orvus(tmp_path, "none.tle", 0, (0, 1, 0, 1), (0, 10), "01/01/2024 00:00:00",
                       "02/01/2024 00:00:00")
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError) as caught:
        orvus.read_elements("none.tle")
    assert isinstance(caught.value, orvus.Error) and run.returncode == 1
    assert "CANNOT OPEN" in str(caught.value)
    # The same lines, the library's label for the reader in the place of the program's.
    lines = [caught.value.lines[0].replace(" TWO-LINE ELEMENTS: ", " READ_2LINES: ")] + caught.value.lines[1:]
    assert lines == run.stdout.splitlines()[-len(lines):]

    es = orvus.read_elements(os.path.join(DATA, "tle/landsat8_2024.tle"))
    for bad, words in [(dict(step_s=0.0001), "0.001 S"), (dict(utc_offset_hours=25), "-24 AND 24"),
                       (dict(alpha_deg=55.0), "HORIZON"), (dict(start="2024-13-01"), "ISO 8601")]:
        args = dict(step_s=1.0, alpha_deg=0.0, beta_deg=30.0, start="2024-10-05T00:00:00")
        args.update(bad)
        with pytest.raises(orvus.Error, match=words) as caught:
            orvus.contacts(es, (0, 1, 0, 1), args.pop("start"), "2024-10-06T00:00:00",
                           earth_orientation=EOP, **args)
        assert words in " ".join(caught.value.lines)


def test_planner_targets_say_the_planner_is_missing(monkeypatch):
    # A module built without the commands (ORVUS_BUILD_APPS off) has no planner; any build
    # takes that path once told it has none.
    monkeypatch.setattr(orvus, "_have_plan", False)
    es = orvus.read_elements(os.path.join(DATA, "tle/landsat8_2024.tle"))
    square = {"type": "Polygon", "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 1], [0, 0]]]}
    for target, rule in [(square, "points"), ((0, 1, 0, 1), "swath")]:
        with pytest.raises(orvus.Error, match="PLANNER"):
            orvus.contacts(es, target, "2024-10-05", "2024-10-06", beta_deg=30.0,
                           earth_orientation=EOP, rule=rule)
    with pytest.raises(orvus.Error, match="DOES NOT CARRY THE PLANNER"):
        orvus.plan(os.path.join(DATA, "plan/brasilia.toml"))


def deep_space_tle(tmp_path):
    """Landsat 8's set with the mean motion of a geostationary orbit, 1.0027 rev/day."""
    lines = pathlib.Path(DATA, "tle/landsat8_2024.tle").read_text().splitlines()
    line2 = lines[2][:52] + " 1.00270000" + lines[2][63:68]
    line2 += str(sum(int(c) if c.isdigit() else c == "-" for c in line2) % 10)
    (tmp_path / "geo.tle").write_text("\n".join(lines[:2] + [line2]) + "\n")
    return tmp_path / "geo.tle"


def test_bad_times_and_sets_raise_orvus_errors(tmp_path):
    es = orvus.read_elements(pathlib.Path(DATA) / "tle/landsat8_2024.tle")  # a Path is a path
    for bad in [None, np.datetime64("NaT"), [es.epoch, None], float("nan"), 5, [1.5], [True]]:
        with pytest.raises(orvus.Error, match="IS NOT A TIME|ARE NOT TIMES"):
            orvus.propagate(es, bad)
    # Past 2262, beyond datetime64[ns]: every form names the same instant, not a wrapped one.
    wrapped = np.datetime64("2300-01-01T06", "h").astype("datetime64[ns]")  # 1715-06-13
    far = [orvus.propagate(es, t) for t in [dt.datetime(2300, 1, 1, 6), np.datetime64("2300-01-01T06", "h"),
                                            "2300-01-01T06:00:00", wrapped]]
    assert (far[0] == far[1]).all() and (far[0] == far[2]).all() and not (far[0] == far[3]).all()

    args = dict(beta_deg=30.0, earth_orientation=EOP)
    for start, end, words in [
            (np.datetime64("NaT"), "2024-10-08", "START MUST BE"), (pd.NaT, "2024-10-08", "START MUST BE"),
            (1_700_000_000, "2024-10-08", "START MUST BE"), ("2024-10-07", None, "END MUST BE"),
            ("2024-10-07T00:00:00Z", "2024-10-08", "WITHOUT A ZONE"),
            # 2300-01-01 is MJD 51544 + 109573: past the table, and read without a wrap.
            (np.datetime64("2300-01-01"), dt.datetime(2300, 1, 2), "DATA FOR MJD 161117")]:
        with pytest.raises(orvus.Error, match=words):
            orvus.contacts(es, (0, 1, 0, 1), start, end, **args)

    geo = orvus.read_elements(deep_space_tle(tmp_path))
    for call in [lambda: orvus.propagate(geo, [geo.epoch]),
                 lambda: orvus.contacts(geo, (0, 1, 0, 1), "2024-10-07", "2024-10-08", **args)]:
        with pytest.raises(orvus.Error, match="PERIOD OF 1436.1 MINUTES"):
            call()


@pytest.mark.parametrize("rule", ["points", "swath"])  # the search, and the planner's sweep
def test_ctrl_c_stops_a_long_call(rule):
    if rule == "swath" and not orvus._have_plan:
        pytest.skip("the swath rule needs the planner")
    es = orvus.read_elements(os.path.join(DATA, "tle/amazonia1_2025.tle"))
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    try:
        timer.start()
        started = time.monotonic()
        # Brazil's box for almost two years (to the end of the Earth-orientation file): seconds
        # uninterrupted by either rule (a small box's swath sweep skips most steps).
        with pytest.raises(KeyboardInterrupt):
            orvus.contacts(es, (-74.0, -34.0, -34.0, 5.0), "2025-07-25", "2027-05-01",
                           beta_deg=60.0, earth_orientation=EOP, rule=rule)
        assert time.monotonic() - started < 1.5
    finally:
        timer.cancel()
        signal.signal(signal.SIGINT, previous)


@pytest.mark.skipif(not orvus._have_plan, reason="the planner is not built in")
def test_a_point_as_a_tuple_or_a_geojson_point_is_seen_at_an_instant():
    es = orvus.read_elements(os.path.join(DATA, "tle/amazonia1_2025.tle"))
    args = dict(beta_deg=60.0, utc_offset_hours=-3, earth_orientation=EOP, rule="swath")
    start, end = "2025-07-01T00:00:00", "2025-07-06T00:00:00"
    by_tuple = orvus.contacts(es, (-47.9, -15.8), start, end, **args)
    by_point = orvus.contacts(es, {"type": "Point", "coordinates": [-47.9, -15.8]}, start, end,
                              **args)
    assert len(by_tuple) > 0
    pd.testing.assert_frame_equal(by_tuple, by_point)
    assert (by_tuple.duration_s == 0.0).all() and (by_tuple.start_utc == by_tuple.end_utc).all()
    # A road through the point is crossed, for a while, whenever the point is seen.
    road = {"type": "LineString", "coordinates": [[-48.2, -15.8], [-47.6, -15.8]]}
    by_line = orvus.contacts(es, road, start, end, **args)
    assert (by_line.duration_s > 0.0).all()
    for t in by_tuple.start_utc:
        assert ((by_line.start_utc <= t) & (t <= by_line.end_utc)).any()
    with pytest.raises(orvus.Error, match="POINT OR A LINE"):
        orvus.contacts(es, (-47.9, -15.8), start, end, **{**args, "rule": "points"})
