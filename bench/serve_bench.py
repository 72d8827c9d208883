#!/usr/bin/env python3
"""Speed of the tasking service (never run by the tests):

    /usr/bin/python3 bench/serve_bench.py BUILD_DIR [--seconds 60] [--clients 50]
                                                    [--database URL]

1. one client: opportunity searches for a 50 km polygon over 7 days and 3 satellites
   (median and 95th percentile of 100; target < 50 ms and < 150 ms);
2. `--clients` clients for `--seconds` s, four searches to one order each (target: no error,
   no lost order, at least 20 searches a second);
3. a replan of 1,000 accepted orders over 3 days (target: within its time limit + 10 s);
4. the service's peak memory (target < 500 MB).

The service runs as `orvus-serve` does, in a process of its own on a SQLite file in a
temporary folder (or on --database), its clock at the bundled element sets' epoch."""

import argparse
import asyncio
import json
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NOW = "2025-07-26T00:00:00Z"
T0_MS = 1753488000000  # NOW in ms since 1970
DAY_MS = 86_400_000


def checksum(line):
    return str(sum(int(c) if c.isdigit() else c == "-" for c in line[:68]) % 10)


def third_satellite(folder):
    """A third satellite on Amazonia 1's orbit a quarter of a revolution ahead of it."""
    name, l1, l2 = open(os.path.join(ROOT, "examples/amazonia1.tle")).read().split("\n")[:3]
    l1 = l1[:2] + "99002" + l1[7:68]
    l2 = l2[:2] + "99002" + l2[7:43] + "174.2300" + l2[51:68]
    path = os.path.join(folder, "third.tle")
    with open(path, "w") as f:
        f.write(f"ORVUS THIRD\n{l1}{checksum(l1)}\n{l2}{checksum(l2)}\n")
    return path


def write_config(folder, database, horizon_days, time_limit_s):
    sats = [("AMAZONIA 1", os.path.join(ROOT, "examples/amazonia1.tle")),
            ("ORVUS TWIN", os.path.join(ROOT, "examples/plan/twin.tle")),
            ("ORVUS THIRD", third_satellite(folder))]
    text = f"""[service]
database = "{database}"
earth_orientation = "{ROOT}/tests/data/finals2000A.data"
horizon_days = {horizon_days}
replan_every_s = 0
replan_time_limit_s = {time_limit_s}
workers = 2
searches_per_key = 4
"""
    for name, path in sats:
        text += f"""
[[satellite]]
name = "{name}"
elements = "{path}"
alpha_deg = 0.0
beta_deg = 60.0
camera_fov_deg = 2.0
roll_rate_deg_s = 1.5
settle_s = 10.0
max_imaging_s_per_orbit = 300.0
recorder_gbit = 250.0
imaging_gbit_s = 0.8
min_imaging_s = 2.0
"""
    text += """
[[station]]
name = "CUIABA"
lon = -56.07
lat = -15.55
min_elevation_deg = 5.0
downlink_gbit_s = 0.3

[[station]]
name = "ALCANTARA"
lon = -44.40
lat = -2.34
min_elevation_deg = 5.0
downlink_gbit_s = 0.3

[[product]]
id = "optical"
title = "Optical scene"
description = "Any of three satellites, daylight, at most 30 degrees off nadir."
satellites = ["AMAZONIA 1", "ORVUS TWIN", "ORVUS THIRD"]
max_off_nadir_deg = 30.0
min_sun_elevation_deg = 10.0
"""
    path = os.path.join(folder, f"serve-{horizon_days}.toml")
    with open(path, "w") as f:
        f.write(text)
    return path


def box(rng, half_deg=0.225):
    """A polygon about 50 km across somewhere over Brazil."""
    lon, lat = rng.uniform(-60, -40), rng.uniform(-25, -5)
    return {"type": "Polygon", "coordinates": [[
        [lon - half_deg, lat - half_deg], [lon + half_deg, lat - half_deg],
        [lon + half_deg, lat + half_deg], [lon - half_deg, lat + half_deg],
        [lon - half_deg, lat - half_deg]]]}


