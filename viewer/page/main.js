// Keys and the capture: picked, dropped, or put in the page by vornlog -w;
// and the page's start: the session made, with every part given it.

// Keys to the next marker of a kind (with shift: the previous): e errors,
// b "buffer full", r the other refusals, n no reply, s stops.
const kMarkKeys = { e: 'errors', b: 'refusal', r: 'refused', n: 'noReply', s: 'stop' };

// Each marker's name, as the status line says there is none ahead.
const kMarkNames = { errors: 'error', refusal: '"buffer full" reply', refused: 'other refusal', noReply: 'message without a reply', stop: 'stop' };

(() => {
  const session = makeSession();
  const P = session.P;

  // Selects the next message (step 1) or the previous one (-1) from the
  // selection with a marker of the kind `mark`; the status line says when
  // there is none.
  function nextMarked(mark, step) {
    const S = session.data;
    for (let i = session.selected + step; i >= 0 && i < S.n; i += step) {
      if (hasMarker(S, mark, i)) {
        session.show(i);
        return;
      }
    }
    session.nothingAhead('No ' + kMarkNames[mark] + (step > 0 ? ' after' : ' before') + ' the selected message');
  }

  // The list's keys, as steps among the messages shown (2: a page; the
  // largest: to either end).
  const kListSteps = { ArrowDown: 1, ArrowUp: -1, PageDown: 2, PageUp: -2, End: Infinity, Home: -Infinity };

  document.addEventListener('keydown', (e) => {
    const S = session.data;
    const typing = e.target instanceof HTMLInputElement || e.target instanceof HTMLSelectElement;
    if (e.key === '/' && !typing) {
      e.preventDefault();
      $('f-search').focus();
      $('f-search').select();
      return;
    }
    if (e.key === 'Escape' && P.findings.acknowledge()) {
      // Esc acknowledges a live alert first.
      e.preventDefault();
      return;
    }
    if (e.key === 'Escape' && S) {
      // The search, the filters and the range cleared: every message again.
      e.preventDefault();
      session.clearFilters();
      if (typing) e.target.blur();
      return;
    }
    if (!S) return;
    if (e.target.id === 'f-search' && e.key === 'Enter' || e.key === 'F3') {
      // Enter in the search box: the search at once, or once it is
      // answered, the next hit; F3 anywhere the next hit (shift: previous).
      e.preventDefault();
      const query = $('f-search').value;
      const searchAsked = P.filters.asking();
      if (e.key === 'Enter' && (searchAsked ? searchAsked.query !== query : !S.search || S.search.query !== query))
        P.filters.searchNow();
      else P.filters.nextHit(e.shiftKey ? -1 : 1);
      return;
    }
    const shown = session.shown;
    if (!shown.length) return;
    if (typing && e.key !== 'Enter') return;
    const mark = kMarkKeys[e.key.toLowerCase()];
    if (mark && !e.ctrlKey && !e.altKey && !e.metaKey) {
      e.preventDefault();
      nextMarked(mark, e.shiftKey || e.key !== e.key.toLowerCase() ? -1 : 1);
    } else if ((e.key === 'f' || e.key === 'F') && !e.ctrlKey && !e.altKey && !e.metaKey) {
      // The next finding (with shift: the previous).
      e.preventDefault();
      P.findings.next(e.key === 'F' ? -1 : 1);
    } else if (e.key === 'z' || e.key === 'Z') {
      e.preventDefault();
      if (e.key === 'z') P.timeline.zoomToSelection();
      else P.timeline.reset();
    } else if (kListSteps[e.key]) {
      // Up and Down: a row; PageUp and PageDown: a list's height; Home, End.
      e.preventDefault();
      const k = session.position(session.selected);
      const page = Math.max(1, Math.floor(P.list.box.clientHeight / ROW) - 1);
      const step = kListSteps[e.key] * (Math.abs(kListSteps[e.key]) === 2 ? page / 2 : 1);
      // Without a selection among them: from before the first (End: the last).
      const next = Math.min(shown.length - 1, Math.max(0, k < 0 ? (step > 0 ? step - 1 : 0) : k + step));
      session.select(shown[next]);
    } else if (e.key === 'Enter') {
      // From the search box: to the list; in the list: the details shown.
      e.preventDefault();
      if (session.position(session.selected) < 0) session.select(shown[0]);
      else session.select(session.selected);
      P.list.box.focus();
      $('details-panel').scrollIntoView({ block: 'nearest' });
    }
  });

  function readFile(file) {
    if (!file) return;
    const again = () => file.arrayBuffer().then((buffer) => [new Uint8Array(buffer)]);
    again().then((parts) => P.decoding.decode(parts, file.name, again), () => session.setStatus("Can't read the file: " + file.name, true));
  }
  $('file').addEventListener('change', (e) => readFile(e.target.files[0]));
  document.addEventListener('dragover', (e) => { e.preventDefault(); body.classList.add('dragging'); });
  document.addEventListener('dragleave', () => body.classList.remove('dragging'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    body.classList.remove('dragging');
    if (e.dataTransfer.files.length) readFile(e.dataTransfer.files[0]);
  });
  // Another device asked for: the same capture decoded again.
  $('device').addEventListener('change', () => {
    if (P.live.live()) P.live.again();
    if (!P.decoding.last()) return;
    const { name, again } = P.decoding.last();
    again().then((parts) => P.decoding.decode(parts, name, again), (e) => session.setStatus("Can't read the capture again: " + e, true));
  });

  // A capture that vornlog -w put in the page, or the stream of the capture
  // that vornlog -l reads. Its element comes after this script: it is taken
  // as the browser reads it, and the parts of a capture put in the page
  // (the element, then the elements of class capture-part after it) each as
  // soon as the browser has read it (once an element follows it, or the
  // page is read), so that the page is read, the capture inflated and
  // decoded all at once.
  let embedded = null;
  let partsTaken = 0;
  let takePart = null; // hands a part's text on (null: the last came)

  function captureArrived(read) {
    if (!embedded) {
      embedded = $('capture');
      if (!embedded) {
        if (read) P.timeline.reset();
        return;
      }
      if (embedded.dataset.device) {
        $('device').appendChild(P.decoding.deviceOption(embedded.dataset.device, embedded.dataset.device));
        $('device').value = embedded.dataset.device;
      }
      if (embedded.dataset.keep) $('f-instructions').value = embedded.dataset.keep;
      if (embedded.dataset.stream) {
        P.live.start(embedded.dataset.stream, embedded.dataset.name || 'capture');
        return;
      }
    }
    if (embedded.dataset.stream) return;
    const parts = [embedded, ...document.querySelectorAll('script.capture-part')];
    const whole = read ? parts.length : parts.length - 1;
    for (; partsTaken < whole; partsTaken++) takeCapturePart(parts[partsTaken], partsTaken === 0);
    if (read) captureRead();
  }

  function takeCapturePart(part, first) {
    if (first) performance.mark('vornlog-start');
    const text = part.textContent;
    // The text is not needed here any more: its memory goes.
    part.textContent = '';
    if (first && !text.trim()) return;
    if (!takePart) takePart = P.decoding.decodeAsItComes(embedded.dataset.name || 'capture', Number(embedded.dataset.size) || 0);
    takePart(text);
  }

  // The page is read: the capture's last part came.
  function captureRead() {
    performance.mark('vornlog-base64');
    if (takePart) takePart(null);
    else P.timeline.reset();
  }

  const reading = new MutationObserver(() => captureArrived(false));
  reading.observe(body, { childList: true });
  document.addEventListener('DOMContentLoaded', () => {
    reading.disconnect();
    captureArrived(true);
  });
})();
