// The comparison of two sessions: both runs in one view. The data comes
// from the page's data element (vornlog -c -w): the comparison's JSON
// Lines, each run's stored segments (the Data message that sent each, its
// arrival, CMD, NBR and steps), its stand-stills and stops, and for each
// of AFTER's segments its match in BEFORE.

const $ = (id) => document.getElementById(id);
const COLOURS = ['#2f6fb5', '#e07b00'];
const SIDES = ['before', 'after'];
// The differences listed at most; the rest are counted in the last item.
const LISTED = 5000;

let data = null;
try {
  data = JSON.parse($('comparison').textContent || 'null');
} catch (e) {
  data = null;
}
if (!data || !Array.isArray(data.lines) || !data.lines.length) {
  document.body.dataset.state = 'empty';
  $('verdict').textContent = 'No comparison in this page: vornlog -c BEFORE AFTER -w DEST writes one.';
  return;
}

const summary = data.lines[data.lines.length - 1];
const differences = data.lines.slice(0, -1);

// ---- the runs -----------------------------------------------------------

const FIELDS = 9; // number, t, cmd, nbr, s1..s5
const runs = data.runs.map((r, side) => {
  const n = Math.floor(r.segments.length / FIELDS);
  const at = (k, f) => r.segments[k * FIELDS + f];
  // The tool's position after each segment (S1, S2), from (0, 0).
  const x = new Float64Array(n + 1), y = new Float64Array(n + 1);
  for (let k = 0; k < n; k++) {
    x[k + 1] = x[k] + at(k, 4);
    y[k + 1] = y[k] + at(k, 5);
  }
  // Stand-stills and stops by the segment (from 1) they belong to.
  const stills = new Map(), stops = new Map();
  for (const s of r.stills) stills.set(s[0], s);
  for (const s of r.stops) stops.set(s[0], s);
  return { side, name: r.name, timed: r.timed, n, at, x, y, stills, stops, column: new Int32Array(n + 1).fill(-1) };
});

// ---- the columns: the two runs aligned by segment -------------------------

// Each column holds a segment of each run (from 1; 0: none there):
// matched segments share one, and between two matches the segments that
// only one run has are paired in order (a segment whose content differs),
// the rest alone.
const colOf = [[], []];
function addColumn(b, a) {
  const c = colOf[0].length;
  colOf[0].push(b);
  colOf[1].push(a);
  if (b) runs[0].column[b] = c;
  if (a) runs[1].column[a] = c;
}
if (summary.same_job) {
  let i = 0; // before's next segment, from 0
  const flush = (upto, afterSegs) => {
    const bs = [];
    for (; i < upto; i++) bs.push(i + 1);
    for (let p = 0; p < Math.max(bs.length, afterSegs.length); p++) addColumn(bs[p] || 0, afterSegs[p] || 0);
  };
  let pending = [];
  for (let j = 0; j < data.aOfB.length; j++) {
    const m = data.aOfB[j];
    if (m < 0) {
      pending.push(j + 1);
      continue;
    }
    flush(m, pending);
    pending = [];
    addColumn(m + 1, j + 1);
    i = m + 1;
  }
  flush(runs[0].n, pending);
} else {
  // Different jobs: side by side by their numbers, not aligned.
  for (let k = 1; k <= Math.max(runs[0].n, runs[1].n); k++)
    addColumn(k <= runs[0].n ? k : 0, k <= runs[1].n ? k : 0);
}
const columns = colOf[0].length;

// ---- texts ----------------------------------------------------------------

