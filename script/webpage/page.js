// page.js -- the script of wirepaint's report pages.
//
// One script serves both pages the program writes: the page of one
// connection (meta.kind "connection": header, ladder, graphs, events,
// statistics) and the health table of many (meta.kind "health"). The data
// sit in inert script elements: a JSON record (#meta) and base64 blobs of
// deflated bytes, inflated here with the browser's DecompressionStream.
// Nothing is fetched.
//
// The ladder is computed as the program publishes it: the same float
// arithmetic (Math.fround at every step the program takes in float), the
// same window scan with its cap of 256 arrows, the same placement of
// labels and time stamps, the same hit test. The texts of a segment are
// the program's own, carried whole.
//
// window.wirepaintPage exposes what the page drew, for tests:
//   ready, complete, failed   the ladder drawn; everything drawn; an error
//   readyAt, completeAt       ms since the navigation started
//   lastRedrawMs              the last redraw of the ladder (publication
//                             and drawing), ms
//   view()                    {start, end, scale, scroll}: the main window
//                             in s, px/s, and the window's main_scroll;
//                             setView(v) shows another
//   arrows(), labels(), times(), notice()
//                             the publication of the view: arrows {line,
//                             x1, y1, x2, y2, color, arrow}, texts {line,
//                             x, y, text, color} in scroll-region pixels,
//                             the notice of a capped span or null
//   canvasOrigin(), overOrigin()  where the canvases lie in the viewport
//   hitAt(x, y), hoverText, popupText(), popupLine()
//   detailText(j), hoverLine(j), labelText(j), eventsText(), statsText()
//   zoom(steps, y), scrollBy(px), goToSegment(n), home(), end(), fit(),
//   current(), warnings(), scanCheck(start, end), graphs (a few checks)
//   the health page: headers(), sort(col, dir), setFilter(text),
//   tableRows(), shownRows(), lastSortMs
'use strict';

const f = Math.fround;
const MAX_HITS = 256;
const INDEX_BLOCK = 64;
const MESSAGE_SIZE = 1024;
const EDGE_MARGIN = 20;
const FONT_SMALL = (8 * 100 / 72).toFixed(2) + 'px Helvetica, Arial, sans-serif';
const FONT_LABEL = '9px Helvetica, Arial, sans-serif';
const TK_COLOURS = {
  black: '#000000', white: '#ffffff', blue: '#0000ff', red: '#ff0000',
  green: '#008000', orange: '#ffa500', purple: '#800080', brown: '#a52a2a'
};

const api = { ready: false, failed: null };
window.wirepaintPage = api;

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c);
  return e;
}

// The bytes of blob element `id`: base64, then inflated.
async function blobBytes(id) {
  const node = document.getElementById(id);
  if (!node) return new Uint8Array(0);
  const text = node.textContent.trim();
  const raw = atob(text);
  const packed = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; i++) packed[i] = raw.charCodeAt(i);
  if (packed.length === 0) return packed;
  const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('deflate'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// A reader of LEB128 numbers, as webpage/page_data.cpp writes them.
class Reader {
  constructor(bytes, at) { this.b = bytes; this.at = at || 0; }
  u() {
    let v = 0, mul = 1, byte;
    do {
      byte = this.b[this.at++];
      v += (byte & 0x7f) * mul;
      mul *= 128;
    } while (byte & 0x80);
    return v;
  }
  s() {
    const z = this.u();
    return z % 2 === 0 ? z / 2 : -(z + 1) / 2;
  }
}

// A canvas coordinate as the program keeps it: truncated, held in +-2^24.
function toPixel(v) {
  const limit = 16777216;
  if (!(v > -limit)) return -limit;
  if (v > limit) return limit;
  return Math.trunc(v);
}

// "%.6f" of a float, rounding ties to even as the C library does.
function fixed6(x) {
  if (!Number.isFinite(x)) return Number.isNaN(x) ? 'nan' : (x > 0 ? 'inf' : '-inf');
  const y = x * 2000000;          // exact: 24 bits times 21 bits
  if (Number.isInteger(y) && Math.abs(y) % 2 === 1) {
    let n = (Math.abs(y) - 1) / 2;
    if (n % 2 === 1) n += 1;
    const whole = Math.floor(n / 1000000), frac = n % 1000000;
    const sign = (x < 0 || Object.is(x, -0)) ? '-' : '';
    return sign + whole + '.' + String(frac).padStart(6, '0');
  }
  const s = x.toFixed(6);
  return (Object.is(x, -0) || (x < 0 && !s.startsWith('-'))) ? '-' + s : s;
}

// The window's popup text: the detail and a newline, cut to whole lines.
function buildMessage(detail) {
  const room = MESSAGE_SIZE - 1;
  const bytes = new TextEncoder().encode(detail);
  if (bytes.length + 1 <= room) return detail + '\n';
  let keep = 0;
  for (let i = 0; i < room; i++) if (bytes[i] === 10) keep = i + 1;
  const dec = new TextDecoder();
  if (keep > 0) return dec.decode(bytes.subarray(0, keep));
  return dec.decode(bytes.subarray(0, room - 1)) + '\n';
}

// The dump of header bytes as the detail text has it: lines of 16.
function headerDump(bytes) {
  let out = '';
  for (let i = 0; i < bytes.length; i++) {
    if (i % 16 === 0) out += '\n      0x' + i.toString(16).padStart(4, '0') + ':  ';
    out += bytes[i].toString(16).padStart(2, '0');
    if (i % 2 === 1) out += ' ';
  }
  return out;
}

function templateText(shape, numbers) {
  if (shape.charCodeAt(0) === 2) return shape.slice(1);
  let out = '', k = 0;
  for (const c of shape) {
    if (c === '\x01' && k < numbers.length) out += String(numbers[k++]);
    else if (c === '\x03' && k < numbers.length) out += numbers[k++].toString(16).padStart(4, '0');
    else out += c;
  }
  return out;
}

// ---------------------------------------------------------------------------
// The lines and the texts of the connection.

function decodeLines(bytes, n) {
  let at = 0;
  function planes() {
    const out = new Uint32Array(n);
    for (let k = 0; k < 4; k++) {
      const shift = 8 * k;
      for (let i = 0; i < n; i++) out[i] |= bytes[at + i] << shift;
      at += n;
    }
    return out;
  }
  const send = planes(), recv = planes(), delay = planes();
  let s = 0, d = 0;
  for (let i = 0; i < n; i++) {
    s = (s + send[i]) >>> 0; send[i] = s;
    recv[i] = (s + recv[i]) >>> 0;
    d = (d + delay[i]) >>> 0; delay[i] = d;
  }
  const dir = new Uint8Array(n), cls = new Uint8Array(n);
  for (let i = 0; i < n; i++) {
    const b = bytes[at + i];
    dir[i] = b >> 4; cls[i] = b & 15;
  }
  return {
    n, dir, cls,
    tSend: new Float32Array(send.buffer),
    tRecv: new Float32Array(recv.buffer),
    delay: new Float32Array(delay.buffer)
  };
}

// One stream of texts, block by block (webpage.cpp's text_stream): each
// block decodes on its own, its slots starting from 0.
class TextStream {
  constructor(shapes, offsets, block, bytes, L, entry) {
    this.shapes = shapes;
    this.slots = shapes.map(s => s.charCodeAt(0) === 2 ? 0 : (s.match(/[\x01\x03]/g) || []).length);
    this.offsets = offsets;
    this.block = block;
    this.bytes = bytes;
    this.L = L;
    this.entry = entry;     // (stream, reader, last, state, j) -> one segment's entry
    this.cache = new Map();
  }
  text(r, last) {
    const id = r.u();
    let vals = last.get(id);
    if (!vals) { vals = new Array(this.slots[id]).fill(0); last.set(id, vals); }
    for (let k = 0; k < vals.length; k++) vals[k] += r.s();
    return templateText(this.shapes[id], vals);
  }
  decodeBlock(b) {
    const r = new Reader(this.bytes, this.offsets[b]);
    const last = new Map(), state = {};
    const first = b * this.block, stop = Math.min(this.L.n, first + this.block);
    const out = [];
    for (let j = first; j < stop; j++) out.push(this.entry(this, r, last, state, j));
    return out;
  }
  get(j) {
    const b = Math.floor(j / this.block);
    let blk = this.cache.get(b);
    if (!blk) {
      if (this.cache.size > 64) this.cache.clear();
      blk = this.decodeBlock(b);
      this.cache.set(b, blk);
    }
    return blk[j - b * this.block];
  }
}

function labelStream(meta, bytes, L) {
  return new TextStream(meta.labelTemplates, meta.labelOffsets, meta.textBlock, bytes, L,
    (st, r, last) => st.text(r, last));
}

// The summary line, header bytes and hover suffix of each segment.
function detailStream(meta, bytes, L) {
  const s = new TextStream(meta.templates, meta.textOffsets, meta.textBlock, bytes, L,
    (st, r, last, state, j) => {
      if (!state.prev) state.prev = [new Uint8Array(0), new Uint8Array(0)];
      const summary = st.text(r, last);
      const count = r.u();
      let header = null;
      if (count > 0) {
        const len = count - 1, side = L.dir[j] === 1 ? 0 : 1;
        const p = state.prev[side], b = st.bytes;
        header = new Uint8Array(len);
        for (let g = 0; g < len; g += 8) {
          const mask = b[r.at++];
          for (let k = g; k < len && k < g + 8; k++) {
            const prev = k < p.length ? p[k] : 0;
            header[k] = (mask >> (k - g)) & 1 ? b[r.at++] ^ prev : prev;
          }
        }
        state.prev[side] = header;
      }
      const suffix = st.text(r, last);
      return { summary, header, suffix };
    });
  return {
    detail(j) {
      const e = s.get(j);
      return e.header ? e.summary + '\n' + headerDump(e.header) : '';
    },
    hover(j) {
      const e = s.get(j);
      return 'Segment ' + (j + 1) + ': ' + e.summary + e.suffix;
    }
  };
}

// ---------------------------------------------------------------------------
// The window scan: which lines the main canvas publishes for a window.

class LineIndex {
  constructor(L) {
    const n = L.n;
    this.L = L;
    this.recvMax = new Float32Array(n);
    this.sendMax = new Float32Array(n);
    this.blockRecvMax = new Float32Array(Math.ceil(n / INDEX_BLOCK)).fill(-Infinity);
    let rmax = -Infinity, smax = -Infinity;
    for (let j = 0; j < n; j++) {
      const r = Number.isNaN(L.tRecv[j]) ? Infinity : L.tRecv[j];
      const s = Number.isNaN(L.tSend[j]) ? -Infinity : L.tSend[j];
      if (r > rmax) rmax = r;
      if (s > smax) smax = s;
      this.recvMax[j] = rmax;
      this.sendMax[j] = smax;
      const b = (j / INDEX_BLOCK) | 0;
      if (r > this.blockRecvMax[b]) this.blockRecvMax[b] = r;
    }
  }
  // The first index for which pred fails, over a predicate true then false.
  static partition(arr, pred) {
    let lo = 0, hi = arr.length;
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (pred(arr[mid])) lo = mid + 1; else hi = mid;
    }
    return lo;
  }
  nextUnskipped(start, from) {
    const n = this.L.n, tRecv = this.L.tRecv;
    let j = from;
    while (j < n) {
      if (j % INDEX_BLOCK === 0 && start > this.blockRecvMax[j / INDEX_BLOCK]) {
        j += INDEX_BLOCK;
        continue;
      }
      if (!(start > tRecv[j])) return j;
      j++;
    }
    return n;
  }
  // The lines kept (at most cap) and the span of the scan, as the program's.
  scan(start, end, cap, keep) {
    const n = this.L.n, tSend = this.L.tSend, tRecv = this.L.tRecv;
    const span = { first: LineIndex.partition(this.recvMax, r => start > r), stop: n };
    const mayStop = LineIndex.partition(this.sendMax, s => !(s > end));
    let kept = 0;
    let from = span.first;
    if (!keep && cap === Infinity) from = Math.max(from, mayStop);
    for (let j = from; kept < cap; j++) {
      if (j < n && start > tRecv[j]) j = this.nextUnskipped(start, j);
      if (j >= n) break;
      if (j >= mayStop && tSend[j] > end) { span.stop = j; break; }
      if (keep) keep.push(j);
      kept++;
    }
    return span;
  }
}

