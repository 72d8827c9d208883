// The swaths: drawn for a selection of at most `limit` contacts, and the selected one, each
// with its track and best point; `hideTargetTip` is called as the pointer enters one.
function swathLayer(page, hideTargetTip) {
  'use strict';
  var map = page.map, sel = page.sel, state = sel.state, contacts = page.data.contacts;
  var limit = 500;
  var colours = { A: '#1f77b4', D: '#ff7f0e', '': '#7f7f7f' };
  var group = L.featureGroup().addTo(map), extras = L.layerGroup().addTo(map);
  var drawn = new Map();
  var status = page.note('bottomleft', 'orvus-swath-note');
  function draw(i) {
    var parts = columns.featureParts(contacts.swath, i), colour = colours[page.text.pass(i)];
    var opts = { color: colour, weight: 1.5, fillColor: colour, fillOpacity: 0.45, className: 'orvus-swath',
                 bubblingMouseEvents: false };
    var layer = parts.rings.length ? L.polygon(parts.rings, opts)
              : parts.lines.length ? L.polyline(parts.lines, opts) : null;
    drawn.set(i, layer);
    if (layer) {
      layer.orvusContact = i;
      group.addLayer(layer);
      layer.getElement().setAttribute('data-contact', String(i));
    }
    if (contacts.track) {
      columns.featureParts(contacts.track, i).lines.forEach(function (line) {
        extras.addLayer(L.polyline(line, { color: '#333', weight: 1, dashArray: '4 3',
                                           interactive: false, className: 'orvus-track' }));
      });
    }
    if (!isNaN(contacts.bestLon[i])) {
      extras.addLayer(L.circleMarker([contacts.bestLat[i], contacts.bestLon[i]], {
        radius: 3.5, color: '#000', weight: 1, fillColor: '#000', fillOpacity: 1,
        interactive: false, className: 'orvus-best' }));
    }
  }
  group.bindTooltip(function (layer) {
    return dom.lines(page.text.fields(layer.orvusContact).map(function (f) { return f[0] + ': ' + f[1]; }));
  }, { sticky: true });
  group.on('click', function (e) { page.select(e.layer.orvusContact, false); });
  group.on('mouseover', function () { hideTargetTip(); });

  function update() {
    var filtered = sel.filtered;
    group.clearLayers();
    extras.clearLayers();
    drawn.clear();
    var all = filtered.length <= limit;
    if (all) filtered.forEach(draw);
    if (state.selected >= 0 && !drawn.has(state.selected)) draw(state.selected);
    markSelected();
    var hidden = all ? 0 : filtered.length - (drawn.size && filtered.indexOf(state.selected) >= 0 ? 1 : 0);
    status.textContent = hidden ?
      texts.count(hidden) + ' swaths not drawn (more than ' + limit + ' selected): click a target, or ' +
      'narrow the filters (satellite, dates, pass, Sun, |BEST ALPHA|) to draw them.' :
      texts.count(drawn.size) + ' swath' + (drawn.size === 1 ? '' : 's') + ' drawn.';
  }
  function markSelected() {
    drawn.forEach(function (layer, i) {
      if (!layer) return;
      var e = layer.getElement();
      if (e) e.classList.toggle('orvus-selected', i === state.selected);
      if (i === state.selected) layer.bringToFront();
    });
  }
  return {
    update: update,
    select: function () {
      if (state.selected >= 0 && !drawn.has(state.selected)) update();
      else markSelected();
    },
    bounds: function (i) { return columns.featureBounds(contacts.swath, i, L.latLngBounds([])); }
  };
}
