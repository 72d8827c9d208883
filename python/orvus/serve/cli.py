"""The command orvus-serve:

    orvus-serve CONFIG.toml [--host H] [--port P] [--now T]   run the service
    orvus-serve keys add NAME [--operator] CONFIG.toml         print a new key once
    orvus-serve keys list CONFIG.toml
    orvus-serve keys revoke NAME CONFIG.toml

Exit status 0, 1 after a message (a bad configuration, a database that cannot be opened), 2
for a wrong command line."""

import argparse
import logging
import sys

from . import config as config_module
from .inputs import ApiError, format_ms, parse_instant


def _now_ms(text):
    if text is None:
        return None
    try:
        return parse_instant(text, ["--now"])
    except ApiError as e:
        raise SystemExit(f"orvus-serve: --now: {e.msg}") from None


def _open(path):
    from .store import Store
    cfg = config_module.load(path)
    store = Store(cfg.database)
    store.migrate()
    return cfg, store


def keys(argv):
    parser = argparse.ArgumentParser(prog="orvus-serve keys",
                                     description="Adds, lists and revokes API keys.")
    sub = parser.add_subparsers(dest="action", required=True)
    add = sub.add_parser("add", help="add a key and print it (once: only its hash is kept)")
    add.add_argument("name")
    add.add_argument("--operator", action="store_true",
                     help="the key may see every order, replan and report outcomes")
    add.add_argument("config")
    ls = sub.add_parser("list", help="list the keys (names, never the keys)")
    ls.add_argument("config")
    revoke = sub.add_parser("revoke", help="revoke a key by its name")
    revoke.add_argument("name")
    revoke.add_argument("config")
    args = parser.parse_args(argv)
    from .app import Clock
    from .store import Conflict
    cfg, store = _open(args.config)
    now = Clock().now_ms()
    try:
        if args.action == "add":
            try:
                key = store.add_key(args.name, args.operator, now)
            except (Conflict, ValueError) as e:
                print(f"orvus-serve: {e}", file=sys.stderr)
                return 1
            print(key)
            return 0
        if args.action == "list":
            print("name,key_id,operator,created_utc,revoked_utc")
            for k in store.list_keys():
                revoked = format_ms(k["revoked_ms"]) if k["revoked_ms"] is not None else ""
                print(f"{k['name']},{k['key_id']},{'yes' if k['operator'] else 'no'},"
                      f"{format_ms(k['created_ms'])},{revoked}")
            return 0
        if not store.revoke_key(args.name, now):
            print(f"orvus-serve: no valid key named \"{args.name}\"", file=sys.stderr)
            return 1
        return 0
    finally:
        store.close()


def serve(argv):
    parser = argparse.ArgumentParser(
        prog="orvus-serve", description="A tasking service (STAPI v0.1.0) over the ORVUS "
        "planner. Also: orvus-serve keys {add,list,revoke} ...")
    parser.add_argument("config", help="the service's configuration (TOML)")
    parser.add_argument("--host", help="listen address (default: the configuration's, else "
                        "127.0.0.1)")
    parser.add_argument("--port", type=int, help="port (default: the configuration's, else 8000)")
    parser.add_argument("--now", help="the service's clock starts at this RFC 3339 time "
                        "(element sets of a past date)")
    args = parser.parse_args(argv)
    start = _now_ms(args.now)
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s %(message)s")
    import uvicorn

    from .app import Clock, Service, create_app
    from .planning import Planner, PlannerUnavailable
    cfg, store = _open(args.config)
    clock = Clock(start)
    planner = Planner(cfg)
    try:
        planner.check()
    except PlannerUnavailable as e:
        print(f"orvus-serve: the planner cannot load the satellites or stations: {e}",
              file=sys.stderr)
        return 1
    if cfg.demo_key and store.count_keys() == 0:
        key = store.add_key("demo", True, clock.now_ms())
        print(f"orvus-serve: a demo operator key (shown this once): {key}", flush=True)
    app = create_app(Service(cfg, store, planner, clock))
    uvicorn.run(app, host=args.host or cfg.host, port=args.port if args.port is not None
                else cfg.port, log_level="info", log_config=None)
    planner.close()
    store.close()
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    try:
        if argv and argv[0] == "keys":
            return keys(argv[1:])
        return serve(argv)
    except config_module.ConfigError as e:
        print(f"orvus-serve: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"orvus-serve: {e}", file=sys.stderr)
        return 1