// The literal scan from line 0, which the indexed one must equal.
function scanLiteral(L, start, end, cap) {
  const out = [];
  for (let j = 0; j < L.n && out.length < cap; j++) {
    if (start > L.tRecv[j]) continue;
    if (L.tSend[j] > end) break;
    out.push(j);
  }
  return out;
}

// A column of texts: the y of each one accepted, kept more than 8 px apart.
function placeText(y, column) {
  // column: ascending array of ints, starting [-100]
  const lowerBound = v => LineIndex.partition(column, c => c < v);
  const crowds = v => {
    const i = lowerBound(v - 8);
    return i < column.length && column[i] <= v + 8;
  };
  for (let i = lowerBound(y - 8); i < column.length && column[i] <= y + 8; i++) {
    y = column[i] + 9;
    if (crowds(y)) return null;
  }
  column.splice(lowerBound(y), 0, y);
  return y;
}

// ---------------------------------------------------------------------------
// The connection page.

function connectionPage(meta, L, labelTexts, rest) {
  // Drawn first: the header and the ladder. The popups' texts, the graphs
  // and the events follow when `rest` (a promise) has them.
  let texts = null, events = '';
  let graphs = { follow() {}, drawNow() {}, test: null };
  const V0 = meta.view;
  const W = V0.W, H = V0.H, OW = V0.OW, OH = V0.OH;
  const colours = meta.colors;
  const index = new LineIndex(L);
  const view = { start: f(V0.start), end: f(V0.end), scale: f(V0.scale), scroll: f(V0.scroll) };
  let pub = null;           // the last publication
  let popupLine = -1, current = -1, lastPointer = null;

  // -- header
  const header = el('header', { id: 'head' });
  header.append(el('h1', { text: 'wirepaint report: ' + meta.files.join(' + ') }));
  const facts = el('dl', { id: 'facts' });
  const fact = (k, v) => { facts.append(el('dt', { text: k }), el('dd', { text: v })); };
  fact('Files', meta.files.join(', '));
  fact('Hosts', meta.hosts[0] + '  \u2194  ' + meta.hosts[1] + ' (left axis, right axis)');
  fact('Segments', String(meta.count));
  for (const line of meta.facts) {
    const c = line.indexOf(':');
    fact(line.slice(0, c), line.slice(c + 1).trim());
  }
  header.append(facts);
  if (meta.health) {
    const h = meta.health;
    const vi = h.names.findIndex(x => /verdict/i.test(x));
    if (vi >= 0) header.append(el('p', { id: 'verdict', class: 'verdict v-' + h.cells[vi] },
      'Verdict: ', el('strong', { text: h.cells[vi] })));
    const t = el('table', { id: 'healthrow', class: 'grid' });
    t.append(el('tr', {}, ...h.names.map(n => el('th', { text: n }))));
    t.append(el('tr', {}, ...h.cells.map(c => el('td', { text: c }))));
    header.append(t);
  }
  document.body.append(header);

  const nav = el('nav', { id: 'toc' },
    el('a', { href: '#ladder', text: 'Ladder' }), ' \u00b7 ',
    el('a', { href: '#graphs', text: 'Graphs' }), ' \u00b7 ',
    el('a', { href: '#events', text: 'Events' }), ' \u00b7 ',
    el('a', { href: '#statistics', text: 'Statistics' }));
  document.body.append(nav);

  // -- ladder
  const section = el('section', { id: 'ladder' });
  const strip = el('div', { class: 'strip' });
  const hostL = el('span', { class: 'host', text: meta.hosts[0] });
  const hostR = el('span', { class: 'host', text: meta.hosts[1] });
  const timeword = el('span', { class: 'timeword', text: 'time \u2193' });
  const overTitle = el('span', { class: 'overtitle', text: 'Overview' });
  strip.append(hostL, timeword, hostR, overTitle);
  const frame = el('div', { class: 'frame' });
  const main = el('canvas', { id: 'main', width: W, height: H, tabindex: '0' });
  const over = el('canvas', { id: 'over', width: OW, height: H });
  frame.append(main, over);
  const legend = el('div', { class: 'legend' });
  for (const [cls, name] of meta.legend) {
    const c = el('canvas', { width: 34, height: 12 });
    const g = c.getContext('2d');
    g.strokeStyle = g.fillStyle = TK_COLOURS[colours[cls]] || colours[cls];
    g.lineWidth = 2;
    g.beginPath(); g.moveTo(8, 6); g.lineTo(24, 6); g.stroke();
    g.beginPath(); g.moveTo(30, 6); g.lineTo(22, 2); g.lineTo(22, 10); g.closePath(); g.fill();
    legend.append(el('span', { class: 'item' }, c, name));
  }
  const status = el('div', { id: 'status', text: 'Wheel scrolls, Ctrl+wheel or +/- zooms around the pointer, drag scrolls, Home/End, f fits all, n/p next/previous warning; click an arrow for its headers.' });
  const popup = el('div', { id: 'popup', hidden: '' });
  const popupText = el('pre', { id: 'popuptext' });
  const popupClose = el('button', { type: 'button', text: 'Close' });
  popup.append(popupText, popupClose);
  section.append(el('h2', { text: 'Ladder' }), strip, frame, legend, status, popup);
  document.body.append(section);
  strip.style.width = (W + OW) + 'px';
  hostL.style.left = (80 - 150) + 'px';
  hostR.style.left = (W - 80 - 150) + 'px';
  timeword.style.left = (Math.floor(W / 2) - 50) + 'px';
  overTitle.style.left = (W + OW / 2 - 50) + 'px';

  const g = main.getContext('2d');
  const og = over.getContext('2d');

  // -- publication, as the program's publish_lines, labels and times
  function mainArrow(j, v) {
    const ts = f(L.tSend[j] - v.start);
    const ys = toPixel(f(20 + f(v.scale * ts)));
    const yr = toPixel(f(20 + f(v.scale * f(ts + L.delay[j]))));
    const d = L.dir[j];
    const e = d === 1 ? [80, ys, W - 80, yr] : [80, yr, W - 80, ys];
    if (L.cls[j] === 4) {
      const mx = Math.trunc(W * 0.5);
      const my = toPixel(v.scale * (L.delay[j] / 2.05 + ts) + 20);
      if (d === 1) { e[2] = mx; e[3] = my; } else { e[0] = mx; e[1] = my; }
    }
    return e;
  }
  function colourName(c) { return c < colours.length ? colours[c] : 'black'; }

  function publish(v) {
    const lines = [];
    index.scan(v.start, v.end, MAX_HITS, lines);
    const arrows = lines.map(j => {
      const e = mainArrow(j, v);
      return { line: j, x1: e[0], y1: e[1], x2: e[2], y2: e[3], color: colourName(L.cls[j]),
               arrow: L.dir[j] === 1 ? 'last' : 'first' };
    });
    let notice = null;
    if (arrows.length === MAX_HITS) {
      const span = index.scan(v.start, v.end, Infinity, null);
      const held = span.stop - span.first;
      if (held > MAX_HITS) {
        const last = arrows[MAX_HITS - 1];
        notice = { text: 'first ' + MAX_HITS + ' of ' + held + ' segments in this span: zoom in, or press t for the graphs',
                   x: Math.trunc(W / 2), y: Math.max(last.y1, last.y2) + 12 };
      }
    }
    const labels = [], times = [];
    if (lines.length) {
      const firstV = lines[0], lastV = lines[lines.length - 1];
      const col = [-100];
      for (let j = firstV; j <= lastV; j++) {
        const since = f(L.tSend[j] - v.start);
        const y = toPixel(v.scale * (since + L.delay[j] * 0.5) + 20 - 4);
        const placed = placeText(y, col);
        if (placed === null) continue;
        labels.push({ line: j, x: Math.trunc(W / 2), y: placed, text: labelTexts.get(j), color: colourName(L.cls[j]) });
      }
      const left = [-100], right = [-100];
      const one = (t, x, column, j) => {
        const y = toPixel(f(f(f(f(t - v.start) * v.scale) + 20) + -4));
        const placed = placeText(y, column);
        if (placed === null) return;
        times.push({ line: j, x, y: placed, text: fixed6(t), color: colourName(L.cls[j]) });
      };
      for (let j = firstV; j <= lastV; j++) {
        const tl = L.dir[j] === 1 ? L.tSend[j] : L.tRecv[j];
        const tr = L.dir[j] === 1 ? L.tRecv[j] : L.tSend[j];
        one(tl, 40, left, j);
        one(tr, W - 40, right, j);
      }
    }
    const hits = arrows.map(a => ({ a: a.y1 - a.y2, b: a.x2 - a.x1, c: a.x1 * a.y2 - a.x2 * a.y1, line: a.line }));
    return { view: Object.assign({}, v), arrows, notice, labels, times, hits };
  }

  // -- drawing
  function topRow() {
    const region = 2 * H;
    const t = Math.trunc(view.scroll * 0.5 * region + 0.5);
    return Math.max(0, Math.min(t, region - H));
  }
  function arrowHead(ctx, tx, ty, fx, fy, width) {
    const a = 9.001, b = 11.001, c = 3 + width / 2 + 0.001;
    const frac = (width / 2) / c;
    const backup = frac * b + a * (1 - frac) / 2;
    const dx = tx - fx, dy = ty - fy, len = Math.hypot(dx, dy);
    const sin = len === 0 ? 0 : dy / len, cos = len === 0 ? 0 : dx / len;
    const vx = tx - a * cos, vy = ty - a * sin;
    const p2x = tx - b * cos + c * sin, p2y = ty - b * sin - c * cos;
    const p8x = p2x - 2 * c * sin, p8y = p2y + 2 * c * cos;
    const p4x = p2x * frac + vx * (1 - frac), p4y = p2y * frac + vy * (1 - frac);
    const p6x = p8x * frac + vx * (1 - frac), p6y = p8y * frac + vy * (1 - frac);
    ctx.beginPath();
    ctx.moveTo(tx, ty); ctx.lineTo(p2x, p2y); ctx.lineTo(p4x, p4y);
    ctx.lineTo(p6x, p6y); ctx.lineTo(p8x, p8y); ctx.closePath(); ctx.fill();
    return [tx - backup * cos, ty - backup * sin];
  }
  function line(ctx, x1, y1, x2, y2, colour, width, head) {
    const o = width % 2 === 1 ? 0.5 : 0;
    x1 += o; y1 += o; x2 += o; y2 += o;
    ctx.strokeStyle = ctx.fillStyle = TK_COLOURS[colour] || colour;
    if (head === 'last') [x2, y2] = arrowHead(ctx, x2, y2, x1, y1, width);
    else if (head === 'first') [x1, y1] = arrowHead(ctx, x1, y1, x2, y2, width);
    ctx.lineWidth = width;
    ctx.beginPath(); ctx.moveTo(x1, y1); ctx.lineTo(x2, y2); ctx.stroke();
  }
  function text(ctx, s, x, y, font, colour, ground) {
    ctx.font = font;
    const w = ctx.measureText(s).width;
    if (ground) {
      ctx.fillStyle = '#ffffff';
      ctx.fillRect(Math.floor(x - w / 2) - 1, y - 5, Math.ceil(w) + 2, 11);
    }
    ctx.fillStyle = TK_COLOURS[colour] || colour;
    ctx.textAlign = 'center';
    ctx.textBaseline = 'middle';
    ctx.fillText(s, x, y);
  }
  let labelsOn = true, timesOn = true;
  function drawMain() {
    const t0 = performance.now();
    pub = publish(view);
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.fillStyle = '#ffffff';
    g.fillRect(0, 0, W, H);
    g.translate(0, -topRow());
    line(g, 80, 20, 80, 2 * H, '#4a5568', 2, null);
    line(g, W - 80, 20, W - 80, 2 * H, '#4a5568', 2, null);
    for (const a of pub.arrows) line(g, a.x1, a.y1, a.x2, a.y2, a.color, 1, a.arrow);
    if (pub.notice) text(g, pub.notice.text, pub.notice.x, pub.notice.y, FONT_SMALL, '#2d3748', false);
    if (labelsOn) for (const t of pub.labels) text(g, t.text, t.x, t.y, FONT_LABEL, t.color, true);
    if (timesOn) for (const t of pub.times) text(g, t.text, t.x, t.y, FONT_SMALL, t.color, false);
    drawOver();
    const top = timeAtRow(mainTopRow());
    graphs.follow([top, f(top + shownSpan())], goToSegment);
    api.lastRedrawMs = performance.now() - t0;
  }

  // -- overview: the whole connection in the strip's height, thinned as
  // the program thins it: of lines with the same pixels only one is drawn.
  const first = L.n ? Math.min(L.tSend[0], L.tRecv[0]) : 0;
  const lastT = L.n ? Math.max(L.tSend[L.n - 1], L.tRecv[L.n - 1]) : 1;
  const ospan = lastT - first > 0 ? lastT - first : 0.01;
  const ov = { start: f(first - 0.02 * ospan), scale: f((H - 10) / (1.04 * ospan)) };
  const overImage = document.createElement('canvas');
  overImage.width = OW; overImage.height = H;
  let overCount = 0;
  (function buildOverview() {
    const xl = Math.trunc(OW * 0.15 + 1), xr = Math.trunc(OW * 0.85 - 1), mx = Math.trunc(OW * 0.5);
    const seen = new Set();
    const kept = [];
    for (let j = L.n - 1; j >= 0; j--) {
      const ts = f(L.tSend[j] - ov.start);
      const ys = toPixel(f(f(ts * ov.scale) + 5));
      let yr;
      const lost = L.cls[j] === 4;
      if (lost) yr = toPixel(ov.scale * (L.delay[j] * 0.5 + ts) + 5);
      else yr = toPixel(f(f(f(ts + L.delay[j]) * ov.scale) + 5));
      const d = L.dir[j];
      const e = d === 1 ? [xl, ys, lost ? mx : xr, yr] : [lost ? mx : xl, yr, xr, ys];
      if (Math.max(ys, yr) < 0 || Math.min(ys, yr) > H) continue;
      const lim = 8388607;
      const a = Math.max(-lim, Math.min(lim, ys)) + lim + 1, b = Math.max(-lim, Math.min(lim, yr)) + lim + 1;
      const key = (a * 16777216 + b) * 16 + d * 7 + colourIndex(L.cls[j]);
      if (seen.has(key)) continue;
      seen.add(key);
      kept.push(j, e[0], e[1], e[2], e[3]);
    }
    const c = overImage.getContext('2d');
    c.lineWidth = 1;
    for (let k = kept.length - 5; k >= 0; k -= 5) {
      c.strokeStyle = TK_COLOURS[colourName(L.cls[kept[k]])];
      c.beginPath();
      c.moveTo(kept[k + 1] + 0.5, kept[k + 2] + 0.5);
      c.lineTo(kept[k + 3] + 0.5, kept[k + 4] + 0.5);
      c.stroke();
    }
    overCount = kept.length / 5;
  })();
  function colourIndex(cls) {
    for (let k = 0; k < cls && k < colours.length; k++) if (colours[k] === colours[cls]) return k;
    return cls;
  }
  function drawOver() {
    og.setTransform(1, 0, 0, 1, 0, 0);
    og.fillStyle = '#fbfbfb';
    og.fillRect(0, 0, OW, H);
    const q = f(f(view.end - view.start) * 0.25);
    const top = f(5 + f(ov.scale * f(f(view.start + q) - ov.start)));
    const bottom = f(5 + f(ov.scale * f(f(view.end - q) - ov.start)));
    og.fillStyle = '#fdf3c4';
    og.fillRect(0.05 * OW, top, 0.9 * OW, Math.max(1, bottom - top));
    og.strokeStyle = '#b7791f';
    og.strokeRect(0.05 * OW + 0.5, top + 0.5, 0.9 * OW - 1, Math.max(1, bottom - top) - 1);
    og.strokeStyle = '#718096';
    og.lineWidth = 1;
    og.beginPath();
    og.moveTo(OW * 0.15 + 0.5, 5); og.lineTo(OW * 0.15 + 0.5, H);
    og.moveTo(OW * 0.85 + 0.5, 5); og.lineTo(OW * 0.85 + 0.5, H);
    og.stroke();
    og.drawImage(overImage, 0, 0);
  }

  // -- navigation
  function setWindow(start, scale) {
    view.scale = f(scale);
    view.start = f(start);
    view.end = f(view.start + f(f(2 * H) / view.scale));
  }
  function mainTopRow() { return f(view.scroll * f(H)); }
  function shownSpan() { return f(f(H) / view.scale); }
  function putTimeAtRow(t, row) {
    const start = f(t - f(f(row - 20) / view.scale));
    setWindow(start, view.scale);
  }
  function showFrom(tTop) { putTimeAtRow(f(tTop), mainTopRow()); }
  function timeAtRow(row) { return f(view.start + f(f(row - 20) / view.scale)); }
  function zoom(steps, windowY) {
    const row = f(mainTopRow() + f(windowY));
    const t = timeAtRow(row);
    let s = view.scale;
    const k = Math.abs(steps);
    for (let i = 0; i < k; i++) s = steps > 0 ? f(s / 0.875) : f(s * 0.875);
    if (!(s > 0) || !Number.isFinite(s)) return;
    view.scale = s;
    putTimeAtRow(t, row);
    drawMain();
  }
  function scrollBy(dy) {
    showFrom(f(timeAtRow(mainTopRow()) + f(f(dy) / view.scale)));
    drawMain();
  }
  function home() {
    if (!L.n) return;
    showFrom(f(Math.min(L.tSend[0], L.tRecv[0]) - f(EDGE_MARGIN / view.scale)));
    drawMain();
  }
  function end() {
    if (!L.n) return;
    const last = Math.max(L.tSend[L.n - 1], L.tRecv[L.n - 1]);
    showFrom(f(f(last + f(EDGE_MARGIN / view.scale)) - shownSpan()));
    drawMain();
  }
  function showSpan(from, to) {
    from = f(from); to = f(to);
    if (!(from < to)) return;
    view.scale = f(f(H) / f(to - from));
    putTimeAtRow(from, mainTopRow());
  }
  function fit() {
    if (!L.n) return;
    const a = Math.min(L.tSend[0], L.tRecv[0]);
    const b = Math.max(L.tSend[L.n - 1], L.tRecv[L.n - 1]);
    let span = f(b - a);
    if (!(span > 0)) span = f(0.01);
    showSpan(f(a - f(f(0.02) * span)), f(a + f(f(1.02) * span)));
    drawMain();
  }
  function goToSegment(n) {
    if (n < 1 || n > L.n) return;
    const mid = f(f(L.tSend[n - 1] + L.tRecv[n - 1]) * 0.5);
    showFrom(f(mid - f(shownSpan() * 0.5)));
    current = n;
    drawMain();
    status.textContent = texts ? texts.hover(n - 1) : '';
  }
  function recentre(y) {
    const t = f(ov.start + f(f(y - 5) / ov.scale));
    showFrom(f(t - f(shownSpan() * 0.5)));
    drawMain();
  }

  // -- pointer: the hit test of the window's click and hover
  function nearestHit(x, ya) {
    let best = 100, sel = -1;
    for (const h of pub.hits) {
      const norm2 = h.a * h.a + h.b * h.b;
      if (norm2 === 0) continue;
      const v = h.a * x + h.b * ya + h.c;
      const dist = f(Math.abs(v) / Math.sqrt(norm2));
      if (dist < best) { best = dist; sel = h.line; }
    }
    return best > 10 ? -1 : sel;
  }
  function hitAt(x, y) {
    const ya = toPixel(f(f(f(H) * view.scroll) + f(y)));
    return nearestHit(Math.trunc(x), ya);
  }
  function pointer(ev) {
    // Whole canvas pixels, as the window's pointer events give them.
    const r = main.getBoundingClientRect();
    return [Math.floor(ev.clientX - r.left), Math.floor(ev.clientY - r.top)];
  }
  function showPopup(j, pageX, pageY) {
    popupLine = j;
    popupText.textContent = texts ? buildMessage(texts.detail(j)) : 'The texts are still loading.';
    popup.hidden = false;
    // Beside the click, inside the page's width.
    const w = popup.offsetWidth;
    popup.style.left = Math.max(0, Math.min(pageX + 12, document.documentElement.clientWidth - w - 8)) + 'px';
    popup.style.top = (pageY + 12) + 'px';
    current = j + 1;
  }
  function closePopup() { popup.hidden = true; popupLine = -1; }
  popupClose.addEventListener('click', closePopup);

  let drag = null;
  main.addEventListener('mousedown', ev => {
    main.focus();
    drag = { y: ev.clientY, moved: false };
  });
  window.addEventListener('mousemove', ev => {
    if (drag) {
      const dy = ev.clientY - drag.y;
      if (Math.abs(dy) >= 1 && (drag.moved || Math.abs(dy) > 3)) {
        drag.moved = true;
        drag.y = ev.clientY;
        scrollBy(-dy);
      }
    }
  });
  window.addEventListener('mouseup', ev => {
    if (drag && !drag.moved && ev.target === main) {
      const [x, y] = pointer(ev);
      const j = hitAt(x, y);
      if (j >= 0) showPopup(j, ev.pageX, ev.pageY);
    }
    drag = null;
  });
  main.addEventListener('mousemove', ev => {
    const [x, y] = pointer(ev);
    lastPointer = y;
    const j = hitAt(x, y);
    status.textContent = j >= 0 && texts ? texts.hover(j) : '';
    api.hoverText = status.textContent;
  });
  main.addEventListener('wheel', ev => {
    ev.preventDefault();
    const [, y] = pointer(ev);
    if (ev.ctrlKey) zoom(ev.deltaY < 0 ? 1 : -1, y);
    else scrollBy(ev.deltaY > 0 ? 32 : -32);
  }, { passive: false });
  over.addEventListener('mousedown', ev => {
    const r = over.getBoundingClientRect();
    recentre(ev.clientY - r.top);
  });

  // -- graphs, events and statistics: sections filled when their data are in
  const graphsHolder = el('section', { id: 'graphs' }, el('h2', { text: 'Graphs' }), el('p', { text: 'Loading\u2026' }));
  const evSection = el('section', { id: 'events' }, el('h2', { text: 'Events' }));
  document.body.append(graphsHolder, evSection);
  document.body.append(el('section', { id: 'statistics' }, el('h2', { text: 'Statistics' }),
    el('pre', { id: 'stats', text: meta.stats })));
  let eventRows = [], warnings = [];
  function step(dir) {
    const from = current > 0 ? current : (pub && pub.arrows.length ? pub.arrows[0].line + (dir > 0 ? 0 : 2) : 0);
    let n = 0;
    if (dir > 0) { const i = LineIndex.partition(warnings, w => w <= from); n = i < warnings.length ? warnings[i] : 0; }
    else { const i = LineIndex.partition(warnings, w => w < from); n = i > 0 ? warnings[i - 1] : 0; }
    if (n > 0) goToSegment(n);
  }
  // The events, grouped by kind as the Problems window groups them.
  function showEvents() {
    for (const text of events.split('\n').slice(1)) {
      if (!text) continue;
      const p = text.split(' ');
      eventRows.push({ index: +p[0], kind: p[3], text });
    }
    const warningKinds = new Set(meta.problems.filter(p => p.warning).map(p => p.kind));
    warnings = [...new Set(eventRows.filter(e => warningKinds.has(e.kind)).map(e => e.index))].sort((a, b) => a - b);
    if (!meta.problems.length) evSection.append(el('p', { text: 'No analysis events.' }));
    const evList = el('div', { id: 'eventlist' });
    for (const p of meta.problems) {
      const det = el('details', { class: p.warning ? 'kind warning' : 'kind', 'data-kind': p.kind });
      det.append(el('summary', { text: p.kind + ' (' + p.count + ')' + (p.warning ? ' \u2014 warning' : '') }));
      const ul = el('ul');
      let filled = false;
      det.addEventListener('toggle', () => {
        if (filled || !det.open) return;
        filled = true;
        const frag = document.createDocumentFragment();
        for (const e of eventRows) {
          if (e.kind !== p.kind) continue;
          frag.append(el('li', { 'data-segment': String(e.index), tabindex: '0', text: e.text }));
        }
        ul.append(frag);
      });
      ul.addEventListener('click', ev => {
        const li = ev.target.closest('li');
        if (li) { goToSegment(+li.dataset.segment); section.scrollIntoView(); }
      });
      det.append(ul);
      evList.append(det);
    }
    evSection.append(evList);
  }
  rest.then(r => {
    texts = r.texts;
    events = r.events;
    graphs = r.graphs;
    graphsHolder.replaceWith(graphs.section);
    showEvents();
    drawMain();
    api.graphs = graphs.test;
    api.completeAt = performance.now();
    api.complete = true;
  }).catch(e => fail(e));

  // -- keys
  document.addEventListener('keydown', ev => {
    if (ev.target && (ev.target.tagName === 'INPUT' || ev.target.tagName === 'TEXTAREA')) return;
    const y = lastPointer !== null ? lastPointer : H / 2;
    switch (ev.key) {
    case '+': case '=': zoom(1, y); break;
    case '-': zoom(-1, y); break;
    case 'Home': home(); break;
    case 'End': end(); break;
    case 'f': case '0': fit(); break;
    case 'ArrowDown': scrollBy(shownSpan() * view.scale / 32); break;
    case 'ArrowUp': scrollBy(-shownSpan() * view.scale / 32); break;
    case 'PageDown': scrollBy(H / 2); break;
    case 'PageUp': scrollBy(-H / 2); break;
    case 'n': step(1); break;
    case 'p': step(-1); break;
    case 'l': labelsOn = !labelsOn; drawMain(); break;
    case 'Escape': closePopup(); break;
    default: return;
    }
    ev.preventDefault();
  });

  drawMain();

  Object.assign(api, {
    view: () => Object.assign({}, view),
    setView: v => { view.start = f(v.start); view.end = f(v.end); view.scale = f(v.scale); drawMain(); },
    arrows: () => pub.arrows.map(a => Object.assign({}, a)),
    labels: () => pub.labels.map(a => Object.assign({}, a)),
    times: () => pub.times.map(a => Object.assign({}, a)),
    notice: () => pub.notice,
    canvasOrigin: () => { const r = main.getBoundingClientRect(); return { x: r.left, y: r.top }; },
    overOrigin: () => { const r = over.getBoundingClientRect(); return { x: r.left, y: r.top }; },
    popupText: () => popup.hidden ? null : popupText.textContent,
    popupLine: () => popupLine,
    detailText: j => texts.detail(j),
    hoverLine: j => texts.hover(j),
    labelText: j => labelTexts.get(j),
    eventsText: () => events,
    statsText: () => document.getElementById('stats').textContent,
    scanCheck: (start, end) => {
      const a = []; index.scan(f(start), f(end), MAX_HITS, a);
      const b = scanLiteral(L, f(start), f(end), MAX_HITS);
      return a.length === b.length && a.every((x, i) => x === b[i]);
    },
    overviewLines: () => overCount,
    hitAt: (x, y) => hitAt(x, y),
    zoom, scrollBy, goToSegment, home, end, fit,
    warnings: () => warnings.slice(),
    drawGraphs: () => graphs.drawNow(),
    current: () => current
  });
}

