"""ORVUS: image-acquisition contacts of Earth-observation satellites.

    es = orvus.read_elements("amazonia1.tle")
    states = orvus.propagate(es, times)              # (n, 6): m and m/s, true of date
    table = orvus.contacts(es, (-48.3, -47.3, -16.1, -15.4),
                           "2025-07-31T00:00:00", "2025-08-01T00:00:00",
                           step_s=1.0, alpha_deg=0.0, beta_deg=60.0,
                           utc_offset_hours=-3, earth_orientation="finals2000A.data")
    table = orvus.plan("plan.toml")                  # what orvus-plan writes
    passes = orvus.passes("plan.toml")               # its passes.csv
    cover = orvus.coverage("plan.toml")              # its coverage files ([coverage])
    t = orvus.plan("plan.toml", tables=True)         # t.opportunities, t.passes, t.schedule,
                                                     # t.unscheduled, t.summary

Errors raise orvus.Error (a ValueError) with the lines the commands print. The tables' *_utc
columns are datetime64[ns, UTC], their *_local columns datetime64[ns] in the fixed offset of
the local times. Ctrl-C stops a long call with KeyboardInterrupt.
"""

import collections as _collections
import datetime as _dt
import json as _json
import os as _os

import numpy as _np

from . import _core
from ._core import ElementSet, Error

__all__ = ["Error", "ElementSet", "read_elements", "propagate", "contacts", "plan", "passes",
           "coverage", "Coverage", "PlanTables"]

_have_plan = bool(_core._have_plan)


def _path(path, what="PATH"):
    """A path (str, bytes or os.PathLike) as the library takes it. A NUL byte, which no file
    name can hold and which would cut the name short in the library, raises orvus.Error (a
    ValueError, as open() raises)."""
    path = _os.fspath(path)
    if ("\0" if isinstance(path, str) else b"\0") in path:
        raise _error(f"{what}: {path!r} HOLDS A NUL BYTE (EMBEDDED NULL BYTE), WHICH NO FILE "
                     "NAME CAN HOLD.")
    return path


def read_elements(path, select=None):
    """The element set of a two-line or OMM file (a str or os.PathLike path): the one named
    or numbered by `select`, or the first."""
    return _core.read_elements(_path(path), select)


def _error(text):
    """An orvus.Error raised here, shaped as those of the library: .lines as printed."""
    e = Error(text)
    e.lines = [" " + text]
    return e

# The tables' columns as the library names them: {table: [(name, type, unit)]}, type one of
# "text", "integer", "real", "utc_time" and "local_time".
_SCHEMA = _core._columns()
COLUMNS = [name for name, _, _ in _SCHEMA["opportunities"]]

# Day numbers count days since 1950-01-01 0 h UTC, 7305 days before the Unix epoch.
_DAYS_1950_TO_1970 = 7305
_NS_PER_DAY = 86_400_000_000_000
_NS_PER_UNIT = {"D": _NS_PER_DAY, "h": 3_600_000_000_000, "m": 60_000_000_000,
                "s": 1_000_000_000, "ms": 1_000_000, "us": 1_000, "ns": 1}
_FIRST_DAY = (_dt.date.min - _dt.date(1950, 1, 1)).days
_LAST_DAY = (_dt.date.max - _dt.date(1950, 1, 1)).days
_ACCEPTED = "A datetime, A numpy.datetime64 OR ISO 8601 TEXT"


def _is_missing(value):
    """None, NaN and NaT (numpy's and pandas'), which never equal themselves."""
    if value is None:
        return True
    try:
        return bool(value != value)
    except (TypeError, ValueError):
        return False


def _datetime64_parts(items, what):
    """Day numbers and nanoseconds of the day (int64) of a numpy.datetime64 array, worked
    out in the array's own unit so that no date overflows the nanosecond range (1678-2262)."""
    if _np.isnat(items).any():
        raise _error(f"{what}: NaT IS NOT A TIME; GIVE {_ACCEPTED}.")
    unit, count = _np.datetime_data(items.dtype)
    if unit in ("Y", "M", "W"):
        items, unit, count = items.astype("datetime64[D]"), "D", 1
    elif unit not in _NS_PER_UNIT:  # ps, fs, as: a range of days around 1970
        items, unit, count = items.astype("datetime64[ns]"), "ns", 1
    if count != 1:
        items = items.astype(f"datetime64[{unit}]")
    raw = items.view(_np.int64)
    per_day = _NS_PER_DAY // _NS_PER_UNIT[unit]
    days = raw // per_day + _DAYS_1950_TO_1970
    return days, (raw % per_day) * _NS_PER_UNIT[unit]


