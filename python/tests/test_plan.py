"""Plans through the module and on a local Dask cluster, against orvus-plan and orvus.contacts."""

import datetime as dt
import json
import os
import random
import signal
import socket
import random
import subprocess
import sys
import threading
import time

import pandas as pd
import pytest

import orvus

pytestmark = pytest.mark.skipif(not orvus._have_plan,
                                reason="this build of the core library has no planner")

DATA = os.environ.get("ORVUS_TEST_DATA", os.path.join(os.path.dirname(__file__), "../../tests/data"))
EOP = os.path.join(DATA, "finals2000A.data")
TLE = os.path.join(DATA, "tle/amazonia1_2025.tle")
BOXES = [("BSB", "Brasilia", (-48.30, -47.30, -16.10, -15.40)),
         ("GYN", "Goiania", (-49.45, -49.05, -16.85, -16.50)),
         ("MAO", "Manaus", (-60.20, -59.80, -3.20, -2.90)),
         ("REC", "Recife", (-35.05, -34.85, -8.20, -7.95))]
START, END = "2025-07-20T00:00:00", "2025-08-10T00:00:00"
FILES = ("opportunities.csv", "opportunities.geojson", "opportunities.html")


# Agility for a schedule (in [[satellite]]), daylight, a station with a downlink, [schedule].
SCHEDULE = """roll_rate_deg_s = 1.0
settle_s = 10.0
max_imaging_s_per_orbit = 20.0
recorder_gbit = 30.0
imaging_gbit_s = 1.0
[constraints]
min_sun_elevation_deg = 5.0
[schedule]
time_limit_s = 30
[[station]]
name = "CUIABA"
lon = -56.07
lat = -15.55
min_elevation_deg = 5
downlink_gbit_s = 0.05
"""


def written(path, like):
    """A table orvus-plan wrote, read back as text and typed as the frame `like`: numbers by
    Python's own float() and int(), times from their ISO 8601 texts (empty: NaT), local ones
    in the frame's zone. The second method: the module's frames must be these values exactly."""
    text = pd.read_csv(path, dtype=str, keep_default_na=False)
    assert list(text.columns) == list(like.columns)
    columns = {}
    for name in like.columns:
        column, dtype = text[name], like[name].dtype
        if str(dtype).startswith("datetime64"):
            wall = pd.to_datetime(column.str.slice(0, 23).where(column != "", None),
                                  format="%Y-%m-%dT%H:%M:%S.%f")
            columns[name] = wall.dt.tz_localize(dtype.tz).array
        elif dtype == "float64":
            columns[name] = [float(x) if x else float("nan") for x in column]
        elif dtype == "int64":
            columns[name] = [int(x) for x in column]
        else:
            columns[name] = column.to_numpy(dtype=object)
    return pd.DataFrame(columns).astype(like.dtypes.to_dict())


def same_as_written(frame, path):
    pd.testing.assert_frame_equal(frame, written(path, frame), check_exact=True)


def write_plan(tmp_path, rule="points", eop=EOP, boxes=BOXES, constraints="", offset=-3, end=END):
    rows = ["id,name,lon1,lon2,lat1,lat2"] + [f"{i},{n},{b[0]},{b[1]},{b[2]},{b[3]}" for i, n, b in boxes]
    (tmp_path / "targets.csv").write_text("\n".join(rows) + "\n")
    plan = f'''start = "{START}"
end = "{end}"
utc_offset_hours = {offset}
step_s = 1.0
earth_orientation = "{eop}"
targets = "targets.csv"
rule = "{rule}"
output = "out"

[[satellite]]
name = "AMAZONIA 1"
elements = "{TLE}"
alpha_deg = 0.0
beta_deg = 60.0
{constraints}'''
    (tmp_path / "plan.toml").write_text(plan)
    return tmp_path / "plan.toml"


