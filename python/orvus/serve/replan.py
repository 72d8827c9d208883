"""A replan: every order in contention whose interval meets the planning horizon becomes a
target with its priority, the planner's scheduler chooses, and the new plan replaces the
previous one in one transaction, with the orders' statuses:

- an order given an acquisition becomes scheduled (its status links the acquisition);
- a scheduled order that loses its slot goes back to accepted, saying why;
- an accepted order whose interval has ended unserved becomes expired;
- an acquisition already begun (before now) stays as it is, and its order out of contention.

Two replans never both write: each writes only if the plan it started from is still the
current one (by the planner's generation), whichever process runs it."""

import dataclasses
import json
import logging
import threading

from . import life
from .cql2 import compile_filter
from .documents import link
from .inputs import format_ms
from .planning import Target, accepts
from .store import Status

log = logging.getLogger("orvus.serve")


class ReplanBusy(Exception):
    """Another replan runs in this process, or wrote first in another."""


def _slot(a):
    return (a["satellite"], a["start_ms"], a["end_ms"])


def _describe(a):
    station = f", data down at {a['station']}" if a.get("station") else ""
    return (f"{a['satellite']} from {format_ms(a['start_ms'])} to {format_ms(a['end_ms'])} "
            f"at roll {a['roll_deg']:.2f} deg{station}")


class Replanner:
    def __init__(self, service):
        self.service = service
        self._running = threading.Lock()

    def run(self, trigger):
        """Plans now; returns a summary of the plan written. Raises ReplanBusy when another
        replan runs or wrote first."""
        if not self._running.acquire(blocking=False):
            raise ReplanBusy("a replan is running")
        try:
            return self._run(trigger)
        finally:
            self._running.release()

    def _run(self, trigger):
        s = self.service
        now = s.clock.now_ms()
        horizon_end = now + s.horizon_ms
        generation, active, current = s.store.replan_snapshot()
        by_id = {o["id"]: o for o in active}
        # Acquisitions already begun stay; their orders are no longer in contention.
        frozen = [a for a in current if a["start_ms"] < now and
                  by_id.get(a["order_id"], {}).get("status_code") == "scheduled"]
        frozen_orders = {a["order_id"] for a in frozen}
        previous = {a["order_id"]: a for a in current}
        targets = []
        for o in active:
            if o["id"] in frozen_orders or o["end_ms"] <= now or o["start_ms"] >= horizon_end:
                continue
            product = s.config.product(o["product_id"])
            if product is None:
                continue  # a product no longer offered: its orders wait as they are
            filter_ = compile_filter(json.loads(o["filter"]) if o["filter"] else None)
            targets.append(Target(o["id"], json.loads(o["geometry"]), o["priority"],
                                  max(o["start_ms"], now), min(o["end_ms"], horizon_end),
                                  product.satellites, accepts(product, filter_)))
        result = s.planner.replan(targets, now, horizon_end)
        columns = ("order_id", "satellite", "norad_id", "start_ms", "end_ms", "roll_deg",
                   "station", "downlink_start_ms", "sun_elevation_deg", "data_gbit",
                   "recorder_after_gbit", "footprint")
        rows = [{k: a[k] for k in columns} for a in frozen]
        for a in result.acquisitions:
            row = dataclasses.asdict(a)
            row["footprint"] = json.dumps(a.footprint) if a.footprint is not None else None
            rows.append(row)
        for r in rows:
            r["station"] = r["station"] or None
        passes = [dataclasses.asdict(p) for p in result.passes]
        reasons = result.unscheduled

        def decide(now_active, rows):
            kept, statuses = [], {}
            for r in rows:
                o = now_active.get(r["order_id"])
                if o is None:
                    continue  # cancelled or reported meanwhile: its slot is not kept
                kept.append(r)
                before = previous.get(r["order_id"])
                if o["status_code"] == "scheduled" and before and _slot(before) == _slot(r):
                    continue
                statuses[r["order_id"]] = [Status(
                    "scheduled", now, "acquisition_planned" if o["status_code"] == "accepted"
                    else "acquisition_moved", f"acquisition planned: {_describe(r)}",
                    (link("acquisition", "/acquisitions/{acquisition}",
                          title=_describe(r)),))]
            planned = {r["order_id"] for r in kept}
            for oid, o in now_active.items():
                if oid in planned or oid in statuses:
                    continue
                if o["status_code"] == "accepted" and o["end_ms"] <= now:
                    statuses[oid] = [life.expiry(now)]
                elif o["status_code"] == "scheduled" and oid not in frozen_orders:
                    why = reasons.get(oid, "outside the planning horizon")
                    statuses[oid] = [Status("accepted", now, "slot_lost",
                                            f"the replan gave its slot away ({why}); the order "
                                            "stays in contention")]
            return kept, statuses

        plan = {"created_ms": now, "start_ms": now, "end_ms": horizon_end, "trigger": trigger,
                "summary": json.dumps(result.summary)}
        plan_id = s.store.write_plan(generation, plan, rows, decide, passes)
        if plan_id is None:
            raise ReplanBusy("another replan wrote a plan first")
        log.info("replan (%s): %d targets, %d acquisitions", trigger, len(targets), len(rows))
        return {"generation": generation + 1, "targets": len(targets),
                "acquisitions": len(rows), "unscheduled": len(reasons),
                "schedule": result.summary}
