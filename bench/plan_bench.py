#!/usr/bin/env python3
"""Timed runs of orvus-plan (never part of the tests).

  bench/plan_bench.py BUILD_DIR [WORK_DIR]

1. 1,000 boxes of 0.1-1 deg over Brazil, 3 satellites, 30 days at 1 s (target: < 15 s);
   with rule "swath" also at step 10 s, whose contacts must be those of step 1 s (times within
   1 ms; target: < 3 s);
2. 100 of those boxes: orvus-plan against orvus run once per box and satellite (target: >= 20x);
3. 10,000 small boxes over the land masses, 1 satellite, 7 days at 1 s (target: < 30 s);
4. 10,000 points over the land masses, 3 satellites, 30 days, rule "swath" at step 10 s
   (target: < 15 s);
peak memory of every orvus-plan run (target: < 500 MB).
"""
import os
import random
import resource
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
# Set by main() from the command line; deck() and plan() need none of them (the browser test
# builds its decks with them).
BUILD = WORK = PLAN = ORVUS = None

# Three sensors: Amazonia 1's wide imager, and two narrower cameras pointed aside on the
# Amazonia 1 and Landsat 8 orbits.
SATELLITES = [
    ("AMAZONIA 1", "amazonia1_2025.tle", 0.0, 60.0),
    ("AMAZONIA 1", "amazonia1_2025.tle", 20.0, 10.0),
    ("LANDSAT 8", "landsat8_2024.tle", 0.0, 15.0),
]
# Rough rectangles of the land masses (lon1, lon2, lat1, lat2).
LAND = [(-75, -35, -33, 5), (-120, -75, 25, 50), (-10, 40, 36, 60), (-15, 50, -30, 30),
        (40, 130, 20, 55), (115, 150, -35, -20), (70, 90, 10, 30)]


def deck(path, n, seed, regions, size):
    rnd = random.Random(seed)
    with open(path, "w") as f:
        f.write("id,name,lon1,lon2,lat1,lat2\n")
        for i in range(n):
            lo1, lo2, la1, la2 = regions[rnd.randrange(len(regions))]
            w, h = rnd.uniform(*size), rnd.uniform(*size)
            lon, lat = rnd.uniform(lo1, lo2 - w), rnd.uniform(la1, la2 - h)
            f.write(f"T{i:05d},BOX {i},{lon:.4f},{lon + w:.4f},{lat:.4f},{lat + h:.4f}\n")


def points(path, n, seed, regions):
    rnd = random.Random(seed)
    with open(path, "w") as f:
        f.write("id,name,lon,lat\n")
        for i in range(n):
            lo1, lo2, la1, la2 = regions[rnd.randrange(len(regions))]
            f.write(f"P{i:05d},POINT {i},{rnd.uniform(lo1, lo2):.5f},{rnd.uniform(la1, la2):.5f}\n")


def same_contacts(csv_a, csv_b):
    """The largest difference (s) of start, end and best times between two opportunities.csv
    with the same rows, or None when the rows differ."""
    import datetime

    def rows(path):
        lines = open(path).read().splitlines()[1:]
        return [line.split(",") for line in lines]

    def t(text):
        return datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp()

    a, b = rows(csv_a), rows(csv_b)
    if len(a) != len(b):
        return None
    worst = 0.0
    for x, y in zip(sorted(a, key=lambda r: (r[0], r[2], r[5])), sorted(b, key=lambda r: (r[0], r[2], r[5]))):
        if x[0] != y[0] or x[2] != y[2] or x[14] != y[14]:
            return None
        for col in (5, 6, 10):
            worst = max(worst, abs(t(x[col]) - t(y[col])))
    return worst


def plan(path, targets, sats, days, out, step=1.0):
    with open(path, "w") as f:
        f.write(f'start = 2025-07-01T00:00:00\nend = 2025-07-{1 + days:02d}T00:00:00\n'
                f'utc_offset_hours = -3\nstep_s = {step}\n'
                f'earth_orientation = "{DATA}/finals2000A.data"\ntargets = "{targets}"\n'
                f'rule = "points"\noutput = "{out}"\n')
        for name, tle, a, b in sats:
            f.write(f'\n[[satellite]]\nname = "{name}"\nelements = "{DATA}/tle/{tle}"\n'
                    f'alpha_deg = {a}\nbeta_deg = {b}\n')


