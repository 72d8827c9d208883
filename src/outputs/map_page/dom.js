// The document's elements: texts from the inputs reach it as text (textContent), never as
// markup.
var dom = (function () {
'use strict';
var svgNS = 'http://www.w3.org/2000/svg';

function byId(id) { return document.getElementById(id); }
// A box of lines of text.
function lines(texts) {
  var box = document.createElement('div');
  texts.forEach(function (t) {
    var line = document.createElement('div');
    line.textContent = t;
    box.appendChild(line);
  });
  return box;
}
// A legend's line: a swatch of the colour, then the text.
function legendLine(colour, text) {
  var line = document.createElement('div'), swatch = document.createElement('i');
  swatch.style.background = colour;
  line.appendChild(swatch);
  line.appendChild(document.createTextNode(text));
  return line;
}
// An SVG element with its attributes, appended to `parent` when given.
function svg(name, attrs, parent) {
  var e = document.createElementNS(svgNS, name);
  Object.keys(attrs).forEach(function (k) { e.setAttribute(k, attrs[k]); });
  if (parent) parent.appendChild(e);
  return e;
}
function svgText(parent, x, y, t, anchor) {
  var e = svg('text', { x: x, y: y, 'text-anchor': anchor || 'middle' }, parent);
  e.textContent = t;
  return e;
}

return { byId: byId, lines: lines, legendLine: legendLine, svg: svg, svgText: svgText };
}());