// ---------------------------------------------------------------------------
// The graphs, drawn as the program's graph renderer draws them: every
// series reduced to the plot's pixel columns through a pyramid of block
// extremes (as graph/columns.cpp does), a few primitives a column.

const PYRAMID_FIRST_LEVEL = 3;
const GRAPH_MARGIN = { left: 78, right: 18, top: 40, bottom: 78 };
const STYLE = { BARS: 0, STEPS: 1, LINE: 2, DOTS: 3, HOLLOW: 4, TICKS: 5, MARKS: 6, LABELS: 7 };

function decodeSeries(bytes, at, n) {
  const tb = new Uint32Array(n);
  const r = new Reader(bytes, at);
  let s = 0;
  for (let i = 0; i < n; i++) { s = (s + r.s()) >>> 0; tb[i] = s; }
  const rec = new Int32Array(n);
  let last = 0;
  for (let i = 0; i < n; i++) { last += r.s(); rec[i] = last; }
  function values() {
    const mode = bytes[r.at++];
    const out = new Float64Array(n);
    if (mode === 0) {
      let v = 0;
      for (let i = 0; i < n; i++) { v += r.s(); out[i] = v; }
      return out;
    }
    const u = new Uint32Array(out.buffer);
    let plo = 0, phi = 0;
    const base = r.at;
    for (let i = 0; i < n; i++) {
      let lo = 0, hi = 0;
      for (let k = 0; k < 4; k++) lo |= bytes[base + k * n + i] << (8 * k);
      for (let k = 0; k < 4; k++) hi |= bytes[base + (4 + k) * n + i] << (8 * k);
      plo = (plo ^ lo) >>> 0; phi = (phi ^ hi) >>> 0;
      u[2 * i] = plo; u[2 * i + 1] = phi;
    }
    r.at = base + 8 * n;
    return out;
  }
  const hi = values();
  const lo = bytes[r.at++] ? values() : hi;
  return { series: { t: new Float32Array(tb.buffer), rec, hi, lo, n }, at: r.at };
}

