// The filters: instructions, sender, errors only, a text search (asked of
// the worker) and the timeline's range; what they let through is `shown`.
function parseInstructions(text) {
  // As -i takes them: letters (DS, D,S) or codes (0x44); empty: all.
  const codes = new Set();
  for (const part of text.split(/[\s,]+/).filter(Boolean)) {
    if (/^0x[0-9a-f]{1,2}$/i.test(part)) codes.add(parseInt(part, 16));
    else for (const c of part.toUpperCase()) codes.add(c.charCodeAt(0));
  }
  return codes.size ? codes : null;
}

function applyFilters() {
  if (!S) return;
  const codes = parseInstructions($('f-instructions').value);
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
  $('f-count').textContent = k === S.n ? S.n + ' messages' : k + ' of ' + S.n + ' messages';
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