def run_plan(toml, rule="points"):
    text = open(toml).read().replace('rule = "points"', f'rule = "{rule}"')
    open(toml, "w").write(text)
    t0 = time.time()
    r = subprocess.run(["/usr/bin/env", "time", "-f", "%M %U %S", PLAN, toml], capture_output=True,
                       text=True)
    dt = time.time() - t0
    if r.returncode != 0:
        sys.exit(r.stderr)
    peak_kb, user, system = r.stderr.strip().splitlines()[-1].split()
    print(f"  (cpu {float(user) + float(system):.1f} s, load {os.getloadavg()[0]:.1f})")
    return dt, int(peak_kb) / 1024.0


def main():
    global BUILD, WORK, PLAN, ORVUS
    BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    WORK = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, "plan-bench"))
    PLAN = os.path.join(BUILD, "apps", "orvus-plan")
    ORVUS = os.path.join(BUILD, "apps", "orvus")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    brazil = [(-73, -35, -33, 5)]
    deck(os.path.join(WORK, "brazil.csv"), 1000, 1, brazil, (0.1, 1.0))
    plan(os.path.join(WORK, "brazil.toml"), "brazil.csv", SATELLITES, 30, "out-brazil")
    for rule in ("points", "swath"):
        dt, mb = run_plan(os.path.join(WORK, "brazil.toml"), rule)
        print(f"1000 boxes x 3 satellites x 30 days, rule {rule}: {dt:.1f} s, {mb:.0f} MB")
    plan(os.path.join(WORK, "brazil10.toml"), "brazil.csv", SATELLITES, 30, "out-brazil10", 10.0)
    dt, mb = run_plan(os.path.join(WORK, "brazil10.toml"), "swath")
    worst = same_contacts(os.path.join(WORK, "out-brazil", "opportunities.csv"),
                          os.path.join(WORK, "out-brazil10", "opportunities.csv"))
    print(f"1000 boxes x 3 satellites x 30 days, rule swath at step 10 s: {dt:.1f} s, {mb:.0f} MB; "
          + ("contacts differ from step 1 s" if worst is None
             else f"the contacts of step 1 s, times within {worst * 1000:.3f} ms"))

    # 100 boxes: the planner against orvus once per box and satellite.
    lines = open(os.path.join(WORK, "brazil.csv")).read().splitlines()[:101]
    open(os.path.join(WORK, "b100.csv"), "w").write("\n".join(lines) + "\n")
    plan(os.path.join(WORK, "b100.toml"), "b100.csv", SATELLITES, 30, "out-b100")
    dt_plan, mb = run_plan(os.path.join(WORK, "b100.toml"))
    runs = os.path.join(WORK, "orvus-runs")
    os.makedirs(runs)
    shutil.copy(os.path.join(DATA, "finals2000A.data"), runs)
    t0 = time.time()
    for name, tle, a, b in SATELLITES:
        shutil.copy(os.path.join(DATA, "tle", tle), runs)
        for row in lines[1:]:
            tid, tname, lon1, lon2, lat1, lat2 = row.split(",")
            with open(os.path.join(runs, "ORVUS_IN.TXT"), "w") as f:
                f.write(f"{name}\n{tname}\n-3\n{lon1}, {lon2}, {lat1}, {lat2}\n{tle}\n{a}, {b}\n"
                        "01/07/2025 00:00:00.000000000\n31/07/2025 00:00:00.000000000\n1\n")
            subprocess.run([ORVUS], cwd=runs, capture_output=True, check=True)
    dt_orvus = time.time() - t0
    print(f"100 boxes x 3 satellites x 30 days: orvus-plan {dt_plan:.2f} s ({mb:.0f} MB), "
          f"orvus x 300 runs {dt_orvus:.1f} s: {dt_orvus / dt_plan:.0f}x")

    deck(os.path.join(WORK, "land.csv"), 10000, 2, LAND, (0.05, 0.3))
    plan(os.path.join(WORK, "land.toml"), "land.csv", SATELLITES[:1], 7, "out-land")
    for rule in ("points", "swath"):
        dt, mb = run_plan(os.path.join(WORK, "land.toml"), rule)
        print(f"10000 boxes x 1 satellite x 7 days, rule {rule}: {dt:.1f} s, {mb:.0f} MB")

    points(os.path.join(WORK, "land-points.csv"), 10000, 3, LAND)
    plan(os.path.join(WORK, "land-points.toml"), "land-points.csv", SATELLITES, 30, "out-points",
         10.0)
    dt, mb = run_plan(os.path.join(WORK, "land-points.toml"), "swath")
    print(f"10000 points x 3 satellites x 30 days, rule swath at step 10 s: {dt:.1f} s, {mb:.0f} MB")


if __name__ == "__main__":
    main()
