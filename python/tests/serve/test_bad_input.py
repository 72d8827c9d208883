"""Bad input gets a 4xx naming the field and the reason, never a 500; searches beyond a key's
share get 429."""

import json
import threading
import time

import httpx
import pytest
import stapi_schemas as stapi
import uvicorn
from conftest import BRASILIA, NOW

SEARCH = "/products/optical/opportunities"
ORDER = "/products/optical/orders"
BOWTIE = {"type": "Polygon", "coordinates": [[[-48.3, -16.1], [-47.8, -15.6], [-47.8, -16.1],
                                              [-48.3, -15.6], [-48.3, -16.1]]]}
HOLE_OUTSIDE = {"type": "Polygon", "coordinates": [
    BRASILIA["coordinates"][0], [[-40, -10], [-39, -10], [-39, -9], [-40, -9], [-40, -10]]]}


def body(**changes):
    out = {"datetime": f"{NOW}/..", "geometry": BRASILIA}
    out.update(changes)
    return {k: v for k, v in out.items() if v is not None}


# (path, body (JSON or bytes), status, the field's path, words of the reason)
CASES = [
    (SEARCH, b'{"datetime": "x",', 400, ["body"], "malformed JSON"),
    (SEARCH, b"\xff\xfe", 400, ["body"], "not UTF-8"),
    (SEARCH, b'{"datetime": NaN}', 400, ["body"], "NaN"),
    (SEARCH, b"[" * 100_000 + b"]" * 100_000, 400, ["body"], "nested too deeply"),
    (SEARCH, [1, 2], 422, ["body"], "object"),
    (SEARCH, {"geometry": BRASILIA}, 422, ["body", "datetime"], "required"),
    (SEARCH, body(colour="red"), 422, ["body", "colour"], "unknown field"),
    (SEARCH, body(datetime=5), 422, ["body", "datetime"], "start/end"),
    (SEARCH, body(datetime="../.."), 422, ["body", "datetime"], "open at both ends"),
    (SEARCH, body(datetime=["", None]), 422, ["body", "datetime"], "open at both ends"),
    (SEARCH, body(datetime=f"{NOW}/2025-08-09T00:00:00Z"), 422, ["body", "datetime"],
     "longer than the planning horizon"),
    (ORDER, body(datetime="../2999-12-31T23:00:00Z"), 422, ["body", "datetime"],
     "longer than the planning horizon"),
    (ORDER, body(datetime="../9999-12-31T23:59:59-14:00"), 422, ["body", "datetime"],
     "outside the years 1900 to 2999"),
    (SEARCH, body(datetime="2025-08-01T00:00:00Z/2025-07-30T00:00:00Z"), 422,
     ["body", "datetime"], "start lies after"),
    (SEARCH, body(datetime="2025-07-30T00:00:00/.."), 422, ["body", "datetime"], "RFC 3339"),
    (SEARCH, body(datetime=["2025-02-30T00:00:00Z", None]), 422, ["body", "datetime", 0],
     "not a possible date-time"),
    (SEARCH, body(datetime="2025-07-20T00:00:00Z/2025-07-21T00:00:00Z"), 422,
     ["body", "datetime"], "wholly in the past"),
    (SEARCH, body(geometry="Brasilia"), 422, ["body", "geometry"], "GeoJSON geometry"),
    (SEARCH, body(geometry={"type": "GeometryCollection", "geometries": []}), 422,
     ["body", "geometry", "type"], "not one the planner reads"),
    (SEARCH, body(geometry={"type": "Point", "coordinates": [-47.9, "x"]}), 422,
     ["body", "geometry", "coordinates", 1], "finite number"),
    (SEARCH, body(geometry={"type": "Point", "coordinates": [-47.9, 91]}), 422,
     ["body", "geometry", "coordinates", 1], "latitude"),
    (SEARCH, body(geometry={"type": "Polygon", "coordinates": [[[0, 0], [1, 0], [0, 0]]]}), 422,
     ["body", "geometry", "coordinates", 0], "four positions"),
    (SEARCH, body(geometry={"type": "LineString", "coordinates": [[0, 0]]}), 422,
     ["body", "geometry", "coordinates"], "two positions"),
    (SEARCH, body(geometry=BOWTIE), 422, ["body", "geometry"], "A RING CROSSES ITSELF"),
    (SEARCH, body(geometry=HOLE_OUTSIDE), 422, ["body", "geometry"],
     "A HOLE LIES OUTSIDE ITS OUTER RING"),
    (SEARCH, body(filter="view:off_nadir < 5"), 422, ["body", "filter"], "CQL2-JSON"),
    (SEARCH, body(filter={"op": "<", "args": [{"property": "eo:cloud_cover"}, 5]}), 422,
     ["body", "filter", "args", 0, "property"], "unknown queryable"),
    (SEARCH, body(filter={"op": "like", "args": [{"property": "view:off_nadir"}, 5]}), 422,
     ["body", "filter", "op"], "unknown operator"),
    (SEARCH, body(filter={"op": "<", "args": [{"property": "view:off_nadir"}, "5"]}), 422,
     ["body", "filter", "args", 1], "numbers"),
    (SEARCH, body(filter={"op": "<", "args": [{"property": "sat:orbit_state"}, "ascending"]}),
     422, ["body", "filter", "op"], "takes \"=\" only"),
    (SEARCH, body(filter={"op": "and", "args": [{"op": "not", "args": []}, True]}), 422,
     ["body", "filter", "args", 0, "args"], "one argument"),
    (SEARCH, body(limit=0), 422, ["body", "limit"], "whole number"),
    ("/products/nope/opportunities", body(), 404, ["path", "productId"], "no product"),
    (ORDER, body(order_parameters={"priority": "high"}), 422,
     ["body", "order_parameters", "priority"], "a number"),
    (ORDER, body(order_parameters={"priority": 9}), 422,
     ["body", "order_parameters", "priority"], "between 1 and 5"),
    (ORDER, body(order_parameters={"colour": 1}), 422, ["body", "order_parameters", "colour"],
     "unknown order parameter"),
    ("/products/nope/orders", body(), 404, ["path", "productId"], "no product"),
]