def test_a_plan_by_points_gives_each_box_its_contacts(tmp_path):
    table = orvus.plan(write_plan(tmp_path))
    assert list(table.columns) == orvus.COLUMNS and len(table) > len(BOXES)
    es = orvus.read_elements(TLE)
    for target_id, name, box in BOXES:
        alone = orvus.contacts(es, box, START, END, step_s=1.0, alpha_deg=0.0, beta_deg=60.0,
                               utc_offset_hours=-3, earth_orientation=EOP,
                               target_id=target_id, target_name=name)
        rows = table[table.target_id == target_id].sort_values("contact").reset_index(drop=True)
        assert len(rows) == len(alone)
        texts = ["satellite", "target_id", "target_name", "contact", "start_local", "end_local",
                 "start_utc", "end_utc", "pass"]
        assert rows[texts].astype(str).equals(alone[texts].astype(str))
        # The table rounds the best time to the millisecond; the reports cut it there.
        for column in ["best_time_utc", "best_time_local"]:
            gap = pd.to_datetime(rows[column], utc=True) - pd.to_datetime(alone[column], utc=True)
            assert (gap.abs() <= pd.Timedelta(milliseconds=1)).all()
        # Numbers to the digits the table prints.
        for column, digits in [("best_alpha_deg", 6e-5), ("distance_deg", 6e-5), ("sun_elevation_deg", 6e-3),
                               ("coverage", 6e-5), ("element_age_days", 6e-4), ("duration_s", 1e-6)]:
            assert rows[column].tolist() == pytest.approx(alone[column].tolist(), abs=digits)


