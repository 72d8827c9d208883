"""Thousands of random and mutated requests to every endpoint: no 5xx, and every refusal a
JSON body naming the field and the reason. ORVUS_FUZZ_REQUESTS sets how many (default
2000); the seed is fixed, so a failure repeats."""

import json
import os
import random

import stapi_schemas as stapi
from conftest import BRASILIA, NOW

REQUESTS = int(os.environ.get("ORVUS_FUZZ_REQUESTS", "2000"))
# A short interval keeps the planner's share of the run small.
WINDOW = f"{NOW}/2025-07-29T14:00:00Z"
SEEDS = {
    "search": {"datetime": WINDOW, "geometry": BRASILIA,
               "filter": {"op": "and", "args": [
                   {"op": "<=", "args": [{"property": "view:off_nadir"}, 25]},
                   {"op": "=", "args": [{"property": "sat:orbit_state"}, "descending"]}]},
               "limit": 5},
    "order": {"datetime": [NOW, "2025-07-29T14:00:00Z"],
              "geometry": {"type": "MultiPolygon", "coordinates": [BRASILIA["coordinates"]]},
              "filter": {"op": "between", "args": [{"property": "view:sun_elevation"}, 0, 90]},
              "order_parameters": {"priority": 2}},
    "status": {"status_code": "user_cancelled", "reason_code": "x", "reason_text": "y"},
}


