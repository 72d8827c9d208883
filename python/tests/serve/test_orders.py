"""The order's life on SQLite and PostgreSQL: creation (accepted or rejected), who sees what,
replans (scheduled, a lost slot, expiry), outcomes, cancelling, pagination."""

import base64
import json
import math
import shutil
import time

import pytest

import stapi_schemas as stapi
from conftest import BRASILIA, EXAMPLES, NOW, Running, write_config

from orvus.serve.inputs import interval_text, parse_instant

T0 = parse_instant(NOW, [])
HOUR = 3_600_000
ITAIPU = {"type": "Point", "coordinates": [-54.589, -25.408]}


def create(service, who, body, product="optical", status=201):
    r = service.client.post(f"/products/{product}/orders", json=body, headers=service.auth(who))
    assert r.status_code == status, r.text
    if status == 201:
        stapi.validate(r.json(), "Order_OrderStatus_")
        assert r.headers["location"] == f"/orders/{r.json()['id']}"
    return r.json()


def get(service, who, path, status=200):
    r = service.client.get(path, headers=service.auth(who))
    assert r.status_code == status, r.text
    return r.json()


def history(service, order_id, who="operator"):
    doc = get(service, who, f"/orders/{order_id}/statuses?limit=100")
    stapi.validate(doc, "OrderStatuses")
    return [(st["status_code"], st["reason_code"]) for st in doc["statuses"]]


def replan(service, who="operator", status=200):
    r = service.client.post("/admin/replan", headers=service.auth(who))
    assert r.status_code == status, r.text
    return r.json()


def report(service, order_id, code, who="operator", status=201):
    r = service.client.post(f"/orders/{order_id}/statuses", json={"status_code": code},
                            headers=service.auth(who))
    assert r.status_code == status, r.text
    return r.json()


def only_opportunity(service, geometry, product="any-pass"):
    """An interval around the first opportunity over `geometry`, holding it alone."""
    r = service.client.post(f"/products/{product}/opportunities", headers=service.auth("alice"),
                            json={"datetime": f"{NOW}/..", "geometry": geometry})
    start, end = (parse_instant(t, []) for t in
                  r.json()["features"][0]["properties"]["datetime"].split("/"))
    return interval_text(start - 60_000, end + 60_000)


def test_an_order_is_accepted_or_rejected_and_seen_only_by_its_requester(service):
    o = create(service, "alice", {"datetime": f"{NOW}/..", "geometry": BRASILIA,
                                  "order_parameters": {"priority": 3}})
    assert o["status"]["status_code"] == "accepted" and o["user"] == "alice"
    assert o["properties"]["order_parameters"] == {"priority": 3.0}
    assert history(service, o["id"]) == [("received", None), ("accepted", None)]
    assert get(service, "alice", f"/orders/{o['id']}") == o
    assert get(service, "operator", f"/orders/{o['id']}") == o
    # Another requester's order is as good as absent.
    assert get(service, "bob", f"/orders/{o['id']}", 404)["detail"][0]["loc"] == ["path",
                                                                                 "orderId"]
    get(service, "bob", f"/orders/{o['id']}/statuses", 404)
    assert get(service, "bob", "/orders")["features"] == []
    # Rejected: an interval already past, one beyond the horizon, one without opportunity.
    past = create(service, "bob", {"datetime": "2025-07-28T00:00:00Z/2025-07-29T00:00:00Z",
                                   "geometry": BRASILIA})
    late = create(service, "bob", {"datetime": "2025-08-02T00:00:00Z/2025-08-03T00:00:00Z",
                                   "geometry": BRASILIA})
    none = create(service, "bob", {"datetime": f"{NOW}/..", "geometry": BRASILIA, "filter": {
        "op": "<", "args": [{"property": "view:off_nadir"}, 0.001]}})
    for order, reason in ((past, "interval_past"), (late, "beyond_horizon"),
                          (none, "no_opportunity")):
        assert history(service, order["id"], "bob") == [("received", None), ("rejected", reason)]
    assert [f["id"] for f in get(service, "bob", "/orders")["features"]] == \
        [past["id"], late["id"], none["id"]]
    assert len(get(service, "operator", "/orders")["features"]) == 4


