"""ORVUS: image-acquisition contacts of Earth-observation satellites.

    es = orvus.read_elements("amazonia1.tle")
    states = orvus.propagate(es, times)              # (n, 6): m and m/s, true of date
    table = orvus.contacts(es, (-48.3, -47.3, -16.1, -15.4),
                           "2025-07-31T00:00:00", "2025-08-01T00:00:00",
                           step_s=1.0, alpha_deg=0.0, beta_deg=60.0,
                           utc_offset_hours=-3, earth_orientation="finals2000A.data")
    table = orvus.plan("plan.toml")                  # what orvus-plan writes

Errors raise orvus.Error (a ValueError) with the lines the commands print.
"""

import datetime as _dt
import io as _io
import json as _json
import os as _os
import tempfile as _tempfile

import numpy as _np

from . import _core
from ._core import ElementSet, Error, read_elements

__all__ = ["Error", "ElementSet", "read_elements", "propagate", "contacts", "plan"]

_have_plan = bool(_core._have_plan)


def _error(text):
    """An orvus.Error raised here, shaped as those of the library: .lines as printed."""
    e = Error(text)
    e.lines = [" " + text]
    return e

COLUMNS = ["satellite", "norad_id", "target_id", "target_name", "contact", "start_utc",
           "end_utc", "start_local", "end_local", "duration_s", "best_time_utc",
           "best_time_local", "best_alpha_deg", "distance_deg", "pass", "sun_elevation_deg",
           "coverage", "element_age_days"]

# Day numbers count days since 1950-01-01 0 h UTC.
_DAY0 = _np.datetime64("1950-01-01T00:00:00", "ns")
_NS_PER_DAY = 86_400_000_000_000


def _utc_day_seconds(times):
    """UTC day numbers and seconds of the day of datetimes or numpy.datetime64 values."""
    items = _np.atleast_1d(_np.asarray(times))
    try:
        if items.dtype == object:
            items = _np.array([_as_naive_utc(t) for t in items.ravel()], dtype="datetime64[ns]")
        ns = (items.astype("datetime64[ns]") - _DAY0).astype(_np.int64)
    except (TypeError, ValueError) as e:
        raise _error(f"TIMES MUST BE UTC datetime OR numpy.datetime64 VALUES ({e}).") from None
    days = ns // _NS_PER_DAY
    return days.astype(_np.float64), (ns - days * _NS_PER_DAY).astype(_np.float64) / 1e9


def _as_naive_utc(t):
    if isinstance(t, _dt.datetime) and t.tzinfo is not None:
        return t.astimezone(_dt.timezone.utc).replace(tzinfo=None)
    return t


def propagate(elements, times):
    """True-of-date states (x y z in m, vx vy vz in m/s) of the SGP8 model, shape (n, 6).

    `times` are UTC: datetime (naive or aware) or numpy.datetime64 values, one or many."""
    days, seconds = _utc_day_seconds(times)
    return _core._propagate(elements, days, seconds)


