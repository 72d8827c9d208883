"""Fixtures of the service's tests: a configuration over the bundled satellites, a database
of each kind (a SQLite file; a PostgreSQL server started here from Debian's postgresql,
initdb in a temporary folder as an unprivileged user, a Unix socket, stopped at the end), and
the service in this process behind Starlette's test client."""

import glob
import os
import pwd
import shutil
import subprocess
import tempfile
import textwrap
import uuid

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "../../.."))
DATA = os.environ.get("ORVUS_TEST_DATA", os.path.join(ROOT, "tests/data"))
EXAMPLES = os.environ.get("ORVUS_EXAMPLES", os.path.join(ROOT, "examples"))
EOP = os.path.join(DATA, "finals2000A.data")
NOW = "2025-07-29T12:00:00Z"  # the bundled element sets' epoch
BRASILIA = {"type": "Polygon", "coordinates": [[[-48.3, -16.1], [-47.3, -16.1], [-47.3, -15.4],
                                                [-48.3, -15.4], [-48.3, -16.1]]]}

SATELLITES = f"""
[[satellite]]
name = "AMAZONIA 1"
elements = "{EXAMPLES}/amazonia1.tle"
alpha_deg = 0.0
beta_deg = 60.0
camera_fov_deg = 8.0
roll_rate_deg_s = 1.5
settle_s = 10.0
max_imaging_s_per_orbit = 40.0
min_imaging_s = 2.0

[[satellite]]
name = "ORVUS TWIN"
elements = "{EXAMPLES}/plan/twin.tle"
alpha_deg = 0.0
beta_deg = 60.0
camera_fov_deg = 8.0
roll_rate_deg_s = 1.5
settle_s = 10.0
max_imaging_s_per_orbit = 40.0
min_imaging_s = 2.0

[[station]]
name = "CUIABA"
lon = -56.07
lat = -15.55
min_elevation_deg = 5.0
"""

PRODUCTS = """
[[product]]
id = "optical"
title = "Daylight scene"
description = "A daylight scene, at most 30 degrees off nadir."
satellites = ["AMAZONIA 1", "ORVUS TWIN"]
max_off_nadir_deg = 30.0
min_sun_elevation_deg = 10.0
priority_max = 5

[[product]]
id = "any-pass"
title = "Any pass of Amazonia 1"
description = "Every pass of Amazonia 1, day or night."
satellites = ["AMAZONIA 1"]
"""


def write_config(folder, database, service="", satellites=SATELLITES, products=PRODUCTS):
    """A service configuration in `folder` on `database` (a URL); `service` adds or overrides
    keys of [service]."""
    keys = {"database": f'"{database}"', "earth_orientation": f'"{EOP}"', "horizon_days": "3",
            "replan_every_s": "0", "replan_time_limit_s": "5", "workers": "2",
            "searches_per_key": "3"}
    for line in textwrap.dedent(service).strip().splitlines():
        k, _, v = line.partition("=")
        keys[k.strip()] = v.strip()
    text = "[service]\n" + "".join(f"{k} = {v}\n" for k, v in keys.items())
    path = os.path.join(folder, "serve.toml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text + satellites + products)
    return path


# ---- PostgreSQL ----

def _pg_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else None


class PostgresServer:
    """A PostgreSQL server of its own in a temporary folder, listening on a Unix socket only,
    run as an unprivileged user when the tests run as root (initdb refuses root)."""

    def __init__(self):
        self.bin = _pg_bin()
        self.folder = tempfile.mkdtemp(prefix="orvus-pg-")
        self.data = os.path.join(self.folder, "data")
        self.as_user = []
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
            self.as_user = ["runuser", "-u", "nobody", "--"]
        env = dict(os.environ, LC_ALL="C")
        self._run(["initdb", "-D", self.data, "-U", "orvus", "--auth=trust", "-E", "UTF8",
                   "--no-sync"], env)
        options = (f"-k {self.folder} -c listen_addresses='' -c fsync=off "
                   "-c max_connections=200 -c shared_buffers=32MB")
        self._run(["pg_ctl", "-D", self.data, "-o", options, "-l",
                   os.path.join(self.folder, "log"), "-w", "start"], env)

    def _run(self, argv, env):
        argv = self.as_user + [os.path.join(self.bin, argv[0])] + argv[1:]
        subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, cwd=self.folder)

    def url(self, database="postgres"):
        return f"postgresql://orvus@/{database}?host={self.folder}"

    def new_database(self):
        import sqlalchemy as sa
        name = "t_" + uuid.uuid4().hex[:12]
        engine = sa.create_engine(self.url(), isolation_level="AUTOCOMMIT")
        with engine.connect() as c:
            c.exec_driver_sql(f'CREATE DATABASE "{name}"')
        engine.dispose()
        return self.url(name)

    def stop(self):
        try:
            self._run(["pg_ctl", "-D", self.data, "-m", "immediate", "-w", "stop"],
                      dict(os.environ))
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


@pytest.fixture(scope="session")
def postgres():
    if _pg_bin() is None:
        pytest.skip("PostgreSQL is not installed (scripts/bootstrap installs it)")
    server = PostgresServer()
    yield server
    server.stop()


@pytest.fixture(params=["sqlite", "postgresql"])
def db_url(request, tmp_path):
    """A fresh, empty database of each kind."""
    if request.param == "sqlite":
        return f"sqlite:///{tmp_path}/orders.db"
    return request.getfixturevalue("postgres").new_database()


# ---- the service ----

class Running:
    """The service in this process: `client` sends requests, `clock` is its clock, `keys`
    holds a requester's, another requester's and an operator's key."""

    def __init__(self, config_path, now=NOW):
        from fastapi.testclient import TestClient

        from orvus.serve import config
        from orvus.serve.app import Clock, Service, create_app
        from orvus.serve.inputs import parse_instant
        from orvus.serve.planning import Planner
        from orvus.serve.store import Store

        self.config = config.load(config_path)
        self.store = Store(self.config.database)
        self.store.migrate()
        self.clock = Clock(parse_instant(now, []))
        self.planner = Planner(self.config)
        self.service = Service(self.config, self.store, self.planner, self.clock)
        self.app = create_app(self.service)
        self.client = TestClient(self.app)
        self.client.__enter__()
        now_ms = self.clock.now_ms()
        self.keys = {name: self.store.add_key(name, name == "operator", now_ms)
                     for name in ("alice", "bob", "operator")}

    def auth(self, who):
        return {"Authorization": f"Bearer {self.keys[who]}"}

    def close(self):
        self.client.__exit__(None, None, None)
        self.planner.close()
        self.store.close()


@pytest.fixture
def service(tmp_path, db_url):
    """The service on each kind of database."""
    running = Running(write_config(tmp_path, db_url))
    yield running
    running.close()


@pytest.fixture
def sqlite_service(tmp_path):
    """The service on SQLite only (tests of the HTTP layer, not of the store)."""
    running = Running(write_config(tmp_path, f"sqlite:///{tmp_path}/orders.db"))
    yield running
    running.close()
