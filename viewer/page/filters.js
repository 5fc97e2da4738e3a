// The filters: instructions, sender, errors only, a text search (asked of
// the worker) and the timeline's range; what they let through is the
// session's `shown`.
panel('filters', ['f-instructions', 'f-sender', 'f-errors', 'f-search', 'f-hits', 'f-count'], (session, el) => {
  const P = session.P;

  // The instructions asked for: as -i takes them, letters (DS, D,S) or codes
  // (0x44), and also names (Data, "Buffer Management"), a name between
  // commas read as a name before its letters. Null for all (nothing asked);
  // { unknown } for a part that names no instruction.
  function parseInstructions(text) {
    const S = session.data;
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
    const S = session.data;
    let codes = parseInstructions(el.fInstructions.value);
    const unknown = codes && codes.unknown;
    if (unknown) codes = new Set();
    const sender = el.fSender.value;
    const errorsOnly = el.fErrors.checked;
    // The last search answered filters the list until the next answer.
    const found = S.search ? S.search.hits : null;
    const range = S.range;
    let k = from ? lowerBound(session.shown, from) : 0;
    if (!shownRoom || shownRoom.length < S.n) {
      const room = new Int32Array(from ? Math.max(1024, Math.ceil(1.5 * S.n)) : S.n);
      if (k) room.set(session.shown.subarray(0, k));
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
    session.shown = out.subarray(0, k);
    el.fCount.textContent = unknown ? 'no instruction "' + unknown + '" (letters, codes or names)' :
      k === S.n ? S.n + ' messages' : k + ' of ' + S.n + ' messages';
    if (searchAsked) showSearchCount();
    else showHits();
  }

  function applyFilters() {
    if (!session.data) return;
    shownRoom = null;
    filterFrom(0);
    P.list.forget();
    P.list.render();
    if (session.selected >= 0) P.list.scrollToSelected();
    P.path.draw();
  }

  el.fInstructions.addEventListener('input', applyFilters);
  for (const box of [el.fSender, el.fErrors]) box.addEventListener('change', applyFilters);

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
    const query = el.fSearch.value;
    const S = session.data;
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
    session.worker.postMessage({ type: kToWorker.search, id: searchId, query: JSON.stringify(query).slice(1, -1) });
    showSearchCount();
  }

  function showSearchCount() {
    const S = session.data;
    el.fCount.textContent = S.indexed ? 'searching...' : 'searching (the search index is being made)...';
    el.fHits.textContent = '';
  }

  function searchAnswered(m) {
    const S = session.data;
    if (!S || !searchAsked || m.id !== searchAsked.id) return;
    if (m.cancelled) return;
    S.search = { query: searchAsked.query, hits: m.hits, ms: m.ms };
    searchAsked = null;
    applyFilters();
    // The first hit selected when the selection is none of them.
    if (session.shown.length && session.position(session.selected) < 0) session.select(session.shown[0]);
    showHits();
  }

  // "3 of 87": the selection's place among the hits the list shows.
  function showHits() {
    const S = session.data;
    const shown = session.shown;
    const box = el.fHits;
    if (!S || !S.search || searchAsked) {
      box.textContent = '';
      return;
    }
    const k = session.position(session.selected);
    box.textContent = !shown.length ? 'no hit' : (k < 0 ? '-' : k + 1) + ' of ' + shown.length + (shown.length === 1 ? ' hit' : ' hits');
  }

  // The next hit (step 1) or the previous one (-1), round the end.
  function nextHit(step) {
    const S = session.data;
    const shown = session.shown;
    const selected = session.selected;
    if (!S || !S.search || !shown.length) return;
    const k = session.position(selected);
    const next = k < 0 ? (step > 0 ? lowerBound(shown, selected) : lowerBound(shown, selected) - 1) : k + step;
    session.select(shown[(next + shown.length) % shown.length]);
  }

  el.fSearch.addEventListener('input', () => {
    clearTimeout(searchTimer);
    if (!session.data) return;
    if (!el.fSearch.value) {
      searchNow();
      return;
    }
    showSearchCount();
    searchTimer = setTimeout(searchNow, kTypingPauseMs);
  });

  // Every filter cleared: the instructions, the sender, errors only and
  // the search (the session clears the timeline's range).
  function clear() {
    for (const box of [el.fInstructions, el.fSearch]) box.value = '';
    el.fSender.value = '';
    el.fErrors.checked = false;
    clearTimeout(searchTimer);
    searchAsked = null;
    session.data.search = null;
  }

  return {
    apply: applyFilters,
    filterFrom,
    clear,
    searchNow,
    searchAnswered,
    showSearchCount,
    nextHit,
    // The search asked of the worker and not yet answered, or null.
    asking: () => searchAsked,
    // The worker's search index made (true), or a new worker's not yet.
    indexed(made) {
      if (!made) {
        delete el.fSearch.dataset.indexed;
        return;
      }
      el.fSearch.dataset.indexed = 'true';
      if (searchAsked && session.data && !session.data.search) showSearchCount();
    },
    // A new session: a search typed before it was there asked of its worker.
    askTyped() {
      searchAsked = null;
      if (el.fSearch.value) searchNow();
    },
    selected: showHits,
  };
});