def test_replans_schedule_move_and_expire_orders(service):
    window = only_opportunity(service, ITAIPU)
    low = create(service, "alice", {"datetime": window, "geometry": ITAIPU,
                                    "order_parameters": {"priority": 1}}, "any-pass")
    done = replan(service)
    assert done["generation"] == 1 and done["acquisitions"] >= 1
    o = get(service, "alice", f"/orders/{low['id']}")
    assert o["status"]["status_code"] == "scheduled"
    acq = get(service, "alice", o["status"]["links"][0]["href"])
    start, end = (parse_instant(t, []) for t in acq["datetime"].split("/"))
    w0, w1 = (parse_instant(t, []) for t in window.split("/"))
    assert w0 <= start < end <= w1 and acq["platform"] == "AMAZONIA 1"
    assert acq["order_id"] == low["id"]
    get(service, "bob", o["status"]["links"][0]["href"], 404)

    # A second order on the same place and pass, worth more, takes the slot: the first goes
    # back to accepted saying so; cancelling the second gives it back.
    high = create(service, "bob", {"datetime": window, "geometry": ITAIPU,
                                   "order_parameters": {"priority": 5}}, "any-pass")
    replan(service)
    assert history(service, low["id"])[-1] == ("accepted", "slot_lost")
    assert get(service, "bob", f"/orders/{high['id']}")["status"]["status_code"] == "scheduled"
    report(service, high["id"], "user_cancelled", "bob", 409)  # scheduled: too late for bob
    plan = get(service, "operator", "/plan")
    assert {a["order_id"] for a in plan["acquisitions"]} >= {high["id"]}
    assert low["id"] not in {a["order_id"] for a in plan["acquisitions"]}

    # Orders whose interval ends unserved expire at the next replan; a begun acquisition
    # stays planned.
    late = create(service, "alice", {"datetime": window, "geometry": ITAIPU}, "any-pass")
    assert late["status"]["status_code"] == "accepted"
    w1 = parse_instant(window.split("/")[1], [])
    service.clock.set(w1 + 60_000)
    replan(service)
    for order in (low, late):
        assert history(service, order["id"])[-1] == ("expired", "interval_ended")
    assert [a["order_id"] for a in get(service, "operator", "/plan")["acquisitions"]] == \
        [high["id"]]
    assert get(service, "alice", "/plan", 403)["detail"][0]["type"] == "forbidden"


def test_outcomes_cancelling_and_a_failure_back_in_contention(service):
    window = only_opportunity(service, ITAIPU)
    a = create(service, "alice", {"datetime": window, "geometry": ITAIPU}, "any-pass")
    b = create(service, "alice", {"datetime": f"{NOW}/..", "geometry": BRASILIA}, "any-pass")
    c = create(service, "alice", {"datetime": f"{NOW}/..", "geometry": BRASILIA}, "any-pass")
    report(service, c["id"], "user_cancelled", "alice")
    report(service, c["id"], "user_cancelled", "alice", 409)
    report(service, c["id"], "user_cancelled", "bob", 404)
    replan(service)
    assert get(service, "alice", f"/orders/{c['id']}")["status"]["status_code"] == \
        "user_cancelled"
    for order in (a, b):
        assert get(service, "alice", f"/orders/{order['id']}")["status"]["status_code"] == \
            "scheduled"
        report(service, order["id"], "completed", "alice", 403)  # requesters report nothing
    report(service, a["id"], "completed")
    report(service, a["id"], "failed", status=409)  # completed is final
    # b's acquisition failed; its interval (to the horizon) still has passes: back to accepted.
    added = report(service, b["id"], "failed")
    assert [st["status_code"] for st in added["statuses"]] == ["failed", "accepted"]
    assert history(service, b["id"])[-2:] == [("failed", None), ("accepted", "retry")]
    r = service.client.post(f"/orders/{b['id']}/statuses", json={"status_code": "expired"},
                            headers=service.auth("operator"))
    assert r.status_code == 422 and r.json()["detail"][0]["loc"] == ["body", "status_code"]


