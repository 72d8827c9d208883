// The state of the filters, the sort and the selection, and what follows from it: the contacts
// the filters keep (in data order), the same sorted as the table is, and the contacts kept per
// target. The views follow it.
var selection = (function () {
'use strict';

// Ranks of names in sort order (ties by index).
function rank(names) {
  var idx = names.map(function (_, i) { return i; });
  idx.sort(function (a, b) { return names[a] < names[b] ? -1 : names[a] > names[b] ? 1 : a - b; });
  var r = new Float64Array(names.length);
  idx.forEach(function (v, k) { r[v] = k; });
  return r;
}

function create(data) {
  var targets = data.targets, contacts = data.contacts;
  var sel = {
    state: {
      satellite: -1, search: '', picked: -1, from: NaN, to: NaN, pass: '', minSun: NaN,
      maxAlpha: NaN, sortKey: null, sortDir: 1, page: 0, selected: -1, acquisition: -1
    },
    filtered: new Uint32Array(0),              // indices of the contacts kept, in data order
    order: null,                               // the same, sorted as the table is
    perTarget: new Uint32Array(targets.count)  // contacts kept per target
  };
  sel.order = sel.filtered;
  var state = sel.state;

  sel.apply = function () {
    var c = contacts, n = c.count, keep = new Uint32Array(n), k = 0, perTarget = sel.perTarget;
    var targetOk = null;
    if (state.picked >= 0) {
      targetOk = new Uint8Array(targets.count);
      targetOk[state.picked] = 1;
    } else if (state.search) {
      targetOk = new Uint8Array(targets.count);
      for (var t = 0; t < targets.count; t++) {
        targetOk[t] = targets.label[t].toLowerCase().indexOf(state.search) >= 0 ? 1 : 0;
      }
    }
    perTarget.fill(0);
    for (var i = 0; i < n; i++) {
      if (state.satellite >= 0 && c.satellite[i] !== state.satellite) continue;
      if (targetOk && !targetOk[c.target[i]]) continue;
      if (c.start[i] < state.from || c.start[i] >= state.to) continue;
      if (state.pass && c.pass.charAt(i) !== state.pass) continue;
      if (!isNaN(state.minSun) && !(c.sun[i] >= state.minSun)) continue;
      if (!isNaN(state.maxAlpha) && !(Math.abs(c.alpha[i]) <= state.maxAlpha)) continue;
      keep[k++] = i;
      perTarget[c.target[i]]++;
    }
    sel.filtered = keep.subarray(0, k);
    if (state.selected >= 0 && sel.filtered.indexOf(state.selected) < 0) state.selected = -1;
    sel.sort();
  };

  // Sort keys per column: numbers, names by rank; a missing value sorts last either way.
  var sortKeys = {};
  function sortKey(name) {
    if (sortKeys[name]) return sortKeys[name];
    var c = contacts, n = c.count, key = new Float64Array(n), i;
    if (name === 'satellite') {
      var rs = rank(data.satellites);
      for (i = 0; i < n; i++) key[i] = rs[c.satellite[i]];
    } else if (name === 'target') {
      var rt = rank(targets.label);
      for (i = 0; i < n; i++) key[i] = rt[c.target[i]];
    } else if (name === 'pass') {
      for (i = 0; i < n; i++) key[i] = c.pass.charAt(i) === ' ' ? NaN : c.pass.charCodeAt(i);
    } else if (name === 'coverage') {
      key = c.coverage;
    } else {
      key = c[name];
    }
    sortKeys[name] = key;
    return key;
  }
  sel.sort = function () {
    sel.order = sel.filtered.slice();
    if (!state.sortKey) return;
    var key = sortKey(state.sortKey), dir = state.sortDir;
    sel.order.sort(function (a, b) {
      var x = key[a], y = key[b];
      if (x !== x) return y !== y ? a - b : 1;
      if (y !== y) return -1;
      return x < y ? -dir : x > y ? dir : a - b;
    });
  };
  return sel;
}

return { create: create };
}());
