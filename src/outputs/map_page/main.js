// The page: its data decoded, the header, the map, and the views that follow the filters and
// share the selection of a contact or an acquisition. Each view has an update() that
// refresh() calls after the filters, in the order they were made.
(function () {
'use strict';
var byId = dom.byId;
var data = pageData.decode(JSON.parse(byId('orvus-data').textContent));
var targets = data.targets, contacts = data.contacts;

var h = data.header;
document.title = h.title;
['title', 'satellites', 'location', 'interval', 'alpha', 'beta'].forEach(function (k) {
  byId('orvus-' + k).textContent = h[k];
});

var map = baseMap.create(data);
var graticule = baseMap.graticule(map);
var sel = selection.create(data), state = sel.state;
var page = {
  data: data, map: map, sel: sel, text: texts.ofPage(data),
  note: function (position, id) { return baseMap.note(map, position, id); },
  select: select, pick: pick, selectAcquisition: selectAcquisition, refresh: refresh
};

var views = [];
var targetView = targetLayer(page);
views.push(targetView);
var swathView = swathLayer(page, targetView.hide);
views.push(swathView);
var coverage = coverageView(page);
if (coverage) views.push(coverage);
var table = contactTable(page);
views.push(table);
var schedule = scheduleViews(page);
if (schedule) views.push(schedule.acquired, schedule.timeline);

function refresh() {
  sel.apply();
  views.forEach(function (v) { v.update(); });
}

// Selects an acquisition: marked on the timeline and the map, and its opportunity's row when
// the filters keep it.
function selectAcquisition(i, zoom) {
  state.acquisition = i;
  schedule.acquired.markSelected();
  schedule.timeline.markSelected();
  var c = data.schedule.contact[i];
  if (c >= 0 && sel.filtered.indexOf(c) >= 0) {
    state.selected = c;
    swathView.select();
    table.select(false);
  }
  if (zoom) {
    var b = schedule.acquired.bounds(i).extend(targetView.bounds(data.schedule.target[i]));
    if (b.isValid()) map.fitBounds(b, { padding: [30, 30], maxZoom: 10, animate: false });
  }
}

function select(i, zoom) {
  state.selected = i;
  swathView.select();
  table.select(!zoom);
  if (zoom) {
    // At once, not animated: the view is where the swath is as soon as the row is clicked.
    var b = swathView.bounds(i).extend(targetView.bounds(contacts.target[i]));
    if (b.isValid()) map.fitBounds(b, { padding: [30, 30], maxZoom: 10, animate: false });
  }
}

function pick(t) {
  state.picked = t;
  state.search = '';
  byId('orvus-target').value = targets.id[t] || targets.label[t];
  state.page = 0;
  refresh();
}

filters(page);

// The first view.
refresh();
graticule();
map.on('moveend', graticule);
window.orvusMap = map;
window.orvusPage = { data: data, state: state, select: select, pick: pick, refresh: refresh,
                     coverage: coverage, selectAcquisition: selectAcquisition };
if (window.performance && performance.mark) performance.mark('orvus-ready');
}());
