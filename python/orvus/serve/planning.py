"""Every call of the service into the planner, behind one small interface:

    planner = Planner(config)
    planner.check()                                    # the satellites and stations load
    planner.opportunities(product, geometry, start_ms, end_ms, filter) -> [Opportunity]
    planner.replan([Target], start_ms, end_ms) -> Replan
    planner.passes(start_ms, end_ms) -> [Pass]

Times are integer milliseconds since 1970 (UTC); geometries GeoJSON geometry objects as
inputs.parse_geometry gives them. The methods block (they run the planner, which releases the
GIL and computes on its own threads) and are safe to call from several threads at once.

Today the planner is reached through what the `orvus` module offers: a search asks the
planner's model of the satellites (`_PlanModel`, made once from a plan of them and kept: their
element sets, read again when a file changes, and what its sweeps computed before) for the
request's one-target deck and reads the opportunities' exact byte form; a replan writes a
private plan folder (the plan as TOML and the target deck as GeoJSON, never a path taken from
a request), runs the planner's per-satellite task (`_plan_task`, the unit the Dask runner
distributes) and reads its byte form, takes the passes as the planner's typed columns
(`_run_plan`), and for a replan hands the chosen opportunities to the planner's finish
(`_PlanOutputs`, as the Dask runner does) and reads the schedule's table back. Only this module
knows that."""

import csv
import dataclasses
import json
import logging
import math
import os
import shutil
import struct
import tempfile
import threading

import orvus
from orvus import _core

from .documents import ORBIT_STATES
from .inputs import format_ms, parse_instant

log = logging.getLogger("orvus.serve")

_DAYS_1950_TO_1970 = 7305
_MS_PER_DAY = 86_400_000
_TARGET = "q"  # the id of a search's one target in its deck


class GeometryError(ValueError):
    """The planner refuses the geometry; `reason` is its own words (an OGC reason)."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


class PlannerUnavailable(RuntimeError):
    """The planner cannot serve the request (no Earth-orientation data for the interval, an
    element set the model cannot serve); the message says why."""


@dataclasses.dataclass(frozen=True)
class Opportunity:
    satellite: str
    norad_id: int
    target: str             # the target's id in the deck (an order's id in a replan)
    start_ms: int
    end_ms: int
    best_ms: int
    duration_s: float
    best_alpha_deg: float   # signed (the roll towards the target's centre)
    pass_letter: str        # "A" (northward) or "D"
    sun_elevation_deg: float
    coverage: float
    element_age_days: float
    footprint: dict         # GeoJSON geometry: the ground the sensor's field swept
    bbox: list              # [west, south, east, north]; west > east across +-180

    def queryables(self):
        return {"view:off_nadir": abs(self.best_alpha_deg),
                "view:sun_elevation": self.sun_elevation_deg,
                "sat:orbit_state": ORBIT_STATES[self.pass_letter],
                "orvus:duration_s": self.duration_s}


@dataclasses.dataclass(frozen=True)
class Target:
    """An order in a replan: its geometry, priority and interval, the satellites of its
    product and `accepts(opportunity)`, its product's constraints and its filter."""
    id: str
    geometry: dict
    priority: float
    start_ms: int
    end_ms: int
    satellites: tuple
    accepts: object


@dataclasses.dataclass(frozen=True)
class Acquisition:
    order_id: str
    satellite: str
    norad_id: int
    start_ms: int
    end_ms: int
    roll_deg: float
    station: str            # where its data go down ("" when not within the plan)
    downlink_start_ms: int  # or None
    sun_elevation_deg: float
    data_gbit: float = None            # the image's data; None without a data rate
    recorder_after_gbit: float = None  # the recorder just after the image (passes sent out)
    footprint: dict = None             # GeoJSON geometry: the camera's swath during the image


@dataclasses.dataclass(frozen=True)
class Pass:
    """A satellite's pass over a station, above the station's mask."""
    satellite: str
    station: str
    aos_ms: int
    los_ms: int
    max_elevation_deg: float


@dataclasses.dataclass(frozen=True)
class Replan:
    acquisitions: list      # Acquisition, by start
    unscheduled: dict       # order id -> reason ("no opportunity", "conflicts", ...)
    summary: dict           # the schedule's figures (objective, bound, gap, seconds, ...)
    passes: list = ()       # Pass, by AOS: the station passes the schedule downlinks in


