// The Vornlog viewer: decodes a capture with the decoder's own code
// (WebAssembly, on a worker) and shows the session as linked views: a
// timeline, the tool path, the findings, the summary, the message list and
// the selected message's details. Every text that comes from a capture is
// put in the page as text (textContent, attribute values), never as markup.
//
// The page's script is made of this file (what every part shares: the
// session object, the motion model's views, small helpers), then
// decoding.js, one file per panel (details, list, filters, timeline, path,
// findings, summary), the live session (live.js), the panes' sizes
// (layout.js) and main.js (keys and input, and the start), put together in
// that order in one scope (viewer/assemble.py). No part keeps state that
// another reads: what they share is the session object (makeSession),
// which main.js makes and hands to each part.
//
// A panel is added as one file that registers itself:
//
//   panel('name', ['element-id', ...], (session, el) => {
//     // el: the elements named, by their ids in camel case (elementId);
//     // session.data: the decoded capture (null before one), session.P:
//     // the other parts by their names (their functions called once the
//     // page has started, never while the part is being made).
//     return { selected(i, scroll) {...}, linesCame(indices) {...}, ... };
//   });
//
// then named in viewer/CMakeLists.txt's page_scripts (before main.js) and
// given its elements in viewer.html. What it returns is what the others
// may call; the session calls `selected` when a message is selected and
// `linesCame` when messages' JSON lines came, on every part that has them,
// in the parts' order (the details first: the selected message's line is
// asked of the worker before the list's rows).
// Colours are CSS custom properties of viewer.css (canvas.js's colour()
// reads them for the canvases); protocol facts (instruction codes, bits,
// the buffer's size) and the columns' strides come from the decoder with
// the columns (session.data.protocol, markBits, strides), never written here.

const $ = (id) => document.getElementById(id);
const body = document.body;
const ROW = 20;

// The parts of the page in the order their files register them.
const kPanels = [];
function panel(name, ids, make) {
  kPanels.push({ name, ids, make });
}

// The causes of a refusal other than "buffer full" (the "refused"
// findings' causes), by name: their markers' colours are viewer.css's
// --cause-NAME.
const kRefusalCauses = {
  'not-usb-mode': 'not in USB mode',
  'table-write-failed': 'table write failed',
  'command-refused': 'command refused',
  'unknown-status': 'unknown status',
};

// The replies of `data` that refused or failed what was asked, but for
// "buffer full" (the "refused" findings' replies: not in USB mode, a
// failed table write, a refused command, an unknown status), each marked
// by the decoder with its cause: a Map from message index to the cause's
// name, in capture order.
function refusalsOf(data) {
  const found = new Map();
  const bit = data.markBits.refused;
  for (let i = 0; i < data.n; i++) if (data.marks[i] & bit) found.set(i, data.causes[data.cause[i]]);
  return found;
}

// Whether message i of `data` has a marker of the kind `mark` (a name of
// the decoder's mark bits, or 'refused': the other refusals).
const hasMarker = (data, mark, i) => (mark === 'refused' ? data.refused.has(i) : (data.marks[i] & data.markBits[mark]) !== 0);

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
// it again; data.rowsVersion counts those updates). Null without times.
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
const bufferRoom = (data) => data.protocol.bufferSegments;

// The arrival of row r: the time of its Data message (before the capture
// for a row that names none).
const rowArrival = (data, r) => (data.rowMessage[r] >= 0 ? data.x[data.rowMessage[r]] : -Infinity);

// Room for motionOf's arrays, kept with the session: a live session makes
// them again at every draw, over every row, and would leave megabytes
// behind each time. Returns n elements of the room called `name`, which
// grows by half (exactly n for a session that no longer grows).
function motionRoom(data, name, Type, n) {
  const rooms = data.motionRooms || (data.motionRooms = {});
  let room = rooms[name];
  if (!room || room.length < n) room = rooms[name] = new Type(data.growing ? Math.ceil(1.5 * n) : n);
  return room.subarray(0, n);
}