def _naive_utc(value):
    if value.tzinfo is not None:
        return value.astimezone(_dt.timezone.utc).replace(tzinfo=None)
    return value


def _one_time(value, what):
    """Day number and nanoseconds of the day of one UTC time."""
    if _is_missing(value):
        raise _error(f"{what}: {value!r} IS NOT A TIME; GIVE {_ACCEPTED}.")
    if isinstance(value, _np.datetime64):
        days, ns = _datetime64_parts(_np.array([value]), what)
        return int(days[0]), int(ns[0])
    if isinstance(value, str):
        try:
            value = _dt.datetime.fromisoformat(value.strip())
        except ValueError:
            raise _error(f'{what}: "{value}" IS NOT AN ISO 8601 DATE-TIME.') from None
    if isinstance(value, _dt.datetime):
        extra_ns = getattr(value, "nanosecond", 0)  # pandas.Timestamp
        delta = _naive_utc(value) - _dt.datetime(1950, 1, 1)
        return delta.days, (delta.seconds * 1_000_000 + delta.microseconds) * 1000 + extra_ns
    if isinstance(value, _dt.date):
        return (value - _dt.date(1950, 1, 1)).days, 0
    raise _error(f"{what}: {value!r} ({type(value).__name__}) IS NOT A TIME; GIVE {_ACCEPTED} "
                 "(NUMBERS ARE NOT READ AS TIMES).")


def _utc_day_seconds(times):
    """UTC day numbers and seconds of the day of times given as datetimes (naive ones are
    UTC), numpy.datetime64 values or ISO 8601 texts, one or many."""
    if isinstance(times, (list, tuple)):  # each value in its own unit, none converted
        items = _np.array(times, dtype=object)
    else:
        items = _np.atleast_1d(_np.asarray(times))
    items = items.ravel()
    if items.size == 0:
        return _np.zeros(0), _np.zeros(0)
    if items.dtype.kind == "M":
        days, ns = _datetime64_parts(items, "TIMES")
    elif items.dtype.kind in "OU":
        values = items if items.dtype.kind == "O" else items.tolist()
        parts = [_one_time(t, "TIMES") for t in values]
        days = _np.array([d for d, _ in parts], dtype=_np.int64)
        ns = _np.array([n for _, n in parts], dtype=_np.int64)
    else:
        raise _error(f"TIMES: {items.dtype} VALUES ARE NOT TIMES; GIVE {_ACCEPTED} VALUES "
                     "(NUMBERS ARE NOT READ AS TIMES).")
    return days.astype(_np.float64), ns.astype(_np.float64) / 1e9


def propagate(elements, times):
    """True-of-date states (x y z in m, vx vy vz in m/s) of the SGP8 model, shape (n, 6).

    `times` are UTC: datetime (naive or aware), numpy.datetime64 or ISO 8601 text values,
    one or many (a list, an array, a pandas Series). None, NaT and numbers raise
    orvus.Error, as does an element set the model cannot serve (a deep-space period)."""
    days, seconds = _utc_day_seconds(times)
    return _core._propagate(elements, days, seconds)


def _local_text(value, what):
    """A local date-time (naive datetime, numpy.datetime64 or ISO 8601 text) as the
    date-time text of the input file, DD/MM/YYYY HH:MM:SS.sssssssss."""
    if isinstance(value, str):
        try:
            value = _dt.datetime.fromisoformat(value.strip())
        except ValueError:
            raise _error(f'{what}: "{value}" IS NOT AN ISO 8601 LOCAL DATE-TIME.') from None
    if _is_missing(value) or not isinstance(value, (_dt.datetime, _np.datetime64)):
        raise _error(f"{what} MUST BE {_ACCEPTED} (GIVEN: {value!r}).")
    if isinstance(value, _dt.datetime) and value.tzinfo is not None:
        raise _error(f"{what} IS A LOCAL DATE-TIME: GIVE IT WITHOUT A ZONE "
                     "(THE OFFSET IS utc_offset_hours).")
    days, ns = _one_time(value, what)
    if not _FIRST_DAY <= days <= _LAST_DAY:
        raise _error(f"{what}: {value} LIES OUTSIDE THE YEARS 1 TO 9999.")
    date = _dt.date(1950, 1, 1) + _dt.timedelta(days=days)
    seconds, nanos = divmod(ns, 1_000_000_000)
    minutes, seconds = divmod(seconds, 60)
    hours, minutes = divmod(minutes, 60)
    return (f"{date.day:02d}/{date.month:02d}/{date.year:04d} "
            f"{hours:02d}:{minutes:02d}:{seconds:02d}.{nanos:09d}")


