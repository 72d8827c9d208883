"""JSON Schemas of STAPI v0.1.0's documents, made from its published documents in
tests/data/stapi: each is the schema of openapi.yaml (JSON Schema 2020-12 inside OpenAPI 3.1)
together with what the prose marks REQUIRED or MUST and the OpenAPI document leaves out
(stapi_type, stapi_version, the links' relations, the interval form of `datetime`)."""

import os
import re

import jsonschema
import yaml

DATA = os.environ.get("ORVUS_TEST_DATA",
                      os.path.join(os.path.dirname(__file__), "../../../tests/data"))
with open(os.path.join(DATA, "stapi", "openapi.yaml"), encoding="utf-8") as _f:
    OPENAPI = yaml.safe_load(_f)
COMPONENTS = OPENAPI["components"]

_RFC3339 = r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})"
DATE_TIME = re.compile(f"^{_RFC3339}$")
INTERVAL = {"type": "string", "pattern": f"^{_RFC3339}/{_RFC3339}$"}

_formats = jsonschema.FormatChecker(formats=())


@_formats.checks("date-time")
def _date_time(value):
    return not isinstance(value, str) or bool(DATE_TIME.match(value))


def _has_link(rel):
    return {"contains": {"type": "object", "properties": {"rel": {"const": rel}},
                         "required": ["rel"]}}


def _stapi(kind):
    return {"properties": {"stapi_type": {"const": kind}, "stapi_version": {"const": "0.1.0"}},
            "required": ["stapi_type", "stapi_version"]}


# What the prose adds, by the OpenAPI schema it completes.
PROSE = {
    # core: id, conformsTo, description and links REQUIRED; the core class declared.
    "RootResponse": {"properties": {"conformsTo": {"contains": {
        "const": "https://stapi.example.com/v0.1.0/core"}}}},
    "Conformance": {},
    # product: type Collection, stapi_type Product, license, links REQUIRED; queryables and
    # order parameters linked by their relation types; at least one geometry class.
    "Product": {"allOf": [_stapi("Product"), {
        "properties": {"type": {"const": "Collection"},
                       "links": {"allOf": [_has_link("queryables"), _has_link("order-parameters")]},
                       "conformsTo": {"contains": {"pattern": "^https://geojson.org/schema/"}}},
        "required": ["type", "conformsTo"]}]},
    "ProductsCollection": {"properties": {"products": {"items": {"$ref": "#/prose/Product"}}}},
    # opportunity: a Feature of stapi_type Opportunity with bbox when it has a geometry, its
    # properties' datetime an interval; a create-order link on it or on the collection.
    "Opportunity": {"allOf": [_stapi("Opportunity"), {
        "properties": {"type": {"const": "Feature"},
                       "properties": {"properties": {"datetime": INTERVAL},
                                      "required": ["datetime", "product_id"]}},
        "required": ["type"],
        "if": {"properties": {"geometry": {"type": "object"}}},
        "then": {"required": ["bbox"]}}]},
    "OpportunityCollection": {
        "properties": {"type": {"const": "FeatureCollection"},
                       "features": {"items": {"$ref": "#/prose/Opportunity"}},
                       "links": _has_link("create-order")},
        "required": ["type", "links"]},
    # order: a Feature of stapi_type Order with product_id; a monitor link to its statuses.
    "Order_OrderStatus_": {"allOf": [_stapi("Order"), {
        "properties": {"type": {"const": "Feature"}, "links": _has_link("monitor"),
                       "status": {"$ref": "#/prose/OrderStatus"},
                       "properties": {"properties": {"search_parameters": {
                           "properties": {"datetime": INTERVAL}}}}},
        "required": ["type", "id", "product_id", "created", "status", "links"]}]},
    "OrderCollection_OrderStatus_": {
        "properties": {"features": {"items": {"$ref": "#/prose/Order_OrderStatus_"}}},
        "required": ["links"]},
    # order status: timestamp, status_code and links REQUIRED.
    "OrderStatus": {"required": ["links"]},
    "OrderStatuses": {"properties": {"statuses": {"items": {"$ref": "#/prose/OrderStatus"}}},
                      "required": ["links"]},
    "HTTPValidationError": {"required": ["detail"], "properties": {"detail": {"minItems": 1}}},
}


def schema(name):
    """The schema of document `name` (a component of openapi.yaml)."""
    return {"$schema": "https://json-schema.org/draft/2020-12/schema",
            "allOf": [{"$ref": f"#/components/schemas/{name}"}, {"$ref": f"#/prose/{name}"}],
            "components": COMPONENTS,
            "prose": {k: {"allOf": [{"$ref": f"#/components/schemas/{k}"}, v]}
                      for k, v in PROSE.items()}}


def validate(document, name):
    """Raises jsonschema.ValidationError unless `document` is a valid `name`."""
    jsonschema.Draft202012Validator(schema(name), format_checker=_formats).validate(document)


def json_schema_draft7(document):
    """Raises unless `document` is itself a valid, non-empty JSON Schema (draft 07), as the
    queryables and the order parameters must be."""
    jsonschema.Draft7Validator.check_schema(document)
    assert document.get("properties"), "an empty schema is not allowed"
