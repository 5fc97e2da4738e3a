// The details of the selected message: its JSON line, field by field,
// with data-field, data-raw, data-text, data-bit, data-value and
// data-error for scripts.
function renderDetails(i) {
  const o = message(i);
  if (!o) {
    detailsWanted = i;
    ask([i]);
    return;
  }
  const box = document.createElement('div');
  box.dataset.message = String(o.number);
  const head = document.createElement('div');
  head.className = 'head';
  const t = o.t === null || o.t === undefined ? '' : ' at ' + o.t.toFixed(3) + ' s';
  head.textContent = '#' + o.number + ' ' + o.from + (o.device ? ' (' + o.device + ')' : '') + t + ': ' +
    (o.instruction === null ? 'unknown instruction ' + hex(o.code) : hex(o.code) + ' ' + o.instruction) +
    (o.time ? '  ' + o.time : '');
  box.appendChild(head);
  const bytes = document.createElement('div');
  bytes.className = 'bytes';
  bytes.textContent = o.bytes.replace(/(..)(?=.)/g, '$1 ');
  box.appendChild(bytes);
  for (const f of o.fields) {
    const el = document.createElement('div');
    el.className = 'field';
    el.dataset.field = f.name;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = f.name;
    el.appendChild(name);
    if (f.raw !== undefined) {
      el.dataset.raw = String(f.raw);
      const raw = document.createElement('span');
      raw.className = 'raw';
      raw.textContent = ' ' + hex(f.raw) + ' (' + f.raw + ')';
      el.appendChild(raw);
    }
    if (f.text !== undefined) {
      el.dataset.text = f.text;
      el.appendChild(document.createTextNode(' -> ' + f.text));
    }
    for (const b of f.bits || []) {
      const bit = document.createElement('div');
      bit.className = 'bit';
      bit.dataset.bit = String(b.bit);
      bit.dataset.value = String(b.value);
      bit.dataset.text = b.text;
      bit.textContent = '.' + b.bit + '=' + b.value + '  ' + b.text;
      el.appendChild(bit);
    }
    box.appendChild(el);
  }
  for (const e of o.errors) {
    const el = document.createElement('div');
    el.className = 'error';
    el.dataset.error = errorText(e);
    el.textContent = errorText(e);
    box.appendChild(el);
  }
  $('details').replaceChildren(box);
}