function seconds(t) {
  return t === null || t === undefined ? 'no time' : t.toFixed(3) + ' s';
}
function duration(s) {
  if (s === null || s === undefined) return '-';
  return s < 1 ? (s * 1000).toFixed(1) + ' ms' : s.toFixed(3) + ' s';
}
function signed(v) {
  return (v > 0 ? '+' : '') + v;
}
// A stored segment's Data message as decoded: CMD, NBR, the steps with
// their signs.
function segmentSummary(run, k) {
  const f = (i) => run.at(k - 1, i);
  const cmd = f(2);
  return 'Data: CMD 0x' + cmd.toString(16).toUpperCase().padStart(2, '0') + (cmd & 0x80 ? ' (end of data)' : '') +
    '; NBR ' + f(3) + ' pulses; S1 ' + signed(f(4)) + ', S2 ' + signed(f(5)) + ', S3 ' + signed(f(6)) +
    ', S4 ' + signed(f(7)) + ', S5 ' + signed(f(8)) + ' steps';
}
function segmentTime(run, k) {
  return k >= 1 && k <= run.n ? run.at(k - 1, 1) : null;
}

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

// ---- the header -------------------------------------------------------------

$('runs').textContent = 'Before: ' + runs[0].name + ' (' + runs[0].n + ' segments)   After: ' + runs[1].name +
  ' (' + runs[1].n + ' segments)';
const share = (summary.aligned * 100).toFixed(1) + ' %';
const motionDifferences = differences.filter((d) => d.kind === 'stop' || d.kind === 'underrun').length;
$('verdict').textContent = !summary.same_job
  ? 'Different jobs: ' + (summary.aligned_at_most ? 'at most ' : '') + share + ' of the segments aligned'
  : (motionDifferences ? motionDifferences + (motionDifferences === 1 ? ' difference' : ' differences') +
    ' in the motion' : 'No difference in the motion') + '; aligned by the job\'s segments: ' + share;

// ---- the differences list ---------------------------------------------------------

function differenceText(d) {
  const other = d.in === 'after' ? 'before' : 'after';
  const cause = d.cause ? ' (' + d.kind + ', ' + d.cause + ')' : '';
  if (d.difference === 'count')
    return [d.kind + ', ' + d.cause + ': more in ' + d.in, d.count_before + ' before, ' + d.count_after + ' after'];
  if (d.difference === 'changed')
    return ['Segment ' + d.segment + ' of after differs from ' + d.other_segment + ' of before',
      'before at ' + seconds(d.before) + ', after at ' + seconds(d.after)];
  const mine = d.in === 'after' ? d.after : d.before, theirs = d.in === 'after' ? d.before : d.after;
  const where = other + ': ' + (d.other_segment ? 'segment ' + d.other_segment + ', ' : '') +
    (theirs === null ? 'no such place' : 'at ' + seconds(theirs));
  if (d.kind === 'stop')
    return ['Stop only in ' + d.in + ', at segment ' + d.segment + cause, 'at ' + seconds(mine) + '; ' + where +
      ', did not stop there'];
  if (d.difference === 'longer')
    return ['Stand-still longer in ' + d.in + ', at segment ' + d.segment + ': ' + duration(d.stood) + ' against ' +
      duration(d.other_stood) + cause, 'at ' + seconds(mine) + '; ' + where];
  return ['Stand-still only in ' + d.in + ', at segment ' + d.segment + ': ' + duration(d.stood) + cause,
    'at ' + seconds(mine) + '; ' + where + ', did not stand still there'];
}

// Each difference's segments in before and after (from 1; 0: none, or
// before the first).
function placesOf(d) {
  if (d.segment === null) return null;
  if (d.in === 'before') return [d.segment, d.other_segment || 0];
  return [d.other_segment || 0, d.segment];
}

const list = $('differences');
const items = [];
differences.forEach((d, i) => {
  if (i >= LISTED) return;
  const li = el('li');
  li.dataset.difference = String(i + 1);
  li.dataset.kind = d.kind;
  li.dataset.segment = d.segment === null ? '' : String(d.segment);
  li.dataset.in = d.in;
  li.tabIndex = 0;
  const [head, more] = differenceText(d);
  li.append(el('div', 'what', (i + 1) + '. ' + head), el('div', 'more', more));
  li.addEventListener('click', () => selectDifference(i));
  li.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' || e.key === ' ') {
      e.preventDefault();
      selectDifference(i);
    }
  });
  items.push(li);
  list.append(li);
});
if (differences.length > LISTED) list.append(el('li', 'none', 'and ' + (differences.length - LISTED) + ' more'));
if (!differences.length) list.append(el('li', 'none', summary.same_job ? 'No difference.' : 'Different jobs: only the whole-run figures are compared.'));

