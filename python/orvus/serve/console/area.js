// The requester's area: a point, a line or a polygon drawn on the map (Leaflet-Geoman), or
// the geometry of a GeoJSON file dropped on the map or chosen. One area at a time: a new one
// replaces the old.

const STYLE = { color: '#b03a2e', weight: 2, fillOpacity: 0.12 };
const KINDS = {
  Point: 'MultiPoint', MultiPoint: 'MultiPoint', LineString: 'MultiLineString',
  MultiLineString: 'MultiLineString', Polygon: 'MultiPolygon', MultiPolygon: 'MultiPolygon',
};

// The one geometry of a GeoJSON document: a geometry, a Feature, or a FeatureCollection (or
// GeometryCollection) whose parts are of one kind (joined into one Multi- geometry). Throws
// an Error saying what is wrong.
export function geometryOf(doc) {
  if (!doc || typeof doc !== 'object') throw new Error('the file holds no GeoJSON object');
  if (doc.type === 'Feature') return geometryOf(doc.geometry);
  let parts;
  if (doc.type === 'FeatureCollection' && Array.isArray(doc.features)) {
    parts = doc.features.map((f) => (f && f.type === 'Feature' ? geometryOf(f.geometry) : null));
  } else if (doc.type === 'GeometryCollection' && Array.isArray(doc.geometries)) {
    parts = doc.geometries.map(geometryOf);
  } else if (doc.type in KINDS) {
    if (!Array.isArray(doc.coordinates)) throw new Error(`the ${doc.type} has no coordinates`);
    return { type: doc.type, coordinates: doc.coordinates };
  } else {
    throw new Error(`a GeoJSON geometry, Feature or FeatureCollection is needed (not ${
      JSON.stringify(doc.type ?? null).slice(0, 40)})`);
  }
  parts = parts.filter(Boolean);
  if (!parts.length) throw new Error('the collection holds no geometry');
  if (parts.length === 1) return parts[0];
  const kind = KINDS[parts[0].type];
  if (!parts.every((p) => KINDS[p.type] === kind)) {
    throw new Error('the collection mixes points, lines and polygons: keep one kind');
  }
  const coordinates = [];
  for (const p of parts) {
    if (p.type === kind) coordinates.push(...p.coordinates);
    else coordinates.push(p.coordinates);
  }
  return { type: kind, coordinates };
}

function count(coordinates) {
  return typeof coordinates[0] === 'number' ? 1 : coordinates.reduce((n, c) => n + count(c), 0);
}

export function describe(geometry) {
  if (!geometry) return 'none: draw one on the map or drop a GeoJSON file on it';
  const n = count(geometry.coordinates);
  return `${geometry.type}, ${n} position${n === 1 ? '' : 's'}`;
}

export class Area {
  constructor(map, onChange) {
    this.map = map;
    this.onChange = onChange;
    this.layer = null;
    map.pm.setGlobalOptions({ pathOptions: STYLE, templineStyle: STYLE, hintlineStyle: STYLE,
                              snappable: false, panes: { layerPane: 'area', vertexPane: 'markerPane',
                                                         markerPane: 'markerPane' } });
    map.pm.addControls({ position: 'topleft', drawMarker: true, drawPolyline: true,
                         drawPolygon: true, drawRectangle: true, drawCircle: false,
                         drawCircleMarker: false, drawText: false, editMode: true,
                         dragMode: true, cutPolygon: false, removalMode: true,
                         rotateMode: false });
    map.on('pm:create', (e) => this.set(e.layer));
    map.on('pm:remove', (e) => { if (e.layer === this.layer) this.set(null); });
    this.dropping(map.getContainer());
  }

  set(layer) {
    if (this.layer && this.layer !== layer) this.layer.remove();
    this.layer = layer;
    if (layer) {
      layer.on('pm:edit pm:dragend', () => this.onChange(this.geometry(), null));
      if (!this.map.hasLayer(layer)) layer.addTo(this.map);
    }
    this.onChange(this.geometry(), null);
  }

  // The area as a GeoJSON geometry, or null.
  geometry() {
    if (!this.layer) return null;
    const g = this.layer.toGeoJSON(8);
    return geometryOf(g);
  }

  // Takes the text of a GeoJSON file; tells onChange the error when it is not one.
  fromText(text, name) {
    let geometry;
    try {
      geometry = geometryOf(JSON.parse(text));
    } catch (e) {
      this.onChange(this.geometry(), `${name}: ${e instanceof SyntaxError ? 'not JSON' : e.message}`);
      return;
    }
    const layer = L.geoJSON(geometry, { style: STYLE, pane: 'area' });
    this.set(layer);
    const bounds = layer.getBounds();
    if (bounds.isValid()) this.map.fitBounds(bounds, { maxZoom: 10, padding: [30, 30] });
  }

  fromFile(file) {
    if (file.size > 5e6) {
      this.onChange(this.geometry(), `${file.name}: larger than 5 MB`);
      return;
    }
    file.text().then((text) => this.fromText(text, file.name));
  }

  dropping(box) {
    box.addEventListener('dragover', (e) => {
      e.preventDefault();
      box.classList.add('dropping');
    });
    box.addEventListener('dragleave', () => box.classList.remove('dropping'));
    box.addEventListener('drop', (e) => {
      e.preventDefault();
      box.classList.remove('dropping');
      const file = e.dataTransfer && e.dataTransfer.files[0];
      if (file) this.fromFile(file);
    });
  }
}
