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
  worker.postMessage({ type: 'lines', id: ++askedId, indices: Int32Array.from(wanted) });
}

function answered(m) {
  if (!S) return;
  if (S.parsed.size > 20000) S.parsed.clear();
  m.indices.forEach((i, k) => {
    asked.delete(i);
    if (m.lines[k]) S.parsed.set(i, JSON.parse(m.lines[k]));
  });
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
  // The tables' steps for a millimetre may have come.
  if (S.tableMessages && m.indices.some((i) => S.tableMessages.includes(i))) pathView.draw();
  if (detailsWanted >= 0 && S.parsed.has(detailsWanted)) {
    const i = detailsWanted;
    detailsWanted = -1;
    renderDetails(i);
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
  const hash = '#m=' + S.number[i];
  if (location.hash !== hash) history.replaceState(null, '', hash);
}

// The message that the address's #m=NUMBER names, selected; false when
// it names none.
function fromHash() {
  if (!S) return false;
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
