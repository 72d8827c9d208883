"""The service's configuration: one TOML file.

    [service]                 listen address, database, Earth orientation, horizon, cadence
    [[satellite]]             as in a plan file (element file, ALPHA/BETA, agility, recorder)
    [[station]]               as in a plan file
    [[product]]               an offer: satellites and the constraints a requester may set

Paths are relative to the file. Errors raise ConfigError naming the key.
"""

import dataclasses
import math
import os
import tomllib


class ConfigError(ValueError):
    pass


PASS_CHOICES = ("any", "ascending", "descending")


@dataclasses.dataclass(frozen=True)
class Product:
    id: str
    title: str
    description: str
    satellites: tuple          # names of [[satellite]] tables
    license: str
    keywords: tuple
    max_off_nadir_deg: float   # the widest |off-nadir| offered
    min_sun_elevation_deg: float
    orbit_state: str           # "any", "ascending" or "descending"
    min_duration_s: float
    priority_min: float
    priority_max: float
    priority_default: float


@dataclasses.dataclass(frozen=True)
class Config:
    path: str                  # the configuration file, absolute
    title: str
    description: str
    host: str
    port: int
    database: str              # an SQLAlchemy URL
    earth_orientation: str     # absolute path
    horizon_s: float
    step_s: float
    replan_every_s: float      # 0: only on POST /admin/replan
    replan_time_limit_s: float
    workers: int               # threads of the planner
    searches_per_key: int      # searches (and order checks) at once per key
    demo_key: bool
    satellites: tuple          # dicts of the [[satellite]] keys, paths made absolute
    stations: tuple            # dicts of the [[station]] keys
    products: tuple            # Product

    def product(self, product_id):
        for p in self.products:
            if p.id == product_id:
                return p
        return None

    def satellite_names(self):
        return [s["name"] for s in self.satellites]


_SERVICE_KEYS = {"title", "description", "host", "port", "database", "earth_orientation",
                 "horizon_days", "step_s", "replan_every_s", "replan_time_limit_s", "workers",
                 "searches_per_key", "demo_key"}
_PRODUCT_KEYS = {"id", "title", "description", "satellites", "license", "keywords",
                 "max_off_nadir_deg", "min_sun_elevation_deg", "orbit_state", "min_duration_s",
                 "priority_min", "priority_max", "priority_default"}
# Keys of a plan's [[satellite]] whose values are files.
_SATELLITE_PATHS = ("elements",)


def _number(table, key, where, default=None, low=None, high=None, integer=False):
    value = table.get(key, default)
    if value is None:
        raise ConfigError(f"{where}: missing key \"{key}\"")
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise ConfigError(f"{where}: \"{key}\" must be a finite number")
    if integer and value != int(value):
        raise ConfigError(f"{where}: \"{key}\" must be a whole number")
    if low is not None and value < low or high is not None and value > high:
        raise ConfigError(f"{where}: \"{key}\" must lie between {low} and {high}")
    return int(value) if integer else float(value)


def _text(table, key, where, default=None):
    value = table.get(key, default)
    if value is None:
        raise ConfigError(f"{where}: missing key \"{key}\"")
    if not isinstance(value, str):
        raise ConfigError(f"{where}: \"{key}\" must be a string")
    return value


def _database_url(value, base):
    if "://" in value:
        return value
    return "sqlite:///" + os.path.join(base, value)


