// The filters above the map: satellite, target, dates, pass, Sun elevation and |BEST ALPHA|,
// read into the state on every change (then page.refresh()); those that could not narrow
// anything are not shown.
function filters(page) {
  'use strict';
  var data = page.data, targets = data.targets, state = page.sel.state, byId = dom.byId;
  var sat = byId('orvus-satellite');
  data.satellites.forEach(function (name, i) {
    var o = document.createElement('option');
    o.value = String(i);
    o.textContent = name;
    sat.appendChild(o);
  });
  byId('orvus-satellite-filter').classList.toggle('orvus-hidden', data.satellites.length < 2);
  byId('orvus-target-filter').classList.toggle('orvus-hidden', targets.count < 2);
  byId('orvus-date-filter').classList.toggle('orvus-hidden', data.t1 - data.t0 <= 86400000);
  ['orvus-from', 'orvus-to'].forEach(function (id) {
    byId(id).min = page.text.day(0);
    byId(id).max = page.text.day(data.t1 - data.t0);
  });
  function number(id) {
    var v = byId(id).value;
    return v === '' || isNaN(Number(v)) ? NaN : Number(v);
  }
  function day(id, next) {  // a date input as milliseconds from the start, or NaN
    var m = /^(\d+)-(\d\d)-(\d\d)$/.exec(byId(id).value);
    return m ? Date.UTC(+m[1], +m[2] - 1, +m[3] + (next ? 1 : 0)) - data.t0 : NaN;
  }
  function read() {
    state.satellite = sat.value === '' ? -1 : Number(sat.value);
    var search = byId('orvus-target').value.trim().toLowerCase();
    var p = state.picked;
    if (p < 0 || search !== (targets.id[p] || targets.label[p]).toLowerCase()) state.picked = -1;
    state.search = state.picked >= 0 ? '' : search;
    state.from = day('orvus-from', false);
    state.to = day('orvus-to', true);
    state.pass = byId('orvus-pass').value;
    state.minSun = number('orvus-min-sun');
    state.maxAlpha = number('orvus-max-alpha');
    state.page = 0;
    page.refresh();
  }
  ['orvus-satellite', 'orvus-target', 'orvus-from', 'orvus-to', 'orvus-pass', 'orvus-min-sun',
   'orvus-max-alpha'].forEach(function (id) {
    byId(id).addEventListener('input', read);
    byId(id).addEventListener('change', read);
  });
  byId('orvus-clear').addEventListener('click', function () {
    document.querySelectorAll('#orvus-filters input, #orvus-filters select').forEach(function (e) {
      e.value = '';
    });
    state.picked = -1;
    read();
  });
}