def test_lists_are_paged_with_next_links(service):
    made = [create(service, "alice", {"datetime": "2025-07-28T00:00:00Z/2025-07-28T01:00:00Z",
                                      "geometry": ITAIPU})["id"] for _ in range(5)]
    for path in ("/orders", "/products/optical/orders"):
        seen, url = [], f"{path}?limit=2"
        while url:
            page = get(service, "alice", url)
            stapi.validate(page, "OrderCollection_OrderStatus_")
            assert len(page["features"]) <= 2
            seen += [f["id"] for f in page["features"]]
            url = next((link["href"] for link in page["links"] if link["rel"] == "next"), None)
        assert seen == made
    assert get(service, "alice", "/products/any-pass/orders")["features"] == []
    statuses = get(service, "alice", f"/orders/{made[0]}/statuses?limit=1")
    nxt = [link["href"] for link in statuses["links"] if link["rel"] == "next"]
    assert [s["status_code"] for s in statuses["statuses"]] == ["received"]
    assert [s["status_code"] for s in get(service, "alice", nxt[0])["statuses"]] == ["rejected"]
    huge = base64.urlsafe_b64encode(json.dumps([10**30, "x"]).encode()).decode()
    for bad in ("?limit=0", "?limit=101", "?limit=x", "?next=abc", "?next=WzEsMl0",
                f"?next={huge}"):
        assert get(service, "alice", "/orders" + bad, 422)["detail"][0]["loc"][0] == "query"


def test_element_files_changed_on_disk_are_used_at_once(tmp_path):
    elements = tmp_path / "amazonia1.tle"
    shutil.copy(f"{EXAMPLES}/amazonia1.tle", elements)
    import conftest
    sats = conftest.SATELLITES.replace(f"{EXAMPLES}/amazonia1.tle", str(elements))
    running = Running(write_config(tmp_path, f"sqlite:///{tmp_path}/o.db", satellites=sats))
    body = {"datetime": f"{NOW}/..", "geometry": BRASILIA}

    def by_satellite():
        r = running.client.post("/products/optical/opportunities", json=body,
                                headers=running.auth("alice"))
        out = {}
        for f in r.json()["features"]:
            p = f["properties"]
            out.setdefault(p["platform"], []).append((p["datetime"], p["orvus:norad_id"]))
        return out

    try:
        before = by_satellite()
        assert before["AMAZONIA 1"] != [(w, 47699) for w, _ in before["ORVUS TWIN"]]
        # Amazonia 1's file now holds the twin's set: the next search flies it.
        shutil.copy(f"{EXAMPLES}/plan/twin.tle", elements)
        after = by_satellite()
        assert after["AMAZONIA 1"] == after["ORVUS TWIN"] == before["ORVUS TWIN"]
    finally:
        running.close()


def test_the_cadence_replans_on_its_own(tmp_path):
    running = Running(write_config(tmp_path, f"sqlite:///{tmp_path}/o.db",
                                   "replan_every_s = 0.5"))
    try:
        o = create(running, "alice", {"datetime": f"{NOW}/..", "geometry": BRASILIA})
        for _ in range(100):
            if get(running, "alice", f"/orders/{o['id']}")["status"]["status_code"] == \
                    "scheduled":
                break
            time.sleep(0.1)
        assert history(running, o["id"])[-1] == ("scheduled", "acquisition_planned")
        assert get(running, "operator", "/plan")["trigger"] == "cadence"
    finally:
        running.close()


def _distance(point, line):
    """Degrees from a point to a line's nearest segment (plane lon/lat: short distances)."""
    (x, y), best = point, math.inf
    for (x1, y1), (x2, y2) in zip(line, line[1:]):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(x1 + t * dx - x, y1 + t * dy - y))
    return best