function motionOf(data) {
  if (!data || !data.timed || !data.rowStart) return null;
  const rows = data.rowMessage.length;
  const kept = data.motion;
  if (kept && kept.rows === rows && kept.version === data.rowsVersion && kept.findings === data.findingsVersion) return kept;
  // (The columns read into locals: the loops run over every row.)
  const { rowMessage, x, rowStart, rowFinish, rowStood, rowEnd } = data;
  const arrivalOf = (r) => (rowMessage[r] >= 0 ? x[rowMessage[r]] : -Infinity);
  const buffered = bufferRoom(data);
  const stops = data.findings.filter((f) => f.kind === 'stop' && f.start !== null).sort((a, b) => a.start - b.start);
  const M = { rows, version: data.rowsVersion, findings: data.findingsVersion, stops };
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
  const started = motionRoom(data, 'started', Int32Array, count);
  const stills = motionRoom(data, 'stills', Int32Array, stillCount);
  const pending = motionRoom(data, 'pending', Int32Array, rows - count);
  const pendingLeave = motionRoom(data, 'pendingLeave', Float64Array, rows - count);
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
    M.sorted = motionRoom(data, 'sorted', Float64Array, rows);
    for (let r = 0; r < rows; r++) M.sorted[r] = leaveOf(data, M, r);
    M.sorted.sort();
  }
  data.motion = M;
  return M;
}

// When row r stops waiting in the buffer (motionOf's leaveOf).
function leaveOf(data, M, r) {
  const start = data.rowStart[r];
  if (start === start) return Math.max(rowArrival(data, r), start);
  return M.pendingLeave[lowerBound(M.pending, r)];
}

// The end of the stand-still that row r's arrival ended: the row's start,
// or its arrival when it never started.
const stillEnd = (data, r) => (data.rowStart[r] === data.rowStart[r] ? data.rowStart[r] : rowArrival(data, r));

