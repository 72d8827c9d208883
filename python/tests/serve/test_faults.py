"""Faults lose nothing, on SQLite and PostgreSQL: the service killed outright (SIGKILL) while
it creates orders or writes a plan, the database unwritable for a while, two services (and
their replans) on one database."""

import json
import os
import random
import resource
import signal
import socket
import subprocess
import sys
import threading
import time

import httpx
import sqlalchemy as sa
from conftest import BRASILIA, NOW, write_config

from orvus.serve import store as tables
from orvus.serve.inputs import parse_instant
from orvus.serve.store import Status, Store

T0 = parse_instant(NOW, [])
SHORT = f"{NOW}/2025-07-29T16:00:00Z"


class ServiceProcess:
    """orvus-serve in a process of its own (`python -m orvus.serve`)."""

    def __init__(self, config_path):
        self.log = os.path.join(os.path.dirname(config_path), "service.log")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        with open(self.log, "ab") as log:
            self.proc = subprocess.Popen(
                [sys.executable, "-m", "orvus.serve", config_path, "--port", str(self.port),
                 "--now", NOW], stdout=subprocess.DEVNULL, stderr=log)
        deadline = time.monotonic() + 60
        while True:
            try:
                if httpx.get(self.url + "/", timeout=1).status_code == 200:
                    return
            except httpx.HTTPError:
                pass
            if self.proc.poll() is not None or time.monotonic() > deadline:
                with open(self.log, errors="replace") as f:
                    raise RuntimeError("the service did not start: " + f.read()[-2000:])
            time.sleep(0.1)

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(30)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def prepare(tmp_path, db_url, orders=0, service=""):
    """A configuration, its database migrated, an operator's and a requester's keys, and
    `orders` accepted orders on points of Brazil (written straight into the store)."""
    cfg = write_config(tmp_path, db_url, service)
    store = Store(db_url)
    store.migrate()
    keys = {"alice": store.add_key("alice", False, T0), "ops": store.add_key("ops", True, T0)}
    owner = store.authenticate(keys["alice"]).id
    rng = random.Random(7)
    for i in range(orders):
        point = {"type": "Point", "coordinates": [rng.uniform(-60, -40), rng.uniform(-25, -3)]}
        store.create_order(
            {"id": f"seed-{i:04d}", "owner_id": owner, "product_id": "any-pass",
             "created_ms": T0, "start_ms": T0, "end_ms": T0 + 2 * 86_400_000,
             "geometry": json.dumps(point), "filter": None,
             "order_parameters": json.dumps({"priority": 1 + i % 5}), "priority": 1 + i % 5},
            [Status("received", T0), Status("accepted", T0)])
    store.close()
    return cfg, {k: {"Authorization": f"Bearer {v}"} for k, v in keys.items()}


def check_consistent(db_url):
    """Every order's history is whole and its current status its last one; the current plan
    is the newest, whole, and matches the scheduled orders. Returns the orders by status."""
    store = Store(db_url)
    try:
        with store.read() as c:
            orders = {r.id: r for r in c.execute(sa.select(tables.orders))}
            history = {}
            for r in c.execute(sa.select(tables.order_statuses).order_by(
                    tables.order_statuses.c.id)):
                history.setdefault(r.order_id, []).append(r.status_code)
            state = c.execute(sa.select(tables.planner_state)).one()
            generations = [r.generation for r in c.execute(sa.select(tables.plans))]
            planned = [r.order_id for r in c.execute(sa.select(tables.acquisitions).where(
                tables.acquisitions.c.plan_id == state.plan_id))] if state.plan_id else []
        for oid, o in orders.items():
            h = history[oid]
            assert h[0] == "received" and len(h) >= 2 and h[-1] == o.status_code, (oid, h)
        assert state.generation == max(generations, default=0)
        scheduled = {oid for oid, o in orders.items() if o.status_code == "scheduled"}
        assert len(planned) == len(set(planned)) and set(planned) == scheduled
        by_status = {}
        for oid, o in orders.items():
            by_status.setdefault(o.status_code, set()).add(oid)
        return by_status, state.generation
    finally:
        store.close()


def test_orders_that_got_their_201_survive_a_kill(tmp_path, db_url):
    cfg, auth = prepare(tmp_path, db_url)
    service = ServiceProcess(cfg)
    created, stop = [], threading.Event()

    def client():
        with httpx.Client(base_url=service.url, timeout=30) as c:
            while not stop.is_set():
                try:
                    r = c.post("/products/optical/orders", headers=auth["alice"],
                               json={"datetime": SHORT, "geometry": BRASILIA})
                except httpx.HTTPError:
                    return
                if r.status_code == 201:
                    created.append(r.json()["id"])

    threads = [threading.Thread(target=client) for _ in range(4)]
    for t in threads:
        t.start()
    while len(created) < 10:
        time.sleep(0.05)
    time.sleep(random.uniform(0.1, 0.5))
    service.kill()
    stop.set()
    for t in threads:
        t.join(30)
    by_status, _ = check_consistent(db_url)
    assert set(created) <= by_status["accepted"]
    service = ServiceProcess(cfg)  # and the service starts again on what was left
    try:
        with httpx.Client(base_url=service.url, timeout=30) as c:
            for oid in created:
                h = c.get(f"/orders/{oid}/statuses", headers=auth["alice"]).json()["statuses"]
                assert [s["status_code"] for s in h] == ["received", "accepted"]
    finally:
        service.stop()