function pyramidBuild(p) {
  const lo = [], hi = [];
  const n = p.n;
  if (n < 2) return { lo, hi };
  for (let k = 1; k < PYRAMID_FIRST_LEVEL; k++) { lo.push(null); hi.push(null); }
  const block = 1 << PYRAMID_FIRST_LEVEL;
  const m = Math.ceil(n / block);
  let l0 = new Float64Array(m), h0 = new Float64Array(m);
  for (let a = 0, j = 0; a < n; a += block, j++) {
    let l = p.lo[a], h = p.hi[a];
    for (let i = a + 1; i < Math.min(n, a + block); i++) {
      l = Math.min(l, p.lo[i]); h = Math.max(h, p.hi[i]);
    }
    l0[j] = l; h0[j] = h;
  }
  lo.push(l0); hi.push(h0);
  while (lo[lo.length - 1].length > 1) {
    const plo = lo[lo.length - 1], phi = hi[hi.length - 1], c = plo.length;
    const nlo = new Float64Array(Math.ceil(c / 2)), nhi = new Float64Array(Math.ceil(c / 2));
    for (let a = 0; a < c; a += 2) {
      nlo[a / 2] = a + 1 < c ? Math.min(plo[a], plo[a + 1]) : plo[a];
      nhi[a / 2] = a + 1 < c ? Math.max(phi[a], phi[a + 1]) : phi[a];
    }
    lo.push(nlo); hi.push(nhi);
  }
  return { lo, hi };
}