class Service:
    def __init__(self, build, config):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
        self.log = open(config + ".log", "wb")
        self.proc = subprocess.Popen(
            [sys.executable, "-m", "orvus.serve", config, "--port", str(self.port), "--now",
             NOW], env=env, stdout=self.log, stderr=self.log)
        import httpx
        for _ in range(600):
            try:
                if httpx.get(self.url + "/", timeout=1).status_code == 200:
                    return
            except httpx.HTTPError:
                time.sleep(0.1)
        raise SystemExit("the service did not start")

    def peak_mb(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return float("nan")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(60)
        self.log.close()


def keys(database, names, operator=False):
    from orvus.serve.store import Store
    store = Store(database)
    store.migrate()
    out = [store.add_key(n, operator, T0_MS) for n in names]
    store.close()
    return out


def one_client(service, key, count=100):
    """The search's time as a client that sends each request in one write sees it (as curl
    and browsers do): httpx writes a POST's headers and body apart, and the body then waits
    for the server's delayed acknowledgement of the headers (about 40 ms on Linux), which
    would be timed as the service's."""
    import http.client
    rng = random.Random(1)
    body = {"datetime": f"{NOW}/2025-08-02T00:00:00Z"}
    headers = {"Authorization": f"Bearer {key}", "Content-Type": "application/json"}
    times, found = [], 0
    c = http.client.HTTPConnection("127.0.0.1", service.port, timeout=60)
    try:
        for i in range(count + 5):
            data = json.dumps(dict(body, geometry=box(rng))).encode()
            t = time.perf_counter()
            c.request("POST", "/products/optical/opportunities", body=data, headers=headers)
            r = c.getresponse()
            text = r.read()
            dt = time.perf_counter() - t
            assert r.status == 200, text
            if i >= 5:  # the first ones load the Earth-orientation table and the model
                times.append(dt * 1000)
                found += len(json.loads(text)["features"])
    finally:
        c.close()
    times.sort()
    return statistics.median(times), times[int(0.95 * len(times)) - 1], found / count


async def many_clients(service, client_keys, operator, seconds):
    import httpx
    rng = random.Random(2)
    searches, errors, created = [], [], []
    deadline = time.monotonic() + seconds

    async def client(key):
        async with httpx.AsyncClient(base_url=service.url, timeout=120,
                                     headers={"Authorization": f"Bearer {key}"}) as c:
            while time.monotonic() < deadline:
                for _ in range(4):
                    r = await c.post("/products/optical/opportunities", json={
                        "datetime": f"{NOW}/2025-08-02T00:00:00Z", "geometry": box(rng)})
                    (searches if r.status_code == 200 else errors).append(r.status_code)
                r = await c.post("/products/optical/orders", json={
                    "datetime": f"{NOW}/2025-07-29T00:00:00Z", "geometry": box(rng)})
                if r.status_code == 201:
                    created.append(r.json()["id"])
                else:
                    errors.append(r.status_code)

    t = time.monotonic()
    await asyncio.gather(*(client(k) for k in client_keys))
    elapsed = time.monotonic() - t
    # Every order that got its 201 is listed.
    listed = set()
    async with httpx.AsyncClient(base_url=service.url, timeout=120,
                                 headers={"Authorization": f"Bearer {operator}"}) as c:
        url = "/orders?limit=100"
        while url:
            page = (await c.get(url)).json()
            listed.update(o["id"] for o in page["features"])
            url = next((link["href"] for link in page["links"] if link["rel"] == "next"), None)
    lost = len(set(created) - listed)
    return len(searches) / elapsed, len(searches), len(created), errors, lost


def replan(build, folder, database, time_limit_s):
    import httpx

    from orvus.serve.store import Status, Store
    config = write_config(folder, database, 3, time_limit_s)
    store = Store(database)
    store.migrate()
    key = store.add_key("replanner", True, T0_MS)
    owner = store.authenticate(key).id
    rng = random.Random(3)
    for i in range(1000):
        half = rng.uniform(0.05, 0.25)
        store.create_order(
            {"id": f"bench-{i:04d}", "owner_id": owner, "product_id": "optical",
             "created_ms": T0_MS, "start_ms": T0_MS, "end_ms": T0_MS + 3 * DAY_MS,
             "geometry": json.dumps(box(rng, half)), "filter": None,
             "order_parameters": json.dumps({"priority": 1 + i % 5}), "priority": 1 + i % 5},
            [Status("received", T0_MS), Status("accepted", T0_MS)])
    store.close()
    service = Service(build, config)
    try:
        t = time.perf_counter()
        r = httpx.post(service.url + "/admin/replan", headers={"Authorization": f"Bearer {key}"},
                       timeout=3600)
        took = time.perf_counter() - t
        assert r.status_code == 200, r.text
        return took, r.json(), service.peak_mb()
    finally:
        service.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--database", help="a PostgreSQL URL (default: a SQLite file)")
    parser.add_argument("--replan-time-limit", type=float, default=30)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    folder = tempfile.mkdtemp(prefix="orvus-serve-bench-")
    try:
        database = args.database or f"sqlite:///{folder}/bench.db"
        config = write_config(folder, database, 7, args.replan_time_limit)
        names = [f"client-{i}" for i in range(args.clients)]
        client_keys = keys(database, names)
        operator = keys(database, ["operator"], True)[0]
        service = Service(args.build, config)
        try:
            median, p95, per = one_client(service, client_keys[0])
            print(f"one client, 50 km polygon, 7 days, 3 satellites: median {median:.1f} ms, "
                  f"95th percentile {p95:.1f} ms ({per:.1f} opportunities a search; targets "
                  "< 50 and < 150 ms)", flush=True)
            rate, n, orders, errors, lost = asyncio.run(
                many_clients(service, client_keys, operator, args.seconds))
            print(f"{args.clients} clients for {args.seconds:.0f} s: {rate:.1f} searches/s "
                  f"({n} searches, {orders} orders), {len(errors)} errors "
                  f"{sorted(set(errors))}, {lost} orders lost (targets: 0, 0, >= 20/s)",
                  flush=True)
            print(f"service peak memory: {service.peak_mb():.0f} MB (target < 500 MB)",
                  flush=True)
        finally:
            service.stop()
        # The replan on a database of its own, so that the clients' orders stay out of it.
        took, done, peak = replan(args.build, folder, f"sqlite:///{folder}/replan.db",
                                  args.replan_time_limit)
        s = done["schedule"]
        print(f"replan of 1,000 orders over 3 days: {took:.1f} s (limit {args.replan_time_limit:g}"
              f" + 10 s); {done['acquisitions']} acquisitions, objective {s.get('objective')}, "
              f"bound {s.get('best_bound')}, gap {100 * s.get('gap', 0):.2f} %, schedule "
              f"{s.get('seconds')} s; peak memory {peak:.0f} MB", flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