def load(path):
    """The configuration in `path` (a TOML file)."""
    path = os.path.abspath(os.fspath(path))
    try:
        with open(path, "rb") as f:
            data = tomllib.load(f)
    except OSError as e:
        raise ConfigError(f"cannot read the configuration \"{path}\": {e.strerror}") from None
    except tomllib.TOMLDecodeError as e:
        raise ConfigError(f"\"{path}\" is not valid TOML: {e}") from None
    base = os.path.dirname(path)
    unknown = set(data) - {"service", "satellite", "station", "product"}
    if unknown:
        raise ConfigError(f"unknown table or key \"{sorted(unknown)[0]}\"")
    service = data.get("service", {})
    if not isinstance(service, dict):
        raise ConfigError("[service] must be a table")
    unknown = set(service) - _SERVICE_KEYS
    if unknown:
        raise ConfigError(f"[service]: unknown key \"{sorted(unknown)[0]}\"")
    where = "[service]"
    demo = service.get("demo_key", False)
    if not isinstance(demo, bool):
        raise ConfigError("[service]: \"demo_key\" must be true or false")

    satellites = data.get("satellite", [])
    if not isinstance(satellites, list) or not satellites or \
            not all(isinstance(s, dict) for s in satellites):
        raise ConfigError("one or more tables [[satellite]] are needed")
    sats = []
    names = set()
    for i, s in enumerate(satellites, 1):
        name = _text(s, "name", f"[[satellite]] {i}")
        if name in names:
            raise ConfigError(f"[[satellite]] {i}: the name \"{name}\" is given twice")
        names.add(name)
        s = dict(s)
        for key in _SATELLITE_PATHS:
            if key in s:
                s[key] = os.path.join(base, _text(s, key, f"[[satellite]] {i}"))
        sats.append(s)
    stations = data.get("station", [])
    if not isinstance(stations, list) or not all(isinstance(s, dict) for s in stations):
        raise ConfigError("[[station]] must be tables")

    products = data.get("product", [])
    if not isinstance(products, list) or not products or \
            not all(isinstance(p, dict) for p in products):
        raise ConfigError("one or more tables [[product]] are needed")
    prods = []
    for i, p in enumerate(products, 1):
        where = f"[[product]] {i}"
        unknown = set(p) - _PRODUCT_KEYS
        if unknown:
            raise ConfigError(f"{where}: unknown key \"{sorted(unknown)[0]}\"")
        pid = _text(p, "id", where)
        if not pid or len(pid) > 100 or not all(c.isalnum() or c in "-_." for c in pid):
            raise ConfigError(f"{where}: \"id\" must be 1 to 100 letters, digits, '-', '_', '.'")
        if any(q.id == pid for q in prods):
            raise ConfigError(f"{where}: the id \"{pid}\" is given twice")
        where = f"[[product]] \"{pid}\""
        chosen = p.get("satellites")
        if not isinstance(chosen, list) or not chosen or \
                not all(isinstance(n, str) for n in chosen):
            raise ConfigError(f"{where}: \"satellites\" must list one or more satellite names")
        for n in chosen:
            if n not in names:
                raise ConfigError(f"{where}: no [[satellite]] is named \"{n}\"")
        keywords = p.get("keywords", [])
        if not isinstance(keywords, list) or not all(isinstance(k, str) for k in keywords):
            raise ConfigError(f"{where}: \"keywords\" must be a list of strings")
        state = _text(p, "orbit_state", where, "any")
        if state not in PASS_CHOICES:
            raise ConfigError(f"{where}: \"orbit_state\" must be \"any\", \"ascending\" or "
                              "\"descending\"")
        low = _number(p, "priority_min", where, 1.0, 1e-9, 1e9)
        high = _number(p, "priority_max", where, max(low, 5.0), low, 1e9)
        prods.append(Product(
            id=pid, title=_text(p, "title", where, pid),
            description=_text(p, "description", where, pid),
            satellites=tuple(chosen), license=_text(p, "license", where, "proprietary"),
            keywords=tuple(keywords),
            max_off_nadir_deg=_number(p, "max_off_nadir_deg", where, 90.0, 0.0, 90.0),
            min_sun_elevation_deg=_number(p, "min_sun_elevation_deg", where, -90.0, -90.0, 90.0),
            orbit_state=state,
            min_duration_s=_number(p, "min_duration_s", where, 0.0, 0.0, 86400.0),
            priority_min=low, priority_max=high,
            priority_default=_number(p, "priority_default", where, low, low, high)))

    where = "[service]"
    return Config(
        path=path,
        title=_text(service, "title", where, "ORVUS tasking service"),
        description=_text(service, "description", where,
                          "Imaging opportunities and orders, planned by ORVUS."),
        host=_text(service, "host", where, "127.0.0.1"),
        port=_number(service, "port", where, 8000, 0, 65535, integer=True),
        database=_database_url(_text(service, "database", where, "orvus-serve.db"), base),
        earth_orientation=os.path.join(base, _text(service, "earth_orientation", where)),
        horizon_s=_number(service, "horizon_days", where, 7.0, 1.0 / 24.0, 60.0) * 86400.0,
        step_s=_number(service, "step_s", where, 1.0, 0.001, 60.0),
        replan_every_s=_number(service, "replan_every_s", where, 600.0, 0.0, 86400.0 * 7),
        replan_time_limit_s=_number(service, "replan_time_limit_s", where, 30.0, 1.0, 3600.0),
        workers=_number(service, "workers", where, 2, 1, 64, integer=True),
        searches_per_key=_number(service, "searches_per_key", where, 4, 1, 1000, integer=True),
        demo_key=demo,
        satellites=tuple(sats),
        stations=tuple(dict(s) for s in stations),
        products=tuple(prods))
