"""The HTTP service: STAPI's endpoints over the planner and the store.

Handlers are coroutines that parse and check the request on the event loop, then run the
planner on a bounded pool of threads (Service.planner_pool) and the database on Starlette's
thread pool, so that the loop itself never waits for either."""

import asyncio
import base64
import binascii
import json
import logging
import os
import threading
import time
import uuid

import sqlalchemy as sa
from fastapi import FastAPI, Request
from fastapi.exceptions import RequestValidationError
from fastapi.responses import HTMLResponse, JSONResponse, Response
from starlette.concurrency import run_in_threadpool
from starlette.exceptions import HTTPException as StarletteHTTPException

from . import console_page, documents, life
from .cql2 import compile_filter
from .inputs import (ApiError, check_fields, format_ms, geometry_bbox, interval_text,
                     parse_geometry, parse_interval, parse_json_object, parse_order_parameters)
from .planning import GeometryError, PlannerUnavailable
from .replan import Replanner, ReplanBusy
from .store import Conflict

log = logging.getLogger("orvus.serve")

MAX_BODY = 1_000_000  # bytes
CONTACT_MARGIN_MS = 60_000  # how far beyond an order's interval its check sweeps
STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")
GEOJSON = "application/geo+json"


class Clock:
    """The service's time in ms since 1970: the system clock, or one that starts at `start_ms`
    (--now) and runs on from there. Tests may set it."""

    def __init__(self, start_ms=None):
        self._base = start_ms
        self._t0 = time.monotonic()

    def now_ms(self):
        if self._base is None:
            return int(time.time() * 1000)
        return self._base + int((time.monotonic() - self._t0) * 1000)

    def set(self, ms):
        self._base = ms
        self._t0 = time.monotonic()


class SearchSlots:
    """At most `limit` searches at once per key."""

    def __init__(self, limit):
        self.limit = limit
        self._busy = {}
        self._lock = threading.Lock()

    def take(self, key_id):
        with self._lock:
            if self._busy.get(key_id, 0) >= self.limit:
                raise ApiError(429, ["header", "Authorization"],
                               f"at most {self.limit} searches run at once for one key; retry "
                               "when one has ended", "too_many_requests",
                               {"Retry-After": "1"})
            self._busy[key_id] = self._busy.get(key_id, 0) + 1

    def give(self, key_id):
        with self._lock:
            self._busy[key_id] -= 1


class Service:
    """What the handlers share: configuration, store, planner, clock and the pools."""

    def __init__(self, config, store, planner, clock):
        self.config = config
        self.store = store
        self.planner = planner
        self.clock = clock
        self.slots = SearchSlots(config.searches_per_key)
        self.planner_pool = None  # made when the app starts (one per event loop)
        self.replans = None
        self.cadence = None

    @property
    def horizon_ms(self):
        return int(round(self.config.horizon_s * 1000))

    async def plan(self, fn, *args):
        return await asyncio.wrap_future(self.planner_pool.submit(fn, *args))


# ---- requests ----

async def read_body(request):
    """The request's body, refused with 413 past MAX_BODY bytes (by its Content-Length or as
    it arrives)."""
    length = request.headers.get("content-length")
    if length is not None:
        if not length.isdigit():
            raise ApiError(400, ["header", "Content-Length"], "not a number of bytes")
        if int(length) > MAX_BODY:
            raise ApiError(413, ["body"], f"the body is larger than {MAX_BODY} bytes",
                           "payload_too_large")
    chunks, size = [], 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > MAX_BODY:
            raise ApiError(413, ["body"], f"the body is larger than {MAX_BODY} bytes",
                           "payload_too_large")
        chunks.append(chunk)
    return b"".join(chunks)


