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

function applyFilters() {
  if (!S) return;
  let codes = parseInstructions($('f-instructions').value);
  const unknown = codes && codes.unknown;
  if (unknown) codes = new Set();
  const sender = $('f-sender').value;
  const errorsOnly = $('f-errors').checked;
  const query = $('f-search').value;
  if (query && (!S.search || S.search.query !== query)) {
    // The worker looks; the list is filtered when it answers.
    searchQuery = query;
    searchAsked++;
    worker.postMessage({ type: 'search', id: searchAsked, query: JSON.stringify(query).slice(1, -1) });
    $('f-count').textContent = 'searching...';
    return;
  }
  const found = query ? S.search.hits : null;
  const range = S.range;
  const out = new Int32Array(S.n);
  let k = 0;
  for (let i = 0; i < S.n; i++) {
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
  for (const [, row] of rendered) row.remove();
  rendered = new Map();
  renderList();
  if (selected >= 0) scrollToSelected();
  pathView.draw();
}

let searchQuery = '';
let searchAsked = 0;

for (const id of ['f-instructions', 'f-search']) $(id).addEventListener('input', applyFilters);
for (const id of ['f-sender', 'f-errors']) $(id).addEventListener('change', applyFilters);