def accepts(product, filter_):
    """The test of an opportunity by a product's limits and a request's filter."""
    def test(o):
        q = o.queryables()
        if q["view:off_nadir"] > product.max_off_nadir_deg:
            return False
        if q["view:sun_elevation"] < product.min_sun_elevation_deg:
            return False
        if product.orbit_state != "any" and q["sat:orbit_state"] != product.orbit_state:
            return False
        if q["orvus:duration_s"] < product.min_duration_s:
            return False
        return filter_.matches(q)
    return test


# ---- the plan folder ----

def _toml_value(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, (int, float)):
        if isinstance(v, float) and not math.isfinite(v):
            raise ValueError("not a finite number")
        return repr(v)
    if isinstance(v, str):
        return json.dumps(v)  # a TOML basic string: JSON's escapes are TOML's
    raise ValueError(f"a {type(v).__name__} cannot be written here")


def _local_text(ms):
    """A TOML local date-time of ms since 1970 (the plans run in UTC)."""
    return format_ms(ms)[:-1]


def _write_plan(folder, satellites, stations, start_ms, end_ms, config, schedule=None):
    lines = [f"start = {_local_text(start_ms)}", f"end = {_local_text(end_ms)}",
             "utc_offset_hours = 0", f"step_s = {_toml_value(config.step_s)}",
             f"earth_orientation = {_toml_value(config.earth_orientation)}",
             'targets = "targets.geojson"', 'output = "out"']
    if schedule is not None:
        lines += ["[schedule]", f"time_limit_s = {_toml_value(schedule)}"]
    for s in satellites:
        lines.append("[[satellite]]")
        lines += [f"{k} = {_toml_value(v)}" for k, v in s.items()]
    for s in stations:
        lines.append("[[station]]")
        lines += [f"{k} = {_toml_value(v)}" for k, v in s.items()]
    path = os.path.join(folder, "plan.toml")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return path


def _write_deck(folder, targets):
    """The deck: (id, geometry, priority) as a GeoJSON FeatureCollection."""
    features = [{"type": "Feature", "properties": {"id": i, "priority": p}, "geometry": g}
                for i, g, p in targets]
    with open(os.path.join(folder, "targets.geojson"), "w", encoding="utf-8") as f:
        json.dump({"type": "FeatureCollection", "features": features}, f)


# ---- the planner's byte form of opportunities ----

_MAGIC = b"ORVPOP01"
_HEAD = struct.Struct("=QQiBc")           # satellite, target, contact number, closed, pass
# Six instants (day, seconds), duration, BEST ALPHA, two ground points, distance, Sun
# elevation, coverage, element age.
_BODY = struct.Struct("=" + "d" * 22)
_COUNT = struct.Struct("=Q")
_POINT = struct.Struct("=dd")


def _instant_ms(day, seconds):
    """ms since 1970 of a (day since 1950, seconds) instant, as the tables write it: the
    seconds to nine decimals, then cut to the millisecond."""
    return int(round(day) - _DAYS_1950_TO_1970) * _MS_PER_DAY + int(round(seconds * 1e9)) // 1_000_000


def _decode(data):
    """The planner's opportunities as (satellite index, target index, fields, rings, the
    record's bytes) tuples."""
    if data[:8] != _MAGIC:
        raise PlannerUnavailable("the planner's answer is not a list of opportunities")
    (n,) = _COUNT.unpack_from(data, 8)
    at = 16
    out = []
    for _ in range(n):
        begin = at
        sat, target, number, closed, letter = _HEAD.unpack_from(data, at)
        at += _HEAD.size
        body = _BODY.unpack_from(data, at)
        at += _BODY.size
        (nr,) = _COUNT.unpack_from(data, at)
        at += _COUNT.size
        rings = []
        for _ in range(nr):
            (npos,) = _COUNT.unpack_from(data, at)
            at += _COUNT.size
            ring = [list(_POINT.unpack_from(data, at + k * _POINT.size)) for k in range(npos)]
            at += npos * _POINT.size
            rings.append(ring)
        if closed:
            out.append((sat, target, letter.decode("ascii"), body, rings, data[begin:at]))
    return out


def _signed_area(ring):
    return sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:])) / 2.0


