"""Orders, their status history, the plans and the API keys in a database through SQLAlchemy:
a SQLite file (WAL, foreign keys on, one writer at a time by BEGIN IMMEDIATE) or PostgreSQL.
The schema is made and upgraded by the Alembic migrations beside this file, at start-up; an
older database is upgraded in place, never dropped. Every statement is parameterised.

Times are integer milliseconds since 1970 (UTC); JSON values are stored as their text."""

import contextlib
import dataclasses
import hashlib
import hmac
import json
import os
import secrets
import threading

import sqlalchemy as sa
from sqlalchemy import event

metadata = sa.MetaData()

api_keys = sa.Table(
    "api_keys", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("name", sa.String(200), nullable=False, unique=True),
    sa.Column("key_id", sa.String(32), nullable=False, unique=True),
    sa.Column("key_hash", sa.String(64), nullable=False),
    sa.Column("operator", sa.Boolean, nullable=False),
    sa.Column("created_ms", sa.BigInteger, nullable=False),
    sa.Column("revoked_ms", sa.BigInteger, nullable=True),
)

orders = sa.Table(
    "orders", metadata,
    sa.Column("id", sa.String(36), primary_key=True),
    sa.Column("owner_id", sa.Integer, sa.ForeignKey("api_keys.id"), nullable=False),
    sa.Column("product_id", sa.String(100), nullable=False),
    sa.Column("created_ms", sa.BigInteger, nullable=False),
    sa.Column("start_ms", sa.BigInteger, nullable=False),
    sa.Column("end_ms", sa.BigInteger, nullable=False),
    sa.Column("geometry", sa.Text, nullable=False),
    sa.Column("filter", sa.Text, nullable=True),
    sa.Column("order_parameters", sa.Text, nullable=False),
    sa.Column("priority", sa.Float, nullable=False),
    # The current status (the last of order_statuses), kept here for the lists.
    sa.Column("status_code", sa.String(32), nullable=False),
    sa.Column("status_ms", sa.BigInteger, nullable=False),
    sa.Column("reason_code", sa.String(64), nullable=True),
    sa.Column("reason_text", sa.Text, nullable=True),
    sa.Column("status_links", sa.Text, nullable=False),
    sa.Index("ix_orders_owner", "owner_id", "created_ms", "id"),
    sa.Index("ix_orders_created", "created_ms", "id"),
    sa.Index("ix_orders_status", "status_code"),
)

order_statuses = sa.Table(
    "order_statuses", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("order_id", sa.String(36), sa.ForeignKey("orders.id", ondelete="CASCADE"),
              nullable=False),
    sa.Column("timestamp_ms", sa.BigInteger, nullable=False),
    sa.Column("status_code", sa.String(32), nullable=False),
    sa.Column("reason_code", sa.String(64), nullable=True),
    sa.Column("reason_text", sa.Text, nullable=True),
    sa.Column("links", sa.Text, nullable=False),
    sa.Index("ix_order_statuses_order", "order_id", "id"),
)

# A plan replaces the previous one whole: the current plan is planner_state.plan_id, and a
# replan writes only when planner_state.generation is still the one it started from.
plans = sa.Table(
    "plans", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("generation", sa.Integer, nullable=False, unique=True),
    sa.Column("created_ms", sa.BigInteger, nullable=False),
    sa.Column("start_ms", sa.BigInteger, nullable=False),
    sa.Column("end_ms", sa.BigInteger, nullable=False),
    sa.Column("trigger", sa.String(32), nullable=False),
    sa.Column("summary", sa.Text, nullable=False),
)

