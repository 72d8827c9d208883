"""What a request carries, checked: JSON bodies, time intervals, GeoJSON geometries and order
parameters. A bad value raises ApiError naming the field (its path in the request) and the
reason; nothing here touches the planner or the database."""

import datetime as dt
import json
import math
import re

MAX_POSITIONS = 100_000
GEOMETRY_TYPES = ("Point", "MultiPoint", "LineString", "MultiLineString", "Polygon",
                  "MultiPolygon")
# How deep the positions lie in each kind's coordinates (0: the coordinates are a position).
_DEPTH = {"Point": 0, "MultiPoint": 1, "LineString": 1, "MultiLineString": 2, "Polygon": 2,
          "MultiPolygon": 3}

UNIX_EPOCH = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)
_FIRST = dt.datetime(1900, 1, 1, tzinfo=dt.timezone.utc)
_LAST = dt.datetime(3000, 1, 1, tzinfo=dt.timezone.utc)


class ApiError(Exception):
    """A request the service refuses: HTTP status, the field's path (e.g. ("body",
    "geometry", "coordinates", 0)), the reason and a short type."""

    def __init__(self, status, loc, msg, kind="value_error", headers=None):
        super().__init__(msg)
        self.status = status
        self.loc = list(loc)
        self.msg = msg
        self.kind = kind
        self.headers = headers or {}

    def body(self):
        return {"detail": [{"loc": self.loc, "msg": self.msg, "type": self.kind}]}


def _no_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def parse_json_object(raw):
    """The JSON object of a request body (bytes); 400 when it is not JSON, 422 when it is not
    an object."""
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        raise ApiError(400, ["body"], f"the body is not UTF-8 text (byte {e.start})",
                       "json_invalid") from None
    try:
        value = json.loads(text, parse_constant=_no_constant)
    except json.JSONDecodeError as e:
        raise ApiError(400, ["body"], f"malformed JSON: {e.msg} at line {e.lineno} column "
                       f"{e.colno}", "json_invalid") from None
    except (ValueError, RecursionError) as e:
        reason = "nested too deeply" if isinstance(e, RecursionError) else str(e)
        raise ApiError(400, ["body"], f"malformed JSON: {reason}", "json_invalid") from None
    if not isinstance(value, dict):
        raise ApiError(422, ["body"], "the body must be a JSON object", "type_error")
    return value


def check_fields(body, allowed, required, loc=("body",)):
    for key in body:
        if key not in allowed:
            raise ApiError(422, [*loc, key], f"unknown field (known: {', '.join(allowed)})",
                           "extra_forbidden")
    for key in required:
        if key not in body:
            raise ApiError(422, [*loc, key], "field required", "missing")


# ---- times ----

_RFC3339 = re.compile(r"^(\d{4})-(\d{2})-(\d{2})[Tt ](\d{2}):(\d{2}):(\d{2})(\.\d+)?"
                      r"([Zz]|[+-]\d{2}:\d{2})$")


def parse_instant(text, loc):
    """Milliseconds since 1970 (UTC) of an RFC 3339 date-time (a zone is required; fractions
    beyond the millisecond are dropped)."""
    if not isinstance(text, str):
        raise ApiError(422, loc, "an RFC 3339 date-time text is needed", "type_error")
    m = _RFC3339.match(text.strip())
    if not m:
        raise ApiError(422, loc, f"\"{text[:64]}\" is not an RFC 3339 date-time with a zone "
                       "(e.g. 2025-07-29T12:00:00Z)")
    year, month, day, hour, minute, second = (int(g) for g in m.groups()[:6])
    fraction = (m.group(7) or ".0")[1:]
    zone = m.group(8).upper()
    try:
        offset = dt.timedelta(0) if zone == "Z" else \
            (1 if zone[0] == "+" else -1) * dt.timedelta(hours=int(zone[1:3]),
                                                        minutes=int(zone[4:6]))
        tz = dt.timezone(offset)
        leap = second == 60  # a leap second is read as the next second's start
        value = dt.datetime(year, month, day, hour, minute, 59 if leap else second, tzinfo=tz)
        if leap:
            value += dt.timedelta(seconds=1)
    except ValueError as e:
        raise ApiError(422, loc, f"\"{text[:64]}\" is not a possible date-time ({e})") from None
    ms = int(fraction[:3].ljust(3, "0"))
    if not _FIRST <= value < _LAST:
        raise ApiError(422, loc, f"\"{text[:64]}\" lies outside the years 1900 to 2999 (UTC)")
    delta = value - UNIX_EPOCH
    return (delta.days * 86400 + delta.seconds) * 1000 + ms


def format_ms(ms):
    """RFC 3339 text of milliseconds since 1970, in UTC to the millisecond."""
    t = UNIX_EPOCH + dt.timedelta(milliseconds=ms)
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{ms % 1000:03d}Z"


def _open_end(value):
    return value is None or value in ("", "..")


def parse_interval(value, now_ms, horizon_s, loc=("body", "datetime")):
    """Start and end (ms) of a time interval given as STAPI writes it: "a/b" of RFC 3339
    date-times, one end open ("" or ".."), or a two-element array of the same. An open start
    is now; an open end is now + the horizon. Refused: both ends open, a start after the end,
    an end further than the horizon from the start (or from now, for an open start)."""
    loc = list(loc)
    if isinstance(value, str):
        parts = value.split("/")
        if len(parts) != 2:
            raise ApiError(422, loc, "an interval \"start/end\" of RFC 3339 date-times is needed "
                           "(one end may be \"..\")")
        ends, locs = parts, [loc, loc]
    elif isinstance(value, list):
        if len(value) != 2:
            raise ApiError(422, loc, "an interval array holds two date-times (one may be null)")
        ends, locs = value, [loc + [0], loc + [1]]
    else:
        raise ApiError(422, loc, "an interval \"start/end\" or [start, end] is needed",
                       "type_error")
    if _open_end(ends[0]) and _open_end(ends[1]):
        raise ApiError(422, loc, "the interval is open at both ends: give a start or an end")
    horizon_ms = int(round(horizon_s * 1000))
    start = now_ms if _open_end(ends[0]) else parse_instant(ends[0], locs[0])
    end = now_ms + horizon_ms if _open_end(ends[1]) else parse_instant(ends[1], locs[1])
    if start > end:
        raise ApiError(422, loc, "the interval's start lies after its end")
    if end - start > horizon_ms and not _open_end(ends[1]):
        raise ApiError(422, loc, f"the interval is longer than the planning horizon "
                       f"({horizon_s / 86400:g} days)")
    return start, end