def _local_text(value, what):
    """A local date-time (naive datetime, numpy.datetime64 or ISO 8601 text) as the
    date-time text of the input file, DD/MM/YYYY HH:MM:SS.sssssssss."""
    if isinstance(value, _np.datetime64):
        ns = int((value.astype("datetime64[ns]") - _DAY0).astype(_np.int64))
        t = _dt.datetime(1950, 1, 1) + _dt.timedelta(microseconds=ns // 1000)
        nanos = ns % 1_000_000_000
    elif isinstance(value, str):
        try:
            t = _dt.datetime.fromisoformat(value.strip())
        except ValueError:
            raise _error(f'{what}: "{value}" IS NOT AN ISO 8601 LOCAL DATE-TIME.') from None
        nanos = t.microsecond * 1000
    elif isinstance(value, _dt.datetime):
        t, nanos = value, value.microsecond * 1000
    else:
        raise _error(f"{what} MUST BE A datetime, A numpy.datetime64 OR ISO 8601 TEXT.")
    if t.tzinfo is not None:
        raise _error(f"{what} IS A LOCAL DATE-TIME: GIVE IT WITHOUT A ZONE "
                    "(THE OFFSET IS utc_offset_hours).")
    return t.strftime("%d/%m/") + f"{t.year:04d} {t:%H:%M:%S}.{nanos:09d}"


def _frame(columns):
    import pandas as pd

    frame = pd.DataFrame(columns, columns=COLUMNS)
    return frame.astype({"norad_id": "int64", "contact": "int64"})


def _read_table(text):
    import pandas as pd

    texts = {c: str for c in ("satellite", "target_id", "target_name", "pass", "start_utc",
                              "end_utc", "start_local", "end_local", "best_time_utc",
                              "best_time_local")}
    return pd.read_csv(_io.StringIO(text), dtype=texts, keep_default_na=False)


def _box(target):
    if isinstance(target, (tuple, list)) and len(target) == 4:
        try:
            box = tuple(float(v) for v in target)
        except (TypeError, ValueError):
            box = None
        if box is not None and all(_np.isfinite(box)):
            return box
        raise _error("TARGET: A BOX IS FOUR FINITE NUMBERS (LON1, LON2, LAT1, LAT2).")
    return None


def contacts(elements, target, start, end, *, step_s=1.0, alpha_deg=0.0, beta_deg,
             utc_offset_hours=0.0, earth_orientation, rule="points", target_id="1",
             target_name=""):
    """Contacts of one satellite with one target as a DataFrame of the columns of
    opportunities.csv, one row per closed contact.

    target: a box (lon1, lon2, lat1, lat2) as record 4 of the input file, or a GeoJSON-like
    Polygon/MultiPolygon mapping (or a Feature holding one). start, end: local date-times,
    both included. rule "points": a tracking point at ALPHA, ALPHA - BETA/2 or ALPHA + BETA/2
    lies in the box (the contacts orvus reports); "swath": the arc between the edges of the
    view touches the target (the planner's rule)."""
    if rule not in ("points", "swath"):
        raise _error(f'RULE MUST BE "points" OR "swath" (GIVEN: "{rule}").')
    start_text = _local_text(start, "START")
    end_text = _local_text(end, "END")
    eop = _os.fspath(earth_orientation)
    box = _box(target)
    if box is not None and rule == "points":
        columns = _core._contacts_points(elements, box, start_text, end_text, float(step_s),
                                         float(alpha_deg), float(beta_deg),
                                         float(utc_offset_hours), eop, str(target_id),
                                         str(target_name))
        return _frame(columns)
    if not _have_plan:
        raise _error("POLYGON TARGETS AND THE SWATH RULE NEED THE PLANNER, WHICH THIS BUILD "
                    "OF ORVUS DOES NOT CARRY.")
    with _tempfile.TemporaryDirectory(prefix="orvus-target-") as tmp:
        path = _one_target_file(tmp, target, box, str(target_id), str(target_name))
        text = _core._contacts_plan(elements, path, start_text, end_text, float(step_s),
                                    float(alpha_deg), float(beta_deg), float(utc_offset_hours),
                                    eop, rule)
    return _read_table(text)


def _one_target_file(directory, target, box, target_id, target_name):
    """The target as a deck of one, in the forms the planner reads."""
    if box is not None:
        path = _os.path.join(directory, "target.csv")
        with open(path, "w", encoding="utf-8", newline="") as f:
            import csv

            w = csv.writer(f, lineterminator="\n")
            w.writerow(["id", "name", "lon1", "lon2", "lat1", "lat2"])
            w.writerow([target_id, target_name] + [repr(v) for v in box])
        return path
    geometry = getattr(target, "__geo_interface__", target)
    if isinstance(geometry, dict) and geometry.get("type") == "Feature":
        geometry = geometry.get("geometry")
    if not (isinstance(geometry, dict) and geometry.get("type") in ("Polygon", "MultiPolygon")):
        raise _error("TARGET MUST BE A BOX (LON1, LON2, LAT1, LAT2) OR A POLYGON OR "
                    "MULTIPOLYGON MAPPING.")
    feature = {"type": "Feature", "properties": {"id": target_id, "name": target_name},
               "geometry": {"type": geometry["type"], "coordinates": geometry.get("coordinates")}}
    path = _os.path.join(directory, "target.geojson")
    with open(path, "w", encoding="utf-8") as f:
        _json.dump({"type": "FeatureCollection", "features": [feature]}, f)
    return path


def plan(path):
    """Runs a plan (TOML) on this machine: the DataFrame orvus-plan writes as
    opportunities.csv (no file is written)."""
    if not _have_plan:
        raise _error("THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.")
    return _read_table(_core._plan_csv(_os.fspath(path)))