async def principal(service, request):
    """The holder of the request's API key (Authorization: Bearer KEY); 401 without a valid
    one."""
    header = request.headers.get("authorization", "")
    scheme, _, key = header.partition(" ")
    if scheme.lower() != "bearer" or not key.strip():
        raise ApiError(401, ["header", "Authorization"], "an API key is needed "
                       "(Authorization: Bearer KEY)", "unauthorized",
                       {"WWW-Authenticate": "Bearer"})
    who = await run_in_threadpool(service.store.authenticate, key.strip())
    if who is None:
        raise ApiError(401, ["header", "Authorization"], "the API key is not valid (unknown or "
                       "revoked)", "unauthorized", {"WWW-Authenticate": "Bearer"})
    return who


def product_of(service, product_id):
    p = service.config.product(product_id)
    if p is None:
        raise ApiError(404, ["path", "productId"], f"no product {product_id[:100]!r}",
                       "not_found")
    return p


def page_limit(request, default=10, most=100):
    text = request.query_params.get("limit")
    if text is None:
        return default
    if not text.isdigit() or not 1 <= int(text) <= most:
        raise ApiError(422, ["query", "limit"], f"limit is a whole number from 1 to {most}")
    return int(text)


def _whole(v):
    """A whole number a database column holds (64-bit)."""
    return isinstance(v, int) and not isinstance(v, bool) and abs(v) < 2**62


def encode_token(value):
    return base64.urlsafe_b64encode(json.dumps(value).encode()).decode().rstrip("=")


def decode_token(request, check):
    """The page token of ?next=, as check() accepts it; None without one."""
    text = request.query_params.get("next")
    if text is None:
        return None
    try:
        value = json.loads(base64.urlsafe_b64decode(text + "=" * (-len(text) % 4)))
        if check(value):
            return value
    except (ValueError, binascii.Error, UnicodeDecodeError, RecursionError):
        pass
    raise ApiError(422, ["query", "next"], "not a page token of this list")


def search_window(service, start_ms, end_ms, now_ms):
    """The part of [start, end] the planner may search: from now to the horizon's end."""
    return max(start_ms, now_ms), min(end_ms, now_ms + service.horizon_ms)


def planner_error(e):
    if isinstance(e, GeometryError):
        return ApiError(422, ["body", "geometry"], f"the planner refuses the geometry: "
                        f"{e.reason}")
    text = str(e)
    if "EARTH-ORIENTATION" in text:
        return ApiError(422, ["body", "datetime"], f"the planner cannot serve the interval: "
                        f"{text}")
    return ApiError(503, ["planner"], f"the planner cannot serve the request: {text}",
                    "service_unavailable")


async def find(service, who, product, geometry, start_ms, end_ms, filter_):
    """The opportunities of a search, on the planner's pool, within the key's share."""
    service.slots.take(who.id)
    try:
        return await service.plan(service.planner.opportunities, product, geometry, start_ms,
                                  end_ms, filter_)
    except (GeometryError, PlannerUnavailable) as e:
        raise planner_error(e) from None
    finally:
        service.slots.give(who.id)


async def count_within(service, who, product, geometry, start_ms, end_ms, filter_):
    """How many opportunities lie wholly within [start, end], as a replan takes them for an
    order. The planner sweeps a minute beyond either end, so that an interval as short as an
    opportunity's own window (an instant, for a point) still finds that opportunity."""
    found = await find(service, who, product, geometry, start_ms - CONTACT_MARGIN_MS,
                       end_ms + CONTACT_MARGIN_MS, filter_)
    return sum(1 for o in found if start_ms <= o.start_ms and o.end_ms <= end_ms)


def parse_request(service, product, body, now_ms, allowed, required):
    """The checked parts of a search or order body: (start, end, geometry, filter)."""
    check_fields(body, allowed, required)
    start, end = parse_interval(body["datetime"], now_ms, service.config.horizon_s)
    geometry = parse_geometry(body["geometry"])
    lang = body.get("filter-lang", "cql2-json")
    if lang != "cql2-json":
        raise ApiError(422, ["body", "filter-lang"], "the filter language is cql2-json")
    filter_ = compile_filter(body.get("filter"))
    return start, end, geometry, filter_


# ---- documents of orders ----

def status_document(row):
    return {"timestamp": format_ms(row["timestamp_ms"]), "status_code": row["status_code"],
            "reason_code": row["reason_code"], "reason_text": row["reason_text"],
            "links": json.loads(row["links"])}


