"""The 1,000-box deck, 3 satellites, 30 days at 1 s: orvus-plan, orvus.plan and
orvus.distributed --local 2 on this machine.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_plan_speed.py build/apps/orvus-plan

Targets: orvus.plan within 10 % of orvus-plan; orvus.distributed --local 2 no slower than
1.5 times orvus-plan (the cost of the scale-out on one machine). Prints the times and exits 1
when a target is missed.
"""

import os
import random
import subprocess
import sys
import tempfile
import time

import orvus

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests/data")


def write_deck(directory):
    rng = random.Random(17)
    rows = ["id,name,lon1,lon2,lat1,lat2"]
    for i in range(1000):  # boxes of 0.1 to 1 degree over Brazil
        w, h = rng.uniform(0.1, 1.0), rng.uniform(0.1, 1.0)
        lon, lat = rng.uniform(-73.0, -35.0 - w), rng.uniform(-33.0, 5.0 - h)
        rows.append(f"B{i:04d},box {i},{lon:.4f},{lon + w:.4f},{lat:.4f},{lat + h:.4f}")
    with open(os.path.join(directory, "deck.csv"), "w") as f:
        f.write("\n".join(rows) + "\n")
    satellites = "".join(f'''
[[satellite]]
name = "AMAZONIA 1 {tag}"
select = "AMAZONIA 1"
elements = "{DATA}/tle/amazonia1_2025.tle"
alpha_deg = {alpha}
beta_deg = 30.0
''' for tag, alpha in (("LEFT", 20.0), ("NADIR", 0.0), ("RIGHT", -20.0)))
    plan = os.path.join(directory, "plan.toml")
    with open(plan, "w") as f:
        f.write(f'''start = "2025-07-20T00:00:00"
end = "2025-08-19T00:00:00"
utc_offset_hours = -3
step_s = 1.0
earth_orientation = "{DATA}/finals2000A.data"
targets = "deck.csv"
output = "out"
{satellites}''')
    return plan


def timed(what, run):
    t = time.perf_counter()
    run()
    elapsed = time.perf_counter() - t
    print(f"{what:34s} {elapsed:8.2f} s")
    return elapsed


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        plan = write_deck(tmp)
        native = timed("orvus-plan", lambda: subprocess.run([sys.argv[1], plan], check=True,
                                                            stderr=subprocess.DEVNULL))
        module = timed("orvus.plan", lambda: orvus.plan(plan))
        cluster = timed("orvus.distributed --local 2", lambda: subprocess.run(
            [sys.executable, "-m", "orvus.distributed", plan, "--local", "2",
             "--output", os.path.join(tmp, "dist")], check=True))
        same = all(open(os.path.join(tmp, "out", f), "rb").read()
                   == open(os.path.join(tmp, "dist", f), "rb").read()
                   for f in ("opportunities.csv", "opportunities.geojson"))
    print(f"orvus.plan / orvus-plan: {module / native:.2f} (target 1.10); "
          f"distributed / orvus-plan: {cluster / native:.2f} (target 1.50); "
          f"files identical: {same}")
    return 0 if module <= 1.10 * native and cluster <= 1.5 * native and same else 1


if __name__ == "__main__":
    sys.exit(main())