@pytest.mark.parametrize("path,content,status,loc,words", CASES,
                         ids=[f"{c[3][-1]}-{c[4][:24]}" for c in CASES])
def test_bad_input_is_named(sqlite_service, path, content, status, loc, words):
    data = content if isinstance(content, bytes) else json.dumps(content).encode()
    r = sqlite_service.client.post(path, content=data, headers=sqlite_service.auth("alice"))
    assert r.status_code == status, r.text
    stapi.validate(r.json(), "HTTPValidationError")
    detail = r.json()["detail"][0]
    assert detail["loc"] == loc
    assert words in detail["msg"]


def test_too_many_positions_and_too_large_bodies(sqlite_service):
    c, headers = sqlite_service.client, sqlite_service.auth("alice")
    many = {"type": "MultiPoint", "coordinates": [[0, 0]] * 100_001}
    r = c.post(SEARCH, json=body(geometry=many), headers=headers)
    assert r.status_code == 422 and "more than 100000 positions" in r.json()["detail"][0]["msg"]
    big = json.dumps(body(geometry={"type": "MultiPoint",
                                    "coordinates": [[-47.9, -15.8]] * 90_000})).encode()
    assert len(big) > 1_000_000
    r = c.post(SEARCH, content=big, headers=headers)
    assert r.status_code == 413 and r.json()["detail"][0]["loc"] == ["body"]
    # Sent in chunks, without a length: refused as it arrives.
    r = c.post(SEARCH, content=(big[i:i + 65536] for i in range(0, len(big), 65536)),
               headers=headers)
    assert r.status_code == 413


def test_a_key_runs_a_few_searches_at_once(sqlite_service):
    """Searches held in the planner: the key's fourth at once is 429, another key's passes,
    and the event loop answers meanwhile."""
    s = sqlite_service
    release = threading.Event()
    entered = threading.Semaphore(0)
    real = s.planner.opportunities

    def held(*args):
        entered.release()
        release.wait(30)
        return real(*args)

    s.planner.opportunities = held
    server = uvicorn.Server(uvicorn.Config(s.app, host="127.0.0.1", port=0, log_level="error"))
    thread = threading.Thread(target=server.run, daemon=True)
    thread.start()
    while not server.started:
        thread.join(0.05)
    port = server.servers[0].sockets[0].getsockname()[1]
    url = f"http://127.0.0.1:{port}"
    results = []

    def post(who):
        with httpx.Client(timeout=60) as client:
            results.append((who, client.post(url + SEARCH, json=body(),
                                             headers=s.auth(who)).status_code))

    try:
        held_threads = [threading.Thread(target=post, args=("alice",)) for _ in range(3)]
        for t in held_threads:
            t.start()
        for _ in range(2):  # two workers: two searches in the planner, one queued
            assert entered.acquire(timeout=30)
        # The queued one holds its slot too before the fourth is sent (a loaded machine may
        # deliver it late).
        deadline = time.monotonic() + 30
        while sum(s.service.slots._busy.values()) < 3 and time.monotonic() < deadline:
            time.sleep(0.01)
        with httpx.Client(timeout=60) as client:
            r = client.post(url + SEARCH, json=body(), headers=s.auth("alice"))
            assert r.status_code == 429 and r.headers["retry-after"] == "1"
            assert r.json()["detail"][0]["loc"] == ["header", "Authorization"]
            assert client.get(url + "/").status_code == 200  # the loop is not blocked
        bob = threading.Thread(target=post, args=("bob",))
        bob.start()
        release.set()
        for t in held_threads + [bob]:
            t.join(60)
        assert sorted(results) == [("alice", 200)] * 3 + [("bob", 200)]
    finally:
        release.set()
        server.should_exit = True
        thread.join(30)
