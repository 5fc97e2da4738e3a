// The message list: a row for each message the filters let through, only
// the rows in view made, each written from the message's JSON line once
// it has come.

// A message's summary: its first error, then its first four fields that
// hold something: their text, or their raw value when they have no text.
function summaryOf(o) {
  const parts = [];
  for (const f of o.fields) {
    if (parts.length === 4) break;
    if (f.text !== null && f.text !== undefined) parts.push(f.name + ' ' + f.text);
    else if (f.raw !== null && f.raw !== undefined) parts.push(f.name + '=' + hex(f.raw));
  }
  if (o.errors.length) parts.unshift(errorText(o.errors[0]));
  return parts.join('; ');
}

const list = $('list');
const space = $('list-space');
let rendered = new Map();

let missing = [];

function renderList() {
  if (!S) return;
  missing = [];
  space.style.height = shown.length * ROW + 'px';
  const first = Math.max(0, Math.floor(list.scrollTop / ROW) - 5);
  const last = Math.min(shown.length, Math.ceil((list.scrollTop + list.clientHeight) / ROW) + 5);
  const keep = new Map();
  for (let k = first; k < last; k++) {
    const i = shown[k];
    let row = rendered.get(i);
    if (!row) row = makeRow(i);
    row.style.top = k * ROW + 'px';
    row.classList.toggle('selected', i === selected);
    keep.set(i, row);
  }
  for (const [i, row] of rendered) if (!keep.has(i)) row.remove();
  for (const [, row] of keep) if (!row.parentNode) space.appendChild(row);
  rendered = keep;
  if (missing.length) ask(missing);
}

function makeRow(i) {
  const o = message(i);
  if (!o) missing.push(i);
  const row = document.createElement('div');
  // Errors in red, a "buffer full" reply in orange, the other refusals in
  // their cause's colour (named in the row's title).
  const cause = S.refused.get(i);
  row.className = 'row' + (S.from[i] === 0 ? ' pc' : '') + (S.marks[i] & S.markBits.errors ? ' err' : '') +
    (S.marks[i] & S.markBits.refusal ? ' refused' : '') + (cause ? ' failed cause-' + cause : '');
  if (cause) row.title = 'Refused: ' + (kRefusalCauses[cause] ? kRefusalCauses[cause][1] : cause);
  row.dataset.number = String(S.number[i]);
  row.dataset.index = String(i);
  if (o) row.dataset.line = ''; // (written from its line, which has come)
  const t = S.time[i];
  const cells = [String(S.number[i]), Number.isNaN(t) ? '' : t.toFixed(3), S.from[i] === 0 ? 'PC' : 'QMR5V',
    o ? (o.instruction === null ? hex(o.code) : o.instruction) : hex(S.code[i]), o ? summaryOf(o) : ''];
  for (const c of cells) {
    const span = document.createElement('span');
    span.textContent = c;
    row.appendChild(span);
  }
  return row;
}

list.addEventListener('scroll', () => requestAnimationFrame(renderList));
list.addEventListener('click', (e) => {
  const row = e.target.closest('.row');
  if (row) select(Number(row.dataset.index), false);
});


function scrollToSelected() {
  const k = position(selected);
  if (k < 0) return;
  const top = k * ROW;
  if (top < list.scrollTop) list.scrollTop = top;
  else if (top + ROW > list.scrollTop + list.clientHeight) list.scrollTop = top + ROW - list.clientHeight;
}