function rangeExtremes(p, pyr, a, b) {
  let l = p.lo[a], h = p.hi[a];
  const levels = pyr.lo.length;
  while (a < b) {
    let k = 0;
    while (k < levels && (a % (2 << k)) === 0 && a + (2 << k) <= b) k++;
    if (k < PYRAMID_FIRST_LEVEL) {
      l = Math.min(l, p.lo[a]); h = Math.max(h, p.hi[a]);
      a++;
      continue;
    }
    const j = Math.floor(a / (1 << k));
    l = Math.min(l, pyr.lo[k - 1][j]); h = Math.max(h, pyr.hi[k - 1][j]);
    a += 1 << k;
  }
  return [l, h];
}

function viewX(v, t) { return (t - v.t0) * v.width / (v.t1 - v.t0); }
function columnOf(v, t) {
  const x = Math.floor(viewX(v, t));
  if (!(x >= 0)) return 0;
  if (x >= v.width) return v.width - 1;
  return x;
}
function pointsInView(p, t0, t1) {
  const a = LineIndex.partition(p.t, x => x < t0);
  let lo = a, hi = p.n;
  while (lo < hi) { const mid = (lo + hi) >>> 1; if (!(t1 < p.t[mid])) lo = mid + 1; else hi = mid; }
  return [a, lo];
}
function pointCell(p, v, i) { return { x: viewX(v, p.t[i]), lo: p.lo[i], hi: p.hi[i], first: i, last: i }; }