def test_the_plan_carries_its_passes_recorder_and_swaths(tmp_path, db_url):
    import conftest

    import orvus
    sats = conftest.SATELLITES.replace("min_imaging_s = 2.0", "min_imaging_s = 2.0\n"
                                       "recorder_gbit = 20.0\nimaging_gbit_s = 0.8")
    sats += "downlink_gbit_s = 0.3\n"
    running = Running(write_config(tmp_path, db_url, satellites=sats))
    try:
        empty = get(running, "operator", "/plan")
        assert empty["passes"] == [] and empty["acquisitions"] == []
        assert empty["satellites"][0] == {"name": "AMAZONIA 1", "recorder_gbit": 20.0,
                                          "imaging_gbit_s": 0.8}
        assert empty["stations"] == [{"name": "CUIABA", "downlink_gbit_s": 0.3}]
        window = only_opportunity(running, ITAIPU)
        o = create(running, "alice", {"datetime": window, "geometry": ITAIPU}, "any-pass")
        replan(running)
        plan = get(running, "operator", "/plan")
        a = plan["acquisitions"][0]
        assert a["order_id"] == o["id"] and a["order_status"] == "scheduled"
        start, end = (parse_instant(t, []) for t in a["datetime"].split("/"))
        # The first image fills the empty recorder with 0.8 Gbit/s x its length.
        assert a["data_gbit"] == pytest.approx(0.8 * (end - start) / 1000, abs=1e-3)
        assert a["recorder_after_gbit"] == pytest.approx(a["data_gbit"], abs=1e-9)
        # A point is imaged in an instant: the swath is the camera's line then, across it.
        assert a["footprint"]["type"] == "LineString"
        assert _distance(ITAIPU["coordinates"], a["footprint"]["coordinates"]) < 0.01
        assert get(running, "alice", f"/acquisitions/{a['id']}")["footprint"] == a["footprint"]
        # The passes are those the planner finds for the plan's interval.
        p0, p1 = (parse_instant(t, []) for t in plan["datetime"].split("/"))
        toml = tmp_path / "passes.toml"
        toml.write_text(f"start = {interval_text(p0, p1).split('/')[0][:-1]}\n"
                        f"end = {interval_text(p0, p1).split('/')[1][:-1]}\n"
                        f'utc_offset_hours = 0\nstep_s = 1.0\n'
                        f'earth_orientation = "{conftest.EOP}"\n'
                        'targets = "t.csv"\noutput = "out"\n' + sats)
        (tmp_path / "t.csv").write_text("id,name,lon,lat\nP,P,0,0\n")
        want = orvus.passes(toml)
        got = plan["passes"]
        assert len(got) == len(want) > 4
        for g, (_, w) in zip(got, want.iterrows()):
            aos, los = (parse_instant(t, []) for t in g["datetime"].split("/"))
            assert (g["platform"], g["station"]) == (w["satellite"], w["station"])
            assert aos == w["aos_utc"].value // 1_000_000 and los == w["los_utc"].value // 1_000_000
            assert g["max_elevation_deg"] == pytest.approx(w["max_elevation_deg"], abs=1e-4)
    finally:
        running.close()


def test_an_opportunity_ordered_by_its_own_link_is_accepted_and_scheduled(sqlite_service):
    # A point is seen in an instant: the opportunity's window, which its create-order link
    # orders, starts and ends at once.
    s = sqlite_service
    r = s.client.post("/products/optical/opportunities", headers=s.auth("alice"),
                      json={"datetime": f"{NOW}/..", "geometry": ITAIPU})
    doc = r.json()
    first = doc["features"][0]
    start, end = first["properties"]["datetime"].split("/")
    assert start == end
    link = first["links"][0]
    body = dict(next(x for x in doc["links"] if x["rel"] == "create-order")["body"], **link["body"])
    o = create(s, "alice", body)
    assert o["status"]["status_code"] == "accepted"
    assert o["status"]["reason_text"] == "1 opportunity in the interval"
    replan(s)
    acq = get(s, "alice", get(s, "alice", f"/orders/{o['id']}")["status"]["links"][0]["href"])
    assert acq["platform"] == first["properties"]["platform"]