def order_document(row):
    status = status_document({"timestamp_ms": row["status_ms"],
                              "status_code": row["status_code"],
                              "reason_code": row["reason_code"],
                              "reason_text": row["reason_text"],
                              "links": row["status_links"]})
    geometry = json.loads(row["geometry"])
    created = format_ms(row["created_ms"])
    window = interval_text(row["start_ms"], row["end_ms"])
    search = {"datetime": window, "geometry": geometry,
              "filter": json.loads(row["filter"]) if row["filter"] else None}
    return {
        "type": "Feature",
        "stapi_type": "Order",
        "stapi_version": documents.STAPI_VERSION,
        "id": row["id"],
        "user": row["owner"],
        "created": created,
        "product_id": row["product_id"],
        "status": status,
        "geometry": geometry,
        "bbox": geometry_bbox(geometry),
        "properties": {
            "product_id": row["product_id"],
            "created": created,
            "status": status,
            "search_parameters": search,
            "opportunity_properties": {"datetime": window, "product_id": row["product_id"]},
            "order_parameters": json.loads(row["order_parameters"]),
        },
        "links": [
            documents.link("self", f"/orders/{row['id']}", GEOJSON, "this order"),
            documents.link("monitor", f"/orders/{row['id']}/statuses", title="its statuses"),
            documents.link("product", f"/products/{row['product_id']}", title="its product"),
        ],
    }


def json_response(document, status=200, media_type="application/json", headers=None):
    return JSONResponse(document, status_code=status, media_type=media_type, headers=headers)


