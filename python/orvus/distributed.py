"""A plan on a Dask cluster.

    python3 -m orvus.distributed PLAN.toml --scheduler tcp://HOST:8786
    python3 -m orvus.distributed PLAN.toml --local 4

The plan is split into tasks of one satellite over a chunk of targets: each target's
contacts are whole within its task, so no contact is cut; a plan with [coverage] adds tasks of
one satellite over a chunk of the grid's cells. Every task calls the core library on a worker;
the client joins the results and finishes the run with the library's own finish, as orvus-plan
finishes its sweep (the plan's constraints, the coverage's figures, the passes over the plan's
stations and, with [schedule], the schedule, made on the client after the sweep), and writes
opportunities.csv, opportunities.geojson, opportunities.html, passes.csv,
the coverage's files and the schedule's files into the plan's output directory, as orvus-plan
writes them. As with orvus-plan, the folder is locked
for the run (a second planner on it stops at once) and the files replace the earlier ones
together at the end, or not at all. The plan's files must be reachable by the same paths on
every worker. A worker lost during the run has its tasks run again elsewhere by Dask.
"""

import argparse
import math
import os
import socket
import sys
import threading
import uuid

from . import Error, _core, _error, _path


class ChunkError(RuntimeError):
    """A task of the plan failed: which satellite and targets, and the library's message."""


class TaskStopped(RuntimeError):
    """A task stopped because nobody wants its result any more."""


def _still_wanted():
    """On a worker: a check, called by the library between blocks of the sweep, that raises
    TaskStopped once the running task is no longer wanted: the client cancelled it (Ctrl-C, a
    failed task), the worker is closing, or its process is ending. Without it a task sweeps on
    for minutes, and the worker's process cannot end before it. None off a worker."""
    try:
        from distributed import get_worker
        from distributed.core import Status
        from distributed.worker import thread_state

        worker, key = get_worker(), thread_state.key
    except (ImportError, ValueError, AttributeError):
        return None
    tasks = getattr(getattr(worker, "state", worker), "tasks", None)
    # A worker retiring gracefully finishes its tasks, unless the scheduler releases them.
    working = (Status.running, Status.paused, Status.closing_gracefully)

    def check():
        task = tasks.get(key) if tasks is not None else None
        if (worker.status not in working or not threading.main_thread().is_alive()
                or (tasks is not None and (task is None or task.state in ("cancelled", "released")))):
            raise TaskStopped(key)

    return check


def task(plan_path, kind, satellite, first, last, label):
    """Runs on a worker: one task of the plan, as the library's bytes of its parts: kind
    "opportunities", one satellite over targets [first, last); "coverage", its accesses to the
    grid's cells [first, last)."""
    try:
        return _core._plan_task(plan_path, kind, satellite, first, last, _still_wanted())
    except Error as e:
        raise ChunkError(f"{label}:\n{e}") from None


def tasks(plan_path, info, chunk, cell_chunk):
    """(kind, satellite, first, last, label) of every task, as the library splits the plan:
    satellites first, targets in order, then with [coverage] the cells likewise."""
    targets, names = info["targets"], info["satellites"]
    for kind, s, first, last in _core._plan_tasks(plan_path, chunk, cell_chunk):
        if kind == "coverage":
            label = f'COVERAGE OF SATELLITE {s + 1} ("{names[s]}"), CELLS {first + 1} TO {last}'
        else:
            label = (f'SATELLITE {s + 1} ("{names[s]}"), TARGETS {first + 1} TO {last} '
                     f'(ID "{targets[first]}" TO "{targets[last - 1]}")')
        yield kind, s, first, last, label


def run(client, plan_path, output=None, chunk=None, on_result=None, cell_chunk=None):
    """Runs the plan on the cluster of `client` and writes its files; returns the counts
    (found, kept and those each constraint removed; with [coverage] the cells and the
    coverage_* counts). `on_result(done, total)` is called as tasks finish. `cell_chunk`: cells
    per coverage task (default: as many tasks as workers, at least one per satellite). Raises
    orvus.Error for a bad plan, ChunkError for a failed task."""
    plan_path = os.path.abspath(_path(plan_path, "PLAN"))
    if not _core._have_plan:
        raise _error("THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.")
    info = _core._plan_info(plan_path)
    # The output folder made, locked and checked before the tasks.
    outputs = _core._PlanOutputs(plan_path, _path(output, "OUTPUT") if output else "")
    try:
        return _run_tasks(client, plan_path, info, outputs, chunk, on_result, cell_chunk)
    finally:
        outputs.close()


def _run_tasks(client, plan_path, info, outputs, chunk, on_result, cell_chunk=None):
    from dask.distributed import as_completed

    # One sweep of a satellite serves every target (or cell) of its task, and each task sweeps
    # again: as few tasks as keep every worker busy, at least one per satellite.
    workers = max(1, len(client.scheduler_info().get("workers", {})))
    per_satellite = max(1, math.ceil(workers / max(1, len(info["satellites"]))))
    if chunk is None:
        chunk = max(1, math.ceil(len(info["targets"]) / per_satellite))
    if cell_chunk is None:
        cell_chunk = max(1, math.ceil(info.get("cells", 0) / per_satellite))
    run_id = uuid.uuid4().hex[:12]
    futures, place, labels = [], {}, {}
    for kind, s, first, last, label in tasks(plan_path, info, chunk, cell_chunk):
        key = f"orvus-{kind}-{run_id}-{s}-{first}"
        futures.append(client.submit(task, plan_path, kind, s, first, last, label, key=key,
                                     retries=0))
        place[key] = len(futures) - 1
        labels[key] = label
    parts = [None] * len(futures)
    done = 0
    try:
        for future in as_completed(futures):
            try:
                parts[place[future.key]] = future.result()
            except ChunkError:
                raise
            except Exception as e:  # a worker died too often, or the task could not run
                raise ChunkError(f"{labels[future.key]}:\n{type(e).__name__}: {e}") from None
            future.release()
            done += 1
            if on_result is not None:
                on_result(done, len(futures))
    finally:
        client.cancel([f for f in futures if not f.done()])
    # The parts joined and finished as orvus-plan finishes its own sweep.
    return outputs.finish(parts)


