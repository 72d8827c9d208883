"""A subset of CQL2-JSON over an opportunity's queryables: the logical operators "and", "or",
"not", the comparisons "=", "<", "<=", ">", ">=" and "between", each comparison between one
queryable ({"property": name}) and a literal."""

import math

from .inputs import ApiError

# The queryables: name -> "number" or the allowed texts.
QUERYABLES = {
    "view:off_nadir": "number",
    "view:sun_elevation": "number",
    "sat:orbit_state": ("ascending", "descending"),
    "orvus:duration_s": "number",
}
_COMPARE = {
    "=": lambda a, b: a == b,
    "<": lambda a, b: a < b,
    "<=": lambda a, b: a <= b,
    ">": lambda a, b: a > b,
    ">=": lambda a, b: a >= b,
}
# The comparison with its arguments swapped (5 < x is x > 5).
_SWAPPED = {"=": "=", "<": ">", "<=": ">=", ">": "<", ">=": "<="}
_MAX_DEPTH = 64


class Filter:
    """A compiled filter: `matches(properties)` tells whether an opportunity's properties
    (the queryables by name) satisfy it; `source` is the expression as given."""

    def __init__(self, test, source):
        self._test = test
        self.source = source

    def matches(self, properties):
        return self._test(properties)


ANY = Filter(lambda p: True, None)


def _is_number(v):
    return not isinstance(v, bool) and isinstance(v, (int, float)) and math.isfinite(v)


def _property(arg):
    if isinstance(arg, dict) and set(arg) == {"property"}:
        return arg["property"]
    return None


def _literal(name, value, loc):
    kind = QUERYABLES[name]
    if kind == "number":
        if not _is_number(value):
            raise ApiError(422, loc, f"\"{name}\" is compared with numbers", "type_error")
        return float(value)
    if value not in kind:
        raise ApiError(422, loc, f"\"{name}\" is one of {', '.join(kind)}")
    return value


def _queryable(name, loc):
    if not isinstance(name, str) or name not in QUERYABLES:
        raise ApiError(422, loc, f"unknown queryable {str(name)[:64]!r} (known: "
                       f"{', '.join(QUERYABLES)})")
    return name


def _compile(node, loc, depth):
    if depth > _MAX_DEPTH:
        raise ApiError(422, loc, "the filter nests too deeply")
    if isinstance(node, bool):
        return lambda p, v=node: v
    if not isinstance(node, dict):
        raise ApiError(422, loc, "a CQL2-JSON expression object {\"op\": ..., \"args\": [...]} "
                       "is needed", "type_error")
    for key in node:
        if key not in ("op", "args"):
            raise ApiError(422, loc + [key], "unknown member of a CQL2 expression",
                           "extra_forbidden")
    op = node.get("op")
    args = node.get("args")
    if not isinstance(op, str):
        raise ApiError(422, loc + ["op"], "the operator must be a string", "type_error")
    if not isinstance(args, list):
        raise ApiError(422, loc + ["args"], "the arguments must be an array", "type_error")
    where = loc + ["args"]
    if op in ("and", "or"):
        if len(args) < 2:
            raise ApiError(422, where, f"\"{op}\" takes two arguments or more")
        parts = [_compile(a, where + [i], depth + 1) for i, a in enumerate(args)]
        if op == "and":
            return lambda p: all(t(p) for t in parts)
        return lambda p: any(t(p) for t in parts)
    if op == "not":
        if len(args) != 1:
            raise ApiError(422, where, "\"not\" takes one argument")
        inner = _compile(args[0], where + [0], depth + 1)
        return lambda p: not inner(p)
    if op in _COMPARE:
        if len(args) != 2:
            raise ApiError(422, where, f"\"{op}\" takes two arguments")
        name, other, k = _property(args[0]), args[1], 1
        if name is None:
            name, other, k = _property(args[1]), args[0], 0
            op = _SWAPPED[op]
        if name is None:
            raise ApiError(422, where, "a comparison takes a queryable {\"property\": name} "
                           "and a value")
        _queryable(name, where + [1 - k, "property"])
        if _property(other) is not None:
            raise ApiError(422, where + [k], "compare a queryable with a value, not with "
                           "another queryable")
        value = _literal(name, other, where + [k])
        if QUERYABLES[name] != "number" and op != "=":
            raise ApiError(422, loc + ["op"], f"\"{name}\" takes \"=\" only")
        test = _COMPARE[op]
        return lambda p: test(p[name], value)
    if op == "between":
        if len(args) == 2 and isinstance(args[1], list) and len(args[1]) == 2:
            args = [args[0], *args[1]]  # the earlier form [x, [low, high]]
        if len(args) != 3:
            raise ApiError(422, where, "\"between\" takes a queryable, a low and a high value")
        name = _property(args[0])
        if name is None:
            raise ApiError(422, where + [0], "\"between\" takes a queryable first")
        _queryable(name, where + [0, "property"])
        if QUERYABLES[name] != "number":
            raise ApiError(422, where + [0], f"\"{name}\" is not a number")
        low = _literal(name, args[1], where + [1])
        high = _literal(name, args[2], where + [2])
        return lambda p: low <= p[name] <= high
    raise ApiError(422, loc + ["op"], f"unknown operator {op[:32]!r} (known: and, or, not, =, "
                   "<, <=, >, >=, between)")


def compile_filter(node, loc=("body", "filter")):
    """A Filter of a CQL2-JSON expression; None or an absent filter keeps everything."""
    if node is None:
        return ANY
    return Filter(_compile(node, list(loc), 0), node)
