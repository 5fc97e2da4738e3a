// The Vornlog viewer: decodes a capture with the decoder's own code
// (WebAssembly, on a worker) and shows the session as linked views: a
// timeline, the tool path, the findings, the summary, the message list and
// the selected message's details. Every text that comes from a capture is
// put in the page as text (textContent, attribute values), never as markup.
//
// The page's script is made of this file (the session: what is decoded,
// shown and selected, and the selection itself), then decoding.js, one
// file per panel (list, filters, details, timeline, path, findings), the
// live session (live.js), the panes' sizes (layout.js) and main.js (keys
// and input), put together in
// that order in one scope (viewer/assemble.py).

const $ = (id) => document.getElementById(id);
const body = document.body;
const ROW = 20;

let S = null; // the decoded session
let shown = null; // indices of the messages the filters let through (Int32Array)
let selected = -1; // index of the selected message
let generation = 0; // counts the captures decoded: the canvases' layers are kept per capture

// A message's JSON line, parsed: from the worker, which writes it as
// vornlog -j does when asked. Null until it has come; then the rows in
// view and the details are drawn again.
const asked = new Set();
let askedId = 0;
let detailsWanted = -1;

function message(i) {
  return S.parsed.get(i) || null;
}

function ask(indices) {
  const wanted = indices.filter((i) => !S.parsed.has(i) && !asked.has(i));
  if (!wanted.length || !worker) return;
  for (const i of wanted) asked.add(i);
  // (The worker counts from the session's first message, some of which a
  // live page may have let go.)
  const base = S.base || 0;
  worker.postMessage({ type: kToWorker.lines, id: ++askedId, indices: Int32Array.from(wanted, (i) => i + base) });
}

// The lines kept parsed: those asked last (a parsed line takes some
// kilobytes; a live page that follows its newest messages asks hundreds a
// second).
const kParsedKept = 4000;

function answered(m) {
  if (!S) return;
  const base = S.base || 0;
  m.indices = Array.from(m.indices, (i) => i - base);
  m.indices.forEach((i, k) => {
    asked.delete(i);
    if (m.lines[k]) S.parsed.set(i, JSON.parse(m.lines[k]));
  });
  // (A map keeps its keys in the order they came: the oldest go first.)
  for (const i of S.parsed.keys()) {
    if (S.parsed.size <= kParsedKept) break;
    if (i !== selected) S.parsed.delete(i);
  }
  // The rows in view whose lines came, made again in their places.
  for (const i of m.indices) {
    const row = rendered.get(i);
    if (!row || !S.parsed.has(i)) continue;
    const made = makeRow(i);
    made.style.top = row.style.top;
    made.classList.toggle('selected', i === selected);
    row.replaceWith(made);
    rendered.set(i, made);
  }
  renderList();
  if (detailsWanted >= 0 && S.parsed.has(detailsWanted)) {
    const i = detailsWanted;
    detailsWanted = -1;
    if (i === selected) renderDetails(i);
  }
}

// The causes of a refusal other than "buffer full" (the "refused"
// findings' causes): each with its marker's colour and its name.
const kRefusalCauses = {
  'not-usb-mode': ['#e0b000', 'not in USB mode'],
  'table-write-failed': ['#8d5524', 'table write failed'],
  'command-refused': ['#607d8b', 'command refused'],
  'unknown-status': ['#9e9d24', 'unknown status'],
};

// The replies that refused or failed what was asked, but for "buffer
// full" (the "refused" findings' replies: not in USB mode, a failed table
// write, a refused command, an unknown status), each marked by the
// decoder with its cause: a Map from message index to the cause's name, in
// capture order.
function refusalsOf() {
  const found = new Map();
  const bit = S.markBits.refused;
  for (let i = 0; i < S.n; i++) if (S.marks[i] & bit) found.set(i, S.causes[S.cause[i]]);
  return found;
}

const errorText = (e) => (e && typeof e === 'object' ? e.text : e);
const hex = (v) => '0x' + (v >>> 0).toString(16).toUpperCase().padStart(2, '0');