function reduceColumnsLiteral(p, v) {
  const out = [];
  const [a, b] = pointsInView(p, v.t0, v.t1);
  if (a > 0) out.push(pointCell(p, v, a - 1));
  const each = b - a <= v.width;
  let col = -1;
  for (let i = a; i < b; i++) {
    if (each) { out.push(pointCell(p, v, i)); continue; }
    const c = columnOf(v, p.t[i]);
    if (c !== col) { out.push({ x: c + 0.5, lo: p.lo[i], hi: p.hi[i], first: i, last: i }); col = c; continue; }
    const cell = out[out.length - 1];
    cell.lo = Math.min(cell.lo, p.lo[i]); cell.hi = Math.max(cell.hi, p.hi[i]); cell.last = i;
  }
  if (b < p.n) out.push(pointCell(p, v, b));
  return out;
}

function reduceColumns(p, pyr, v) {
  const [a, b] = pointsInView(p, v.t0, v.t1);
  if (b - a <= v.width) return reduceColumnsLiteral(p, v);
  const out = [];
  if (a > 0) out.push(pointCell(p, v, a - 1));
  let s = a;
  while (s < b) {
    const c = columnOf(v, p.t[s]);
    let lo = s, hi = b;
    while (lo < hi) { const mid = (lo + hi) >>> 1; if (columnOf(v, p.t[mid]) <= c) lo = mid + 1; else hi = mid; }
    const [l, h] = rangeExtremes(p, pyr, s, lo);
    out.push({ x: c + 0.5, lo: l, hi: h, first: s, last: lo - 1 });
    s = lo;
  }
  if (b < p.n) out.push(pointCell(p, v, b));
  return out;
}

