// The details: the selected message's JSON line, field by field, with the
// message it answers or that answers it, and the copy-link button.
panel('details', ['details', 'copy-link'], (session, el) => {
  // A link to message j, as its number.
  function linkTo(j) {
    const S = session.data;
    const a = document.createElement('a');
    a.href = '#m=' + S.number[j];
    a.textContent = '#' + S.number[j];
    return a;
  }

  // Which request a reply answers, or which reply a request got (or that it
  // got none), with the delay between them: on the screen, and as
  // data-request and data-delay (ms, three decimals; none without times) on
  // a reply, data-reply or data-unanswered on a request.
  function pairing(box, i) {
    const S = session.data;
    const partner = S.partner[i];
    const line = document.createElement('div');
    line.className = 'pairing';
    const delay = S.delay[S.from[i] === 0 ? partner : i];
    const after = partner >= 0 && !Number.isNaN(delay) ? ' after ' + delay.toFixed(3) + ' ms' : '';
    if (S.from[i] === 1 && partner >= 0) {
      box.dataset.request = String(S.number[partner]);
      if (after) box.dataset.delay = delay.toFixed(3);
      line.append('Answers ', linkTo(partner), after);
    } else if (S.from[i] === 0 && partner >= 0) {
      box.dataset.reply = String(S.number[partner]);
      line.append('Answered by ', linkTo(partner), after);
    } else if (S.from[i] === 0 && S.marks[i] & S.markBits.noReply) {
      box.dataset.unanswered = '';
      line.append('No reply: no controller message of its instruction came before the next PC message');
    } else {
      return;
    }
    box.appendChild(line);
  }

  // The message whose details wait for its line, or -1.
  let detailsWanted = -1;

  // The details of the selected message: its JSON line, field by field,
  // with data-field, data-raw, data-text, data-bit, data-value and
  // data-error for scripts.
  function renderDetails(i) {
    const o = session.message(i);
    if (!o) {
      detailsWanted = i;
      session.ask([i]);
      return;
    }
    // A message selected earlier whose line is still on its way is no
    // longer wanted.
    detailsWanted = -1;
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
    pairing(box, i);
    for (const f of o.fields) {
      const el = document.createElement('div');
      el.className = 'field';
      el.dataset.field = f.name;
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = f.name;
      el.appendChild(name);
      // A field shows only what the message holds: its raw value, its text
      // (after an arrow when both are there); a null in the JSON line is
      // nothing to show, and its attribute is absent.
      const hasRaw = f.raw !== null && f.raw !== undefined;
      const hasText = f.text !== null && f.text !== undefined;
      if (hasRaw) {
        el.dataset.raw = String(f.raw);
        const raw = document.createElement('span');
        raw.className = 'raw';
        raw.textContent = ' ' + hex(f.raw) + ' (' + f.raw + ')';
        el.appendChild(raw);
      }
      if (hasText) {
        el.dataset.text = f.text;
        el.appendChild(document.createTextNode((hasRaw ? ' -> ' : ' ') + f.text));
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
    el.details.replaceChildren(box);
  }

  // The copy-link button: the page's address with the selected message's
  // #m=NUMBER, to the clipboard (the button then says so, and carries the
  // address copied as data-copied).
  const copyLink = el.copyLink;
  copyLink.addEventListener('click', () => {
    const S = session.data;
    if (!S || session.selected < 0) return;
    const address = location.href.replace(/#.*$/, '') + '#m=' + S.number[session.selected];
    const said = (text) => {
      copyLink.textContent = text;
      copyLink.dataset.copied = address;
    };
    const byHand = () => {
      // Without the clipboard's API: the address selected in a field and copied.
      const field = document.createElement('input');
      field.value = address;
      document.body.appendChild(field);
      field.select();
      const done = document.execCommand('copy');
      field.remove();
      said(done ? 'Link copied' : 'Copy failed: ' + address);
    };
    if (navigator.clipboard && navigator.clipboard.writeText)
      navigator.clipboard.writeText(address).then(() => said('Link copied'), byHand);
    else byHand();
});

// A number that no message has, said in the details' place.
function noMessage(number) {
  const S = session.data;
  const note = document.createElement('div');
  note.className = 'note';
  note.dataset.unknownMessage = number;
  note.textContent = 'No message #' + number + ' in this capture' +
    (S.n ? ' (its messages are #' + S.number[0] + ' to #' + S.number[S.n - 1] + ').' : '.');
  el.details.replaceChildren(note);
}

return {
  noMessage,
  selected(i) {
    renderDetails(i);
    copyLink.disabled = false;
    copyLink.textContent = 'Copy link';
  },
  linesCame() {
    if (detailsWanted >= 0 && session.data.parsed.has(detailsWanted)) {
      const i = detailsWanted;
      detailsWanted = -1;
      if (i === session.selected) renderDetails(i);
    }
  },
};
});
