// The filters: instructions, sender, errors only, a text search (asked of
// the worker) and the timeline's range; what they let through is `shown`.
// The instructions asked for: as -i takes them, letters (DS, D,S) or codes
// (0x44), and also names (Data, "Buffer Management"), a name between
// commas read as a name before its letters. Null for all (nothing asked);
// { unknown } for a part that names no instruction.
function parseInstructions(text) {
  const codes = new Set();
  const known = (code) => S.instructions[code] !== undefined;
  const byName = new Map(Object.entries(S.instructions).map(([code, name]) => [name.toLowerCase(), Number(code)]));
  for (const part of text.split(',').map((p) => p.trim()).filter(Boolean)) {
    if (byName.has(part.toLowerCase())) {
      codes.add(byName.get(part.toLowerCase()));
      continue;
    }
    for (const token of part.split(/\s+/)) {
      if (/^0x[0-9a-f]{1,2}$/i.test(token)) {
        if (!known(parseInt(token, 16))) return { unknown: token };
        codes.add(parseInt(token, 16));
        continue;
      }
      for (const letter of token) {
        const code = letter.toUpperCase().charCodeAt(0);
        if (!known(code)) return { unknown: letter };
        codes.add(code);
      }
    }
  }
  return codes.size ? codes : null;
}

// The messages from `from` on that the filters let through, put in
// `shown` after those before `from` (its room grown as it fills).
let shownRoom = null;
function filterFrom(from) {
  let codes = parseInstructions($('f-instructions').value);
  const unknown = codes && codes.unknown;
  if (unknown) codes = new Set();
  const sender = $('f-sender').value;
  const errorsOnly = $('f-errors').checked;
  // The last search answered filters the list until the next answer.
  const found = S.search ? S.search.hits : null;
  const range = S.range;
  let k = from ? lowerBound(shown, from) : 0;
  if (!shownRoom || shownRoom.length < S.n) {
    const room = new Int32Array(from ? Math.max(1024, Math.ceil(1.5 * S.n)) : S.n);
    if (k) room.set(shown.subarray(0, k));
    shownRoom = room;
  }
  const out = shownRoom;
  for (let i = from; i < S.n; i++) {
    if (codes && !codes.has(S.code[i])) continue;
    if (sender !== '' && S.from[i] !== Number(sender)) continue;
    if (errorsOnly && !(S.marks[i] & S.markBits.errors)) continue;
    if (found && !found[i]) continue;
    if (range && !(S.x[i] >= range[0] && S.x[i] <= range[1])) continue;
    out[k++] = i;
  }
  shown = out.subarray(0, k);
  $('f-count').textContent = unknown ? 'no instruction "' + unknown + '" (letters, codes or names)' :
    k === S.n ? S.n + ' messages' : k + ' of ' + S.n + ' messages';
  if (searchAsked) showSearchCount();
  else showHits();
}

function applyFilters() {
  if (!S) return;
  shownRoom = null;
  filterFrom(0);
  for (const [, row] of rendered) row.remove();
  rendered = new Map();
  renderList();
  if (selected >= 0) scrollToSelected();
  pathView.draw();
}

$('f-instructions').addEventListener('input', applyFilters);
for (const id of ['f-sender', 'f-errors']) $(id).addEventListener('change', applyFilters);

// The text search, asked of the worker (which keeps an index of the
// messages' JSON lines): once typing pauses, or at once on Enter; one
// search at a time, a newer one cancelling the older in the worker. Its
// hits filter the list (with the other filters); the hit count says where
// the selection is among them.
const kTypingPauseMs = 300;
let searchId = 0;
let searchAsked = null; // { id, query } until its answer comes
let searchTimer = 0;

function searchNow() {
  clearTimeout(searchTimer);
  const query = $('f-search').value;
  if (!S) return;
  if (!query) {
    searchAsked = null;
    if (S.search) {
      S.search = null;
      applyFilters();
    }
    showHits();
    return;
  }
  if (searchAsked && searchAsked.query === query || !searchAsked && S.search && S.search.query === query) return;
  searchAsked = { id: ++searchId, query };
  worker.postMessage({ type: kToWorker.search, id: searchId, query: JSON.stringify(query).slice(1, -1) });
  showSearchCount();
}

function showSearchCount() {
  $('f-count').textContent = S.indexed ? 'searching...' : 'searching (the search index is being made)...';
  $('f-hits').textContent = '';
}

function searchAnswered(m) {
  if (!S || !searchAsked || m.id !== searchAsked.id) return;
  if (m.cancelled) return;
  S.search = { query: searchAsked.query, hits: m.hits, ms: m.ms };
  searchAsked = null;
  applyFilters();
  // The first hit selected when the selection is none of them.
  if (shown.length && position(selected) < 0) select(shown[0]);
  showHits();
}

// "3 of 87": the selection's place among the hits the list shows.
function showHits() {
  const box = $('f-hits');
  if (!S || !S.search || searchAsked) {
    box.textContent = '';
    return;
  }
  const k = position(selected);
  box.textContent = !shown.length ? 'no hit' : (k < 0 ? '-' : k + 1) + ' of ' + shown.length + (shown.length === 1 ? ' hit' : ' hits');
}

// The next hit (step 1) or the previous one (-1), round the end.
function nextHit(step) {
  if (!S || !S.search || !shown.length) return;
  const k = position(selected);
  const next = k < 0 ? (step > 0 ? lowerBound(shown, selected) : lowerBound(shown, selected) - 1) : k + step;
  select(shown[(next + shown.length) % shown.length]);
}

$('f-search').addEventListener('input', () => {
  clearTimeout(searchTimer);
  if (!S) return;
  if (!$('f-search').value) {
    searchNow();
    return;
  }
  showSearchCount();
  searchTimer = setTimeout(searchNow, kTypingPauseMs);
});
