#!/usr/bin/env python3
"""Realistic schedules, timed (never part of the tests).

  bench/schedule_bench.py BUILD_DIR [WORK_DIR] [--deck realistic|large|all]

Small boxes (0.05-0.2 deg) with priorities 1-5 over South America; three satellites on
Amazonia 1's orbit a third of a revolution apart, each with a 2 deg camera rolling +-30 deg at
1.5 deg/s and settling 10 s, 300 s of imaging a revolution, a 250 Gbit recorder filled at
0.8 Gbit/s; two stations (Cuiaba, Alcantara) at 0.3 Gbit/s; daylight only; steps of 1 s.

  realistic: 1,000 boxes over 7 days, time_limit_s = 30. Targets: the schedule (candidates,
             model and solve) within the limit + 5 s, a gap under 0.3 %.
  large:     3,000 boxes over 30 days, time_limit_s = 60. Target: the schedule within 70 s,
             its gap reported.

Prints, per deck, the sweep, the candidates, the solve and the schedule's figures (from
schedule.json and orvus-plan's summary), the run's wall and CPU time and peak memory, and
checks the schedule as written against the deck's rules (once per target, roll and settle
between images, imaging time per revolution, recorder level, data volume, the objective).
"""
import csv
import datetime
import json
import os
import random
import resource
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
# Rough rectangles of South America's land (lon1, lon2, lat1, lat2).
SOUTH_AMERICA = [(-75, -35, -33, 5), (-74, -65, -52, -33), (-80, -60, -5, 11)]


def checksum(line):
    total = sum(int(c) if c.isdigit() else 1 if c == "-" else 0 for c in line[:68])
    return line[:68] + str(total % 10)


def constellation(path):
    """Amazonia 1's element set and two copies a third and two thirds of a revolution ahead."""
    lines = open(os.path.join(DATA, "tle", "amazonia1_2025.tle")).read().split("\n")
    l1, l2 = [x for x in lines if x.startswith("1 ")][0], [x for x in lines if x.startswith("2 ")][0]
    names = []
    with open(path, "w") as f:
        for k in range(3):
            name = f"SAT {k + 1}"
            anomaly = (float(l2[43:51]) + 120.0 * k) % 360.0
            number = f"{99100 + k:05d}"
            a = checksum(l1[:2] + number + l1[7:68])
            b = checksum(l2[:2] + number + l2[7:43] + f"{anomaly:8.4f}" + l2[51:68])
            f.write(f"{name}\n{a}\n{b}\n")
            names.append(name)
    return names


def deck(path, n, seed):
    rnd = random.Random(seed)
    with open(path, "w") as f:
        f.write("id,name,lon1,lon2,lat1,lat2,priority\n")
        # Uniform over the land's rectangles: each chosen by its area.
        areas = [(b - a) * (d - c) for a, b, c, d in SOUTH_AMERICA]
        for i in range(n):
            lo1, lo2, la1, la2 = rnd.choices(SOUTH_AMERICA, weights=areas)[0]
            w, h = rnd.uniform(0.05, 0.2), rnd.uniform(0.05, 0.2)
            lon, lat = rnd.uniform(lo1, lo2 - w), rnd.uniform(la1, la2 - h)
            f.write(f"S{i:04d},SCENE {i},{lon:.4f},{lon + w:.4f},{lat:.4f},{lat + h:.4f},"
                    f"{rnd.randint(1, 5)}\n")


def plan(path, names, days, limit):
    satellites = "".join(f"""
[[satellite]]
name = "{name}"
elements = "constellation.tle"
alpha_deg = 0.0
beta_deg = 60.0
camera_fov_deg = 2.0
roll_rate_deg_s = 1.5
settle_s = 10.0
max_imaging_s_per_orbit = 300.0
recorder_gbit = 250.0
imaging_gbit_s = 0.8
""" for name in names)
    with open(path, "w") as f:
        f.write(f"""start = 2025-07-24T00:00:00
end = {(datetime.date(2025, 7, 24) + datetime.timedelta(days=days)).isoformat()}T00:00:00
utc_offset_hours = -3
step_s = 1.0
earth_orientation = "{os.path.join(DATA, 'finals2000A.data')}"
targets = "deck.csv"
output = "out"

[constraints]
min_sun_elevation_deg = 10.0

[schedule]
time_limit_s = {limit:.1f}
{satellites}
[[station]]
name = "CUIABA"
lon = -56.07
lat = -15.55
alt_m = 240.0
min_elevation_deg = 5.0
downlink_gbit_s = 0.3

[[station]]
name = "ALCANTARA"
lon = -44.40
lat = -2.34
min_elevation_deg = 5.0
downlink_gbit_s = 0.3
""")


