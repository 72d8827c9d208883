"""The console: a browser page at /console for requesters and operators, over the service's own
API. The page, its style and its script modules lie beside this file (console/); Leaflet, its
drawing plugin and the Natural Earth land and borders are the npm registry's files the build
copies into static/ (third_party/web, installed by scripts/bootstrap). Every file comes from
this origin, under a policy that lets the page load nothing from elsewhere, run no inline
script or style, and be framed by no other page."""

import os
import re

from fastapi.responses import HTMLResponse, Response

from .inputs import ApiError

HERE = os.path.dirname(os.path.abspath(__file__))
PAGE_DIR = os.path.join(HERE, "console")
STATIC = os.path.join(HERE, "static")

POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
          "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'")
HEADERS = {"Content-Security-Policy": POLICY, "X-Content-Type-Options": "nosniff",
           "Referrer-Policy": "no-referrer", "X-Frame-Options": "DENY"}
KINDS = {".js": "text/javascript", ".css": "text/css", ".png": "image/png",
         ".json": "application/json"}
# The third-party files: the name the page asks for -> the file the build copied.
LIBRARIES = {
    "leaflet.js": "leaflet.js",
    "leaflet.css": "leaflet.css",
    "images/layers.png": "leaflet-images/layers.png",
    "images/layers-2x.png": "leaflet-images/layers-2x.png",
    "images/marker-icon.png": "leaflet-images/marker-icon.png",
    "images/marker-icon-2x.png": "leaflet-images/marker-icon-2x.png",
    "images/marker-shadow.png": "leaflet-images/marker-shadow.png",
    "leaflet-geoman.js": "leaflet-geoman.min.js",
    "leaflet-geoman.css": "leaflet-geoman.css",
    "countries-50m.json": "countries-50m.json",
}
_OWN = re.compile(r"^[a-z][a-z0-9_-]{0,63}\.(js|css)$")


def _file(path, kind, cache):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        raise ApiError(404, ["path"], "the console's files are not installed (run "
                       "scripts/bootstrap, then build)", "not_found") from None
    return Response(data, media_type=kind, headers=dict(HEADERS, **{"Cache-Control": cache}))


def add_routes(app):
    @app.get("/console", include_in_schema=False)
    async def console_page():
        try:
            with open(os.path.join(PAGE_DIR, "index.html"), encoding="utf-8") as f:
                page = f.read()
        except OSError:
            raise ApiError(404, ["path"], "the console's files are not installed (build the "
                           "project)", "not_found") from None
        return HTMLResponse(page, headers=dict(HEADERS, **{"Cache-Control": "no-store"}))

    @app.get("/console/lib/{name:path}", include_in_schema=False)
    async def console_library(name: str):
        if name not in LIBRARIES:
            raise ApiError(404, ["path"], "no such file", "not_found")
        return _file(os.path.join(STATIC, LIBRARIES[name]), KINDS[os.path.splitext(name)[1]],
                     "public, max-age=86400")

    @app.get("/console/{name}", include_in_schema=False)
    async def console_file(name: str):
        if not _OWN.match(name):
            raise ApiError(404, ["path"], "no such file", "not_found")
        return _file(os.path.join(PAGE_DIR, name), KINDS[os.path.splitext(name)[1]], "no-cache")