PASS_COLUMNS = [name for name, _, _ in _SCHEMA["passes"]]


def _zone(utc_offset_hours):
    """The fixed offset of the local times as a Python zone; None for 24 hours, which cannot
    be one."""
    try:
        return _dt.timezone(_dt.timedelta(hours=float(utc_offset_hours)))
    except ValueError:
        return None


def _frame(columns, utc_offset_hours=0.0):
    """A DataFrame of a table's typed columns as the library gives them, [(name, type,
    values)]: texts as objects, integers as int64, reals as float64 (NaN where the file leaves
    them empty), *_utc times as datetime64[ns, UTC] (NaT where empty) and *_local times in the
    fixed offset of the local times (their wall clock as written; for an offset of 24 hours,
    which Python cannot hold as a zone, the text as written). The library gives times as
    nanoseconds since 1970 of the wall clock the file writes."""
    import pandas as pd

    zone = _zone(utc_offset_hours)
    data = {}
    for name, kind, values in columns:
        if kind in ("utc_time", "local_time"):
            wall = pd.Series(values.view("datetime64[ns]"))
            if kind == "utc_time":
                values = wall.dt.tz_localize("UTC").array
            elif zone is not None:
                values = wall.dt.tz_localize(zone).array
            else:
                sign = "+" if utc_offset_hours > 0 else "-"
                text = wall.dt.strftime("%Y-%m-%dT%H:%M:%S.%f").str[:-3] + f"{sign}24:00"
                values = text.to_numpy(dtype=object)
        data[name] = values
    return pd.DataFrame(data)


def _numbers(target, count, what):
    """A tuple of `count` finite numbers, or None when `target` is not a sequence of that
    length; raises orvus.Error when it is one but not of finite numbers."""
    if isinstance(target, (tuple, list)) and len(target) == count:
        try:
            values = tuple(float(v) for v in target)
        except (TypeError, ValueError):
            values = None
        if values is not None and all(_np.isfinite(values)):
            return values
        raise _error(f"TARGET: {what}.")
    return None


def _box(target):
    return _numbers(target, 4, "A BOX IS FOUR FINITE NUMBERS (LON1, LON2, LAT1, LAT2)")


def _point(target):
    return _numbers(target, 2, "A POINT IS TWO FINITE NUMBERS (LON, LAT)")


def contacts(elements, target, start, end, *, step_s=1.0, alpha_deg=0.0, beta_deg,
             utc_offset_hours=0.0, earth_orientation, rule="points", target_id="1",
             target_name=""):
    """Contacts of one satellite with one target as a DataFrame of the columns of
    opportunities.csv, one row per closed contact.

    target: a box (lon1, lon2, lat1, lat2) as record 4 of the input file, a point (lon, lat),
    or a GeoJSON-like Polygon, MultiPolygon, Point, MultiPoint, LineString or MultiLineString
    mapping (or a Feature holding one). start, end: local date-times, both included. rule
    "points": a tracking point at ALPHA, ALPHA - BETA/2 or ALPHA + BETA/2 lies in the box (the
    contacts orvus reports); "swath": the sensor line from ALPHA - BETA/2 to ALPHA + BETA/2
    touches the target at any instant, found in continuous time (the planner's rule; a
    point's contact lasts an instant). Points and lines need rule "swath"."""
    if rule not in ("points", "swath"):
        raise _error(f'RULE MUST BE "points" OR "swath" (GIVEN: "{rule}").')
    start_text = _local_text(start, "START")
    end_text = _local_text(end, "END")
    eop = _path(earth_orientation, "EARTH_ORIENTATION")
    box = _box(target)
    if box is not None and rule == "points":
        columns = _core._contacts_points(elements, box, start_text, end_text, float(step_s),
                                         float(alpha_deg), float(beta_deg),
                                         float(utc_offset_hours), eop, str(target_id),
                                         str(target_name))
        return _frame(columns, utc_offset_hours)
    if not _have_plan:
        raise _error("POLYGON TARGETS AND THE SWATH RULE NEED THE PLANNER, WHICH THIS BUILD "
                    "OF ORVUS DOES NOT CARRY.")
    deck = _one_target_deck(target, box, str(target_id), str(target_name))
    columns = _core._contacts_plan(elements, deck, start_text, end_text, float(step_s),
                                   float(alpha_deg), float(beta_deg), float(utc_offset_hours),
                                   eop, rule)
    return _frame(columns, utc_offset_hours)