def _footprint(rings, instant):
    """GeoJSON geometry of a swath's rings (already cut at +-180): a Polygon, a MultiPolygon
    of the parts, or for an instant (a ring of no area) the sensor's line."""
    if instant or all(abs(_signed_area(r)) == 0.0 for r in rings):
        line = []
        for r in rings:
            for p in r:
                if p not in line:
                    line.append(p)
        if len(line) == 1:
            return {"type": "Point", "coordinates": line[0]}
        return {"type": "LineString", "coordinates": line}
    # Exterior rings counterclockwise, as RFC 7946 asks.
    rings = [r if _signed_area(r) >= 0 else r[::-1] for r in rings if len(r) >= 4]
    if len(rings) == 1:
        return {"type": "Polygon", "coordinates": [rings[0]]}
    return {"type": "MultiPolygon", "coordinates": [[r] for r in rings]}


def _bbox(rings):
    """[west, south, east, north] of the rings; for a swath cut at +-180 the box runs from the
    western part's west edge eastwards across the antimeridian (RFC 7946, 5.2)."""
    lons = [p[0] for r in rings for p in r]
    lats = [p[1] for r in rings for p in r]
    west, east = min(lons), max(lons)
    if len(rings) > 1 and west <= -180.0 + 1e-9 and east >= 180.0 - 1e-9:
        eastern = [p[0] for r in rings if min(q[0] for q in r) >= 0.0 for p in r]
        western = [p[0] for r in rings if max(q[0] for q in r) <= 0.0 for p in r]
        if eastern and western:
            west, east = min(eastern), max(western)
    return [west, min(lats), east, max(lats)]


