// The live page (vornlog -l): the worker reads the server's capture
// stream as the input grows and decodes each new part (never again what it
// has decoded); every update it sends (at most ten a second) brings the
// session up to date from what came, and the views are drawn again at
// most four times a second. The body says how the input goes: data-live
// "live" (bytes come), "waiting" (quiet for a second, or the server out of
// reach), "ended", or "error" (the server could not keep the capture:
// data-error says why, and nothing more comes). The list follows the newest message until the person
// selects one or scrolls it; the Follow button takes it back to following.
//
// The page keeps at most the newest kKeep messages in full (the page's address may
// ask for fewer: #keep=N): the worker lets the older ones go, and the page
// with it (the index of a message in the page counts from S.base, the
// session's first message still kept); the list says how many left above
// its first row, the findings stay.
const kKeep = 2000000;
// A timeline marker whose message left the page (no index of a message).
const kGoneMarker = 0x7fffffff;
panel('live', ['follow', 'list', 'list-gone', 'capture-name', 'device'], (session, el) => {
  const P = session.P;
  let run = null; // { url, name, ended, saved }
  let following = true;
  // Each column's elements so far, in typed arrays with room to grow: the
  // session's data holds views of their first elements.
  let stores = {};
  // The findings' lines that came since the views were last drawn.
  let newFindings = '';
  // The findings' messages to find again (messages went).
  let refind = false;

  const followButton = el.follow;

  function setFollowing(on) {
    following = on;
    followButton.setAttribute('aria-pressed', String(on));
    body.dataset.following = String(on);
    if (!on) return;
    placed = null;
    scrollToNewest();
  }

  // Where the page last put the list's scroll, following.
  let placed = null;

  function scrollToNewest() {
    const S = session.data;
    if (!S || !session.shown) return;
    const list = el.list;
    // (The list moved away from its end since the page put it there: the
    // person scrolled it, and the scroll's event has not come yet.)
    if (placed !== null && Math.abs(list.scrollTop - placed) > 1 &&
        list.scrollTop + list.clientHeight < list.scrollHeight - ROW) {
      setFollowing(false);
      return;
    }
    list.scrollTop = list.scrollHeight;
    placed = list.scrollTop;
    P.list.render();
  }

  function setLive(state, text, problem) {
    body.dataset.live = state;
    if (text !== undefined) session.setStatus(text, problem);
  }

  // What the status line says of the session while the input goes on.
  function liveText() {
    const S = session.data;
    const n = S ? S.base + S.n : 0;
    const what = n + (n === 1 ? ' message' : ' messages');
    if (body.dataset.live === 'waiting') return 'Waiting for data: ' + what + ' so far';
    if (body.dataset.live === 'error') return 'Live viewing stopped after ' + what + ': ' + body.dataset.error;
    return 'Live: ' + what;
  }

  // Starts the page's session from the stream at `url` (relative to the
  // page's address): the worker reads it and decodes it as it comes.
  function start(url, name) {
    const asked = /^#keep=(\d+)$/.exec(location.hash);
    const keep = asked && Number(asked[1]) > 0 ? Math.min(Number(asked[1]), kKeep) : run ? run.keep : kKeep;
    run = { url: new URL(url, location.href).href, name, ended: false, saved: '' };
    P.decoding.forgetCapture();
    body.dataset.state = 'decoding';
    followButton.hidden = false;
    setFollowing(true);
    el.captureName.textContent = name;
    document.title = name + ' (live) - Vornlog viewer';
    setLive('waiting', 'Waiting for data...');
    const w = P.decoding.startWorker();
    session.data = null;
    stores = {};
    newFindings = '';
    P.filters.indexed(false);
    P.decoding.listen(w, {
      [kToPage.update]: updated,
      [kToPage.stream]: streamSaid,
      [kToPage.failed]: (m) => session.decoderFailed(m.text),
    });
    w.onerror = (e) => session.decoderFailed(e.message || 'unknown error');
    run.keep = keep;
    w.postMessage({ type: kToWorker.live, wasm: P.decoding.wasm(), url: run.url, name, device: el.device.value.trim(), keep });
  }

  // What the session holds, for the benchmarks (window.vornlogHeld()): the
  // messages kept in full, the bytes of the room the page's columns take
  // and of the decoder's memory.
  window.vornlogHeld = () => ({ messages: session.data ? session.data.n : 0,
    decoder: session.data ? session.data.decoderMemory || 0 : 0, columns: Object.values(stores).reduce((sum, store) => sum + store.byteLength, 0) });

  // How the input goes, as the worker reads the capture stream: bytes
  // come, the input is quiet (or the server out of reach), or it ended
  // (and where the page was saved).
  function streamSaid(m) {
    const S = session.data;
    if (m.state === 'error') {
      body.dataset.error = m.problem;
      setLive('error', liveText(), true);
      return;
    }
    if (m.state === 'ended') {
      run.ended = true;
      run.saved = m.saved;
    }
    setLive(m.state, m.problem);
    if (!m.problem && m.state !== 'ended' && (S || m.state === 'waiting')) session.setStatus(liveText());
  }

  // A column grown: its elements from `base` on replaced by `part`, in
  // room that grows by half as the session grows, never past what the
  // kept messages need (the worker lets the older go once it holds more
  // than it keeps): the elements before `base` are copied only
  // when the room grows.
  function grow(name, part, base) {
    const S = session.data;
    let store = stores[name];
    const length = base + part.length;
    if (!store || store.length < length) {
      const Type = part.constructor;
      const per = S.strides[name] || 1;
      const most = per * (run.keep + 65536);
      const grown = new Type(Math.max(length, Math.min(Math.max(1024, Math.ceil(1.5 * length)), most)));
      if (store) grown.set(store.subarray(0, base));
      store = grown;
      stores[name] = store;
    }
    store.set(part, base);
    S[name] = store.subarray(0, length);
  }

  // The messages before the session's message `base` (and the stored
  // segments before `rowBase`) gone from the worker: gone from the page
  // too, the columns moved to the front of their room (which is kept),
  // what the page holds by index moved with them.
  function letGo(base, rowBase) {
    const S = session.data;
    const d = base - S.base;
    const dr = rowBase - S.rowBase;
    if (d <= 0) return;
    const x = S.x && S.x === S.filled ? 'filled' : S.x && S.x === S.numbers ? 'numbers' : 'time';
    for (const [name, store] of Object.entries(stores)) {
      const row = name.startsWith('row');
      const per = S.strides[name] || 1;
      const skip = Math.min((row ? dr : d) * per, S[name].length);
      const length = S[name].length - skip;
      store.copyWithin(0, skip, skip + length);
      S[name] = store.subarray(0, length);
    }
    const partner = S.partner || [];
    for (let i = 0; i < partner.length; i++) if (partner[i] >= 0) partner[i] = Math.max(-1, partner[i] - d);
    const rowMessage = S.rowMessage || [];
    for (let r = 0; r < rowMessage.length; r++) if (rowMessage[r] >= 0) rowMessage[r] = Math.max(-1, rowMessage[r] - d);
    S.x = S[x];
    S.n = Math.max(0, S.n - d);
    S.base = base;
    S.rowBase = rowBase;
    S.dropped = base;
    S.settled = Math.max(0, S.settled - d);
    if (S.markCounts) S.markCounts.at = Math.max(0, S.markCounts.at - d);
    // The timeline's bins keep the messages that left: the next to bin
    // and each bin's first marker moved with the indices (a marker of a
    // message that left still shows, and selects nothing); the Data
    // messages' running count is made again.
    if (S.bins) {
      S.bins.at = Math.max(0, S.bins.at - d);
      for (const row of S.bins.marks)
        for (let k = 0; k < row.length; k++) if (row[k] >= 0 && row[k] !== kGoneMarker) row[k] = row[k] >= d ? row[k] - d : kGoneMarker;
    }
    // (The Data messages' running count is made again in the room it has.)
    if (S.sent) S.sent.at = 0;
    S.parsed.clear();
    session.forgetAsked();
    const refused = new Map();
    for (const [i, cause] of S.refused) if (i >= d) refused.set(i - d, cause);
    S.refused = refused;
    S.rowsVersion = (S.rowsVersion || 0) + 1;
    S.search = null;
    session.selected = session.selected >= d ? session.selected - d : -1;
    P.list.forget();
    session.generation++;
    if (S.path && dr > 0) {
      const r = Math.min(dr, S.path.rows);
      S.pathFrom = [S.path.x[r], S.path.y[r], S.path.z[r]];
    }
    S.pathRoom = S.path;
    S.path = null;
    refind = true;
    const note = el.listGone;
    note.hidden = false;
    note.textContent = base.toLocaleString('en') + ' earlier messages left the page (it keeps at most the newest ' +
      run.keep.toLocaleString('en') + ' in full); the findings keep them';
    body.dataset.gone = String(base);
  }

  // An update of the worker: the columns from message `m.from` (stored
  // segment `m.rowsFrom`) on, which replace the page's from there; the
  // findings' new lines. What the views keep of the session is brought
  // up to date from there on only, so that an update costs what came, not
  // the whole session; the views are drawn again at most every kDrawMs
  // (the count and the list at once).
  function updated(m) {
    if (m.again || !session.data) {
      session.data = { n: 0, name: run.name, range: null, parsed: new Map(), search: null, indexed: false, findings: [],
        refused: new Map(), base: 0, rowBase: 0, dropped: 0 };
      el.listGone.hidden = true;
      delete body.dataset.gone;
      stores = {};
      newFindings = '';
      session.generation++;
      session.selected = -1;
      session.forgetAsked();
      P.list.forget();
      P.summary.waiting('The summary is written once the input has ended.');
    }
    const S = session.data;
    const went = S.base;
    letGo(m.base || 0, m.rowBase || 0);
    // (The worker's indices count from the session's first message.)
    const from = m.from - S.base;
    // (The decoder's memory, in bytes: the benchmarks read it.)
    S.decoderMemory = m.memory;
    S.markBits = m.markBits;
    S.causes = m.causes;
    S.instructions = m.instructions;
    S.protocol = m.protocol;
    S.strides = m.strides;
    S.perMm = m.perMm;
    for (const [name, part] of Object.entries(m.columns)) {
      const per = S.strides[name] || 1;
      if (S.base && (name === 'partner' || name === 'rowMessage'))
        for (let k = 0; k < part.length; k++) if (part[k] >= 0) part[k] = Math.max(-1, part[k] - S.base);
      grow(name, part, (name.startsWith('row') ? m.rowsFrom - S.rowBase : from) * per);
    }
    // The rows given again (new ones, or what the motion model settled of
    // earlier ones): what the views made of them is made again.
    if (m.columns.rowStart && m.columns.rowStart.length) S.rowsVersion = (S.rowsVersion || 0) + 1;
    const n = S.number.length;
    // Looked at in the messages that came only.
    const wasTimed = from > 0 && S.timed;
    const wasFilled = wasTimed && S.filled !== undefined && S.x === S.filled;
    let timed = wasTimed;
    let gaps = wasFilled || (from > 0 && !wasTimed); // (before: none had a time)
    let segMax = from > 0 ? S.segMax : 1;
    for (let i = from; i < n; i++) {
      if (S.time[i] === S.time[i]) timed = true;
      else gaps = true;
      if (S.segment[i] > segMax) segMax = S.segment[i];
    }
    // The messages given again: their lines asked again, their rows made again.
    for (let i = from; i < S.n; i++) {
      S.parsed.delete(i);
      S.refused.delete(i);
    }
    P.list.forget(from);
    S.n = n;
    S.settled = from;
    S.growing = !m.done;
    S.timed = timed;
    // Messages without a time among those with one: a column of its own,
    // of the times filled in between (session.js's filledTimes). Without
    // times: by message number, a column of its own.
    if (timed && !gaps) S.x = S.time;
    else if (timed) {
      const base = wasFilled && S.filled.length >= from ? from : 0;
      grow('filled', filledTimes(S.time, base, n, base > 0 ? S.filled[base - 1] : NaN), base);
      S.x = S.filled;
    } else {
      const base = S.numbers && S.numbers.length >= from ? from : 0;
      grow('numbers', Float64Array.from(S.number.subarray(base)), base);
      S.x = S.numbers;
    }
    S.segMax = segMax;
    // The other refusals (in capture order: those given again were the last).
    const bit = S.markBits.refused;
    for (let i = from; i < n; i++) if (S.marks[i] & bit) S.refused.set(i, S.causes[S.cause[i]]);
    P.path.build(m.rowsFrom - S.rowBase);
    newFindings += m.findings;
    // A stop or a stall alerts at once, even in a tab out of sight.
    if (m.findings) P.findings.alertFrom(m.findings);
    // (Messages went: the list made again from its first.)
    P.filters.filterFrom(S.base !== went ? 0 : from);
    P.list.render();
    body.dataset.messages = String(S.base + n);
    body.dataset.state = 'ready';
    if (following) scrollToNewest();
    if (m.done) {
      // The session whole: its views drawn at once, as a page decoded at
      // once draws them.
      S.settled = undefined;
      clearTimeout(drawTimer);
      drawTimer = 0;
      drawViews();
      ended(m);
    } else {
      session.setStatus(liveText(), body.dataset.live === 'error');
      viewsSoon();
    }
    // Drawn: the worker may send the next update, into the room of this
    // one's columns (copied into the page's own), which goes back to it.
    const spare = [...new Set(Object.values(m.columns).map((part) => part.buffer))];
    session.worker.postMessage({ type: kToWorker.drawn, spare }, spare);
  }

  // The timeline, the tool path and the findings: drawn again at most
  // every kDrawMs while the session grows, each from what it keeps.
  const kDrawMs = 250;
  let drawTimer = 0;
  let lastDrawn = -Infinity;
  let unseen = false;
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && unseen) drawViews();
  });

  function viewsSoon() {
    if (drawTimer) return;
    drawTimer = setTimeout(() => {
      drawTimer = 0;
      drawViews();
    }, Math.max(0, lastDrawn + kDrawMs - performance.now()));
  }

  function drawViews() {
    const S = session.data;
    lastDrawn = performance.now();
    if (!S) return;
    // A tab out of sight draws its views once it is seen again.
    if (document.hidden && S.growing) {
      unseen = true;
      return;
    }
    unseen = false;
    if (newFindings || refind || !S.growing) P.findings.add(newFindings);
    newFindings = '';
    refind = false;
    P.timeline.grew();
    P.path.draw();
  }

  // The input ended and every message is decoded: where the session's
  // page was saved, as the console says it.
  function ended(m) {
    const S = session.data;
    const said = P.decoding.sayDevice(m.console);
    P.summary.waiting('The summary is being written...');
    const where = run.saved ? 'the page of the session was saved as ' + run.saved
      : 'the page of the session could not be saved';
    setLive('ended', 'Ended: ' + (S.base + S.n) + ' messages; ' + where + (said ? '. ' + said : '') +
      (m.problem ? '. ' + m.problem : ''), !!m.problem || !run.saved);
    body.dataset.saved = run.saved || '';
  }

  // The person scrolls the list away from its end, or selects a message:
  // the list stops following.
  const list = el.list;
  list.addEventListener('scroll', () => {
    if (following && list.scrollTop + list.clientHeight < list.scrollHeight - ROW) setFollowing(false);
  });
  followButton.addEventListener('click', () => setFollowing(true));

  return {
    start,
    // The capture decoded again from its first byte (another USB device
    // asked for): the stream asked for from its start.
    again: () => run && start(run.url, run.name),
    live: () => run !== null,
    // A message selected: the list stops following.
    selected: () => { if (run && following) setFollowing(false); },
  };
});