// ---- the selection ------------------------------------------------------------------

let selected = [0, 0]; // the selected segment of each run (0: none)
let selectedColumn = -1;
let selectedDifference = -1;

function showSide(side, k, note) {
  const run = runs[side];
  const box = $('selected-' + SIDES[side]);
  box.replaceChildren(el('div', 'run', (side ? 'After: ' : 'Before: ') + run.name));
  box.classList.toggle('selected-message', k >= 1 && k <= run.n);
  if (k >= 1 && k <= run.n) {
    const number = run.at(k - 1, 0);
    box.dataset.segment = String(k);
    box.dataset.message = String(number);
    box.append(el('div', null, 'Segment ' + k + ': message ' + number + ', at ' + seconds(segmentTime(run, k))),
      el('div', 'summary', segmentSummary(run, k)));
    const still = run.stills.get(k), stop = run.stops.get(k);
    if (still) box.append(el('div', null, 'Stood still ' + duration(still[2]) + ' before it (' + still[3] + ')'));
    if (stop) box.append(el('div', null, 'Stopped during it (' + stop[2] + ') at ' + seconds(stop[1])));
  } else {
    delete box.dataset.segment;
    delete box.dataset.message;
    box.append(el('div', null, note || 'No segment of this run at that place'));
  }
}

function select(b, a, options = {}) {
  selected = [b, a];
  showSide(0, b, options.notes && options.notes[0]);
  showSide(1, a, options.notes && options.notes[1]);
  const c = a ? runs[1].column[a] : b ? runs[0].column[b] : -1;
  selectedColumn = c;
  if (c >= 0 && (c < view.from || c >= view.to)) {
    const span = view.to - view.from;
    view.from = Math.max(0, Math.min(columns - span, c - Math.floor(span / 2)));
    view.to = view.from + span;
  }
  if (!options.keepDifference) {
    selectedDifference = -1;
    for (const li of items) li.classList.remove('selected');
  }
  drawTimeline();
  drawPaths();
}

function selectDifference(i) {
  const d = differences[i];
  const places = placesOf(d);
  selectedDifference = i;
  items.forEach((li, k) => li.classList.toggle('selected', k === i));
  if (!places) {
    const counts = d.count_before + ' before, ' + d.count_after + ' after: not one place';
    select(0, 0, { keepDifference: true, notes: [d.kind + ', ' + d.cause + ': ' + counts, d.kind + ', ' + d.cause + ': ' + counts] });
    return;
  }
  const first = 'Before the first segment';
  select(places[0], places[1], { keepDifference: true, notes: [places[0] === 0 && d.in === 'before' ? first : null,
    places[1] === 0 && d.in === 'after' ? first : null] });
  items[i].scrollIntoView({ block: 'nearest' });
}

// ---- the timeline -------------------------------------------------------------

const timeline = $('timeline');
const view = { from: 0, to: Math.max(1, columns) };
const LANE = 56, TOP = 22;
// The longest wait between two arrivals and the longest stand-still, for
// the bars' scale.
let longest = 1e-9;
for (const run of runs) {
  for (let k = 2; k <= run.n; k++) {
    const t0 = segmentTime(run, k - 1), t1 = segmentTime(run, k);
    if (t0 !== null && t1 !== null) longest = Math.max(longest, t1 - t0);
  }
  for (const s of run.stills.values()) if (s[2] !== null) longest = Math.max(longest, s[2]);
}
const barOf = (s) => Math.sqrt(Math.max(0, s) / longest);