def seconds(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp()


def check(out, summary):
    """The rules of the deck, from the files alone: a list of what breaks them."""
    rows = list(csv.DictReader(open(os.path.join(out, "schedule.csv"), newline="")))
    features = json.load(open(os.path.join(out, "schedule.geojson")))["features"]
    faults = []
    if len({r["target_id"] for r in rows}) != len(rows):
        faults.append("a target acquired twice")
    if abs(sum(float(r["priority"]) for r in rows) - summary["objective"]) > 1e-9:
        faults.append("objective")
    revolution = {}
    for r, f in zip(rows, features):
        start, end = seconds(r["start_utc"]), seconds(r["end_utc"])
        if abs(float(r["roll_deg"])) > 30.0 + 1e-4:
            faults.append(f"{r['target_id']}: roll")
        if abs(float(r["data_gbit"]) - 0.8 * (end - start)) > 2e-3:
            faults.append(f"{r['target_id']}: data volume")
        if float(r["recorder_after_gbit"]) > 250.0 + 1e-3:
            faults.append(f"{r['target_id']}: recorder")
        key = (r["satellite"], f["properties"]["revolution"])
        revolution[key] = revolution.get(key, 0.0) + end - start
    faults += [f"{k}: imaging time" for k, v in revolution.items() if v > 300.0 + 1e-3]
    for name in {r["satellite"] for r in rows}:
        mine = sorted((seconds(r["start_utc"]), seconds(r["end_utc"]), float(r["roll_deg"]))
                      for r in rows if r["satellite"] == name)
        for (_, end, roll), (start, _, next_roll) in zip(mine, mine[1:]):
            if start < end + 10.0 + abs(next_roll - roll) / 1.5 - 2e-3:
                faults.append(f"{name}: no time to roll before {start}")
    return faults


# name: (boxes, days, time limit (s), the schedule's time at most (s), the gap below)
DECKS = {
    "realistic": (1000, 7, 30.0, 35.0, 0.003),
    "large": (3000, 30, 60.0, 70.0, None),
}


def bench(build, work, name):
    boxes, days, limit, most, gap = DECKS[name]
    os.makedirs(work, exist_ok=True)
    names = constellation(os.path.join(work, "constellation.tle"))
    deck(os.path.join(work, "deck.csv"), boxes, 5)
    plan(os.path.join(work, "plan.toml"), names, days, limit)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    run = subprocess.run([os.path.join(build, "apps", "orvus-plan"), os.path.join(work, "plan.toml")],
                         capture_output=True, text=True)
    wall = time.monotonic() - started
    if run.returncode != 0:
        sys.exit(run.stderr)
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = usage.ru_utime + usage.ru_stime - before.ru_utime - before.ru_stime
    s = json.load(open(os.path.join(work, "out", "schedule.json")))
    print(f"== {name}: {boxes} boxes, {days} days, time_limit_s = {limit:g}")
    print(run.stderr.strip())
    print(f"orvus-plan: {wall:.1f} s in all, CPU {cpu:.1f} s, peak {usage.ru_maxrss / 1024:.0f} MB; "
          f"schedule: {s['candidates']} "
          f"candidates, {s['acquisitions']} acquisitions of {s['targets']} targets, objective "
          f"{s['objective']:g}, bound {s['best_bound']:g}, gap {100 * s['gap']:.2f} %, "
          f"{'optimal, ' if s['optimal'] else ''}schedule {s['seconds']:.1f} s (candidates and "
          f"model {s['seconds'] - s['solve_seconds']:.1f} s, solver {s['solve_seconds']:.1f} s)")
    faults = check(os.path.join(work, "out"), s)
    print("schedule as written:", "; ".join(faults[:10]) if faults else "feasible")
    ok = s["seconds"] <= most and (gap is None or s["gap"] < gap) and not faults
    goal = f"a schedule within {most:g} s" + (f", gap under {100 * gap:g} %" if gap else "")
    print(f"targets ({goal}):", "met" if ok else "NOT MET")
    return ok


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--deck")]
    which = "all"
    for i, a in enumerate(sys.argv):
        if a.startswith("--deck="):
            which = a.split("=", 1)[1]
        elif a == "--deck" and i + 1 < len(sys.argv):
            which = sys.argv[i + 1]
            args.remove(which)
    if which not in DECKS and which != "all":
        sys.exit(f"--deck: one of {', '.join(DECKS)} or all")
    build = args[0] if args else "build"
    work = args[1] if len(args) > 1 else os.path.join(build, "schedule-bench")
    ok = True
    for name in DECKS if which == "all" else [which]:
        ok = bench(build, work if name == "realistic" else work + "-" + name, name) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
