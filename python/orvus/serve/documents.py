"""The service's JSON documents: landing page, conformance, products with their queryables and
order parameters, opportunities, orders and statuses. Links are relative to the service's
root (STAPI allows relative links), so the documents do not depend on the Host header."""

from .inputs import format_ms, interval_text

STAPI_VERSION = "0.1.0"
CORE = "https://stapi.example.com/v0.1.0/core"
OPPORTUNITIES = "https://stapi.example.com/v0.1.0/opportunities"
ORDER_STATUSES = "https://stapi.example.com/v0.1.0/order-statuses"
GEOMETRY_CLASSES = [f"https://geojson.org/schema/{k}.json" for k in
                    ("Point", "LineString", "Polygon", "MultiPoint", "MultiPolygon",
                     "MultiLineString")]
JSON = "application/json"
GEOJSON = "application/geo+json"
SCHEMA = "application/schema+json"
ORBIT_STATES = {"A": "ascending", "D": "descending"}


def link(rel, href, kind=JSON, title=None, **extra):
    out = {"rel": rel, "href": href, "type": kind}
    if title:
        out["title"] = title
    out.update(extra)
    return out


def landing(config):
    return {
        "id": "orvus-serve",
        "title": config.title,
        "description": config.description,
        "stapi_version": STAPI_VERSION,
        "conformsTo": conformance()["conformsTo"],
        "links": [
            link("self", "/", title="this document"),
            link("service-desc", "/api", "application/vnd.oai.openapi+json;version=3.0",
                 "the API's OpenAPI document"),
            link("service-doc", "/api.html", "text/html", "the API's page"),
            link("conformance", "/conformance", title="conformance classes"),
            link("products", "/products", title="products"),
            link("orders", "/orders", GEOJSON, "orders (with an API key)"),
        ],
    }


def conformance():
    return {"conformsTo": [CORE, OPPORTUNITIES, ORDER_STATUSES]}


def product(config, p):
    base = f"/products/{p.id}"
    satellites = [s for s in config.satellites if s["name"] in p.satellites]
    return {
        "type": "Collection",
        "stapi_type": "Product",
        "stapi_version": STAPI_VERSION,
        "id": p.id,
        "title": p.title,
        "description": p.description,
        "keywords": list(p.keywords),
        "license": p.license,
        "conformsTo": [OPPORTUNITIES, *GEOMETRY_CLASSES],
        "providers": [{"name": "ORVUS", "roles": ["producer", "processor"],
                       "description": "Acquisitions planned by the ORVUS planner."}],
        "summaries": {
            "platform": [s["name"] for s in satellites],
            "view:off_nadir": {"minimum": 0.0, "maximum": p.max_off_nadir_deg},
            "view:sun_elevation": {"minimum": p.min_sun_elevation_deg, "maximum": 90.0},
            "sat:orbit_state": _orbit_states(p),
        },
        "links": [
            link("self", base, title=p.title),
            link("queryables", f"{base}/queryables", SCHEMA, "queryables"),
            link("order-parameters", f"{base}/order-parameters", SCHEMA, "order parameters"),
            link("opportunities", f"{base}/opportunities", GEOJSON, "search opportunities",
                 method="POST"),
            link("create-order", f"{base}/orders", GEOJSON, "order", method="POST"),
        ],
    }


def products(config):
    return {"products": [product(config, p) for p in config.products],
            "links": [link("self", "/products", title="products")]}


def _orbit_states(p):
    return ["ascending", "descending"] if p.orbit_state == "any" else [p.orbit_state]


def queryables(p):
    """A JSON Schema (draft 07) of the properties a filter may name, within the product's
    limits."""
    return {
        "$schema": "http://json-schema.org/draft-07/schema#",
        "$id": f"/products/{p.id}/queryables",
        "title": f"Queryables of {p.id}",
        "description": "Properties of an opportunity that a CQL2-JSON filter may constrain "
                       "(and, or, not, =, <, <=, >, >=, between).",
        "type": "object",
        "properties": {
            "view:off_nadir": {
                "title": "Off-nadir angle",
                "description": "The angle at the satellite between the nadir and the target's "
                               "centre at the best time, degrees (|BEST ALPHA|).",
                "type": "number", "minimum": 0.0, "maximum": p.max_off_nadir_deg},
            "view:sun_elevation": {
                "title": "Sun elevation",
                "description": "The Sun's elevation at the target's centre at the best time, "
                               "degrees.",
                "type": "number", "minimum": p.min_sun_elevation_deg, "maximum": 90.0},
            "sat:orbit_state": {
                "title": "Orbit state",
                "description": "The pass's direction at the best time.",
                "type": "string", "enum": _orbit_states(p)},
            "orvus:duration_s": {
                "title": "Duration",
                "description": "How long the sensor's field touches the target, seconds (0 for "
                               "a point, seen in an instant).",
                "type": "number", "minimum": p.min_duration_s},
        },
        "additionalProperties": False,
    }


def order_parameters(p):
    return {
        "$schema": "http://json-schema.org/draft-07/schema#",
        "$id": f"/products/{p.id}/order-parameters",
        "title": f"Order parameters of {p.id}",
        "type": "object",
        "properties": {
            "priority": {
                "title": "Priority",
                "description": "What acquiring the order is worth to the schedule: a replan "
                               "maximises the sum of the priorities of the orders it serves.",
                "type": "number", "minimum": p.priority_min, "maximum": p.priority_max,
                "default": p.priority_default},
        },
        "additionalProperties": False,
    }


def opportunity_properties(o, product_id):
    """The properties of one opportunity (a planning.Opportunity)."""
    return {
        "datetime": interval_text(o.start_ms, o.end_ms),
        "product_id": product_id,
        "platform": o.satellite,
        "view:off_nadir": round(abs(o.best_alpha_deg), 4),
        "view:sun_elevation": round(o.sun_elevation_deg, 2),
        "sat:orbit_state": ORBIT_STATES[o.pass_letter],
        "orvus:duration_s": round(o.duration_s, 3),
        "orvus:best_time": format_ms(o.best_ms),
        "orvus:roll_deg": round(o.best_alpha_deg, 4),
        "orvus:coverage": round(o.coverage, 4),
        "orvus:element_age_days": round(o.element_age_days, 3),
        "orvus:norad_id": o.norad_id,
    }


def opportunity(o, product_id, request):
    """One opportunity as a STAPI Opportunity: its footprint, properties and a create-order
    link whose body, merged into the search's body, orders this very window."""
    props = opportunity_properties(o, product_id)
    return {
        "type": "Feature",
        "stapi_type": "Opportunity",
        "stapi_version": STAPI_VERSION,
        "geometry": o.footprint,
        "bbox": o.bbox,
        "properties": props,
        "links": [link("create-order", f"/products/{product_id}/orders", GEOJSON,
                       "order this opportunity's window", method="POST", merge=True,
                       body={"datetime": props["datetime"]})],
    }


def opportunity_collection(found, product_id, request):
    return {
        "type": "FeatureCollection",
        "features": [opportunity(o, product_id, request) for o in found],
        "links": [link("create-order", f"/products/{product_id}/orders", GEOJSON,
                       "order the searched interval and area", method="POST",
                       body=request)],
    }