function fitCanvas(canvas) {
  const r = canvas.getBoundingClientRect();
  const ratio = window.devicePixelRatio || 1;
  canvas.width = Math.max(1, Math.round(r.width * ratio));
  canvas.height = Math.max(1, Math.round(r.height * ratio));
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  return [g, r.width, r.height];
}

const differenceColumns = differences.map((d) => {
  const p = placesOf(d);
  if (!p) return -1;
  return p[1] ? runs[1].column[p[1]] : p[0] ? runs[0].column[p[0]] : 0;
});

function drawTimeline() {
  const [g, w, h] = fitCanvas(timeline);
  g.clearRect(0, 0, w, h);
  const span = view.to - view.from;
  const perPixel = span / w;
  g.font = '11px system-ui, sans-serif';
  for (let side = 0; side < 2; side++) {
    const run = runs[side];
    const top = TOP + side * (LANE + 16);
    g.fillStyle = '#f4f4f4';
    g.fillRect(0, top, w, LANE);
    g.fillStyle = COLOURS[side];
    g.fillText(SIDES[side], 4, top + 11);
    for (let px = 0; px < w; px++) {
      const c0 = Math.floor(view.from + px * perPixel);
      const c1 = Math.max(c0 + 1, Math.floor(view.from + (px + 1) * perPixel));
      let wait = -1, stood = -1, stop = false, missing = false, changed = false;
      for (let c = c0; c < c1 && c < columns; c++) {
        const k = colOf[side][c];
        if (!k) {
          missing = true;
          continue;
        }
        if (colOf[1 - side][c] && summary.same_job) {
          const other = colOf[1 - side][c];
          const matched = side ? data.aOfB[k - 1] === other - 1 : data.aOfB[other - 1] === k - 1;
          if (!matched) changed = true;
        }
        const t0 = segmentTime(run, k - 1), t1 = segmentTime(run, k);
        if (k > 1 && t0 !== null && t1 !== null) wait = Math.max(wait, t1 - t0);
        else wait = Math.max(wait, 0);
        const s = run.stills.get(k);
        if (s) stood = Math.max(stood, s[2] === null ? longest : s[2]);
        if (run.stops.has(k)) stop = true;
      }
      const bottom = top + LANE;
      if (missing && wait < 0) {
        g.fillStyle = '#d8d8d8';
        g.fillRect(px, top + LANE / 2 - 1, 1, 2);
        continue;
      }
      if (wait >= 0) {
        g.fillStyle = changed ? '#a070c8' : '#8fb99a';
        g.fillRect(px, bottom - Math.max(2, barOf(wait) * (LANE - 14)), 1, Math.max(2, barOf(wait) * (LANE - 14)));
      }
      if (stood >= 0) {
        g.fillStyle = '#e07b00';
        const hh = Math.max(4, barOf(stood) * (LANE - 14));
        g.fillRect(px - 1, bottom - hh, 3, hh);
      }
      if (stop) {
        g.fillStyle = '#000';
        g.fillRect(px - 1, top, 3, LANE);
      }
    }
  }
  // The differences above the lanes, the selected one larger.
  const xOf = (c) => ((c + 0.5 - view.from) / span) * w;
  differenceColumns.forEach((c, i) => {
    if (c < view.from || c >= view.to) return;
    const d = differences[i];
    g.fillStyle = d.kind === 'stop' ? '#000' : d.kind === 'underrun' ? '#e07b00' : '#a070c8';
    const x = xOf(c), r = i === selectedDifference ? 6 : 4;
    g.beginPath();
    g.moveTo(x - r, 4);
    g.lineTo(x + r, 4);
    g.lineTo(x, 5 + r * 1.6);
    g.fill();
  });
  if (selectedColumn >= view.from && selectedColumn < view.to) {
    g.strokeStyle = '#1a4f99';
    g.lineWidth = 1.5;
    g.beginPath();
    g.moveTo(xOf(selectedColumn), TOP - 4);
    g.lineTo(xOf(selectedColumn), TOP + 2 * LANE + 20);
    g.stroke();
  }
  // The column numbers at the ends of the view.
  g.fillStyle = '#555';
  const bottomText = TOP + 2 * LANE + 30;
  g.fillText('column ' + (Math.floor(view.from) + 1), 2, bottomText);
  const last = 'column ' + Math.min(columns, Math.ceil(view.to));
  g.fillText(last, w - g.measureText(last).width - 2, bottomText);
}

