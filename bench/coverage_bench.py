#!/usr/bin/env python3
"""Timed coverage runs of orvus-plan (never part of the tests).

  bench/coverage_bench.py BUILD_DIR [WORK_DIR]

1. the land masses (region = "land") at 50 km cells (about 60,000) x 3 satellites x 30 days
   (target: < 20 s);
2. Brazil (Natural Earth 1:50m, from the map page's world-atlas package) at 5 km cells (about
   340,000) x 1 satellite x 30 days (target: < 60 s);
both with a Sun elevation of at least 10 deg, each run measured by /usr/bin/time: wall and CPU
time, peak memory (target: < 2 GB).
"""
import json
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import plan_bench  # noqa: E402  (the satellites of the planner's bench)

ATLAS = os.path.join(ROOT, "third_party", "web", "node_modules", "world-atlas", "countries-50m.json")


def country(path, name):
    """One country of Natural Earth 1:50m (world-atlas TopoJSON) as a one-feature GeoJSON deck,
    outer rings counter-clockwise as RFC 7946 asks."""
    topo = json.load(open(ATLAS))
    (sx, sy), (tx, ty) = topo["transform"]["scale"], topo["transform"]["translate"]
    arcs = []
    for arc in topo["arcs"]:
        x = y = 0
        line = []
        for dx, dy in arc:
            x, y = x + dx, y + dy
            line.append([round(x * sx + tx, 6), round(y * sy + ty, 6)])
        arcs.append(line)

    def ring(indices):
        out = []
        for i in indices:
            arc = arcs[i] if i >= 0 else arcs[~i][::-1]
            out += arc if not out else arc[1:]
        return out

    def area(r):
        return sum(r[i][0] * r[i + 1][1] - r[i + 1][0] * r[i][1] for i in range(len(r) - 1))

    for g in topo["objects"]["countries"]["geometries"]:
        if g["properties"]["name"] != name:
            continue
        polygons = [g["arcs"]] if g["type"] == "Polygon" else g["arcs"]
        coords = []
        for p in polygons:
            rings = [ring(r) for r in p]
            for k, r in enumerate(rings):
                if (area(r) < 0) == (k == 0):
                    r.reverse()
            coords.append(rings)
        feature = {"type": "Feature", "properties": {"id": name[:2].upper(), "name": name},
                   "geometry": {"type": "MultiPolygon", "coordinates": coords}}
        json.dump({"type": "FeatureCollection", "features": [feature]}, open(path, "w"))
        return
    sys.exit(f"{name} is not in {ATLAS}")


def plan(path, targets, satellites, out, coverage):
    plan_bench.plan(path, targets, satellites, 30, out, 10.0)
    text = open(path).read().replace('rule = "points"\n', "")
    text += f"\n[constraints]\nmin_sun_elevation_deg = 10.0\n\n[coverage]\n{coverage}"
    open(path, "w").write(text)


def timed(toml):
    run = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", plan_bench.PLAN, toml],
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(run.stderr)
    lines = run.stderr.strip().splitlines()
    wall, user, system, peak_kb = lines[-1].split()
    summary = [line for line in lines if "COVERAGE:" in line]
    return float(wall), float(user) + float(system), int(peak_kb) / 1024.0, summary


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    work = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "coverage-bench"))
    plan_bench.PLAN = os.path.join(build, "apps", "orvus-plan")
    plan_bench.DATA = os.path.join(ROOT, "tests", "data")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chdir(work)
    with open("brasilia.csv", "w") as f:
        f.write("id,name,lon1,lon2,lat1,lat2\nBSB,Brasilia,-48.30,-47.30,-16.10,-15.40\n")
    country("brazil.geojson", "Brazil")
    cases = [
        ("land masses, 50 km cells, 3 satellites, 30 days", "land.toml", "brasilia.csv",
         plan_bench.SATELLITES, 'cell_km = 50\nregion = "land"\n', 20.0),
        ("Brazil, 5 km cells, 1 satellite, 30 days", "brazil.toml", "brazil.geojson",
         plan_bench.SATELLITES[:1], "cell_km = 5\n", 60.0),
    ]
    for label, toml, targets, satellites, coverage, target in cases:
        plan(toml, targets, satellites, "out-" + toml[:-5], coverage)
        wall, cpu, mb, summary = timed(toml)
        print(f"{label}: {wall:.1f} s (target < {target:.0f} s), CPU {cpu:.1f} s, peak {mb:.0f} MB "
              f"(target < 2048 MB), load average {os.getloadavg()[0]:.1f}")
        for line in summary:
            print("  " + line.strip())


if __name__ == "__main__":
    main()