class Planner:
    """The planner of one configuration (see the module's note)."""

    def __init__(self, config):
        self.config = config
        self._by_name = {s["name"]: s for s in config.satellites}
        self._stamps = {}
        self._norads = {}
        self._lock = threading.Lock()
        self._workdir = tempfile.mkdtemp(prefix="orvus-serve-")
        self._model = None        # the satellites kept for searches (made at the first)
        self._model_lock = threading.Lock()
        self._reload = False      # an element file changed since the model read it

    def close(self):
        shutil.rmtree(self._workdir, ignore_errors=True)

    def _note_element_changes(self):
        """Logs an element file that changed on disk since the last call: the planner reads
        the files on every call, so the next search or replan uses the new sets."""
        for s in self.config.satellites:
            path = s.get("elements")
            try:
                st = os.stat(path)
                stamp = (st.st_mtime_ns, st.st_size)
            except OSError:
                stamp = None
            with self._lock:
                old = self._stamps.get(path, stamp)
                self._stamps[path] = stamp
            if old != stamp:
                log.info("element file %s changed: the planner reads it again", path)
                self._reload = True
            if old != stamp or s["name"] not in self._norads:
                for select in (s.get("select", s["name"]), None):
                    try:  # the set the plan takes: "select", else the name, else a file's one
                        self._norads[s["name"]] = orvus.read_elements(path, select).catalogue_number
                        break
                    except orvus.Error:
                        pass  # the planner names the problem

    def check(self):
        """Loads every satellite and station as a plan of no target would: raises
        PlannerUnavailable with the planner's message when one is wrong."""
        if not os.path.isfile(self.config.earth_orientation):
            raise PlannerUnavailable(f"no Earth-orientation file "
                                     f"\"{self.config.earth_orientation}\"")
        folder = self._folder()
        try:
            _write_deck(folder, [("probe", {"type": "Point", "coordinates": [0.0, 0.0]}, 1.0)])
            path = _write_plan(folder, self.config.satellites, self.config.stations,
                               0, 60_000, self.config)
            try:
                info = _core._plan_info(path)
            except orvus.Error as e:
                raise PlannerUnavailable(str(e).split("\n")[0]) from None
            self._note_element_changes()
            return info
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def _folder(self):
        try:
            return tempfile.mkdtemp(dir=self._workdir)
        except OSError as e:
            raise PlannerUnavailable(f"cannot make the planner's working folder: {e.strerror}")

    def _run(self, folder, satellites, targets, start_ms, end_ms, schedule=None):
        try:
            _write_deck(folder, targets)
            path = _write_plan(folder, satellites, self.config.stations if schedule else [],
                               start_ms, end_ms, self.config, schedule)
        except OSError as e:  # a full disk
            raise PlannerUnavailable(f"cannot write the planner's working files: "
                                     f"{e.strerror}") from None
        self._note_element_changes()
        parts = []
        try:
            for k in range(len(satellites)):
                parts.append(_core._plan_task(path, "opportunities", k, 0, len(targets)))
        except orvus.Error as e:
            text = str(e).split("\n")[0]
            marker = f'TARGET "{targets[0][0]}": ' if len(targets) == 1 else None
            if marker and marker in text and "targets.geojson" in text:
                raise GeometryError(text.split(marker, 1)[1]) from None
            raise PlannerUnavailable(text) from None
        return path, parts

    def _opportunity(self, satellites, target_ids, item, scene=None):
        """The Opportunity of a decoded item; with `scene(satellite, best_ms, seconds)`, an
        instant's footprint is the camera's scene for the satellite's min_imaging_s about its
        best time (the swath of an instant is a line)."""
        sat, target, letter, b, rings, _ = item
        s = satellites[sat]
        start = _instant_ms(b[0], b[1])
        end = _instant_ms(b[2], b[3])
        best = _instant_ms(b[8], b[9])
        duration = b[12]
        if duration == 0.0 and scene is not None:
            rings = [[list(p) for p in r] for r in scene(sat, best, s.get("min_imaging_s", 1.0))]
            duration_shape = False
        else:
            duration_shape = duration == 0.0
        return Opportunity(
            satellite=s["name"], norad_id=self._norads.get(s["name"], 0),
            target=target_ids[target],
            start_ms=start, end_ms=end, best_ms=best, duration_s=duration,
            best_alpha_deg=b[13], pass_letter=letter, sun_elevation_deg=b[19],
            coverage=b[20], element_age_days=b[21],
            footprint=_footprint(rings, duration_shape), bbox=_bbox(rings) if rings else None)

    def _search_model(self, start_ms, end_ms):
        """The planner's model of every satellite, made once from a plan of them alone (its
        interval the first search's) and kept: each search reuses their element sets and
        what the sweeps computed before; a changed element file is read again."""
        with self._model_lock:
            if self._model is None:
                folder = self._folder()
                try:
                    _write_deck(folder, [("probe", {"type": "Point", "coordinates": [0.0, 0.0]},
                                          1.0)])
                    path = _write_plan(folder, self.config.satellites, [], start_ms, end_ms,
                                       self.config)
                except OSError as e:
                    shutil.rmtree(folder, ignore_errors=True)
                    raise PlannerUnavailable(f"cannot write the planner's working files: "
                                             f"{e.strerror}") from None
                try:
                    self._model = _core._PlanModel(path)
                except orvus.Error as e:
                    raise PlannerUnavailable(str(e).split("\n")[0]) from None
                finally:
                    shutil.rmtree(folder, ignore_errors=True)
                self._reload = False
            elif self._reload:
                self._reload = False
                try:
                    self._model.reload_elements()
                except orvus.Error as e:
                    self._reload = True  # tried again at the next search
                    raise PlannerUnavailable(str(e).split("\n")[0]) from None
            return self._model

    def opportunities(self, product, geometry, start_ms, end_ms, filter_):
        """The product's opportunities over a geometry in [start, end], in time order (then
        satellite), kept by the product's limits and the filter."""
        self._note_element_changes()
        model = self._search_model(start_ms, end_ms)
        names = [s["name"] for s in self.config.satellites]
        chosen = sorted(names.index(n) for n in product.satellites)
        deck = json.dumps({"type": "FeatureCollection", "features": [
            {"type": "Feature", "properties": {"id": _TARGET}, "geometry": geometry}]})
        try:
            data = model.opportunities(deck, "targets.geojson", start_ms, end_ms, chosen)
        except orvus.Error as e:
            text = str(e).split("\n")[0]
            marker = f'TARGET "{_TARGET}": '
            if marker in text and "targets.geojson" in text:
                raise GeometryError(text.split(marker, 1)[1]) from None
            raise PlannerUnavailable(text) from None
        test = accepts(product, filter_)
        found = []
        for item in _decode(data):
            o = self._opportunity(self.config.satellites, [_TARGET], item, model.scene)
            if test(o):
                found.append(o)
        found.sort(key=lambda o: (o.start_ms, product.satellites.index(o.satellite)))
        return found

    def _passes(self, path):
        """The passes of the plan in `path` over its stations, by AOS."""
        try:
            columns = _core._run_plan(path, ["passes"])["passes"]
        except orvus.Error as e:
            raise PlannerUnavailable(str(e).split("\n")[0]) from None
        c = {name: values for name, _, values in columns}
        # Times come as nanoseconds since 1970 of the milliseconds the table writes.
        return [Pass(str(sat), str(station), int(aos) // 1_000_000, int(los) // 1_000_000,
                     float(elevation))
                for sat, station, aos, los, elevation in zip(
                    c["satellite"], c["station"], c["aos_utc"], c["los_utc"],
                    c["max_elevation_deg"])]

    def passes(self, start_ms, end_ms):
        """Every satellite's passes over the stations in [start, end], by AOS."""
        if not self.config.stations:
            return []
        folder = self._folder()
        try:
            try:
                _write_deck(folder, [("probe", {"type": "Point", "coordinates": [0.0, 0.0]},
                                      1.0)])
                path = _write_plan(folder, self.config.satellites, self.config.stations,
                                   start_ms, end_ms, self.config)
            except OSError as e:
                raise PlannerUnavailable(f"cannot write the planner's working files: "
                                         f"{e.strerror}") from None
            return self._passes(path)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def replan(self, targets, start_ms, end_ms):
        """The schedule of `targets` over [start, end]: each target's opportunities within its
        own interval, on its product's satellites and accepted by its test, go to the
        planner's scheduler, which maximises the sum of the priorities served; with the
        station passes it downlinks in."""
        satellites = list(self.config.satellites)
        if not targets:
            return Replan([], {}, {}, self.passes(start_ms, end_ms))
        folder = self._folder()
        try:
            deck = [(t.id, t.geometry, t.priority) for t in targets]
            path, parts = self._run(folder, satellites, deck, start_ms, end_ms,
                                    schedule=self.config.replan_time_limit_s)
            passes = self._passes(path)
            ids = [t.id for t in targets]
            kept = []
            served = set()
            for part in parts:
                for item in _decode(part):
                    t = targets[item[1]]
                    o = self._opportunity(satellites, ids, item)
                    if o.satellite in t.satellites and t.start_ms <= o.start_ms and \
                            o.end_ms <= t.end_ms and t.accepts(o):
                        kept.append(item[5])
                        served.add(t.id)
            unscheduled = {t.id: "no opportunity" for t in targets if t.id not in served}
            if not kept:
                return Replan([], unscheduled, {}, passes)
            data = _MAGIC + _COUNT.pack(len(kept)) + b"".join(kept)
            out = os.path.join(folder, "out")
            outputs = _core._PlanOutputs(path, out)
            try:
                outputs.finish([data])
            except orvus.Error as e:
                raise PlannerUnavailable(str(e).split("\n")[0]) from None
            finally:
                outputs.close()
            with open(os.path.join(out, "schedule.json"), encoding="utf-8") as f:
                summary = json.load(f)
            # The table's rows and the GeoJSON's features are the same images in the same
            # order; the GeoJSON adds each image's swath and its data in full precision.
            with open(os.path.join(out, "schedule.geojson"), encoding="utf-8") as f:
                features = json.load(f)["features"]
            acquisitions = []
            with open(os.path.join(out, "schedule.csv"), newline="", encoding="utf-8") as f:
                rows = list(csv.DictReader(f))
            if [r["target_id"] for r in rows] != \
                    [f["properties"]["target_id"] for f in features]:
                raise PlannerUnavailable("the schedule's table and swaths disagree")
            for row, feature in zip(rows, features):
                down = row["downlink_start_utc"]
                p = feature["properties"]
                acquisitions.append(Acquisition(
                    order_id=row["target_id"], satellite=row["satellite"],
                    norad_id=int(row["norad_id"]),
                    start_ms=parse_instant(row["start_utc"], ["schedule"]),
                    end_ms=parse_instant(row["end_utc"], ["schedule"]),
                    roll_deg=float(row["roll_deg"]), station=row["downlink_station"],
                    downlink_start_ms=parse_instant(down, ["schedule"]) if down else None,
                    sun_elevation_deg=float(row["sun_elevation_deg"]),
                    data_gbit=p["data_gbit"], recorder_after_gbit=p["recorder_after_gbit"],
                    footprint=_footprint([r for p in feature["geometry"]["coordinates"]
                                          for r in p], False)))
            with open(os.path.join(out, "unscheduled.csv"), newline="", encoding="utf-8") as f:
                for row in csv.DictReader(f):
                    unscheduled.setdefault(row["target_id"], row["reason"])
            return Replan(acquisitions, unscheduled, summary, passes)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