def interval_text(start_ms, end_ms):
    return f"{format_ms(start_ms)}/{format_ms(end_ms)}"


# ---- geometry ----

def _position(p, loc):
    if not isinstance(p, list) or not 2 <= len(p) <= 3:
        raise ApiError(422, loc, "a position is an array of 2 or 3 numbers (lon, lat[, alt])")
    for k, v in enumerate(p):
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
            raise ApiError(422, loc + [k], "a coordinate must be a finite number", "type_error")
    if not -360.0 <= p[0] <= 360.0:
        raise ApiError(422, loc + [0], "a longitude must lie between -360 and 360 degrees")
    if not -90.0 <= p[1] <= 90.0:
        raise ApiError(422, loc + [1], "a latitude must lie between -90 and 90 degrees")
    return [float(p[0]), float(p[1])]


def parse_geometry(value, loc=("body", "geometry")):
    """A GeoJSON geometry of a kind the planner reads, its positions checked and counted
    (at most MAX_POSITIONS); altitudes are dropped. The planner itself checks the rest
    (closed rings, self-crossings, holes)."""
    loc = list(loc)
    if not isinstance(value, dict):
        raise ApiError(422, loc, "a GeoJSON geometry object is needed", "type_error")
    kind = value.get("type")
    if kind not in GEOMETRY_TYPES:
        shown = json.dumps(kind)[:64] if kind is not None else "none"
        raise ApiError(422, loc + ["type"], f"the geometry type {shown} is not one the planner "
                       f"reads ({', '.join(GEOMETRY_TYPES)})")
    for key in value:
        if key not in ("type", "coordinates", "bbox"):
            raise ApiError(422, loc + [key], "unknown member of a geometry", "extra_forbidden")
    if "coordinates" not in value:
        raise ApiError(422, loc + ["coordinates"], "field required", "missing")
    depth = _DEPTH[kind]
    count = 0

    def walk(node, level, where):
        nonlocal count
        if level == 0:
            count += 1
            if count > MAX_POSITIONS:
                raise ApiError(422, loc + ["coordinates"], f"the geometry has more than "
                               f"{MAX_POSITIONS} positions")
            return _position(node, where)
        if not isinstance(node, list):
            raise ApiError(422, where, f"an array is needed here (a {kind} nests its positions "
                           f"{depth} deep)", "type_error")
        if not node:
            raise ApiError(422, where, "an empty array holds no position")
        return [walk(child, level - 1, where + [i]) for i, child in enumerate(node)]

    # A geometry nests at most three arrays deep, so the recursion stays shallow.
    coords = walk(value["coordinates"], depth, loc + ["coordinates"])
    if kind == "LineString" and len(coords) < 2:
        raise ApiError(422, loc + ["coordinates"], "a LineString needs two positions or more")
    if kind == "MultiLineString":
        for i, line in enumerate(coords):
            if len(line) < 2:
                raise ApiError(422, loc + ["coordinates", i], "a line needs two positions or more")
    rings = [coords] if kind == "Polygon" else coords if kind == "MultiPolygon" else []
    for i, polygon in enumerate(rings):
        for k, ring in enumerate(polygon):
            where = loc + ["coordinates"] + ([k] if kind == "Polygon" else [i, k])
            if len(ring) < 4:
                raise ApiError(422, where, "a ring needs four positions or more")
            if ring[0] != ring[-1]:
                raise ApiError(422, where, "a ring must be closed (its last position its first)")
    return {"type": kind, "coordinates": coords}


def geometry_bbox(geometry):
    """[west, south, east, north] of a geometry's positions (as written)."""
    lons, lats = [], []
    depth = _DEPTH[geometry["type"]]
    stack = [(geometry["coordinates"], depth)]
    while stack:
        node, level = stack.pop()
        if level == 0:
            lons.append(node[0])
            lats.append(node[1])
        else:
            stack.extend((c, level - 1) for c in node)
    return [min(lons), min(lats), max(lons), max(lats)]


# ---- order parameters ----

def parse_order_parameters(value, product, loc=("body", "order_parameters")):
    """The order parameters of `product` (a priority), with their defaults."""
    loc = list(loc)
    if value is None:
        value = {}
    if not isinstance(value, dict):
        raise ApiError(422, loc, "the order parameters must be an object", "type_error")
    for key in value:
        if key != "priority":
            raise ApiError(422, loc + [key], "unknown order parameter (known: priority)",
                           "extra_forbidden")
    priority = value.get("priority", product.priority_default)
    if isinstance(priority, bool) or not isinstance(priority, (int, float)) or \
            not math.isfinite(priority):
        raise ApiError(422, loc + ["priority"], "the priority must be a number", "type_error")
    if not product.priority_min <= priority <= product.priority_max:
        raise ApiError(422, loc + ["priority"], f"the priority must lie between "
                       f"{product.priority_min:g} and {product.priority_max:g}")
    return {"priority": float(priority)}