def _one_target_deck(target, box, target_id, target_name):
    """The target as the text of a deck of one, in the forms the planner reads."""
    point = None if box is not None else _point(target)
    if box is not None or point is not None:
        import csv

        class Lines(list):  # the deck's lines, as csv.writer writes them
            write = list.append

        lines = Lines()
        w = csv.writer(lines, lineterminator="\n")
        if box is not None:
            w.writerow(["id", "name", "lon1", "lon2", "lat1", "lat2"])
            w.writerow([target_id, target_name] + [repr(v) for v in box])
        else:
            w.writerow(["id", "name", "lon", "lat"])
            w.writerow([target_id, target_name] + [repr(v) for v in point])
        return "".join(lines)
    geometry = getattr(target, "__geo_interface__", target)
    if isinstance(geometry, dict) and geometry.get("type") == "Feature":
        geometry = geometry.get("geometry")
    kinds = ("Polygon", "MultiPolygon", "Point", "MultiPoint", "LineString", "MultiLineString")
    if not (isinstance(geometry, dict) and geometry.get("type") in kinds):
        raise _error("TARGET MUST BE A BOX (LON1, LON2, LAT1, LAT2), A POINT (LON, LAT) OR A "
                    "POLYGON, MULTIPOLYGON, POINT, MULTIPOINT, LINESTRING OR MULTILINESTRING "
                    "MAPPING.")
    feature = {"type": "Feature", "properties": {"id": target_id, "name": target_name},
               "geometry": {"type": geometry["type"], "coordinates": geometry.get("coordinates")}}
    return _json.dumps({"type": "FeatureCollection", "features": [feature]})


SCHEDULE_COLUMNS = [name for name, _, _ in _SCHEMA["schedule"]]
UNSCHEDULED_COLUMNS = [name for name, _, _ in _SCHEMA["unscheduled"]]

PlanTables = _collections.namedtuple(
    "PlanTables", ["opportunities", "passes", "schedule", "unscheduled", "summary"])
PlanTables.__doc__ = """Every table of a plan, as orvus-plan writes them: DataFrames of
opportunities.csv, passes.csv (empty without stations), schedule.csv and unscheduled.csv
(empty without [schedule]), and schedule.json as a dict (None without [schedule])."""


def plan(path, *, tables=False):
    """Runs a plan (TOML) on this machine (no file is written): the DataFrame orvus-plan writes
    as opportunities.csv; with tables=True a PlanTables of the opportunities, the passes and,
    when the plan has [schedule], the schedule (the solver runs here, up to its time limit)."""
    if not _have_plan:
        raise _error("THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.")
    names = ["opportunities", "passes", "schedule", "unscheduled"] if tables else ["opportunities"]
    t = _core._run_plan(_path(path, "PLAN"), names)
    frames = [_frame(t[name], t["utc_offset_hours"]) for name in names]
    if not tables:
        return frames[0]
    summary = _json.loads(t["summary"]) if t["summary"] is not None else None
    return PlanTables(*frames, summary)


def passes(path):
    """The passes of a plan's satellites over its stations (TOML [[station]] tables): the
    DataFrame orvus-plan writes as passes.csv, empty when the plan has no station (no file is
    written, no opportunity searched)."""
    if not _have_plan:
        raise _error("THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.")
    t = _core._run_plan(_path(path, "PLAN"), ["passes"])
    return _frame(t["passes"], t["utc_offset_hours"])


Coverage = _collections.namedtuple("Coverage", "cells curve summary geojson")
Coverage.__doc__ = """A plan's coverage: the DataFrames of coverage_cells.csv (cells), coverage.csv
(curve) and coverage_summary.csv (summary), and coverage_cells.geojson as a dict (geojson; None
unless asked for)."""

def coverage(path, *, geojson=False):
    """Runs a plan's [coverage] on this machine (no file is written, no opportunity searched):
    a Coverage of the DataFrames orvus-plan writes as coverage_cells.csv (.cells), coverage.csv
    (.curve) and coverage_summary.csv (.summary), and with geojson=True coverage_cells.geojson
    as a dict (.geojson), a FeatureCollection of the cells as polygons (WGS 84 longitude and
    latitude) that geopandas.GeoDataFrame.from_features(c.geojson["features"],
    crs="EPSG:4326") takes. Times are datetime64[ns, UTC], NaT where there is none; hours and
    fractions NaN where there is none. Raises orvus.Error for a plan without [coverage]."""
    if not _have_plan:
        raise _error("THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.")
    names = ["coverage_cells", "coverage", "coverage_summary"]
    t = _core._run_plan(_path(path, "PLAN"), names, bool(geojson))
    return Coverage(*(_frame(t[name]) for name in names),
                    _json.loads(t["geojson"]) if geojson else None)
