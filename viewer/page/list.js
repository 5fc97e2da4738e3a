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

panel('list', ['list', 'list-space'], (session, el) => {
  const list = el.list;
  const space = el.listSpace;
  let rendered = new Map();
  let missing = [];

  function render() {
    const S = session.data;
    if (!S) return;
    const shown = session.shown;
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
      row.classList.toggle('selected', i === session.selected);
      keep.set(i, row);
    }
    for (const [i, row] of rendered) if (!keep.has(i)) row.remove();
    for (const [, row] of keep) if (!row.parentNode) space.appendChild(row);
    rendered = keep;
    if (missing.length) session.ask(missing);
  }

  function makeRow(i) {
    const S = session.data;
    const o = session.message(i);
    if (!o) missing.push(i);
    const row = document.createElement('div');
    // Errors in red, a "buffer full" reply in orange, the other refusals in
    // their cause's colour (named in the row's title).
    const cause = S.refused.get(i);
    row.className = 'row' + (S.from[i] === 0 ? ' pc' : '') + (S.marks[i] & S.markBits.errors ? ' err' : '') +
      (S.marks[i] & S.markBits.refusal ? ' refused' : '') + (cause ? ' failed cause-' + cause : '');
    if (cause) row.title = 'Refused: ' + (kRefusalCauses[cause] || cause);
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

  list.addEventListener('scroll', () => requestAnimationFrame(render));
  list.addEventListener('click', (e) => {
    const row = e.target.closest('.row');
    if (row) session.select(Number(row.dataset.index), false);
  });

  function scrollToSelected() {
    const k = session.position(session.selected);
    if (k < 0) return;
    const top = k * ROW;
    if (top < list.scrollTop) list.scrollTop = top;
    else if (top + ROW > list.scrollTop + list.clientHeight) list.scrollTop = top + ROW - list.clientHeight;
  }

  // Every row made again when next in view (`from`: those of the messages
  // from there on only).
  function forget(from = 0) {
    for (const [i, row] of rendered) {
      if (i < from) continue;
      row.remove();
      rendered.delete(i);
    }
  }

  return {
    box: list,
    render,
    scrollToSelected,
    forget,
    selected(i, scroll) {
      for (const [k, row] of rendered) row.classList.toggle('selected', k === i);
      if (scroll) scrollToSelected();
      render();
    },
    // The rows in view whose lines came, made again in their places.
    linesCame(indices) {
      const S = session.data;
      for (const i of indices) {
        const row = rendered.get(i);
        if (!row || !S.parsed.has(i)) continue;
        const made = makeRow(i);
        made.style.top = row.style.top;
        made.classList.toggle('selected', i === session.selected);
        row.replaceWith(made);
        rendered.set(i, made);
      }
      render();
    },
  };
});