acquisitions = sa.Table(
    "acquisitions", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id", ondelete="CASCADE"),
              nullable=False),
    sa.Column("order_id", sa.String(36), sa.ForeignKey("orders.id", ondelete="CASCADE"),
              nullable=False),
    sa.Column("satellite", sa.String(200), nullable=False),
    sa.Column("norad_id", sa.Integer, nullable=False),
    sa.Column("start_ms", sa.BigInteger, nullable=False),
    sa.Column("end_ms", sa.BigInteger, nullable=False),
    sa.Column("roll_deg", sa.Float, nullable=False),
    sa.Column("station", sa.String(200), nullable=True),
    sa.Column("downlink_start_ms", sa.BigInteger, nullable=True),
    sa.Column("sun_elevation_deg", sa.Float, nullable=False),
    # The image's data, the recorder just after it (None without a data rate) and the
    # camera's swath (GeoJSON text; None in plans written before it was kept).
    sa.Column("data_gbit", sa.Float, nullable=True),
    sa.Column("recorder_after_gbit", sa.Float, nullable=True),
    sa.Column("footprint", sa.Text, nullable=True),
    sa.Index("ix_acquisitions_plan", "plan_id"),
    sa.Index("ix_acquisitions_order", "order_id"),
)

# The station passes of a plan's interval, which its schedule downlinks in.
plan_passes = sa.Table(
    "plan_passes", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id", ondelete="CASCADE"),
              nullable=False),
    sa.Column("satellite", sa.String(200), nullable=False),
    sa.Column("station", sa.String(200), nullable=False),
    sa.Column("aos_ms", sa.BigInteger, nullable=False),
    sa.Column("los_ms", sa.BigInteger, nullable=False),
    sa.Column("max_elevation_deg", sa.Float, nullable=False),
    sa.Index("ix_plan_passes_plan", "plan_id"),
)

planner_state = sa.Table(
    "planner_state", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("generation", sa.Integer, nullable=False),
    sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id"), nullable=True),
)

MIGRATIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "migrations")
_KEY_PREFIX = "orvus"


class Conflict(Exception):
    """A change the current state does not allow (the message says why)."""


@dataclasses.dataclass(frozen=True)
class Principal:
    id: int
    name: str
    operator: bool


@dataclasses.dataclass(frozen=True)
class Status:
    code: str
    timestamp_ms: int
    reason_code: str = None
    reason_text: str = None
    links: tuple = ()

    def row(self):
        return {"status_code": self.code, "timestamp_ms": self.timestamp_ms,
                "reason_code": self.reason_code, "reason_text": self.reason_text,
                "links": json.dumps(list(self.links))}


def _hash(key):
    return hashlib.sha256(key.encode("utf-8")).hexdigest()


def _sqlite_setup(engine):
    @event.listens_for(engine, "connect")
    def on_connect(dbapi_connection, record):
        # The driver's own transaction handling off: SQLAlchemy's begin below says BEGIN.
        dbapi_connection.isolation_level = None
        cursor = dbapi_connection.cursor()
        cursor.execute("PRAGMA busy_timeout = 30000")
        cursor.execute("PRAGMA journal_mode = WAL")
        cursor.execute("PRAGMA foreign_keys = ON")
        cursor.execute("PRAGMA synchronous = FULL")
        cursor.close()

    @event.listens_for(engine, "begin")
    def on_begin(connection):
        # A writing transaction takes the write lock at once, so that two writers (threads or
        # processes) queue instead of failing half-way; readers start a plain (deferred) one.
        write = connection.get_execution_options().get("orvus_write", False)
        connection.exec_driver_sql("BEGIN IMMEDIATE" if write else "BEGIN")


def make_engine(url):
    u = sa.engine.make_url(url)
    if u.get_backend_name() == "sqlite":
        if u.database and u.database != ":memory:":
            folder = os.path.dirname(os.path.abspath(u.database))
            if not os.path.isdir(folder):
                raise OSError(f"no folder {folder} for the database")
        engine = sa.create_engine(url, future=True, poolclass=sa.pool.QueuePool, pool_size=8,
                                  max_overflow=8,
                                  connect_args={"timeout": 30, "check_same_thread": False})
        _sqlite_setup(engine)
        return engine
    return sa.create_engine(url, future=True, pool_pre_ping=True, pool_size=8, max_overflow=8)