def random_value(rng, depth=0):
    kinds = ["null", "bool", "int", "float", "str", "list", "dict", "geo", "time", "cql"]
    kind = rng.choice(kinds if depth < 3 else kinds[:5])
    if kind == "null":
        return None
    if kind == "bool":
        return rng.random() < 0.5
    if kind == "int":
        return rng.choice([0, -1, 1, 2**31, -2**63, 10**30, rng.randint(-1000, 1000)])
    if kind == "float":
        return rng.choice([0.5, -0.0, 1e308, -1e-308, 180.0000001, 90.5, rng.uniform(-400, 400)])
    if kind == "str":
        return rng.choice(["", "..", "/", "x" * 3000, "2025-07-29T12:00:00Z", "../..", "\u0000",
                           "é", "Point", "ascending", "2025-13-45T25:61:61Z/..", "1/2/3",
                           "../2025-07-29T13:00:00+05:30", "view:off_nadir"])
    if kind == "list":
        return [random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    if kind == "dict":
        keys = ["type", "coordinates", "op", "args", "property", "priority", "datetime", "x"]
        return {rng.choice(keys): random_value(rng, depth + 1) for _ in range(rng.randint(0, 3))}
    if kind == "geo":
        t = rng.choice(["Point", "MultiPoint", "LineString", "MultiLineString", "Polygon",
                        "MultiPolygon", "GeometryCollection", "Feature"])
        return {"type": t, "coordinates": random_value(rng, depth + 1)}
    if kind == "time":
        return rng.choice([WINDOW, [NOW, None], [None, None], [NOW], "2025-07-29/2025-07-30",
                           "2025-07-29T12:00:00.123456789Z/..", "9999-12-31T23:59:59Z/..",
                           "../9999-12-31T23:59:59-14:00", "0000-01-01T00:00:00+14:00/.."])
    ops = ["and", "or", "not", "=", "<", "<=", ">", ">=", "between", "like", None, 3]
    props = ["view:off_nadir", "view:sun_elevation", "sat:orbit_state", "orvus:duration_s", "q"]
    return {"op": rng.choice(ops),
            "args": [rng.choice([{"property": rng.choice(props)}, random_value(rng, depth + 1)])
                     for _ in range(rng.randint(0, 3))]}


def mutate(rng, value, depth=0):
    """The value with one random change somewhere inside it."""
    if isinstance(value, dict) and value and depth < 6 and rng.random() < 0.7:
        key = rng.choice(list(value))
        out = dict(value)
        roll = rng.random()
        if roll < 0.15:
            del out[key]
        elif roll < 0.25:
            out[rng.choice(["extra", "filter-lang", "next", key + "_"])] = random_value(rng)
        else:
            out[key] = mutate(rng, value[key], depth + 1)
        return out
    if isinstance(value, list) and value and depth < 6 and rng.random() < 0.7:
        out = list(value)
        i = rng.randrange(len(out))
        roll = rng.random()
        if roll < 0.15:
            del out[i]
        elif roll < 0.3:
            out.insert(i, rng.choice(out))
        else:
            out[i] = mutate(rng, out[i], depth + 1)
        return out
    return random_value(rng, depth)


def raw_mutation(rng, text):
    """The body's text cut, spliced or salted with bytes JSON does not allow."""
    data = text.encode()
    roll = rng.random()
    if roll < 0.3:
        return data[:rng.randrange(len(data) + 1)]
    if roll < 0.6:
        i = rng.randrange(len(data) + 1)
        return data[:i] + bytes(rng.randrange(256) for _ in range(rng.randint(1, 8))) + data[i:]
    if roll < 0.8:
        return text.replace("25", "NaN", 1).encode()
    return b"{" * rng.randint(1, 3000) + data


def test_no_request_gets_a_server_error(sqlite_service):
    s = sqlite_service
    rng = random.Random(20250729)
    c = s.client
    order = c.post("/products/optical/orders", json=SEEDS["order"], headers=s.auth("alice"))
    assert order.status_code == 201
    oid = order.json()["id"]
    products = ["optical", "any-pass", "nope", "..", "%00", "x" * 300]
    counts = {}
    for n in range(REQUESTS):
        who = rng.choice(["alice", "bob", "operator", None, "bad"])
        headers = {} if who is None else {"Authorization": "Bearer " + (
            s.keys[who] if who in s.keys else "orvus_0_0")}
        # Replans are few: each one runs the whole schedule.
        kind = rng.choice(["search", "order", "status", "get", "get"]) if rng.random() > 0.01 \
            else "replan"
        product = rng.choice(products) if rng.random() < 0.2 else rng.choice(products[:2])
        if kind == "get":
            path = rng.choice(["/", "/conformance", "/products", f"/products/{product}",
                               f"/products/{product}/queryables", "/orders", f"/orders/{oid}",
                               f"/orders/{oid}/statuses", "/orders/nope", "/plan",
                               f"/products/{product}/orders", "/acquisitions/1",
                               "/acquisitions/x", "/nowhere"])
            query = rng.choice(["", "?limit=2", "?limit=-1", "?next=", "?next=abc%00",
                                f"?limit={rng.randint(-5, 200)}&next=WzAsIngiXQ"])
            r = c.get(path + query, headers=headers)
        else:
            if kind == "replan":
                r = c.post("/admin/replan", headers=headers)
            else:
                path = {"search": f"/products/{product}/opportunities",
                        "order": f"/products/{product}/orders",
                        "status": f"/orders/{rng.choice([oid, 'nope'])}/statuses"}[kind]
                value = SEEDS[kind]
                for _ in range(rng.choice([0, 1, 1, 2, 3])):
                    value = mutate(rng, value)
                text = json.dumps(value)
                data = raw_mutation(rng, text) if rng.random() < 0.15 else text.encode()
                r = c.post(path, content=data, headers=headers)
        counts[(kind, r.status_code)] = counts.get((kind, r.status_code), 0) + 1
        assert r.status_code < 500, (n, kind, r.status_code, r.text[:500])
        if r.status_code >= 400:
            stapi.validate(r.json(), "HTTPValidationError")
    # The run reached the planner and the store, not only the parsers.
    assert counts.get(("search", 200), 0) > REQUESTS // 50, counts
    assert counts.get(("order", 201), 0) > REQUESTS // 100, counts
    assert sum(v for (_, code), v in counts.items() if code == 422) > REQUESTS // 10, counts