def _progress(done, total):
    if sys.stderr.isatty():
        width = 40
        filled = width * done // total
        sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{total} tasks")
        if done == total:
            sys.stderr.write("\n")
        sys.stderr.flush()


# How long the scheduler may take to answer before the run is given up.
CONNECT_TIMEOUT_S = 5


def _cores():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _unreachable(address):
    """Why no TCP connection to the scheduler opens within CONNECT_TIMEOUT_S, or None. Only
    tcp:// and tls:// addresses with a port are tried here; Dask judges the others."""
    scheme, _, rest = address.rpartition("://")
    host, _, port = rest.rpartition(":")
    if scheme not in ("", "tcp", "tls") or not host or not port.isdigit():
        return None
    try:
        socket.create_connection((host.strip("[]"), int(port)), CONNECT_TIMEOUT_S).close()
    except OSError as e:
        return e.strerror or str(e) or type(e).__name__
    return None


def _say(text):
    print(f" ORVUS.DISTRIBUTED: {text}", file=sys.stderr)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m orvus.distributed",
                                     description="Runs an orvus plan on a Dask cluster.")
    parser.add_argument("plan", help="the plan file (TOML)")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler")
    where.add_argument("--local", metavar="N", type=int,
                       help="N worker processes on this machine")
    parser.add_argument("--output", metavar="DIR", help="instead of the plan's output directory")
    parser.add_argument("--chunk", metavar="K", type=int,
                        help="targets per task (default: as many tasks as workers, at least one per satellite)")
    parser.add_argument("--cell-chunk", metavar="K", type=int,
                        help="coverage cells per task (default: as many tasks as workers, at "
                             "least one per satellite)")
    args = parser.parse_args(argv)
    if args.local is not None and args.local < 1:
        parser.error("--local needs at least one worker")
    if args.chunk is not None and args.chunk < 1:
        parser.error("--chunk needs at least one target")
    if args.cell_chunk is not None and args.cell_chunk < 1:
        parser.error("--cell-chunk needs at least one cell")
    if args.local is not None and args.local > _cores():
        _say(f"--local {args.local}: THIS MACHINE HAS {_cores()} CORES; "
             f"STARTING {_cores()} WORKERS.")
        args.local = _cores()
    if args.scheduler is not None:
        why = _unreachable(args.scheduler)
        if why is not None:
            _say(f'CANNOT REACH THE SCHEDULER "{args.scheduler}": {why}.')
            return 1

    from dask.distributed import Client, LocalCluster

    if not _core._have_plan:
        print("orvus.distributed: THIS BUILD OF ORVUS DOES NOT CARRY THE PLANNER.", file=sys.stderr)
        return 1
    try:
        if args.local is not None:
            with LocalCluster(n_workers=args.local, processes=True, threads_per_worker=1,
                              dashboard_address=None) as cluster, Client(cluster) as client:
                counts = run(client, args.plan, args.output, args.chunk, _progress,
                             args.cell_chunk)
        else:
            try:
                client = Client(args.scheduler, timeout=CONNECT_TIMEOUT_S)
            except (OSError, ValueError) as e:
                _say(f'CANNOT REACH THE SCHEDULER "{args.scheduler}": {e}.')
                return 1
            with client:
                counts = run(client, args.plan, args.output, args.chunk, _progress,
                             args.cell_chunk)
    except (Error, ChunkError) as e:
        lines = getattr(e, "lines", None) or [" " + line for line in str(e).splitlines()]
        if isinstance(e, ChunkError):
            lines = [" ORVUS.DISTRIBUTED: A TASK FAILED:"] + lines
        print("\n".join(lines), file=sys.stderr)
        return 1
    print(f" ORVUS.DISTRIBUTED: {counts['found']} OPPORTUNITIES FOUND, {counts['kept']} KEPT. "
          f"REMOVED: {counts['by_sun']} BY SUN ELEVATION, {counts['by_alpha']} BY BEST ALPHA, "
          f"{counts['by_pass']} BY PASS, {counts['by_duration']} BY DURATION.", file=sys.stderr)
    if counts.get("stations"):
        print(f" ORVUS.DISTRIBUTED: {counts['passes']} STATION PASSES.", file=sys.stderr)
    if "cells" in counts:
        print(f" ORVUS.DISTRIBUTED: COVERAGE: {counts['cells']} CELLS; "
              f"{counts['coverage_found']} ACCESSES FOUND, {counts['coverage_kept']} KEPT. "
              f"REMOVED: {counts['coverage_by_sun']} BY SUN ELEVATION, "
              f"{counts['coverage_by_alpha']} BY BEST ALPHA, {counts['coverage_by_pass']} BY PASS.",
              file=sys.stderr)
    if counts.get("schedule"):
        print(f" ORVUS.DISTRIBUTED: {counts['schedule']}", file=sys.stderr)
    print(f' ORVUS.DISTRIBUTED: WRITTEN TO "{counts["output"]}".', file=sys.stderr)
    return 0


if __name__ == "__main__":
    # The tasks must name functions of the importable module, not of __main__.
    from orvus.distributed import main as _main

    sys.exit(_main())