class Store:
    def __init__(self, url):
        self.url = url
        self.engine = make_engine(url)
        self.sqlite = self.engine.dialect.name == "sqlite"
        self._writer = self.engine.execution_options(orvus_write=True)
        self._dummy_hash = _hash(secrets.token_hex(16))
        self._lock = threading.Lock()

    def close(self):
        self.engine.dispose()

    # ---- transactions ----

    @contextlib.contextmanager
    def write(self):
        """A writing transaction: committed when the block ends, rolled back on an error. A
        connection the database refused to write through (read-only file, disk full) is
        dropped, so that the next one opens afresh once the database is writable again."""
        with self._writer.connect() as conn:
            try:
                with conn.begin():
                    yield conn
            except sa.exc.OperationalError:
                conn.invalidate()
                raise

    @contextlib.contextmanager
    def read(self):
        with self.engine.connect() as conn:
            with conn.begin():
                yield conn

    def _lock_rows(self, query):
        """A SELECT that, on PostgreSQL, locks its rows for the transaction (SQLite's writing
        transactions hold the whole database already)."""
        return query if self.sqlite else query.with_for_update()

    # ---- the schema ----

    def _alembic(self, conn):
        from alembic.config import Config as AlembicConfig
        cfg = AlembicConfig()
        cfg.set_main_option("script_location", MIGRATIONS)
        cfg.attributes["connection"] = conn
        return cfg

    def migrate(self, revision="head"):
        """Brings the schema to `revision` (by default the newest), in one transaction that
        two services starting together take in turn."""
        from alembic import command
        with self.write() as conn:
            if not self.sqlite:
                conn.execute(sa.text("SELECT pg_advisory_xact_lock(72757532)"))
            command.upgrade(self._alembic(conn), revision)

    def revision(self):
        from alembic.runtime.migration import MigrationContext
        with self.read() as conn:
            return MigrationContext.configure(conn).get_current_revision()

    # ---- API keys ----

    def add_key(self, name, operator, now_ms):
        """A new key for `name`: its text, shown once; only its hash is kept."""
        if not name or len(name) > 200:
            raise ValueError("a key's name has 1 to 200 characters")
        key_id = secrets.token_hex(6)
        key = f"{_KEY_PREFIX}_{key_id}_{secrets.token_hex(20)}"
        with self.write() as conn:
            taken = conn.execute(sa.select(api_keys.c.id).where(api_keys.c.name == name)).first()
            if taken:
                raise Conflict(f"a key named \"{name}\" exists already")
            conn.execute(api_keys.insert().values(
                name=name, key_id=key_id, key_hash=_hash(key), operator=bool(operator),
                created_ms=now_ms, revoked_ms=None))
        return key

    def list_keys(self):
        with self.read() as conn:
            rows = conn.execute(sa.select(api_keys.c.name, api_keys.c.key_id,
                                          api_keys.c.operator, api_keys.c.created_ms,
                                          api_keys.c.revoked_ms).order_by(api_keys.c.id))
            return [dict(r._mapping) for r in rows]

    def count_keys(self):
        with self.read() as conn:
            return conn.execute(sa.select(sa.func.count()).select_from(api_keys)).scalar_one()

    def revoke_key(self, name, now_ms):
        """Revokes the key named `name`; False when there is no such key still valid."""
        with self.write() as conn:
            done = conn.execute(api_keys.update().where(
                api_keys.c.name == name, api_keys.c.revoked_ms.is_(None)).values(
                    revoked_ms=now_ms))
            return done.rowcount == 1

    def authenticate(self, key):
        """The holder of a valid key, or None. The key's hash is compared in constant time,
        and an unknown key costs a comparison too."""
        parts = key.split("_") if isinstance(key, str) else []
        key_id = parts[1] if len(parts) == 3 and parts[0] == _KEY_PREFIX else ""
        row = None
        if key_id:
            with self.read() as conn:
                row = conn.execute(sa.select(api_keys).where(api_keys.c.key_id == key_id)).first()
        stored = row.key_hash if row is not None else self._dummy_hash
        same = hmac.compare_digest(stored.encode("ascii"), _hash(str(key)).encode("ascii"))
        if row is None or not same or row.revoked_ms is not None:
            return None
        return Principal(row.id, row.name, bool(row.operator))

    # ---- orders ----

    def create_order(self, order, statuses):
        """Stores a new order with its first statuses, all or nothing."""
        last = statuses[-1]
        with self.write() as conn:
            conn.execute(orders.insert().values(
                **order, status_code=last.code, status_ms=last.timestamp_ms,
                reason_code=last.reason_code, reason_text=last.reason_text,
                status_links=json.dumps(list(last.links))))
            conn.execute(order_statuses.insert(),
                         [dict(s.row(), order_id=order["id"]) for s in statuses])

    def _visible(self, query, principal):
        return query if principal.operator else query.where(orders.c.owner_id == principal.id)

    def get_order(self, order_id, principal):
        """The order with the name of its owner, or None when there is none the principal may
        see (another requester's order is as good as absent)."""
        with self.read() as conn:
            q = sa.select(orders, api_keys.c.name.label("owner")).join(
                api_keys, api_keys.c.id == orders.c.owner_id).where(orders.c.id == order_id)
            row = conn.execute(self._visible(q, principal)).first()
            return dict(row._mapping) if row else None

    def list_orders(self, principal, limit, after=None, product_id=None):
        """Up to `limit` orders after the key (created_ms, id) `after`, oldest first, and
        whether more follow."""
        q = sa.select(orders, api_keys.c.name.label("owner")).join(
            api_keys, api_keys.c.id == orders.c.owner_id)
        q = self._visible(q, principal)
        if product_id is not None:
            q = q.where(orders.c.product_id == product_id)
        if after is not None:
            created, oid = after
            q = q.where(sa.or_(orders.c.created_ms > created,
                               sa.and_(orders.c.created_ms == created, orders.c.id > oid)))
        q = q.order_by(orders.c.created_ms, orders.c.id).limit(limit + 1)
        with self.read() as conn:
            rows = [dict(r._mapping) for r in conn.execute(q)]
        return rows[:limit], len(rows) > limit

    def statuses(self, order_id, limit, after=None):
        """Up to `limit` statuses of an order after the status id `after`, oldest first, and
        whether more follow."""
        q = sa.select(order_statuses).where(order_statuses.c.order_id == order_id)
        if after is not None:
            q = q.where(order_statuses.c.id > after)
        q = q.order_by(order_statuses.c.id).limit(limit + 1)
        with self.read() as conn:
            rows = [dict(r._mapping) for r in conn.execute(q)]
        return rows[:limit], len(rows) > limit

    def _add_status(self, conn, order_id, status):
        conn.execute(order_statuses.insert().values(**status.row(), order_id=order_id))
        conn.execute(orders.update().where(orders.c.id == order_id).values(
            status_code=status.code, status_ms=status.timestamp_ms,
            reason_code=status.reason_code, reason_text=status.reason_text,
            status_links=json.dumps(list(status.links))))

    def change_status(self, order_id, principal, decide):
        """Adds the statuses `decide(order)` returns (a list of Status; it raises Conflict to
        refuse) to an order the principal may see, in one transaction in which the order
        cannot change otherwise. None when there is no such order."""
        with self.write() as conn:
            q = self._visible(sa.select(orders).where(orders.c.id == order_id), principal)
            row = conn.execute(self._lock_rows(q)).first()
            if row is None:
                return None
            new = decide(dict(row._mapping))
            for s in new:
                self._add_status(conn, order_id, s)
            return new

    # ---- plans ----

    def replan_snapshot(self):
        """What a replan starts from: the planner's generation, the orders in contention
        (accepted or scheduled) and the current plan's acquisitions."""
        with self.read() as conn:
            state = conn.execute(sa.select(planner_state).where(planner_state.c.id == 1)).one()
            active = [dict(r._mapping) for r in conn.execute(
                sa.select(orders).where(orders.c.status_code.in_(("accepted", "scheduled")))
                .order_by(orders.c.created_ms, orders.c.id))]
            current = []
            if state.plan_id is not None:
                current = [dict(r._mapping) for r in conn.execute(
                    sa.select(acquisitions).where(acquisitions.c.plan_id == state.plan_id)
                    .order_by(acquisitions.c.start_ms, acquisitions.c.id))]
        return state.generation, active, current

    def write_plan(self, generation, plan, rows, decide, passes=(), keep_plans=20):
        """Makes a new plan current, with its acquisitions (`rows`, dicts of the columns but
        plan_id) and its station passes (dicts likewise), in one transaction, unless the
        generation is no longer `generation` (another replan wrote first: then nothing is
        written and None returned). `decide(current, rows)` gets the orders in contention now
        (by id: status_code and end_ms, read inside the transaction, so that an order
        cancelled meanwhile is seen) and returns the acquisitions to keep and the statuses to
        add: ([row], {order id: [Status]}), a status's links may name "{acquisition}", filled
        with the acquisition's id. The oldest plans beyond `keep_plans` are removed. Returns
        the new plan's id."""
        with self.write() as conn:
            state = conn.execute(self._lock_rows(
                sa.select(planner_state).where(planner_state.c.id == 1))).one()
            if state.generation != generation:
                return None
            current = {r.id: dict(r._mapping) for r in conn.execute(self._lock_rows(
                sa.select(orders.c.id, orders.c.status_code, orders.c.end_ms).where(
                    orders.c.status_code.in_(("accepted", "scheduled")))))}
            kept, statuses = decide(current, rows)
            plan_id = conn.execute(plans.insert().values(
                generation=generation + 1, **plan)).inserted_primary_key[0]
            ids = {}
            for row in kept:
                ids[row["order_id"]] = conn.execute(acquisitions.insert().values(
                    plan_id=plan_id, **row)).inserted_primary_key[0]
            if passes:
                conn.execute(plan_passes.insert(), [dict(p, plan_id=plan_id) for p in passes])
            for order_id, new in statuses.items():
                for st in new:
                    links = tuple({k: (v.format(acquisition=ids.get(order_id)) if
                                       isinstance(v, str) else v) for k, v in link.items()}
                                  for link in st.links)
                    self._add_status(conn, order_id, dataclasses.replace(st, links=links))
            conn.execute(planner_state.update().where(planner_state.c.id == 1).values(
                generation=generation + 1, plan_id=plan_id))
            old = [r.id for r in conn.execute(
                sa.select(plans.c.id).where(plans.c.generation <= generation + 1 - keep_plans))]
            if old:
                conn.execute(acquisitions.delete().where(acquisitions.c.plan_id.in_(old)))
                conn.execute(plan_passes.delete().where(plan_passes.c.plan_id.in_(old)))
                conn.execute(plans.delete().where(plans.c.id.in_(old)))
            return plan_id

    def current_plan(self):
        """The current plan (a dict with its acquisitions, each with its order's current
        status, and its passes) or None."""
        with self.read() as conn:
            state = conn.execute(sa.select(planner_state).where(planner_state.c.id == 1)).one()
            if state.plan_id is None:
                return None
            plan = dict(conn.execute(sa.select(plans).where(plans.c.id == state.plan_id))
                        .one()._mapping)
            plan["acquisitions"] = [dict(r._mapping) for r in conn.execute(
                sa.select(acquisitions, orders.c.status_code.label("order_status")).join(
                    orders, orders.c.id == acquisitions.c.order_id)
                .where(acquisitions.c.plan_id == state.plan_id)
                .order_by(acquisitions.c.start_ms, acquisitions.c.id))]
            plan["passes"] = [dict(r._mapping) for r in conn.execute(
                sa.select(plan_passes).where(plan_passes.c.plan_id == state.plan_id)
                .order_by(plan_passes.c.aos_ms, plan_passes.c.id))]
            return plan

    def acquisition(self, acquisition_id, principal):
        """An acquisition of an order the principal may see, with its plan's generation."""
        q = sa.select(acquisitions, plans.c.generation).join(
            plans, plans.c.id == acquisitions.c.plan_id).join(
            orders, orders.c.id == acquisitions.c.order_id).where(
            acquisitions.c.id == acquisition_id)
        with self.read() as conn:
            row = conn.execute(self._visible(q, principal)).first()
            return dict(row._mapping) if row else None
