"""The order's life: which status follows which, and why.

    received -> accepted | rejected                      (at creation, by a search)
    accepted <-> scheduled                               (by each replan; a lost slot says so)
    accepted | scheduled -> expired                      (the interval ended unserved)
    scheduled -> completed | failed                      (an operator's outcome)
    failed -> accepted                                   (its interval still has opportunities)
    received | accepted -> user_cancelled                (by its requester)
"""

from .store import Conflict, Status

ACTIVE = ("accepted", "scheduled")
FINAL = ("rejected", "completed", "expired", "user_cancelled", "cancelled")
OUTCOMES = ("completed", "failed")
CANCELLABLE = ("received", "accepted")


def creation(now_ms, start_ms, end_ms, horizon_end_ms, found):
    """The statuses of a new order: received, then accepted or rejected. `found` is the
    number of opportunities its search found (None when no search was made)."""
    out = [Status("received", now_ms, None, "the order parsed")]
    if end_ms <= now_ms:
        out.append(Status("rejected", now_ms, "interval_past",
                          "the order's interval has already ended"))
    elif start_ms >= horizon_end_ms:
        out.append(Status("rejected", now_ms, "beyond_horizon",
                          "the order's interval starts beyond the planning horizon"))
    elif not found:
        out.append(Status("rejected", now_ms, "no_opportunity",
                          "no opportunity in the order's interval under its filter"))
    else:
        out.append(Status("accepted", now_ms, None,
                          f"{found} opportunit{'y' if found == 1 else 'ies'} in the interval"))
    return out


def cancel(order, now_ms):
    if order["status_code"] not in CANCELLABLE:
        raise Conflict(f"an order {order['status_code']} cannot be cancelled by its requester")
    return [Status("user_cancelled", now_ms, "user_request", "cancelled by its requester")]


def outcome(order, code, now_ms, reason_code, reason_text, retry_found):
    """An operator's report: completed or failed, for a scheduled order. A failed order whose
    interval still has opportunities (`retry_found` of them) returns to contention."""
    if order["status_code"] != "scheduled":
        raise Conflict(f"an outcome is reported for a scheduled order; this one is "
                       f"{order['status_code']}")
    out = [Status(code, now_ms, reason_code, reason_text)]
    if code == "failed" and retry_found:
        out.append(Status("accepted", now_ms, "retry",
                          f"the acquisition failed; {retry_found} opportunit"
                          f"{'y remains' if retry_found == 1 else 'ies remain'} in the "
                          "interval, so the order returns to the next replan"))
    return out


def expiry(now_ms):
    return Status("expired", now_ms, "interval_ended", "the order's interval ended unserved")
