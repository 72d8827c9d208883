// The map: Natural Earth 1:50m land and borders (world-atlas, from this origin) on a canvas
// under everything else, with no tile layer, so that the map makes no request elsewhere.

import * as topo from './topojson.js';

const LAND = '/console/lib/countries-50m.json';

export function create(id) {
  const map = L.map(id, { worldCopyJump: true, zoomSnap: 0.5, minZoom: 1, maxZoom: 14 })
    .setView([-12, -52], 4);
  map.attributionControl.setPrefix('Leaflet');
  map.attributionControl.addAttribution('Land and borders: Natural Earth 1:50m');
  map.createPane('land').style.zIndex = 200;
  map.createPane('footprints').style.zIndex = 410;
  map.createPane('area').style.zIndex = 420;
  return map;
}

// Draws the land once it has arrived; resolves when drawn (or when it could not be).
export async function land(map, get) {
  const topology = await get(LAND, { anonymous: true });
  const decoded = topo.arcs(topology);
  const renderer = L.canvas({ pane: 'land', padding: 0.5 });
  const style = { renderer, pane: 'land', interactive: false };
  L.geoJSON({ type: 'MultiPolygon', coordinates: topo.polygons(decoded, topology.objects.land) },
    { ...style, style: { stroke: true, color: '#8a8a80', weight: 0.8, fillColor: '#efeee4',
                         fillOpacity: 1 } }).addTo(map);
  L.geoJSON({ type: 'MultiLineString',
              coordinates: topo.borders(decoded, topology.objects.countries) },
    { ...style, style: { color: '#a4a49a', weight: 0.6 } }).addTo(map);
}