function niceStep(span, count) {
  const raw = span / count;
  const mag = Math.pow(10, Math.floor(Math.log10(raw)));
  const norm = raw / mag;
  return (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * mag;
}
function unitFactor(unit, scale) {
  scale = Math.abs(scale);
  if (unit === 2) return scale >= 1 ? [1, 's'] : scale >= 1e-3 ? [1e-3, 'ms'] : [1e-6, '\u00b5s'];
  const names = unit === 0 ? ['B', 'kB', 'MB', 'GB'] : ['bit/s', 'kbit/s', 'Mbit/s', 'Gbit/s'];
  let f = 1, k = 0;
  while (k < 3 && scale >= f * 1000) { f *= 1000; k++; }
  return [f, names[k]];
}
function decimalsFor(step) {
  if (!(step > 0)) return 0;
  return Math.max(0, Math.min(Math.trunc(-Math.floor(Math.log10(step) + 1e-9)), 6));
}
function numberText(v, d) {
  if (Math.abs(v) < 0.5 * Math.pow(10, -d)) v = 0;
  return v.toFixed(d);
}

function graphsPart(meta, bytes, L) {
  const width = meta.view.W + meta.view.OW, height = 420;
  const section = el('section', { id: 'graphs' }, el('h2', { text: 'Graphs' }),
    el('p', { class: 'keys', text: 'The ladder\u2019s span is shaded; click a point to show its segment in the ladder; wheel zooms the time axis, double-click shows all.' }));
  // One slot a graph type, holding its directions; a direction's points
  // are decoded when it is first shown.
  const slots = [];
  for (const g of meta.graphs) {
    let slot = slots.find(x => x.type === g.type);
    if (!slot) { slot = { type: g.type, choices: [], k: 0 }; slots.push(slot); }
    slot.choices.push({ meta: g, data: null });
  }
  function decodeGraph(g) {
    let at = g.at;
    const series = g.series.map(s => {
      const d = decodeSeries(bytes, at, s.n);
      at = d.at;
      return Object.assign({}, s, { p: d.series, pyr: pyramidBuild(d.series) });
    });
    return Object.assign({}, g, { series });
  }
  function graphOf(i) {
    const c = slots[i].choices[slots[i].k];
    if (!c.data) c.data = decodeGraph(c.meta);
    return c.data;
  }
  let goTo = () => {};
  let shade = null;
  const views = [];
  function fullView(g) {
    let t0 = g.tMin, t1 = g.tMax;
    if (!(t1 > t0)) { t0 -= 0.5; t1 = t0 + 1; }
    const pad = (g.vMax - g.vMin) * 0.02;
    let v0 = g.vMin - (g.vMin < 0 ? pad : 0), v1 = g.vMax + pad;
    if (!(v1 > v0)) { v0 = Math.min(g.vMin, 0); v1 = v0 + 1; }
    return { t0, t1, v0, v1 };
  }
  const plot = { left: GRAPH_MARGIN.left, top: GRAPH_MARGIN.top,
                 width: Math.max(1, Math.floor(width - GRAPH_MARGIN.left - GRAPH_MARGIN.right)),
                 height: Math.max(1, Math.floor(height - GRAPH_MARGIN.top - GRAPH_MARGIN.bottom)) };
  const canvases = slots.map((slot, i) => {
    const c = el('canvas', { width, height, 'data-graph': slot.type });
    const box = el('div', { class: 'graph' });
    if (slot.choices.length > 1) {
      // The direction, as the Graph window chooses it: LR the left host's
      // segments, RL the right host's.
      const pick = el('p', { class: 'dirs' }, 'Direction: ');
      slot.choices.forEach((ch, k) => {
        const b = el('button', { type: 'button', 'data-dir': ch.meta.dir === 2 ? 'RL' : 'LR',
                                 text: ch.meta.dir === 2 ? 'RL' : 'LR' });
        b.addEventListener('click', () => {
          slot.k = k;
          views[i] = fullView(graphOf(i));
          draw(i);
        });
        pick.append(b, ' ');
      });
      box.append(pick);
    }
    box.append(c);
    section.append(box);
    views.push(fullView(slot.choices[0].meta));
    c.addEventListener('click', ev => {
      const r = c.getBoundingClientRect();
      const rec = nearestRecord(graphOf(i), views[i], Math.floor(ev.clientX - r.left), Math.floor(ev.clientY - r.top), 6);
      if (rec >= 0) goTo(rec + 1);
    });
    c.addEventListener('wheel', ev => {
      ev.preventDefault();
      const r = c.getBoundingClientRect();
      const v = views[i];
      const t = v.t0 + (ev.clientX - r.left - plot.left) * (v.t1 - v.t0) / plot.width;
      const k = ev.deltaY < 0 ? 0.8 : 1.25;
      v.t0 = t - (t - v.t0) * k; v.t1 = t + (v.t1 - t) * k;
      draw(i);
    }, { passive: false });
    c.addEventListener('dblclick', () => { views[i] = fullView(graphOf(i)); draw(i); });
    return c;
  });
  const mx = (v, t) => plot.left + (t - v.t0) * plot.width / (v.t1 - v.t0);
  const my = (v, x) => plot.top + (v.v1 - x) * plot.height / (v.v1 - v.v0);
  function nearestRecord(g, v, x, y, radius) {
    const t0 = v.t0 + (x - radius - plot.left) * (v.t1 - v.t0) / plot.width;
    const t1 = v.t0 + (x + radius - plot.left) * (v.t1 - v.t0) / plot.width;
    let best = -1, bestD = radius;
    for (const s of g.series) {
      const p = s.p;
      const [a, b] = pointsInView(p, t0, t1);
      const stride = Math.max(1, Math.floor((b - a) / 4096));
      for (let i = a; i < b; i += stride) {
        if (p.rec[i] < 0) continue;
        const px = mx(v, p.t[i]), ylo = my(v, p.lo[i]), yhi = my(v, p.hi[i]);
        const dy = y > ylo ? y - ylo : y < yhi ? yhi - y : 0;
        const d = Math.hypot(px - x, dy);
        if (d < bestD) { bestD = d; best = p.rec[i]; }
      }
    }
    return best;
  }
  function dot(ctx, x, y, filled) {
    ctx.beginPath();
    ctx.arc(x, y, filled ? 1.8 : 2.5, 0, 2 * Math.PI);
    if (filled) ctx.fill(); else ctx.stroke();
  }
  function drawSeries(ctx, s, v) {
    const p = s.p;
    if (!p.n) return 0;
    ctx.strokeStyle = ctx.fillStyle = s.colour;
    ctx.lineWidth = s.style === STYLE.BARS ? 1 : 1.2;
    ctx.setLineDash(s.dashed ? [5, 3] : []);
    const cv = { t0: v.t0, t1: v.t1, width: Math.max(1, Math.trunc(plot.width)) };
    if (s.style === STYLE.LABELS) {
      const [a, b] = pointsInView(p, v.t0, v.t1);
      ctx.font = 'bold 10px Helvetica, Arial, sans-serif';
      ctx.textAlign = 'left'; ctx.textBaseline = 'bottom';
      for (let i = a; i < b && i < a + 400; i++) ctx.fillText(s.labels[i], mx(v, p.t[i]) + 3, my(v, p.hi[i]) - 3);
      ctx.setLineDash([]);
      return b - a;
    }
    const cells = reduceColumns(p, s.pyr, cv);
    const single = cells.length > 0 && cells.length <= Math.floor(cv.width / 4);
    let started = false, lastY = 0;
    ctx.beginPath();
    for (const c of cells) {
      const x = plot.left + c.x, ylo = my(v, c.lo), yhi = my(v, c.hi);
      const yfirst = my(v, p.hi[c.first]), ylast = my(v, p.hi[c.last]);
      switch (s.style) {
      case STYLE.BARS: {
        const xb = Math.floor(x) + 0.5, e = ylo - yhi < 1 ? 0.5 : 0;
        ctx.moveTo(xb, ylo + e); ctx.lineTo(xb, yhi - e);
        if (single) { ctx.moveTo(xb - 2, yhi); ctx.lineTo(xb + 2, yhi); }
        break;
      }
      case STYLE.STEPS: case STYLE.LINE:
        if (!started) ctx.moveTo(x, yfirst);
        else if (s.style === STYLE.STEPS) ctx.lineTo(x, lastY);
        ctx.lineTo(x, yfirst);
        if (c.first !== c.last) { ctx.lineTo(x, ylo); ctx.lineTo(x, yhi); ctx.lineTo(x, ylast); }
        started = true; lastY = ylast;
        break;
      case STYLE.DOTS: case STYLE.HOLLOW:
        dot(ctx, x, ylo, s.style === STYLE.DOTS);
        if (yhi !== ylo) dot(ctx, x, yhi, s.style === STYLE.DOTS);
        ctx.beginPath();
        break;
      case STYLE.TICKS:
        ctx.moveTo(x - 3, ylo); ctx.lineTo(x + 3, ylo); ctx.moveTo(x - 3, yhi); ctx.lineTo(x + 3, yhi);
        break;
      default: {
        const ym = (ylo + yhi) / 2;
        ctx.moveTo(x - 3, ym - 3); ctx.lineTo(x + 3, ym + 3); ctx.moveTo(x - 3, ym + 3); ctx.lineTo(x + 3, ym - 3);
      }
      }
    }
    if (s.style !== STYLE.DOTS && s.style !== STYLE.HOLLOW) ctx.stroke();
    if ((s.style === STYLE.LINE || s.style === STYLE.STEPS) && cells.length === 1) dot(ctx, plot.left + cells[0].x, my(v, cells[0].hi), true);
    ctx.setLineDash([]);
    return cells.length;
  }
  function drawAxes(ctx, g, v) {
    ctx.font = '11px Helvetica, Arial, sans-serif';
    ctx.lineWidth = 1;
    const ts = niceStep(v.t1 - v.t0, Math.max(2, Math.trunc(plot.width / 90)));
    const td = decimalsFor(ts);
    ctx.textAlign = 'center'; ctx.textBaseline = 'top';
    for (let t = Math.ceil(v.t0 / ts) * ts; t <= v.t1 + ts * 1e-9; t += ts) {
      const x = Math.floor(mx(v, t)) + 0.5;
      ctx.strokeStyle = '#e2e8f0'; ctx.beginPath(); ctx.moveTo(x, plot.top); ctx.lineTo(x, plot.top + plot.height); ctx.stroke();
      ctx.strokeStyle = ctx.fillStyle = '#4a5568'; ctx.beginPath(); ctx.moveTo(x, plot.top + plot.height); ctx.lineTo(x, plot.top + plot.height + 4); ctx.stroke();
      ctx.fillText(numberText(t, td), x, plot.top + plot.height + 7);
    }
    ctx.fillText('time (s)', plot.left + plot.width / 2, plot.top + plot.height + 22);
    const span = v.v1 - v.v0;
    const [fct, uname] = unitFactor(g.unit, Math.max(Math.abs(v.v0), Math.abs(v.v1)));
    const vs = niceStep(span, Math.max(2, Math.trunc(plot.height / 50)));
    const vd = decimalsFor(vs / fct);
    ctx.textAlign = 'right'; ctx.textBaseline = 'middle';
    for (let x = Math.ceil(v.v0 / vs) * vs; x <= v.v1 + vs * 1e-9; x += vs) {
      const y = Math.floor(my(v, x)) + 0.5;
      ctx.strokeStyle = '#e2e8f0'; ctx.beginPath(); ctx.moveTo(plot.left, y); ctx.lineTo(plot.left + plot.width, y); ctx.stroke();
      ctx.strokeStyle = ctx.fillStyle = '#4a5568'; ctx.beginPath(); ctx.moveTo(plot.left - 4, y); ctx.lineTo(plot.left, y); ctx.stroke();
      ctx.fillText(numberText(x / fct, vd), plot.left - 7, y);
    }
    ctx.textAlign = 'left'; ctx.textBaseline = 'bottom';
    ctx.fillText(g.yName + ' (' + uname + ')', plot.left, plot.top - 6);
    ctx.strokeRect(plot.left + 0.5, plot.top + 0.5, plot.width - 1, plot.height - 1);
  }
  function drawLegend(ctx, g) {
    let x = plot.left, y = plot.top + plot.height + 46;
    ctx.font = '11px Helvetica, Arial, sans-serif';
    ctx.textBaseline = 'middle'; ctx.textAlign = 'left';
    for (const s of g.series) {
      if (!s.p.n) continue;
      const w = 22 + ctx.measureText(s.name).width + 14;
      if (x + w > width - 4 && x > plot.left) { x = plot.left; y += 16; }
      ctx.strokeStyle = ctx.fillStyle = s.colour; ctx.lineWidth = 1.5;
      ctx.setLineDash(s.dashed ? [4, 2] : []);
      ctx.beginPath();
      if (s.style === STYLE.BARS) { ctx.moveTo(x + 8, y - 6); ctx.lineTo(x + 8, y + 6); ctx.stroke(); }
      else if (s.style === STYLE.DOTS || s.style === STYLE.HOLLOW) dot(ctx, x + 8, y, s.style === STYLE.DOTS);
      else if (s.style === STYLE.MARKS) { ctx.moveTo(x + 5, y - 3); ctx.lineTo(x + 11, y + 3); ctx.moveTo(x + 5, y + 3); ctx.lineTo(x + 11, y - 3); ctx.stroke(); }
      else if (s.style === STYLE.LABELS) { ctx.font = 'bold 9px Helvetica, Arial, sans-serif'; ctx.fillText('SYN', x, y); ctx.font = '11px Helvetica, Arial, sans-serif'; }
      else { ctx.moveTo(x, y); ctx.lineTo(x + 16, y); ctx.stroke(); }
      ctx.setLineDash([]);
      ctx.fillStyle = '#1a202c';
      ctx.fillText(s.name, x + 22, y);
      x += w;
    }
    for (const note of g.notes) {
      const w = ctx.measureText(note).width + 14;
      if (x + w > width - 4 && x > plot.left) { x = plot.left; y += 16; }
      ctx.fillStyle = '#4a5568';
      ctx.fillText(note, x, y);
      x += w;
    }
  }
  const drawnCells = [];
  function draw(i) {
    const g = graphOf(i), v = views[i], ctx = canvases[i].getContext('2d');
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = '#ffffff'; ctx.fillRect(0, 0, width, height);
    ctx.font = 'bold 13px Helvetica, Arial, sans-serif';
    ctx.fillStyle = '#1a202c'; ctx.textAlign = 'center'; ctx.textBaseline = 'middle';
    ctx.fillText(g.title, width / 2, 12);
    ctx.save();
    ctx.beginPath(); ctx.rect(plot.left, plot.top, plot.width, plot.height); ctx.clip();
    if (shade) {
      const a = Math.max(plot.left, mx(v, shade[0])), b = Math.min(plot.left + plot.width, mx(v, shade[1]));
      ctx.fillStyle = '#dbeafe';
      ctx.fillRect(a, plot.top, Math.max(1, b - a), plot.height);
    }
    ctx.restore();
    drawAxes(ctx, g, v);
    ctx.save();
    ctx.beginPath(); ctx.rect(plot.left, plot.top, plot.width, plot.height); ctx.clip();
    let cells = 0;
    for (let layer = 0; layer < 3; layer++) {
      for (const s of g.series) {
        const own = s.style === STYLE.STEPS || s.style === STYLE.LINE ? 0 : s.style === STYLE.BARS ? 1 : 2;
        if (own === layer) cells += drawSeries(ctx, s, v);
      }
    }
    ctx.restore();
    if (g.series.every(s => !s.p.n)) {
      ctx.font = '13px Helvetica, Arial, sans-serif'; ctx.fillStyle = '#4a5568'; ctx.textAlign = 'center';
      ctx.fillText('nothing to draw: no such segments in this direction', plot.left + plot.width / 2, plot.top + plot.height / 2);
    }
    drawLegend(ctx, g);
    drawnCells[i] = cells;
  }
  let pending = false;
  return {
    section,
    follow(span, go) {
      shade = span;
      goTo = go;
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; slots.forEach((_, i) => draw(i)); });
    },
    drawNow() { slots.forEach((_, i) => draw(i)); },
    test: {
      graphs: () => slots.map((slot, i) => {
        const g = graphOf(i);
        return { type: g.type, dir: g.dir, points: g.series.reduce((a, s) => a + s.p.n, 0), cells: drawnCells[i] || 0 };
      }),
      columnsCheck(i, t0, t1, w) {
        for (const s of graphOf(i).series) {
          if (s.style === STYLE.LABELS) continue;
          const v = { t0, t1, width: w };
          const a = JSON.stringify(reduceColumns(s.p, s.pyr, v)), b = JSON.stringify(reduceColumnsLiteral(s.p, v));
          if (a !== b) return false;
        }
        return true;
      },
      clickPoint(i) {
        // A drawn point with a record, in canvas pixels, and its record.
        const g = graphOf(i), v = views[i];
        for (const s of g.series) {
          for (let k = Math.floor(s.p.n / 2); k < s.p.n; k++) {
            if (s.p.rec[k] < 0 || s.style === STYLE.LABELS) continue;
            const x = Math.round(mx(v, s.p.t[k])), y = Math.round(my(v, s.p.hi[k]));
            if (x > plot.left + 5 && x < plot.left + plot.width - 5 && y > plot.top + 5 && y < plot.top + plot.height - 5) {
              return { x, y, rec: nearestRecord(g, v, x, y, 6) };
            }
          }
        }
        return null;
      },
      canvasOrigin(i) { const r = canvases[i].getBoundingClientRect(); return { x: r.left, y: r.top }; }
    }
  };
}

