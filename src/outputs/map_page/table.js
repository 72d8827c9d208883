// The table of the contacts: sorted over the whole selection, a page of rows at a time, with
// the pager and the heads that sort.
function contactTable(page) {
  'use strict';
  var sel = page.sel, state = sel.state, contacts = page.data.contacts;
  var byId = dom.byId, count = texts.count;
  var size = 50;
  var tbody = document.querySelector('#orvus-contacts tbody');
  var heads = document.querySelectorAll('#orvus-contacts th');
  function row(i) {
    var tr = document.createElement('tr');
    tr.className = 'orvus-contact-row' + (i === state.selected ? ' orvus-row-selected' : '');
    tr.setAttribute('data-contact', String(i));
    page.text.fields(i).forEach(function (f, k) {
      var td = document.createElement('td');
      td.textContent = f[1];
      if (k === 1 || k === 2 || k === 3) td.className = 'orvus-text';
      if (k === 5) td.className = 'orvus-pass-' + f[1];
      tr.appendChild(td);
    });
    return tr;
  }
  function update() {
    var order = sel.order;
    var pages = Math.max(1, Math.ceil(order.length / size));
    state.page = Math.min(Math.max(state.page, 0), pages - 1);
    var first = state.page * size, last = Math.min(order.length, first + size);
    var rows = document.createDocumentFragment();
    for (var k = first; k < last; k++) rows.appendChild(row(order[k]));
    tbody.textContent = '';
    tbody.appendChild(rows);
    byId('orvus-rows').textContent = order.length ?
      'rows ' + count(first + 1) + '\u2013' + count(last) + ' of ' + count(order.length) : 'no rows';
    byId('orvus-first').disabled = byId('orvus-prev').disabled = state.page === 0;
    byId('orvus-next').disabled = byId('orvus-last').disabled = state.page >= pages - 1;
    byId('orvus-pager').classList.toggle('orvus-hidden', pages < 2);
    heads.forEach(function (th) {
      var key = th.getAttribute('data-key');
      th.classList.toggle('orvus-asc', key === state.sortKey && state.sortDir > 0);
      th.classList.toggle('orvus-desc', key === state.sortKey && state.sortDir < 0);
    });
    byId('orvus-count').textContent = count(sel.filtered.length) + ' of ' + count(contacts.count) +
                                      (contacts.count === 1 ? ' contact' : ' contacts');
  }
  function rowOf(i) { return tbody.querySelector('tr[data-contact="' + i + '"]'); }
  tbody.addEventListener('click', function (e) {
    var tr = e.target.closest('tr');
    if (tr) page.select(Number(tr.getAttribute('data-contact')), true);
  });
  heads.forEach(function (th) {
    th.addEventListener('click', function () {
      var key = th.getAttribute('data-key');
      state.sortDir = key === state.sortKey ? -state.sortDir : 1;
      state.sortKey = key;
      state.page = 0;
      sel.sort();
      update();
    });
  });
  var go = function (id, to) {
    byId(id).addEventListener('click', function () { state.page = to(); update(); });
  };
  go('orvus-first', function () { return 0; });
  go('orvus-prev', function () { return state.page - 1; });
  go('orvus-next', function () { return state.page + 1; });
  go('orvus-last', function () { return Infinity; });
  return {
    update: update,
    // Shows the selected row (turning to its page) and marks it.
    select: function (scroll) {
      var prev = tbody.querySelector('.orvus-row-selected');
      if (prev) prev.classList.remove('orvus-row-selected');
      if (state.selected < 0) return;
      var tr = rowOf(state.selected);
      if (!tr) {
        var k = sel.order.indexOf(state.selected);
        if (k < 0) return;
        state.page = Math.floor(k / size);
        update();
        tr = rowOf(state.selected);
      }
      tr.classList.add('orvus-row-selected');
      if (scroll) tr.scrollIntoView({ block: 'nearest' });
    }
  };
}