def test_the_swath_sees_every_contact_of_the_points():
    es = orvus.read_elements(TLE)
    lon1, lon2, lat1, lat2 = BOXES[0][2]
    square = {"type": "Polygon", "coordinates": [[[lon1, lat1], [lon2, lat1], [lon2, lat2], [lon1, lat2], [lon1, lat1]]]}
    args = dict(step_s=1.0, alpha_deg=0.0, beta_deg=60.0, utc_offset_hours=-3, earth_orientation=EOP)
    points = orvus.contacts(es, BOXES[0][2], START, END, **args)
    swath = orvus.contacts(es, square, START, END, rule="swath", **args)
    for t in points.best_time_utc:
        assert ((swath.start_utc <= t) & (t <= swath.end_utc)).any(), t


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.mark.skipif("ORVUS_PLAN_BINARY" not in os.environ, reason="needs orvus-plan (ORVUS_PLAN_BINARY)")
def test_a_cluster_writes_what_orvus_plan_writes_even_when_a_worker_dies(tmp_path, client):
    from orvus import distributed

    plan = write_plan(tmp_path, constraints=SCHEDULE)
    run = subprocess.run([os.environ["ORVUS_PLAN_BINARY"], str(plan)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    # The schedule too, scheduled on the client (its summary aside: it holds the time taken).
    files = FILES + ("passes.csv", "schedule.csv", "unscheduled.csv", "schedule.geojson")
    expected = [(tmp_path / "out" / f).read_bytes() for f in files]

    killed = []

    def kill_a_busy_worker(done, total):
        if killed or done == total:
            return
        busy = [w for w, keys in client.processing().items() if keys]
        if busy:
            pid = client.run(os.getpid, workers=[busy[0]])[busy[0]]
            os.kill(pid, signal.SIGKILL)
            killed.append(pid)

    for name, hook in [("whole", None), ("killed", kill_a_busy_worker)]:
        distributed.run(client, plan, tmp_path / name, chunk=1, on_result=hook)
        got = [(tmp_path / name / f).read_bytes() for f in files]
        assert got == expected, name
    assert killed, "a worker should have been killed while it held tasks"


def crowded_schedule(tmp_path):
    """400 boxes crowded around Brasilia over six days, day and night, with SCHEDULE's tight
    imaging time and recorder, and ten minutes to solve: a schedule of many seconds (half a
    minute on a loaded machine), after a sweep of one or two."""
    rnd = random.Random(3)
    boxes = []
    for i in range(400):
        lon, lat = rnd.uniform(-56, -44), rnd.uniform(-20, -8)
        boxes.append((f"T{i}", f"t{i}", (lon, lon + 0.1, lat, lat + 0.1)))
    agility = "camera_fov_deg = 2.0\n" + SCHEDULE.replace("time_limit_s = 30", "time_limit_s = 600")
    agility = agility.replace("[constraints]\nmin_sun_elevation_deg = 5.0\n", "")
    return write_plan(tmp_path, "swath", boxes=boxes, constraints=agility, end="2025-07-26T00:00:00")


def stopped_by_ctrl_c(call):
    """Runs call(interrupt), interrupt(delay) sending this process a SIGINT `delay` seconds
    later: the seconds from the SIGINT to the KeyboardInterrupt that stops the call."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    sent, timers = [], []

    def send():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    def interrupt(delay):
        timers.append(threading.Timer(delay, send))
        timers[-1].start()

    try:
        with pytest.raises(KeyboardInterrupt):
            call(interrupt)
        return time.monotonic() - sent[0]
    finally:
        for t in timers:
            t.cancel()
        signal.signal(signal.SIGINT, previous)


def test_ctrl_c_stops_a_schedule_on_this_machine_and_on_a_clusters_client(tmp_path, client):
    from orvus import distributed

    plan = crowded_schedule(tmp_path)
    sweep = time.monotonic()
    orvus.plan(plan)  # the sweep alone: the interrupt comes once the schedule runs
    sweep = time.monotonic() - sweep

    def here(interrupt):
        interrupt(1.5 * sweep + 0.5)
        orvus.plan(plan, tables=True)

    assert stopped_by_ctrl_c(here) < 1.0

    # The cluster's run schedules on the client once the last task is in.
    def on_a_cluster(interrupt):
        distributed.run(client, plan, tmp_path / "cluster",
                        on_result=lambda done, total: done == total and interrupt(0.5))

    assert stopped_by_ctrl_c(on_a_cluster) < 1.0
    assert not (tmp_path / "cluster" / "schedule.csv").exists()


def test_a_failed_task_names_its_targets(tmp_path, client):
    from orvus import distributed

    short = tmp_path / "short.data"  # 1992 only: no day of the plan's interval
    with open(EOP) as f:
        short.write_text("".join(f.readlines()[:300]))
    plan = write_plan(tmp_path, eop=short)
    earlier = stale_outputs(tmp_path / "out")
    with pytest.raises((orvus.Error, distributed.ChunkError)) as caught:
        distributed.run(client, plan, chunk=2)
    assert {f: (tmp_path / "out" / f).read_bytes() for f in FILES} == earlier
    assert sorted(os.listdir(tmp_path / "out")) == sorted(FILES)  # no temporaries left
    if isinstance(caught.value, distributed.ChunkError):
        assert 'TARGETS 1 TO 2 (ID "BSB" TO "GYN")' in str(caught.value) or "TARGETS 3 TO 4" in str(caught.value)
        assert "NO EARTH-ORIENTATION DATA FOR MJD" in str(caught.value)


def stale_outputs(out):
    out.mkdir()
    files = {f: f"an earlier {f}".encode() for f in FILES}
    for f, data in files.items():
        (out / f).write_bytes(data)
    return files


def test_a_cluster_run_takes_the_folder_and_replaces_every_file(tmp_path, client):
    import fcntl

    from orvus import distributed

    plan = write_plan(tmp_path)
    out = tmp_path / "out"
    earlier = stale_outputs(out)
    # Another planner holds the folder: the run stops before any task.
    fd = os.open(out, os.O_RDONLY)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        with pytest.raises(orvus.Error, match="ANOTHER PLANNER IS WRITING"):
            distributed.run(client, plan, on_result=lambda done, total: pytest.fail("a task ran"))
    finally:
        os.close(fd)
    assert {f: (out / f).read_bytes() for f in FILES} == earlier
    (out / "passes.csv").write_text("of an earlier plan with stations")  # this one has none
    distributed.run(client, plan)
    assert sorted(os.listdir(out)) == sorted(FILES)
    assert all((out / f).read_bytes() != earlier[f] for f in FILES)
    assert b"<html" in (out / "opportunities.html").read_bytes()[:200].lower()


@pytest.mark.skipif("ORVUS_PLAN_BINARY" not in os.environ, reason="needs orvus-plan (ORVUS_PLAN_BINARY)")
def test_table_times_are_zoned_and_those_the_csv_writes(tmp_path):
    plan = write_plan(tmp_path, offset=5.75)  # a zone of 5 h 45 min
    run = subprocess.run([os.environ["ORVUS_PLAN_BINARY"], str(plan)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    csv = pd.read_csv(tmp_path / "out" / "opportunities.csv", dtype=str, keep_default_na=False)
    table = orvus.plan(plan)
    assert len(table) == len(csv) > 0
    same_as_written(table, tmp_path / "out" / "opportunities.csv")
    for column in ["start_utc", "end_utc", "best_time_utc", "start_local", "end_local", "best_time_local"]:
        times = table[column]
        utc = column.endswith("_utc")
        assert str(times.dtype) == "datetime64[ns, UTC]" if utc else str(times.dtype).startswith("datetime64[ns, UTC+05:45")
        assert {t.utcoffset() for t in times} == {dt.timedelta(hours=0 if utc else 5.75)}
        written = [t.isoformat(timespec="milliseconds").replace("+00:00", "Z") for t in times]
        assert written == csv[column].tolist()
        assert (times.dt.microsecond % 1000 == 0).all() and (times.dt.nanosecond == 0).all()
    assert (table.best_time_local == table.best_time_utc).all()


@pytest.mark.skipif("ORVUS_PLAN_BINARY" not in os.environ, reason="needs orvus-plan (ORVUS_PLAN_BINARY)")
def test_plan_tables_are_those_orvus_plan_writes(tmp_path):
    plan = write_plan(tmp_path, constraints=SCHEDULE)
    run = subprocess.run([os.environ["ORVUS_PLAN_BINARY"], str(plan)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    t = orvus.plan(plan, tables=True)
    # Without the keyword, the opportunities as before.
    pd.testing.assert_frame_equal(orvus.plan(plan), t.opportunities)
    pd.testing.assert_frame_equal(orvus.passes(plan), t.passes)
    out = tmp_path / "out"
    csv = pd.read_csv(out / "schedule.csv", dtype=str, keep_default_na=False)
    assert list(t.schedule.columns) == list(csv.columns) == orvus.SCHEDULE_COLUMNS
    assert len(t.schedule) == len(csv) > 0
    assert t.schedule.target_id.tolist() == csv.target_id.tolist()
    for column in ("start_utc", "end_utc", "downlink_start_utc"):
        written = [x.isoformat(timespec="milliseconds").replace("+00:00", "Z") if not pd.isna(x)
                   else "" for x in t.schedule[column]]
        assert written == csv[column].tolist(), column
    assert (t.schedule.roll_deg.map("{:.4f}".format) == csv.roll_deg).all()
    assert (t.schedule.recorder_after_gbit.map("{:.3f}".format) == csv.recorder_after_gbit).all()
    unscheduled = pd.read_csv(out / "unscheduled.csv", dtype={"target_id": str},
                              keep_default_na=False)
    assert t.unscheduled.target_id.tolist() == unscheduled.target_id.tolist()
    assert t.unscheduled.reason.tolist() == unscheduled.reason.tolist()
    summary = json.loads((out / "schedule.json").read_text())
    assert t.summary["objective"] == summary["objective"] == t.schedule.priority.sum()
    for name in ("opportunities", "passes", "schedule", "unscheduled"):
        same_as_written(getattr(t, name), out / f"{name}.csv")
    # A plan without [schedule]: empty tables of the same columns and types.
    plain = orvus.plan(write_plan(tmp_path), tables=True)
    assert plain.summary is None and plain.schedule.empty and plain.unscheduled.empty
    assert list(plain.schedule.columns) == orvus.SCHEDULE_COLUMNS
    assert plain.schedule.dtypes.to_dict() == t.schedule.dtypes.to_dict()
    assert plain.unscheduled.dtypes.astype(str).to_dict() == {
        "target_id": "object", "target_name": "object", "priority": "float64",
        "opportunities": "int64", "reason": "object"}
    assert plain.schedule.end_local.dt.hour.empty
    # An interval that sees nothing: an empty table typed as a full one.
    none = orvus.plan(write_plan(tmp_path, end="2025-07-20T00:01:00"), tables=True)
    assert none.opportunities.empty and none.passes.empty
    assert none.opportunities.dtypes.to_dict() == t.opportunities.dtypes.to_dict()
    assert none.passes.dtypes.to_dict() == t.passes.dtypes.to_dict()


def test_empty_contacts_are_typed_as_full_ones():
    es = orvus.read_elements(TLE)
    full, empty = (orvus.contacts(es, BOXES[0][2], START, end, beta_deg=60.0,
                                  utc_offset_hours=-3, earth_orientation=EOP)
                   for end in (END, "2025-07-20T00:01:00"))
    assert len(full) > 0 and empty.empty
    assert empty.dtypes.to_dict() == full.dtypes.to_dict()


def test_a_path_with_a_nul_byte_is_refused_not_cut_short(tmp_path):
    import orvus.distributed

    plan = str(write_plan(tmp_path))
    es = orvus.read_elements(TLE)
    box, start, end = BOXES[0][2], "2025-07-20T00:00:00", "2025-07-20T01:00:00"
    calls = [lambda: orvus.plan(plan + "\0.bak"), lambda: orvus.plan(plan + "\0.bak", tables=True),
             lambda: orvus.passes(plan + "\0.bak"), lambda: orvus.coverage(plan + "\0.bak"),
             lambda: orvus.read_elements(TLE + "\0.bak"),
             lambda: orvus.read_elements(TLE.encode() + b"\0.bak"),
             lambda: orvus.contacts(es, box, start, end, beta_deg=60.0,
                                    earth_orientation=EOP + "\0.bak"),
             lambda: orvus.distributed.run(None, plan + "\0.bak"),
             lambda: orvus.distributed.run(None, plan, output=str(tmp_path / "out") + "\0.bak")]
    for call in calls:
        with pytest.raises(ValueError, match="NUL BYTE"):
            call()
    assert not (tmp_path / "out").exists()


def distributed_command(*args):
    started = time.monotonic()
    run = subprocess.run([sys.executable, "-m", "orvus.distributed", *map(str, args)],
                         capture_output=True, text=True, timeout=300)
    return run, time.monotonic() - started


def test_the_command_caps_local_workers_and_gives_up_on_an_unreachable_scheduler(tmp_path):
    pytest.importorskip("dask.distributed")
    plan = write_plan(tmp_path, boxes=BOXES[:1], end="2025-07-21T00:00:00")
    cores = len(os.sched_getaffinity(0))
    run, _ = distributed_command(plan, "--local", 1000)
    assert run.returncode == 0, run.stderr
    assert f"--local 1000: THIS MACHINE HAS {cores} CORES; STARTING {cores} WORKERS." in run.stderr

    with socket.socket() as s:  # a port nothing listens on
        s.bind(("127.0.0.1", 0))
        address = f"tcp://127.0.0.1:{s.getsockname()[1]}"
    run, seconds = distributed_command(plan, "--scheduler", address)
    assert run.returncode == 1 and seconds < 10
    assert run.stderr.splitlines() == [f' ORVUS.DISTRIBUTED: CANNOT REACH THE SCHEDULER "{address}": Connection refused.']


@pytest.mark.skipif("ORVUS_PLAN_BINARY" not in os.environ, reason="needs orvus-plan (ORVUS_PLAN_BINARY)")
def test_coverage_tables_and_a_cluster_split_of_the_cells_are_orvus_plans_files(tmp_path, client):
    from orvus import distributed

    boxes = [("A", "west", (-50.0, -46.0, -18.0, -14.0)), ("B", "east", (-48.0, -44.0, -16.0, -12.0))]
    plan = write_plan(tmp_path, boxes=boxes, end="2025-07-24T00:00:00",
                      constraints="[constraints]\nmin_sun_elevation_deg = 5.0\n"
                                  "[coverage]\ncell_km = 40\n")
    run = subprocess.run([os.environ["ORVUS_PLAN_BINARY"], str(plan)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    files = ("coverage_cells.csv", "coverage_cells.geojson", "coverage.csv", "coverage_summary.csv",
             "opportunities.html")
    counts = distributed.run(client, plan, tmp_path / "split", cell_chunk=37)
    for f in files:
        assert (tmp_path / "split" / f).read_bytes() == (tmp_path / "out" / f).read_bytes(), f
    assert counts["cells"] > 37 * 3

    c = orvus.coverage(plan, geojson=True)
    for frame, name in ((c.cells, "coverage_cells"), (c.curve, "coverage"),
                        (c.summary, "coverage_summary")):
        same_as_written(frame, tmp_path / "out" / f"{name}.csv")
    written = pd.read_csv(tmp_path / "out" / "coverage_cells.csv", dtype=str, keep_default_na=False)
    assert list(c.cells.columns) == list(written.columns) and len(c.cells) == len(written)
    assert str(c.cells.first_access_utc.dtype) == "datetime64[ns, UTC]"
    assert [t.isoformat(timespec="milliseconds").replace("+00:00", "Z") if not pd.isna(t) else ""
            for t in c.cells.first_access_utc] == written.first_access_utc.tolist()
    assert c.cells.accesses.tolist() == written.accesses.astype(int).tolist()
    assert c.cells.max_revisit_h.isna().tolist() == (written.max_revisit_h == "").tolist()
    summary = c.summary.set_index(["target_id", "satellite"])
    assert summary.loc[("A", "all"), "cells"] == (written.target_id == "A").sum()
    # GeoDataFrame-ready: one Polygon feature a row, closed, with the row's figures.
    features = c.geojson["features"]
    assert len(features) == len(written)
    ring = features[0]["geometry"]["coordinates"][0]
    assert features[0]["geometry"]["type"] == "Polygon" and ring[0] == ring[-1] and len(ring) == 5
    assert features[0]["properties"]["cell_id"] == int(written.cell_id[0])
    lons = [p[0] for p in ring]
    assert min(lons) < float(written.lon[0]) < max(lons)


def interrupted_after(call, at_s):
    """Seconds from a SIGINT sent at_s into call() to its KeyboardInterrupt."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    sent = []
    timer = threading.Timer(at_s, lambda: (sent.append(time.monotonic()),
                                           os.kill(os.getpid(), signal.SIGINT)))
    try:
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            call()
        return time.monotonic() - sent[0]
    finally:
        timer.cancel()
        signal.signal(signal.SIGINT, previous)


def write_points_plan(tmp_path, step_s, end, count=8000):
    """Points (8,000) from the Americas to Asia for the swath rule at long steps: a few
    thousand steps, each over hundreds of targets."""
    rng = random.Random(5)
    rows = ["id,name,lon,lat"] + [f"P{i},P{i},{rng.uniform(-75, 40):.4f},{rng.uniform(-33, 55):.4f}"
                                  for i in range(count)]
    (tmp_path / "points.csv").write_text("\n".join(rows) + "\n")
    plan = write_plan(tmp_path, rule="swath", end=end)
    plan.write_text(plan.read_text().replace('"targets.csv"', '"points.csv"')
                    .replace("step_s = 1.0", f"step_s = {step_s}"))
    return plan


def test_ctrl_c_stops_the_sweep_of_a_large_deck_at_long_steps(tmp_path):
    # The sweep and the work after it last seconds (the whole sweep was one block of steps).
    plan = write_points_plan(tmp_path, 300.0, "2025-08-19T00:00:00")
    for at_s in (0.3, 1.5):
        assert interrupted_after(lambda: orvus.plan(plan), at_s) < 0.75, at_s


@pytest.mark.skipif("ORVUS_PLAN_BINARY" not in os.environ, reason="needs orvus-plan (ORVUS_PLAN_BINARY)")
def test_a_table_of_many_blocks_is_the_file_orvus_plan_writes(tmp_path):
    # More rows than a block of rows between two checks of Ctrl-C (8192) holds.
    plan = write_points_plan(tmp_path, 300.0, "2025-08-19T00:00:00", count=800)
    run = subprocess.run([os.environ["ORVUS_PLAN_BINARY"], str(plan)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    table = orvus.plan(plan)
    assert len(table) > 2 * 8192
    same_as_written(table, tmp_path / "out" / "opportunities.csv")


def test_a_cancelled_task_stops_its_sweep(tmp_path, client):
    # A task of seconds, cancelled as a Ctrl-C of orvus.distributed cancels it: its worker
    # (one thread) is free for the next task at once, not when the sweep would have ended.
    from orvus import distributed

    plan = str(write_points_plan(tmp_path, 60.0, "2025-09-18T00:00:00"))
    task = client.submit(distributed.task, plan, "opportunities", 0, 0, 8000, "ALL", pure=False)
    deadline = time.monotonic() + 60
    while not any(task.key in keys for keys in client.processing().values()):
        assert time.monotonic() < deadline
        time.sleep(0.05)
    time.sleep(1.0)
    worker = next(w for w, keys in client.processing().items() if task.key in keys)
    task.cancel()
    cancelled = time.monotonic()
    client.submit(distributed.task, plan, "opportunities", 0, 0, 1, "ONE", workers=[worker],
                  pure=False).result(timeout=120)
    assert time.monotonic() - cancelled < 2.0