function columnAt(event) {
  const r = timeline.getBoundingClientRect();
  const c = Math.floor(view.from + ((event.clientX - r.left) / r.width) * (view.to - view.from));
  return Math.max(0, Math.min(columns - 1, c));
}

function placeText(side, k) {
  const run = runs[side];
  if (!k) return SIDES[side] + ': no segment here';
  let text = SIDES[side] + ': segment ' + k + ', message ' + run.at(k - 1, 0) + ', at ' + seconds(segmentTime(run, k));
  const s = run.stills.get(k);
  if (s) text += ', stood ' + duration(s[2]) + ' (' + s[3] + ')';
  if (run.stops.has(k)) text += ', stopped (' + run.stops.get(k)[2] + ')';
  return text;
}

let drag = null;
timeline.addEventListener('mousemove', (e) => {
  const tip = $('tip');
  if (drag) {
    const r = timeline.getBoundingClientRect();
    const shift = ((drag.x - e.clientX) / r.width) * (drag.to - drag.from);
    const span = drag.to - drag.from;
    view.from = Math.max(0, Math.min(columns - span, drag.from + shift));
    view.to = view.from + span;
    drag.moved = drag.moved || Math.abs(e.clientX - drag.x) > 3;
    drawTimeline();
  }
  if (!columns) return;
  const c = columnAt(e);
  tip.textContent = placeText(0, colOf[0][c]) + '\n' + placeText(1, colOf[1][c]);
  tip.hidden = false;
  const panel = $('timeline-panel').getBoundingClientRect();
  tip.style.left = Math.min(e.clientX - panel.left + 12, panel.width - tip.offsetWidth - 4) + 'px';
  tip.style.top = e.clientY - panel.top + 14 + 'px';
});
timeline.addEventListener('mouseleave', () => {
  $('tip').hidden = true;
  drag = null;
});
timeline.addEventListener('mousedown', (e) => {
  drag = { x: e.clientX, from: view.from, to: view.to, moved: false };
});
timeline.addEventListener('mouseup', (e) => {
  const moved = drag && drag.moved;
  drag = null;
  if (moved || !columns) return;
  const c = columnAt(e);
  select(colOf[0][c], colOf[1][c]);
});
timeline.addEventListener('wheel', (e) => {
  e.preventDefault();
  const r = timeline.getBoundingClientRect();
  const at = view.from + ((e.clientX - r.left) / r.width) * (view.to - view.from);
  const factor = e.deltaY > 0 ? 1.25 : 0.8;
  const span = Math.max(Math.min(columns, 8), Math.min(columns, (view.to - view.from) * factor));
  view.from = Math.max(0, Math.min(columns - span, at - (at - view.from) * (span / (view.to - view.from))));
  view.to = view.from + span;
  drawTimeline();
}, { passive: false });
timeline.addEventListener('dblclick', () => {
  view.from = 0;
  view.to = Math.max(1, columns);
  drawTimeline();
});

function legend(box, entries) {
  box.replaceChildren();
  for (const [colour, text] of entries) {
    const s = el('span', 'swatch');
    s.style.background = colour;
    box.append(s, document.createTextNode(text));
  }
}
legend($('legend'), [['#8fb99a', 'wait for the segment (since the one before)'], ['#e07b00', 'stand-still'],
  ['#000', 'stop'], ['#a070c8', 'content differs'], ['#d8d8d8', 'no such segment in this run']]);

// ---- the tool paths -------------------------------------------------------------

