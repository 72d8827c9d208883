"""The documents that need no key: landing page, conformance, products, queryables, order
parameters and the API's description, against the STAPI schemas."""

import re

import pytest
import stapi_schemas as stapi
from conftest import write_config

from orvus.serve import config


def test_landing_conformance_and_products_answer_as_stapi_writes_them(sqlite_service):
    c = sqlite_service.client
    root = c.get("/").json()
    stapi.validate(root, "RootResponse")
    rels = {link["rel"]: link["href"] for link in root["links"]}
    # Every link of the landing page leads somewhere that answers.
    for rel in ("conformance", "products", "service-desc", "service-doc"):
        assert c.get(rels[rel]).status_code == 200, rel
    assert set(c.get("/conformance").json()["conformsTo"]) == set(root["conformsTo"])
    stapi.validate(c.get("/conformance").json(), "Conformance")

    products = c.get("/products").json()
    stapi.validate(products, "ProductsCollection")
    assert [p["id"] for p in products["products"]] == ["optical", "any-pass"]
    one = c.get("/products/any-pass").json()
    stapi.validate(one, "Product")
    assert one == products["products"][1]
    assert one["summaries"]["platform"] == ["AMAZONIA 1"]
    for link in one["links"]:  # queryables, order parameters: answered, valid schemas
        if link["rel"] in ("queryables", "order-parameters"):
            stapi.json_schema_draft7(c.get(link["href"]).json())


def test_queryables_and_order_parameters_carry_the_products_limits(sqlite_service):
    c = sqlite_service.client
    q = c.get("/products/optical/queryables").json()
    assert set(q["properties"]) == {"view:off_nadir", "view:sun_elevation", "sat:orbit_state",
                                    "orvus:duration_s"}
    assert q["properties"]["view:off_nadir"]["maximum"] == 30.0
    assert q["properties"]["view:sun_elevation"]["minimum"] == 10.0
    p = c.get("/products/optical/order-parameters").json()
    assert p["properties"]["priority"]["maximum"] == 5.0
    assert p["additionalProperties"] is False


def test_an_unknown_product_is_404_naming_it(sqlite_service):
    c = sqlite_service.client
    for path in ("/products/nope", "/products/nope/queryables", "/products/nope/order-parameters"):
        r = c.get(path)
        assert r.status_code == 404
        stapi.validate(r.json(), "HTTPValidationError")
        assert r.json()["detail"][0]["loc"] == ["path", "productId"]


def test_the_api_page_loads_nothing_from_elsewhere(sqlite_service):
    c = sqlite_service.client
    api = c.get("/api").json()
    for path in ("/", "/products/{productId}/opportunities", "/products/{productId}/orders",
                 "/orders/{orderId}/statuses"):
        assert path in api["paths"]
    page = c.get("/api.html").text
    sources = re.findall(r'(?:src|href)="([^"]+)"', page)
    assert sources and all(s.startswith("/") for s in sources)
    for s in sources:
        r = c.get(s)
        if r.status_code == 404 and "not installed" in r.text:
            pytest.skip("the page's assets are not installed")
        assert r.status_code == 200 and len(r.content) > 10_000


def test_the_console_loads_nothing_from_elsewhere_and_runs_no_inline_code(sqlite_service):
    c = sqlite_service.client
    r = c.get("/console")
    if r.status_code == 404:
        pytest.skip("the console's files are not installed")
    policy = r.headers["content-security-policy"]
    assert "default-src 'none'" in policy and "script-src 'self'" in policy
    assert "unsafe-inline" not in policy and "unsafe-eval" not in policy
    assert r.headers["x-content-type-options"] == "nosniff"
    page = r.text
    assert not re.search(r"<script>|<style|\son[a-z]+=|style=", page)
    # Every file the page names, and every module those import, comes from /console.
    todo = re.findall(r'(?:src|href)="([^"]+)"', page)
    seen = set()
    while todo:
        path = todo.pop()
        if path in seen:
            continue
        seen.add(path)
        assert path.startswith("/console/"), path
        r = c.get(path)
        if r.status_code == 404 and "not installed" in r.text:
            pytest.skip("the console's assets are not installed")
        assert r.status_code == 200, path
        assert r.headers["content-type"].split(";")[0] == {
            "js": "text/javascript", "css": "text/css"}[path.rsplit(".", 1)[1]], path
        if path.endswith(".js") and "/lib/" not in path:
            assert "innerHTML" not in r.text and "eval(" not in r.text, path
            todo += ["/console/" + m for m in re.findall(r"from '\./([a-z0-9_-]+\.js)'", r.text)]
    assert {"/console/main.js", "/console/timeline.js", "/console/lib/leaflet-geoman.js"} <= seen
    for path in ("/console/lib/images/layers.png", "/console/lib/countries-50m.json"):
        assert c.get(path).status_code == 200, path
    for bad in ("/console/app.py", "/console/..%2Fapp.py", "/console/lib/app.py",
                "/console/lib/..%2F..%2Fapp.py", "/console/index.html", "/console/Main.js"):
        assert c.get(bad).status_code == 404, bad


def test_a_bad_configuration_names_the_key(tmp_path):
    ok = write_config(tmp_path, "sqlite:///x.db")
    text = open(ok).read()
    for bad, words in ((text.replace('"ORVUS TWIN"]', '"NONE"]'), 'no [[satellite]] is named'),
                       (text.replace("max_off_nadir_deg = 30.0", "max_off_nadir_deg = 95"),
                        '"max_off_nadir_deg" must lie between'),
                       (text.replace("horizon_days = 3", "horizon = 3"), 'unknown key "horizon"'),
                       (text.replace('id = "any-pass"', 'id = "optical"'), "given twice")):
        with open(ok, "w") as f:
            f.write(bad)
        with pytest.raises(config.ConfigError, match=re.escape(words)):
            config.load(ok)