// The first place in the sorted `a` whose value is v or more.
function lowerBound(a, v) {
  let lo = 0;
  let hi = a.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (a[mid] < v) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// What the machine did with the stored segments, as the motion model tells
// it (rowStart, rowFinish, rowStood), made ready for the views once for
// the session's rows (a live session's update that gives rows again makes
// it again; S.rowsVersion counts those updates). Null without times.
//  - leaveOf(r): when row r stops waiting in the buffer: its start (never
//    before its arrival, its Data message's time); for a row that never
//    started (dropped by a reset or a stop) or has not yet (a live
//    session), the arrival of the next row that started, or never; and at
//    the latest the arrival of the row bufferRoom() rows after it, since
//    the buffer holds no more waiting. An end-of-data mark, which runs
//    nothing, is reached when the row before it finished (unless a stop
//    came while that row ran). Only the rows that never started keep
//    theirs (pending, pendingLeave: few but in a capture without status
//    blocks); the others' follow from their start.
//  - sorted: every row's leave, ascending, kept only when the rows' order
//    is not theirs (else null: leaveOf(r) ascends with r).
//  - started: the rows that started, in order (their starts ascending).
//  - stills: the rows whose arrival ended a stand-still, in order;
//    longest: the longest stand-still, in seconds.
//  - stops: the stop findings that give a time, by their start.
// The segments the buffer holds waiting, as the decoder's protocol says.
const bufferRoom = () => S.protocol.bufferSegments;

// The arrival of row r: the time of its Data message (before the capture
// for a row that names none).
const rowArrival = (r) => (S.rowMessage[r] >= 0 ? S.x[S.rowMessage[r]] : -Infinity);

// Room for motionOf's arrays, kept with the session: a live session makes
// them again at every draw, over every row, and would leave megabytes
// behind each time. Returns n elements of the room called `name`, which
// grows by half (exactly n for a session that no longer grows).
function motionRoom(name, Type, n) {
  const rooms = S.motionRooms || (S.motionRooms = {});
  let room = rooms[name];
  if (!room || room.length < n) room = rooms[name] = new Type(S.growing ? Math.ceil(1.5 * n) : n);
  return room.subarray(0, n);
}

function motionOf() {
  if (!S || !S.timed || !S.rowStart) return null;
  const rows = S.rowMessage.length;
  const kept = S.motion;
  if (kept && kept.rows === rows && kept.version === S.rowsVersion && kept.findings === S.findingsVersion) return kept;
  // (The columns read into locals: the loops run over every row.)
  const { rowMessage, x, rowStart, rowFinish, rowStood, rowEnd } = S;
  const arrivalOf = (r) => (rowMessage[r] >= 0 ? x[rowMessage[r]] : -Infinity);
  const buffered = bufferRoom();
  const stops = S.findings.filter((f) => f.kind === 'stop' && f.start !== null).sort((a, b) => a.start - b.start);
  const M = { rows, version: S.rowsVersion, findings: S.findingsVersion, stops };
  // The end of the row before an end-of-data mark, when it ran to its end.
  const reached = (r) => {
    const a = r > 0 ? rowStart[r - 1] : NaN;
    const b = r > 0 ? rowFinish[r - 1] : NaN;
    if (!(b === b) || !(a === a)) return Infinity;
    const stop = stopBy(M, b);
    return stop && stop.start >= a ? Infinity : b;
  };
  let count = 0, stillCount = 0, longest = 0;
  for (let r = 0; r < rows; r++) {
    if (rowStart[r] === rowStart[r]) count++;
    const stood = rowStood[r];
    if (stood > 0) {
      stillCount++;
      if (stood > longest) longest = stood;
    }
  }
  const started = motionRoom('started', Int32Array, count);
  const stills = motionRoom('stills', Int32Array, stillCount);
  const pending = motionRoom('pending', Int32Array, rows - count);
  const pendingLeave = motionRoom('pendingLeave', Float64Array, rows - count);
  let next = Infinity; // the arrival of the next row that started
  let after = Infinity; // the leave of the row after
  let ordered = true;
  for (let r = rows - 1, k = count, j = stillCount, p = rows - count; r >= 0; r--) {
    const arrival = arrivalOf(r);
    const start = rowStart[r];
    let leave;
    if (start === start) {
      leave = Math.max(arrival, start);
      next = arrival;
      started[--k] = r;
    } else {
      const room = r + buffered < rows ? arrivalOf(r + buffered) : Infinity;
      leave = Math.max(arrival, Math.min(next, room, rowEnd[r] ? reached(r) : Infinity));
      pending[--p] = r;
      pendingLeave[p] = leave;
    }
    if (leave > after) ordered = false;
    after = leave;
    if (rowStood[r] > 0) stills[--j] = r;
  }
  Object.assign(M, { pending, pendingLeave, started, stills, longest, sorted: null });
  if (!ordered) {
    M.sorted = motionRoom('sorted', Float64Array, rows);
    for (let r = 0; r < rows; r++) M.sorted[r] = leaveOf(M, r);
    M.sorted.sort();
  }
  S.motion = M;
  return M;
}

// When row r stops waiting in the buffer (motionOf's leaveOf).
function leaveOf(M, r) {
  const start = S.rowStart[r];
  if (start === start) return Math.max(rowArrival(r), start);
  return M.pendingLeave[lowerBound(M.pending, r)];
}

// The end of the stand-still that row r's arrival ended: the row's start,
// or its arrival when it never started.
const stillEnd = (r) => (S.rowStart[r] === S.rowStart[r] ? S.rowStart[r] : rowArrival(r));

// The last place k in `started` whose row started at t or before, or -1.
function startedBy(M, t) {
  let lo = 0;
  let hi = M.started.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (S.rowStart[M.started[mid]] <= t) lo = mid + 1;
    else hi = mid;
  }
  return lo - 1;
}

