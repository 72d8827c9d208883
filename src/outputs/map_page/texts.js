// Texts of times, numbers and a contact's or an acquisition's fields, as the page shows them.
var texts = (function () {
'use strict';

function pad(n, w) { var s = String(n); while (s.length < w) s = '0' + s; return s; }
function fixed(v, d) { return isNaN(v) ? '' : v.toFixed(d); }
function count(n) { return n.toLocaleString('en-US'); }

// The texts of a page's data, its times in milliseconds from the interval's start.
function ofPage(data) {
  var targets = data.targets, contacts = data.contacts, schedule = data.schedule;
  // A time as the reports write it (to the ms).
  function time(ms) {
    var d = new Date(data.t0 + ms);
    return pad(d.getUTCDate(), 2) + '/' + pad(d.getUTCMonth() + 1, 2) + '/' + pad(d.getUTCFullYear(), 4) +
           ' ' + pad(d.getUTCHours(), 2) + ':' + pad(d.getUTCMinutes(), 2) + ':' +
           pad(d.getUTCSeconds(), 2) + '.' + pad(d.getUTCMilliseconds(), 3);
  }
  function day(ms) {  // YYYY-MM-DD, as date inputs take it
    var d = new Date(data.t0 + ms);
    return pad(d.getUTCFullYear(), 4) + '-' + pad(d.getUTCMonth() + 1, 2) + '-' + pad(d.getUTCDate(), 2);
  }
  function pass(i) { return contacts.pass.charAt(i).trim(); }
  // A contact's fields as the table's heads name them, with their texts.
  function fields(i) {
    var c = contacts;
    return [['No.', String(c.number[i])], ['Satellite', data.satellites[c.satellite[i]] || ''],
            ['Target', targets.label[c.target[i]] || ''], ['Local start', time(c.start[i])],
            ['Duration (s)', fixed(c.duration[i], 1)], ['Pass', pass(i)],
            ['BEST ALPHA (\u00b0)', fixed(c.alpha[i], 2)], ['Sun elevation (\u00b0)', fixed(c.sun[i], 1)],
            ['Coverage (%)', fixed(c.coverage[i] * 100, 1)]];
  }
  function acquisition(i) {
    var s = schedule;
    return [targets.label[s.target[i]] || '', data.satellites[s.satellite[i]] || '',
            'Local start: ' + time(s.start[i]), 'Imaging (s): ' + fixed(s.duration[i], 3),
            'Roll (\u00b0): ' + fixed(s.roll[i], 2)];
  }
  return { time: time, day: day, pass: pass, fields: fields, acquisition: acquisition };
}

return { pad: pad, fixed: fixed, count: count, ofPage: ofPage };
}());