const paths = $('paths');
function drawPaths() {
  const [g, w, h] = fitCanvas(paths);
  g.clearRect(0, 0, w, h);
  let x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  for (const run of runs)
    for (let k = 0; k <= run.n; k++) {
      x0 = Math.min(x0, run.x[k]);
      x1 = Math.max(x1, run.x[k]);
      y0 = Math.min(y0, run.y[k]);
      y1 = Math.max(y1, run.y[k]);
    }
  const pad = 16;
  const scale = Math.min((w - 2 * pad) / Math.max(1, x1 - x0), (h - 2 * pad) / Math.max(1, y1 - y0));
  const px = (x) => pad + (x - x0) * scale, py = (y) => h - pad - (y - y0) * scale;
  for (const run of runs) {
    g.strokeStyle = COLOURS[run.side];
    g.lineWidth = run.side ? 1.5 : 3;
    g.globalAlpha = run.side ? 1 : 0.55;
    g.setLineDash(run.side ? [5, 3] : []);
    g.beginPath();
    g.moveTo(px(0), py(0));
    let lx = px(0), ly = py(0);
    for (let k = 1; k <= run.n; k++) {
      const x = px(run.x[k]), y = py(run.y[k]);
      if (k < run.n && Math.abs(x - lx) < 0.5 && Math.abs(y - ly) < 0.5) continue;
      g.lineTo(x, y);
      lx = x;
      ly = y;
    }
    g.stroke();
  }
  g.globalAlpha = 1;
  g.setLineDash([]);
  g.fillStyle = '#2a8f3a';
  g.beginPath();
  g.arc(px(0), py(0), 4, 0, 2 * Math.PI);
  g.fill();
  // The selected segment of each run, and where it ends.
  for (const run of runs) {
    const k = selected[run.side];
    if (!k || k > run.n) continue;
    g.strokeStyle = COLOURS[run.side];
    g.lineWidth = 5;
    g.beginPath();
    g.moveTo(px(run.x[k - 1]), py(run.y[k - 1]));
    g.lineTo(px(run.x[k]), py(run.y[k]));
    g.stroke();
    g.lineWidth = 2;
    g.beginPath();
    g.arc(px(run.x[k]), py(run.y[k]), run.side ? 9 : 6, 0, 2 * Math.PI);
    g.stroke();
  }
}
legend($('paths-legend'), [[COLOURS[0], 'before'], [COLOURS[1], 'after (dashed)'], ['#2a8f3a', 'start (0, 0)']]);

// ---- the figures ------------------------------------------------------------------

function figures() {
  const table = $('figures');
  const b = summary.before, a = summary.after;
  const row = (label, f) => {
    const tr = el('tr');
    tr.append(el('td', null, label), el('td', null, String(f(b))), el('td', null, String(f(a))));
    table.append(tr);
  };
  const head = el('tr');
  head.append(el('th', null, ''), el('th', null, 'before'), el('th', null, 'after'));
  table.append(head);
  row('Duration', (r) => duration(r.duration));
  row('Stood still', (r) => duration(r.stood) + ' (' + r.stand_stills + (r.stand_stills === 1 ? ' time)' : ' times)'));
  row('Segments stored', (r) => r.segments);
  for (const [key, name] of [['reply_delay', 'Reply delay'], ['pc_silence', 'PC silence']])
    for (const [p, label] of [['p50', 'median'], ['p95', '95th percentile'], ['p99', '99th percentile'], ['max', 'longest']])
      row(name + ', ' + label, (r) => (r[key] ? duration(r[key][p]) : '-'));
  row('"Buffer full" replies', (r) => r.buffer_full);
  for (const kind of Object.keys(b.findings)) row('Findings: ' + kind, (r) => r.findings[kind]);
}
figures();

// ---- start ---------------------------------------------------------------------------

window.addEventListener('resize', () => {
  drawTimeline();
  drawPaths();
});
drawTimeline();
drawPaths();
showSide(0, 0, 'Pick a difference or a place on the timeline');
showSide(1, 0, 'Pick a difference or a place on the timeline');
document.body.dataset.differences = String(differences.length);
document.body.dataset.state = 'ready';
