// The console's start: the map, the key (asked once, kept in this tab's session storage), the
// views the key's holder may use, and the connection's state.

import * as api from './api.js';
import { Area } from './area.js';
import * as basemap from './basemap.js';
import { byId, el } from './dom.js';
import { ErrorScope } from './errors.js';
import { Orders } from './orders.js';
import { PlanView } from './plan.js';
import { Requester } from './requester.js';
import { parseInstant } from './time.js';

const map = basemap.create('map');
const state = { who: null, views: null, tab: 'request' };
window.orvusConsole = { map, state };
basemap.land(map, api.get).catch((e) => {
  byId('map-note').textContent = `The land could not be drawn: ${e.message}`;
});

// ---- the connection ----

let restored = null;
api.on('connection', ({ lost, retryMs, unavailable }) => {
  const box = byId('connection');
  clearTimeout(restored);
  if (lost) {
    box.className = 'lost';
    box.textContent = (unavailable ? 'The service is unavailable for now' :
      'The connection to the service is lost') +
      (retryMs ? `; retrying in ${Math.round(retryMs / 1000)} s\u2026` : '.');
    box.hidden = false;
  } else if (!box.hidden && box.className === 'lost') {
    box.className = 'restored';
    box.textContent = 'Connected again.';
    restored = setTimeout(() => { box.hidden = true; }, 3000);
  }
});

// ---- the key ----

const keyScope = new ErrorScope(byId('key-error'));

function askKey(message) {
  if (state.views) {
    state.views.orders.stop();
    if (state.views.plan) state.views.plan.stop();
  }
  keyScope.clear();
  if (message) byId('key-error').append(el('span', { className: 'error-text', text: message }));
  const dialog = byId('key-dialog');
  if (!dialog.open) dialog.showModal();
  byId('key-input').focus();
}

api.on('unauthorized', () => askKey('The service refused the key (unknown or revoked): enter it again.'));

byId('key-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const value = byId('key-input').value.trim();
  if (!value) return;
  api.setKey(value);
  byId('key-input').value = '';
  await signIn();
});

byId('sign-out').addEventListener('click', () => {
  api.setKey(null);
  askKey(null);
});

async function signIn() {
  let who;
  try {
    who = await api.get('/whoami');
  } catch (e) {
    if (e.status !== 401) askKey(e.message);
    return;
  }
  byId('key-dialog').close();
  if (state.who && state.who.name !== who.name) {
    window.location.reload(); // another holder: start afresh
    return;
  }
  state.who = who;
  byId('who').textContent = `${who.name}${who.operator ? ' (operator)' : ''}`;
  if (state.views) {
    state.views.orders.start();
    if (state.views.plan) state.views.plan.start();
    return;
  }
  await setUp(who);
}

// ---- the views ----

function choose(tab) {
  state.tab = tab;
  for (const name of ['request', 'orders', 'plan']) {
    byId(`view-${name}`).hidden = name !== tab;
    byId(`tab-${name}`).setAttribute('aria-selected', String(name === tab));
  }
  document.body.classList.toggle('wide', tab === 'plan');
  const v = state.views;
  const layer = (group, on) => (on ? group.addTo(map) : group.remove());
  layer(v.requester.footprints, tab === 'request');
  layer(v.orders.drawn, tab === 'orders');
  if (v.plan) layer(v.plan.drawn, tab === 'plan');
  map.invalidateSize();
  if (tab === 'plan') v.plan.drawTimeline();
}

async function setUp(who) {
  let requester = null;
  const area = new Area(map, (geometry, problem) => requester && requester.areaChanged(geometry, problem));
  requester = new Requester(map, area, (order) => orders.add(order));
  const orders = new Orders(map, who.operator);
  const plan = who.operator ? new PlanView(map, () => orders.poll()) : null;
  state.views = { requester, orders, plan };
  byId('tab-orders').textContent = who.operator ? 'Orders' : 'My orders';
  byId('tab-plan').hidden = !who.operator;
  for (const name of ['request', 'orders', 'plan']) {
    byId(`tab-${name}`).addEventListener('click', () => choose(name));
  }
  choose('request');
  requester.areaChanged(null, null);
  try {
    await requester.init(parseInstant(who.now), who.horizon_s);
  } catch (e) {
    requester.scope.show(e);
  }
  orders.start();
  if (plan) plan.start();
  document.body.dataset.state = 'ready';
  performance.mark('console-ready');
}

if (api.key()) signIn();
else askKey(null);