def create_app(service):
    app = FastAPI(title=service.config.title, description=service.config.description,
                  version=documents.STAPI_VERSION, openapi_url="/api", docs_url=None,
                  redoc_url=None)
    app.state.service = service
    s = service

    @app.on_event("startup")
    async def start():
        from concurrent.futures import ThreadPoolExecutor
        s.planner_pool = ThreadPoolExecutor(max_workers=s.config.workers,
                                            thread_name_prefix="planner")
        s.replans = Replanner(s)
        if s.config.replan_every_s > 0:
            s.cadence = asyncio.get_running_loop().create_task(cadence())

    async def cadence():
        while True:
            await asyncio.sleep(s.config.replan_every_s)
            try:
                await run_in_threadpool(s.replans.run, "cadence")
            except ReplanBusy as e:
                log.info("replan skipped: %s", e)
            except Exception:  # the next one may succeed (a database back, a file mended)
                log.exception("replan failed")

    @app.on_event("shutdown")
    async def stop():
        if s.cadence is not None:
            s.cadence.cancel()
        if s.planner_pool is not None:
            s.planner_pool.shutdown(wait=True)

    # ---- errors: every one a JSON body naming the field and the reason ----

    @app.exception_handler(ApiError)
    async def api_error(request, e):
        return JSONResponse(e.body(), status_code=e.status, headers=e.headers)

    @app.exception_handler(RequestValidationError)
    async def validation_error(request, e):
        return JSONResponse({"detail": [{"loc": list(d.get("loc", ())), "msg": d.get("msg", ""),
                                         "type": d.get("type", "value_error")}
                                        for d in e.errors()]}, status_code=422)

    @app.exception_handler(StarletteHTTPException)
    async def http_error(request, e):
        where = ["path"] if e.status_code == 404 else ["method"]
        kind = "not_found" if e.status_code == 404 else "http_error"
        return JSONResponse({"detail": [{"loc": where, "msg": str(e.detail), "type": kind}]},
                            status_code=e.status_code, headers=getattr(e, "headers", None))

    @app.exception_handler(sa.exc.DBAPIError)
    async def database_error(request, e):
        log.warning("database error: %s", e.orig if hasattr(e, "orig") else e)
        reason = str(getattr(e, "orig", e)).strip().split("\n")[0]
        return JSONResponse({"detail": [{"loc": ["database"], "msg": "the database cannot be "
                                         f"used now ({reason}); nothing was changed, retry "
                                         "later", "type": "service_unavailable"}]},
                            status_code=503, headers={"Retry-After": "5"})

    @app.exception_handler(Exception)
    async def unexpected(request, e):
        log.exception("unexpected error on %s %s", request.method, request.url.path)
        return JSONResponse({"detail": [{"loc": [], "msg": "an unexpected error; it is "
                                         "logged", "type": "internal_error"}]}, status_code=500)

    # ---- the service and its products (no key needed) ----

    @app.get("/", summary="landing page", tags=["Core"])
    async def landing():
        return json_response(documents.landing(s.config))

    @app.get("/conformance", summary="conformance classes", tags=["Core"])
    async def conformance():
        return json_response(documents.conformance())

    @app.get("/products", summary="the products", tags=["Products"])
    async def products():
        return json_response(documents.products(s.config))

    @app.get("/products/{productId}", summary="one product", tags=["Products"])
    async def product(productId: str):
        return json_response(documents.product(s.config, product_of(s, productId)))

    @app.get("/products/{productId}/queryables", summary="a product's queryables",
             tags=["Products"])
    async def queryables(productId: str):
        return json_response(documents.queryables(product_of(s, productId)),
                             media_type="application/schema+json")

    @app.get("/products/{productId}/order-parameters", summary="a product's order parameters",
             tags=["Products"])
    async def order_parameters(productId: str):
        return json_response(documents.order_parameters(product_of(s, productId)),
                             media_type="application/schema+json")

    @app.get("/api.html", include_in_schema=False)
    async def api_page():
        return HTMLResponse(API_PAGE)

    @app.get("/api.html/{asset}", include_in_schema=False)
    async def api_asset(asset: str):
        kinds = {"swagger-ui.css": "text/css", "swagger-ui-bundle.js": "text/javascript"}
        if asset not in kinds:
            raise ApiError(404, ["path"], "no such asset", "not_found")
        try:
            with open(os.path.join(STATIC, asset), "rb") as f:
                data = f.read()
        except OSError:
            raise ApiError(404, ["path"], "the page's assets are not installed (run "
                           "scripts/bootstrap, then build)", "not_found") from None
        return Response(data, media_type=kinds[asset],
                        headers={"Cache-Control": "public, max-age=86400"})

    # ---- opportunities ----

    @app.post("/products/{productId}/opportunities", summary="search opportunities",
              tags=["Opportunities"], openapi_extra=_body_doc("OpportunityRequest"))
    async def opportunities(productId: str, request: Request):
        p = product_of(s, productId)
        who = await principal(s, request)
        body = parse_json_object(await read_body(request))
        now = s.clock.now_ms()
        start, end, geometry, filter_ = parse_request(
            s, p, body, now, ("datetime", "geometry", "filter", "filter-lang", "limit", "next"),
            ("datetime", "geometry"))
        limit = body.get("limit")
        if limit is not None and (isinstance(limit, bool) or not isinstance(limit, int) or
                                  not 1 <= limit <= 10_000):
            raise ApiError(422, ["body", "limit"], "limit is a whole number from 1 to 10000")
        offset = body.get("next")
        if offset is not None and (not isinstance(offset, str) or not offset.isdigit()):
            raise ApiError(422, ["body", "next"], "not a page token of this search")
        offset = int(offset or 0)
        start, end = search_window(s, start, end, now)
        if start > end:
            raise ApiError(422, ["body", "datetime"], "the interval lies wholly in the past "
                           "or beyond the planning horizon")
        found = await find(s, who, p, geometry, start, end, filter_)
        request_body = {"datetime": interval_text(start, end), "geometry": geometry,
                        "filter": body.get("filter")}
        page = found[offset:offset + limit] if limit else found[offset:]
        doc = documents.opportunity_collection(page, p.id, request_body)
        if limit and offset + limit < len(found):
            doc["links"].append(documents.link(
                "next", f"/products/{p.id}/opportunities", GEOJSON, "next page",
                method="POST", merge=True, body={"next": str(offset + limit)}))
        return json_response(doc, media_type=GEOJSON)

    # ---- orders ----

    @app.post("/products/{productId}/orders", summary="order", tags=["Orders"],
              status_code=201, openapi_extra=_body_doc("OrderRequest"))
    async def create_order(productId: str, request: Request):
        p = product_of(s, productId)
        who = await principal(s, request)
        body = parse_json_object(await read_body(request))
        now = s.clock.now_ms()
        start, end, geometry, filter_ = parse_request(
            s, p, body, now, ("datetime", "geometry", "filter", "filter-lang",
                              "order_parameters"), ("datetime", "geometry"))
        params = parse_order_parameters(body.get("order_parameters"), p)
        horizon_end = now + s.horizon_ms
        found = None
        a, b = search_window(s, start, end, now)
        if end > now and start < horizon_end and a <= b:
            found = await count_within(s, who, p, geometry, a, b, filter_)
        statuses = life.creation(now, start, end, horizon_end, found)
        order = {"id": str(uuid.uuid4()), "owner_id": who.id, "product_id": p.id,
                 "created_ms": now, "start_ms": start, "end_ms": end,
                 "geometry": json.dumps(geometry),
                 "filter": json.dumps(body["filter"]) if body.get("filter") is not None
                 else None,
                 "order_parameters": json.dumps(params), "priority": params["priority"]}
        await run_in_threadpool(s.store.create_order, order, statuses)
        row = await run_in_threadpool(s.store.get_order, order["id"], who)
        return json_response(order_document(row), 201, GEOJSON,
                             {"Location": f"/orders/{order['id']}"})

    async def list_orders(request, product_id=None):
        who = await principal(s, request)
        limit = page_limit(request)
        after = decode_token(request, lambda v: isinstance(v, list) and len(v) == 2 and
                             _whole(v[0]) and isinstance(v[1], str) and len(v[1]) <= 36)
        rows, more = await run_in_threadpool(s.store.list_orders, who, limit, after, product_id)
        base = f"/products/{product_id}/orders" if product_id else "/orders"
        links = [documents.link("self", base, GEOJSON, "orders")]
        if more:
            token = encode_token([rows[-1]["created_ms"], rows[-1]["id"]])
            links.append(documents.link("next", f"{base}?limit={limit}&next={token}", GEOJSON,
                                        "next page"))
        return json_response({"type": "FeatureCollection",
                              "features": [order_document(r) for r in rows], "links": links},
                             media_type=GEOJSON)

    @app.get("/orders", summary="orders", tags=["Orders"])
    async def orders(request: Request):
        return await list_orders(request)

    @app.get("/products/{productId}/orders", summary="a product's orders", tags=["Orders"])
    async def product_orders(productId: str, request: Request):
        return await list_orders(request, product_of(s, productId).id)

    async def visible_order(request, order_id):
        who = await principal(s, request)
        row = await run_in_threadpool(s.store.get_order, order_id, who)
        if row is None:
            raise ApiError(404, ["path", "orderId"], f"no order {order_id[:64]!r}", "not_found")
        return who, row

    @app.get("/orders/{orderId}", summary="one order", tags=["Orders"])
    async def order(orderId: str, request: Request):
        _, row = await visible_order(request, orderId)
        return json_response(order_document(row), media_type=GEOJSON)

    @app.get("/orders/{orderId}/statuses", summary="an order's statuses", tags=["Orders"])
    async def statuses(orderId: str, request: Request):
        _, row = await visible_order(request, orderId)
        limit = page_limit(request)
        after = decode_token(request, _whole)
        rows, more = await run_in_threadpool(s.store.statuses, orderId, limit, after)
        base = f"/orders/{orderId}/statuses"
        links = [documents.link("self", base, title="statuses"),
                 documents.link("order", f"/orders/{orderId}", GEOJSON, "the order")]
        if more:
            links.append(documents.link("next", f"{base}?limit={limit}&next="
                                        f"{encode_token(rows[-1]['id'])}", title="next page"))
        return json_response({"statuses": [status_document(r) for r in rows], "links": links})

    @app.post("/orders/{orderId}/statuses", summary="cancel an order or report its outcome",
              tags=["Orders"], status_code=201, openapi_extra=_body_doc("StatusRequest"))
    async def new_status(orderId: str, request: Request):
        who, row = await visible_order(request, orderId)
        body = parse_json_object(await read_body(request))
        check_fields(body, ("status_code", "reason_code", "reason_text"), ("status_code",))
        code = body["status_code"]
        for key in ("reason_code", "reason_text"):
            value = body.get(key)
            if value is not None and (not isinstance(value, str) or len(value) > 2000):
                raise ApiError(422, ["body", key], "a text of at most 2000 characters")
        if code == "user_cancelled":
            def decide(order):
                return life.cancel(order, s.clock.now_ms())
        elif code in life.OUTCOMES:
            if not who.operator:
                raise ApiError(403, ["body", "status_code"], "only an operator reports an "
                               "acquisition's outcome", "forbidden")
            retry = 0
            if code == "failed" and row["status_code"] == "scheduled":
                p = s.config.product(row["product_id"])
                now = s.clock.now_ms()
                a, b = search_window(s, row["start_ms"], row["end_ms"], now)
                if p is not None and a <= b:
                    geometry = json.loads(row["geometry"])
                    filter_ = compile_filter(json.loads(row["filter"]) if row["filter"]
                                             else None)
                    retry = await count_within(s, who, p, geometry, a, b, filter_)

            def decide(order):
                return life.outcome(order, code, s.clock.now_ms(), body.get("reason_code"),
                                    body.get("reason_text"), retry)
        else:
            raise ApiError(422, ["body", "status_code"], "a requester sends user_cancelled; an "
                           "operator completed or failed")
        try:
            added = await run_in_threadpool(s.store.change_status, orderId, who, decide)
        except Conflict as e:
            raise ApiError(409, ["body", "status_code"], str(e), "conflict") from None
        if added is None:
            raise ApiError(404, ["path", "orderId"], f"no order {orderId[:64]!r}", "not_found")
        return json_response({"statuses": [status_document(dict(st.row())) for st in added],
                              "links": [documents.link("monitor",
                                                       f"/orders/{orderId}/statuses")]}, 201)

    # ---- the plan (operators) ----

    def operator_only(who):
        if not who.operator:
            raise ApiError(403, ["header", "Authorization"], "only an operator may do this",
                           "forbidden")

    @app.post("/admin/replan", summary="replan now (operators)", tags=["Plan"])
    async def replan(request: Request):
        operator_only(await principal(s, request))
        try:
            done = await run_in_threadpool(s.replans.run, "operator")
        except ReplanBusy as e:
            raise ApiError(409, ["plan"], f"{e}; retry when it has ended", "conflict") from None
        except PlannerUnavailable as e:
            raise ApiError(503, ["planner"], f"the planner cannot replan: {e}",
                           "service_unavailable") from None
        return json_response(done)

    @app.get("/plan", summary="the current plan (operators)", tags=["Plan"])
    async def current_plan(request: Request):
        operator_only(await principal(s, request))
        plan = await run_in_threadpool(s.store.current_plan)
        # What the satellites and stations can hold and send (the recorder's scale).
        fleet = {"satellites": [{"name": x["name"], "recorder_gbit": x.get("recorder_gbit"),
                                 "imaging_gbit_s": x.get("imaging_gbit_s")}
                                for x in s.config.satellites],
                 "stations": [{"name": x["name"], "downlink_gbit_s": x.get("downlink_gbit_s")}
                              for x in s.config.stations]}
        if plan is None:
            return json_response({"generation": 0, "acquisitions": [], "passes": [], **fleet,
                                  "links": []})
        return json_response({
            "generation": plan["generation"], "created": format_ms(plan["created_ms"]),
            "datetime": interval_text(plan["start_ms"], plan["end_ms"]),
            "trigger": plan["trigger"], "schedule": json.loads(plan["summary"]),
            "acquisitions": [dict(acquisition_document(dict(a, generation=plan["generation"])),
                                  order_status=a["order_status"])
                             for a in plan["acquisitions"]],
            "passes": [{"platform": p["satellite"], "station": p["station"],
                        "datetime": interval_text(p["aos_ms"], p["los_ms"]),
                        "max_elevation_deg": p["max_elevation_deg"]} for p in plan["passes"]],
            **fleet})

    @app.get("/whoami", summary="the key's holder and the service's clock", tags=["Core"])
    async def whoami(request: Request):
        who = await principal(s, request)
        return json_response({"name": who.name, "operator": who.operator,
                              "now": format_ms(s.clock.now_ms()),
                              "horizon_s": s.config.horizon_s})

    @app.get("/acquisitions/{acquisitionId}", summary="a planned acquisition", tags=["Plan"])
    async def acquisition(acquisitionId: str, request: Request):
        who = await principal(s, request)
        row = None
        if acquisitionId.isdigit() and len(acquisitionId) < 12:
            row = await run_in_threadpool(s.store.acquisition, int(acquisitionId), who)
        if row is None:
            raise ApiError(404, ["path", "acquisitionId"], "no such acquisition (or one of a "
                           "plan no longer kept)", "not_found")
        return json_response(acquisition_document(row))

    console_page.add_routes(app)
    return app