// The last stop finding (of M.stops) that came at t or before, or null.
function stopBy(M, t) {
  let lo = 0;
  let hi = M.stops.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (M.stops[mid].start <= t) lo = mid + 1;
    else hi = mid;
  }
  return lo ? M.stops[lo - 1] : null;
}

// Where the tool was at moment t, as the model tells it: along the row
// under way then (in proportion to its time), at the end of the last row
// done, or where a stop left it (a stop finding's position). Null without
// the model or before the first row started. { row, share (of the row
// done, 1 when it was done), x, y, z, stop (the stop finding, when one
// left it there) }.
function positionAt(t) {
  const M = motionOf();
  if (!M || !S.path) return null;
  const k = startedBy(M, t);
  if (k < 0) return null;
  const r = M.started[k];
  const a = S.rowStart[r];
  const stop = stopBy(M, t);
  if (stop && stop.start >= a && stop.position) return { row: r, share: NaN, x: stop.position.S1, y: stop.position.S2, z: stop.position.S3, stop };
  const b = S.rowFinish[r];
  const share = t < b && b > a ? (t - a) / (b - a) : 1;
  const { x, y, z } = S.path;
  const along = (v) => v[r] + share * (v[r + 1] - v[r]);
  return { row: r, share, x: along(x), y: along(y), z: along(z), stop: null };
}

// The timeline's axis for messages from..n-1 of times `time`: a message
// without a time (a bad time in its line, which the decoder leaves
// without one) at the time of the message before it, the first ones at
// the first time there is; `before`: the axis at from-1 (NaN: none).
function filledTimes(time, from, n, before) {
  const x = new Float64Array(n - from);
  let carry = before;
  for (let i = from; i < n && !(carry === carry); i++) carry = time[i];
  for (let i = from; i < n; i++) {
    if (time[i] === time[i]) carry = time[i];
    x[i - from] = carry;
  }
  return x;
}

// The place of message i among those shown, or -1.
function position(i) {
  const k = lowerBound(shown, i);
  return k < shown.length && shown[k] === i ? k : -1;
}

// The index of the message numbered `number`, or -1.
function indexOfNumber(number) {
  const i = lowerBound(S.number, number);
  return i < S.n && S.number[i] === number ? i : -1;
}

// Selects message i: the list, the details, the timeline, the tool path
// and the page's address follow.
function select(i, scroll = true) {
  if (!S || i < 0 || i >= S.n) return;
  // A live list stops following the newest message.
  liveView.stopFollowing();
  selected = i;
  for (const [k, row] of rendered) row.classList.toggle('selected', k === i);
  renderDetails(i);
  if (scroll) scrollToSelected();
  renderList();
  showHits();
  timeline.reveal(i);
  timeline.draw();
  pathView.draw();
  copyLink.disabled = false;
  copyLink.textContent = 'Copy link';
  // The address names the selection, unless a link was followed that its
  // hashchange has not yet handled: that one wins, and selects its own.
  const hash = '#m=' + S.number[i];
  if (location.hash !== hash && location.hash === hashHandled) {
    history.replaceState(null, '', hash);
    hashHandled = hash;
  }
}

// The address's hash as the page last handled or wrote it.
let hashHandled = '';

// The message that the address's #m=NUMBER names, selected; false when
// it names none.
function fromHash() {
  if (!S) return false;
  hashHandled = location.hash;
  const m = /^#m=(\d+)$/.exec(location.hash);
  if (!m) return false;
  const i = indexOfNumber(Number(m[1]));
  if (i >= 0) {
    show(i);
    return true;
  }
  // A number that no message has: said in the details' place.
  const note = document.createElement('div');
  note.className = 'note';
  note.dataset.unknownMessage = m[1];
  note.textContent = 'No message #' + m[1] + ' in this capture' +
    (S.n ? ' (its messages are #' + S.number[0] + ' to #' + S.number[S.n - 1] + ').' : '.');
  $('details').replaceChildren(note);
  return true;
}

// Selects message i, the filters cleared when they hide it.
function show(i) {
  // A message the filters hide is shown all the same: they are cleared.
  if (position(i) < 0) clearFilters();
  select(i, true);
}

// Every filter cleared: the instructions, the sender, errors only, the
// search and the timeline's range.
function clearFilters() {
  for (const id of ['f-instructions', 'f-search']) $(id).value = '';
  $('f-sender').value = '';
  $('f-errors').checked = false;
  clearTimeout(searchTimer);
  searchAsked = null;
  S.search = null;
  S.range = null;
  applyFilters();
  timeline.draw();
}
window.addEventListener('hashchange', fromHash);