// The last place k in `started` whose row started at t or before, or -1.
function startedBy(data, M, t) {
  let lo = 0;
  let hi = M.started.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (data.rowStart[M.started[mid]] <= t) lo = mid + 1;
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
function positionAt(data, t) {
  const M = motionOf(data);
  if (!M || !data.path) return null;
  const k = startedBy(data, M, t);
  if (k < 0) return null;
  const r = M.started[k];
  const a = data.rowStart[r];
  const stop = stopBy(M, t);
  if (stop && stop.start >= a && stop.position) return { row: r, share: NaN, x: stop.position.S1, y: stop.position.S2, z: stop.position.S3, stop };
  const b = data.rowFinish[r];
  const share = t < b && b > a ? (t - a) / (b - a) : 1;
  const { x, y, z } = data.path;
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

// The session: what is decoded (data), which messages the filters let
// through (shown, indices ascending in an Int32Array) and which is
// selected, the worker that decodes, the page's parts by their names (P),
// and what every part asks of the others: the messages' JSON lines, the
// selection, the status line.
function makeSession() {
  const session = {
    data: null, // the decoded session: the decoder's columns by name, and what the views keep
    shown: null,
    selected: -1,
    generation: 0, // counts the captures decoded: the canvases' layers are kept per capture
    worker: null,
    P: {},
  };
  const P = session.P;
  // Calls `hook` on every part that has it, in the parts' order.
  const each = (hook, ...args) => {
    for (const { name } of kPanels) if (P[name] && P[name][hook]) P[name][hook](...args);
  };

  // A message's JSON line, parsed: from the worker, which writes it as
  // vornlog -j does when asked. Null until it has come; then the parts
  // that asked are told (linesCame).
  const asked = new Set();
  let askedId = 0;
  // The lines kept parsed: those asked last (a parsed line takes some
  // kilobytes; a live page that follows its newest messages asks hundreds
  // a second).
  const kParsedKept = 4000;

  session.message = (i) => session.data.parsed.get(i) || null;

  session.ask = (indices) => {
    const S = session.data;
    const wanted = indices.filter((i) => !S.parsed.has(i) && !asked.has(i));
    if (!wanted.length || !session.worker) return;
    for (const i of wanted) asked.add(i);
    // (The worker counts from the session's first message, some of which a
    // live page may have let go.)
    const base = S.base || 0;
    session.worker.postMessage({ type: kToWorker.lines, id: ++askedId, indices: Int32Array.from(wanted, (i) => i + base) });
  };

  // No line asked any more (a new session, or messages let go).
  session.forgetAsked = () => asked.clear();

  session.answered = (m) => {
    const S = session.data;
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
      if (i !== session.selected) S.parsed.delete(i);
    }
    each('linesCame', m.indices);
  };

  // The place of message i among those shown, or -1.
  session.position = (i) => {
    const shown = session.shown;
    const k = lowerBound(shown, i);
    return k < shown.length && shown[k] === i ? k : -1;
  };

  // The index of the message numbered `number`, or -1.
  session.indexOfNumber = (number) => {
    const S = session.data;
    const i = lowerBound(S.number, number);
    return i < S.n && S.number[i] === number ? i : -1;
  };

  // The address's hash as the page last handled or wrote it.
  let hashHandled = '';

  // Selects message i: the list, the details, the timeline, the tool path
  // and the page's address follow.
  session.select = (i, scroll = true) => {
    const S = session.data;
    if (!S || i < 0 || i >= S.n) return;
    session.selected = i;
    each('selected', i, scroll);
    // The address names the selection, unless a link was followed that its
    // hashchange has not yet handled: that one wins, and selects its own.
    const hash = '#m=' + S.number[i];
    if (location.hash !== hash && location.hash === hashHandled) {
      history.replaceState(null, '', hash);
      hashHandled = hash;
    }
  };

  // The message that the address's #m=NUMBER names, selected; false when
  // it names none.
  session.fromHash = () => {
    const S = session.data;
    if (!S) return false;
    hashHandled = location.hash;
    const m = /^#m=(\d+)$/.exec(location.hash);
    if (!m) return false;
    const i = session.indexOfNumber(Number(m[1]));
    if (i >= 0) {
      session.show(i);
      return true;
    }
    // A number that no message has: said in the details' place.
    P.details.noMessage(m[1]);
    return true;
  };

  // Selects message i, the filters cleared when they hide it.
  session.show = (i) => {
    // A message the filters hide is shown all the same: they are cleared.
    if (session.position(i) < 0) session.clearFilters();
    session.select(i, true);
  };

  // Every filter cleared: the instructions, the sender, errors only, the
  // search and the timeline's range.
  session.clearFilters = () => {
    P.filters.clear();
    session.data.range = null;
    P.filters.apply();
    P.timeline.draw();
  };

  // The status line: what the page says of the capture (in the colour of
  // a problem when `problem`).
  session.setStatus = (text, problem) => {
    $('status').textContent = text;
    $('status').classList.toggle('problem', !!problem);
  };

  // The decoder's worker failed, for `why`: the page says so, whatever it
  // was decoding.
  session.decoderFailed = (why) => {
    body.dataset.state = 'failed';
    session.setStatus('The decoder failed: ' + why, true);
  };

  // A key found nothing ahead: the status line says so for a few seconds
  // (data-nothing holds what it says), then says again what it said.
  let nothingTimer = 0;
  let statusBefore = null;
  session.nothingAhead = (text) => {
    const status = $('status');
    if (statusBefore === null) statusBefore = [status.textContent, status.classList.contains('problem')];
    clearTimeout(nothingTimer);
    session.setStatus(text);
    status.dataset.nothing = text;
    nothingTimer = setTimeout(() => {
      // What the status line said, unless something else was said since.
      if (status.textContent === text) session.setStatus(...statusBefore);
      statusBefore = null;
      delete status.dataset.nothing;
    }, 4000);
  };

  // The parts made, each given the session and its elements.
  const camel = (id) => id.replace(/-(\w)/g, (_, c) => c.toUpperCase());
  for (const { name, ids, make } of kPanels) {
    const el = {};
    for (const id of ids) el[camel(id)] = $(id);
    P[name] = make(session, el) || {};
  }
  window.addEventListener('hashchange', session.fromHash);
  return session;
}