def post_quietly(url, headers):
    try:
        httpx.post(url, headers=headers, timeout=120)
    except httpx.HTTPError:
        pass  # the service was killed under it


def test_a_plan_is_the_old_or_the_new_after_a_kill(tmp_path, db_url):
    cfg, auth = prepare(tmp_path, db_url, orders=40)
    service = ServiceProcess(cfg)
    t = time.monotonic()
    first = httpx.post(service.url + "/admin/replan", headers=auth["ops"], timeout=120)
    took = time.monotonic() - t
    assert first.status_code == 200, first.text
    before, generation = check_consistent(db_url)
    assert generation == 1 and before.get("scheduled")
    rng = random.Random(3)
    for attempt in range(3):
        # A new order worth more changes the contention, so that the new plan differs; then
        # the service is killed somewhere inside the replan.
        with httpx.Client(base_url=service.url, timeout=60) as c:
            c.post("/products/any-pass/orders", headers=auth["alice"],
                   json={"datetime": SHORT, "geometry": BRASILIA,
                         "order_parameters": {"priority": 5}})
        thread = threading.Thread(target=post_quietly, args=(service.url + "/admin/replan",
                                                             auth["ops"]))
        thread.start()
        time.sleep(rng.uniform(0.2, 1.0) * took)
        service.kill()
        thread.join(60)
        _, after = check_consistent(db_url)
        assert after in (generation, generation + 1)
        generation = after
        service = ServiceProcess(cfg)
    service.stop()


def test_an_unwritable_database_gives_503_and_the_service_recovers(tmp_path, db_url):
    cfg, auth = prepare(tmp_path, db_url)
    service = ServiceProcess(cfg)
    body = {"datetime": SHORT, "geometry": BRASILIA}
    try:
        with httpx.Client(base_url=service.url, timeout=60) as c:
            kept = c.post("/products/optical/orders", headers=auth["alice"], json=body)
            assert kept.status_code == 201
            if db_url.startswith("sqlite"):
                # A full disk: the service's files may not grow by a byte.
                limits = resource.prlimit(service.proc.pid, resource.RLIMIT_FSIZE)
                resource.prlimit(service.proc.pid, resource.RLIMIT_FSIZE, (1, limits[1]))

                def mend():
                    resource.prlimit(service.proc.pid, resource.RLIMIT_FSIZE, limits)
            else:
                # A database made read-only by its administrator, sessions restarted.
                name = sa.engine.make_url(db_url).database
                admin = sa.create_engine(sa.engine.make_url(db_url).set(database="postgres"),
                                         isolation_level="AUTOCOMMIT")

                def read_only(on):
                    with admin.connect() as a:
                        a.exec_driver_sql(f'ALTER DATABASE "{name}" SET '
                                          f'default_transaction_read_only = {on}')
                        a.exec_driver_sql("SELECT pg_terminate_backend(pid) FROM "
                                          "pg_stat_activity WHERE datname = %s", (name,))

                read_only("on")

                def mend():
                    read_only("off")
                    admin.dispose()
            # An order that needs no search (its interval is past) meets the database alone;
            # one that does may meet the full disk in the planner's working files first.
            past = {"datetime": "2025-07-28T00:00:00Z/2025-07-28T01:00:00Z",
                    "geometry": BRASILIA}
            for _ in range(3):
                r = c.post("/products/optical/orders", headers=auth["alice"], json=past)
                assert r.status_code == 503, r.text
                assert r.json()["detail"][0]["loc"] == ["database"]
                assert "retry later" in r.json()["detail"][0]["msg"]
                assert r.headers["retry-after"] == "5"
                r = c.post(f"/orders/{kept.json()['id']}/statuses", headers=auth["alice"],
                           json={"status_code": "user_cancelled"})
                assert r.status_code == 503, r.text
                r = c.post("/products/optical/orders", headers=auth["alice"], json=body)
                assert r.status_code == 503, r.text
            # Reading goes on meanwhile, and nothing is half-written.
            assert c.get("/products", headers=auth["alice"]).status_code == 200
            assert c.get(f"/orders/{kept.json()['id']}", headers=auth["alice"]).status_code in \
                (200, 503)
            mend()
            r = c.post("/products/optical/orders", headers=auth["alice"], json=body)
            assert r.status_code == 201, r.text
            listed = c.get("/orders", headers=auth["alice"]).json()["features"]
            assert [o["id"] for o in listed] == [kept.json()["id"], r.json()["id"]]
        assert service.proc.poll() is None
    finally:
        service.stop()
    check_consistent(db_url)


def test_two_services_never_both_write_a_plan(tmp_path, db_url):
    cfg, auth = prepare(tmp_path, db_url, orders=30)
    services = [ServiceProcess(cfg), ServiceProcess(cfg)]
    answers = []
    barrier = threading.Barrier(2)

    def replan(s):
        barrier.wait()
        answers.append(httpx.post(s.url + "/admin/replan", headers=auth["ops"], timeout=120))

    try:
        threads = [threading.Thread(target=replan, args=(s,)) for s in services]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        assert sorted(a.status_code for a in answers) == [200, 409], [a.text for a in answers]
        refused = [a for a in answers if a.status_code == 409][0]
        assert "wrote a plan first" in refused.json()["detail"][0]["msg"]
        _, generation = check_consistent(db_url)
        assert generation == 1
    finally:
        for s in services:
            s.stop()