def acquisition_document(a):
    return {"id": str(a["id"]), "order_id": a["order_id"], "plan_generation": a["generation"],
            "datetime": interval_text(a["start_ms"], a["end_ms"]), "platform": a["satellite"],
            "norad_id": a["norad_id"], "roll_deg": a["roll_deg"],
            "sun_elevation_deg": a["sun_elevation_deg"], "downlink_station": a["station"],
            "downlink_start": format_ms(a["downlink_start_ms"])
            if a["downlink_start_ms"] is not None else None,
            "data_gbit": a["data_gbit"], "recorder_after_gbit": a["recorder_after_gbit"],
            "footprint": json.loads(a["footprint"]) if a["footprint"] else None,
            "links": [documents.link("order", f"/orders/{a['order_id']}", GEOJSON, "its order")]}


def _body_doc(name):
    """The OpenAPI description of a JSON request body (the handlers read and check it
    themselves, to name each bad field)."""
    schemas = {
        "OpportunityRequest": {
            "type": "object", "required": ["datetime", "geometry"],
            "properties": {
                "datetime": {"oneOf": [
                    {"type": "string", "description": "start/end, RFC 3339; one end may be "
                                                      "'..' or empty"},
                    {"type": "array", "minItems": 2, "maxItems": 2,
                     "items": {"type": "string", "format": "date-time", "nullable": True}}]},
                "geometry": {"type": "object", "description": "a GeoJSON Point, MultiPoint, "
                             "LineString, MultiLineString, Polygon or MultiPolygon"},
                "filter": {"type": "object", "description": "CQL2-JSON over the queryables"},
                "limit": {"type": "integer"}, "next": {"type": "string"}}},
        "OrderRequest": {
            "type": "object", "required": ["datetime", "geometry"],
            "properties": {
                "datetime": {"type": "string"},
                "geometry": {"type": "object"},
                "filter": {"type": "object"},
                "order_parameters": {"type": "object",
                                     "properties": {"priority": {"type": "number"}}}}},
        "StatusRequest": {
            "type": "object", "required": ["status_code"],
            "properties": {
                "status_code": {"type": "string",
                                "enum": ["user_cancelled", "completed", "failed"]},
                "reason_code": {"type": "string"}, "reason_text": {"type": "string"}}},
    }
    return {"requestBody": {"required": True, "content": {"application/json": {
        "schema": schemas[name]}}}}


API_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>ORVUS tasking service: API</title>
<link rel="stylesheet" href="/api.html/swagger-ui.css">
</head>
<body>
<div id="api"></div>
<script src="/api.html/swagger-ui-bundle.js"></script>
<script>
window.ui = SwaggerUIBundle({url: "/api", dom_id: "#api", deepLinking: true, validatorUrl: null});
</script>
</body>
</html>
"""