// ---------------------------------------------------------------------------
// The health table page.

function healthPage(meta) {
  const names = meta.names;
  const rows = meta.rows;    // [file, verdict, link, cells...]
  const vcol = names.findIndex(n => /verdict/i.test(n));
  document.body.append(el('header', { id: 'head' },
    el('h1', { text: 'wirepaint: connections of ' + meta.files.join(', ') }),
    el('p', { text: rows.length + ' connection(s), worst verdict first. Click a column to sort; type to filter by address, port or verdict.' })));
  const filter = el('input', { id: 'filter', type: 'search', placeholder: 'address, port or verdict', size: '40' });
  const count = el('span', { id: 'shown' });
  document.body.append(el('p', { class: 'controls' }, 'Filter: ', filter, ' ', count));
  const table = el('table', { id: 'health', class: 'grid' });
  const head = el('tr');
  const multi = meta.files.length > 1;
  const headers = (multi ? ['file'] : []).concat(names);
  headers.forEach((n, i) => head.append(el('th', { 'data-col': String(i), text: n })));
  const thead = el('thead', {}, head);
  const tbody = el('tbody');
  table.append(thead, tbody);
  document.body.append(table);
  const more = el('p', { id: 'more' });
  document.body.append(more);

  // Sort keys: a number where the cell is one, else the text.
  const cellOf = (r, c) => multi ? (c === 0 ? meta.files[r[0]] : r[2 + c]) : r[3 + c];
  const ncols = headers.length;
  const numeric = [], keys = [];
  for (let c = 0; c < ncols; c++) {
    const isVerdict = (multi ? c - 1 : c) === vcol;
    const vals = new Float64Array(rows.length);
    let allNum = true;
    for (let i = 0; i < rows.length && allNum; i++) {
      const t = cellOf(rows[i], c);
      if (t === '-' || t === '') { vals[i] = -Infinity; continue; }
      const v = parseFloat(t);
      if (!Number.isFinite(v) || !/^[-+]?[0-9.]+(e[-+]?\d+)?\s*[a-zA-Z/%]*$/.test(t)) allNum = false;
      else vals[i] = v;
    }
    if (isVerdict) for (let i = 0; i < rows.length; i++) vals[i] = rows[i][1];
    numeric.push(allNum || isVerdict);
    keys.push(vals);
  }
  // A text column's key: each row's rank among the column's texts.
  function textRanks(col) {
    const txt = rows.map(r => cellOf(r, col));
    const by = Uint32Array.from(rows.keys()).sort((a, b) => txt[a] < txt[b] ? -1 : txt[a] > txt[b] ? 1 : 0);
    const rank = new Float64Array(rows.length);
    for (let i = 0, r = 0; i < by.length; i++) {
      if (i > 0 && txt[by[i]] !== txt[by[i - 1]]) r = i;
      rank[by[i]] = r;
    }
    keys[col] = rank;
    return rank;
  }
  for (let c = 0; c < ncols; c++) if (!numeric[c]) keys[c] = null;
  const verdictKey = (multi ? 1 : 0) + vcol;
  let order = Array.from(rows.keys());
  let sortCol = verdictKey, sortDir = 1;
  function sort(col, dir) {
    const t0 = performance.now();
    sortCol = col; sortDir = dir;
    const idx = Uint32Array.from(order.length === rows.length ? order : rows.keys());
    const k = keys[col] || textRanks(col);
    idx.sort((a, b) => (k[a] - k[b]) * dir || a - b);
    order = Array.from(idx);
    render();
    api.lastSortMs = performance.now() - t0;   // sorted and the rows shown
  }
  let shown = order;
  const PAGE = 200;
  let limit = PAGE;
  function render() {
    const q = filter.value.trim().toLowerCase();
    shown = q ? order.filter(i => {
      const r = rows[i];
      for (let c = 0; c < ncols; c++) if (String(cellOf(r, c)).toLowerCase().includes(q)) return true;
      return false;
    }) : order;
    tbody.textContent = '';
    const frag = document.createDocumentFragment();
    for (const i of shown.slice(0, limit)) {
      const r = rows[i];
      const tr = el('tr', { class: 'v-' + meta.verdicts[r[1]] });
      for (let c = 0; c < ncols; c++) {
        const td = el('td', {});
        const t = cellOf(r, c);
        if (r[2] && c === (multi ? 1 : 0)) td.append(el('a', { href: r[2], text: t }));
        else td.textContent = t;
        tr.append(td);
      }
      frag.append(tr);
    }
    tbody.append(frag);
    count.textContent = shown.length + ' of ' + rows.length + ' shown';
    more.textContent = shown.length > limit ? 'First ' + limit + ' rows; scroll down for more.' : '';
    for (const th of head.children) {
      th.className = +th.dataset.col === sortCol ? (sortDir > 0 ? 'up' : 'down') : '';
    }
  }
  head.addEventListener('click', ev => {
    const th = ev.target.closest('th');
    if (!th) return;
    const c = +th.dataset.col;
    sort(c, c === sortCol ? -sortDir : 1);
  });
  filter.addEventListener('input', () => { limit = PAGE; render(); });
  window.addEventListener('scroll', () => {
    if (shown.length > limit && window.innerHeight + window.scrollY > document.body.offsetHeight - 400) {
      limit += PAGE; render();
    }
  });
  sort(verdictKey, 1);
  // The text columns' ranks once the table shows, so that a sort is quick.
  setTimeout(() => { for (let c = 0; c < ncols; c++) if (!keys[c]) textRanks(c); }, 0);
  Object.assign(api, {
    sort, headers: () => headers.slice(),
    setFilter: q => { filter.value = q; limit = PAGE; render(); },
    shownRows: () => shown.map(i => headers.map((_, c) => cellOf(rows[i], c))),
    tableRows: () => Array.from(tbody.children).map(tr => Array.from(tr.children).map(td => td.textContent))
  });
}

// ---------------------------------------------------------------------------

function fail(e) {
  api.failed = String(e && e.stack || e);
  document.body.append(el('pre', { class: 'failure', text: 'This report could not be shown: ' + e }));
}

async function start() {
  const t0 = performance.now();
  const meta = JSON.parse(document.getElementById('meta').textContent);
  if (meta.kind === 'health') {
    healthPage(meta);
    api.complete = true;
  } else {
    // What the ladder needs first; the rest inflates after its first drawing.
    const [lineBytes, labelBytes] = await Promise.all(['lines', 'labels'].map(blobBytes));
    const L = decodeLines(lineBytes, meta.count);
    const rest = new Promise(resolve => setTimeout(resolve, 0)).then(async () => {
      const mark = name => (api.timings = api.timings || []).push([name, performance.now()]);
      mark('start');
      const [textBytes, eventBytes, graphBytes] = await Promise.all(
        ['texts', 'events', 'graphs'].map(blobBytes));
      mark('inflated');
      const r = { texts: detailStream(meta, textBytes, L), events: new TextDecoder().decode(eventBytes) };
      mark('events');
      r.graphs = graphsPart(meta, graphBytes, L);
      mark('graphs');
      return r;
    });
    connectionPage(meta, L, labelStream(meta, labelBytes, L), rest);
  }
  api.firstDrawMs = performance.now() - t0;
  api.readyAt = performance.now();   // since the navigation started
  api.ready = true;
}

start().catch(fail);
