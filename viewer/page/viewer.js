// The Vornlog viewer: decodes a capture with the decoder's own code
// (WebAssembly, on a worker) and shows the session as linked views: a
// timeline, the tool path, the summary, the message list and the selected
// message's details. Every text that comes from a capture is put in the
// page as text (textContent, attribute values), never as markup.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const body = document.body;
  const ROW = 20;
  const MARK = { refusal: 1, noReply: 2, stop: 4, otherSt: 8 };
  // The instructions by code, as the console's -i takes them (letters).
  const NAMES = { 0x42: 'Buffer Management', 0x43: 'ZQ3107 Programming', 0x44: 'Data', 0x45: 'Flash Block Erase',
    0x46: 'Flash Model', 0x47: 'General input/output IO1', 0x49: 'Information', 0x4c: 'LCD', 0x4d: 'Motors ON/OFF',
    0x4f: 'Override Origin/End', 0x50: 'PWM', 0x52: 'Flash Read', 0x53: 'Stop', 0x54: 'TABLE', 0x56: 'Version',
    0x57: 'Flash Write', 0x59: 'Flash Content', 0x5a: 'Reset' };

  let S = null; // the decoded session
  let shown = null; // indices of the messages the filters let through (Int32Array)
  let selected = -1; // index of the selected message
  let generation = 0; // counts the captures decoded: the canvases' layers are kept per capture

  // ---------------------------------------------------------------- decoding
  let worker = null;
  let wasmBytes = null;

  // Base64 to bytes; both decoders pass over the line ends.
  function base64Bytes(text) {
    if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  // The capture inflated, in the parts the stream gives: the worker puts
  // them in the decoder's memory one after the other, so they are never
  // put together here first.
  async function inflate(bytes) {
    const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate')).getReader();
    const parts = [];
    for (;;) {
      const { done, value } = await reader.read();
      if (done) return parts;
      parts.push(value);
    }
  }

  function startWorker() {
    if (worker) worker.terminate();
    const source = $('worker-source').textContent;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    if (!wasmBytes) wasmBytes = base64Bytes($('decoder').textContent);
    return worker;
  }

  function setStatus(text, problem) {
    $('status').textContent = text;
    $('status').classList.toggle('problem', !!problem);
  }

  // The capture shown, to decode again for another device: its name and
  // how to get its bytes once more (from the file, or inflated again from
  // the page), so that no copy of it is kept.
  let lastCapture = null;

  // Decodes the capture whose bytes are `parts` (Uint8Arrays, one after
  // the other), handed to the worker.
  function decode(parts, name, again) {
    lastCapture = { name, again };
    body.dataset.state = 'decoding';
    $('capture-name').textContent = name;
    document.title = name + ' - Vornlog viewer';
    setStatus('Decoding...');
    const bar = $('progress');
    bar.hidden = false;
    bar.value = 0;
    const w = startWorker();
    const began = performance.now();
    w.onmessage = (event) => {
      const m = event.data;
      if (m.type === 'progress') {
        if (m.pass === 1) bar.value = m.share;
      } else if (m.type === 'failed') {
        bar.hidden = true;
        body.dataset.state = 'failed';
        setStatus('The decoder failed: ' + m.text, true);
      } else if (m.type === 'done') {
        bar.hidden = true;
        performance.mark('vornlog-decoded', { detail: m.timing });
        loaded(m, name, performance.now() - began);
      } else if (m.type === 'devices') {
        listDevices(m.devices);
      } else if (m.type === 'summary') {
        $('summary').textContent = m.summary;
        $('summary').dataset.ready = 'true';
      } else if (m.type === 'lines') {
        answered(m);
      } else if (m.type === 'search') {
        if (S && m.id === searchAsked) {
          S.search = { query: searchQuery, hits: m.hits };
          applyFilters();
        }
      }
    };
    w.onerror = (e) => {
      bar.hidden = true;
      body.dataset.state = 'failed';
      setStatus('The decoder failed: ' + (e.message || 'unknown error'), true);
    };
    const buffers = parts.map((p) => (p.buffer.byteLength === p.byteLength ? p.buffer : p.slice().buffer));
    w.postMessage({ type: 'decode', wasm: wasmBytes, parts: buffers, name, device: $('device').value.trim() }, buffers);
  }

  // The USB device choice, as the console's: the one recognised (named once
  // known), or one of the capture's devices, as -d takes it.
  let recognised = '';

  function deviceOption(value, text) {
    const o = document.createElement('option');
    o.value = value;
    o.textContent = text;
    return o;
  }

  function listDevices(devices) {
    const box = $('device');
    const asked = box.value;
    const options = [deviceOption('', recognised ? 'recognised: ' + recognised : 'recognised')];
    for (const d of devices) options.push(deviceOption(d.device, d.device + ': ' + d.packets + ' data packets'));
    if (asked && !devices.some((d) => d.device === asked)) options.push(deviceOption(asked, asked + ': no data packet'));
    box.replaceChildren(...options);
    box.value = asked;
  }

  function loaded(m, name, ms) {
    const n = m.number.length;
    S = Object.assign(m, { n, name, range: null, parsed: new Map(), search: null });
    generation++;
    selected = -1;
    asked.clear();
    const timed = n > 0 && m.time.every((t) => !Number.isNaN(t));
    S.timed = timed;
    S.x = timed ? m.time : Float64Array.from(m.number);
    let segMax = 1;
    for (let i = 0; i < n; i++) if (m.segment[i] > segMax) segMax = m.segment[i];
    S.segMax = segMax;
    buildPath();
    $('summary').textContent = 'The summary is being written...';
    delete $('summary').dataset.ready;
    applyFilters();
    timeline.reset();
    pathView.reset();
    const problem = m.problem;
    // What the console says of a USB capture's device: which it decoded, or
    // that none answered the PC.
    const said = m.console.split('\n').filter(Boolean).pop() || '';
    const device = /^USB device (\d+\.\d+)/.exec(said);
    recognised = device && !$('device').value ? device[1] : '';
    $('device').options[0].textContent = recognised ? 'recognised: ' + recognised : 'recognised';
    setStatus(n + ' messages, decoded in ' + (ms / 1000).toFixed(1) + ' s' + (said ? '. ' + said : '') +
      (problem ? '. ' + problem : ''), !!problem);
    body.dataset.messages = String(n);
    body.dataset.state = 'ready';
    performance.mark('vornlog-ready');
    fromHash();
    if (selected < 0 && shown.length) select(shown[0], false);
  }

  // A message's JSON line, parsed: from the worker, which writes it as
  // vornlog -j does when asked. Null until it has come; then the rows in
  // view and the details are drawn again.
  const asked = new Set();
  let askedId = 0;
  let detailsWanted = -1;

  function message(i) {
    return S.parsed.get(i) || null;
  }

  function ask(indices) {
    const wanted = indices.filter((i) => !S.parsed.has(i) && !asked.has(i));
    if (!wanted.length || !worker) return;
    for (const i of wanted) asked.add(i);
    worker.postMessage({ type: 'lines', id: ++askedId, generation, indices: Int32Array.from(wanted) });
  }

  function answered(m) {
    if (!S) return;
    if (S.parsed.size > 20000) S.parsed.clear();
    m.indices.forEach((i, k) => {
      asked.delete(i);
      if (m.lines[k]) S.parsed.set(i, JSON.parse(m.lines[k]));
    });
    for (const [, row] of rendered) row.remove();
    rendered = new Map();
    renderList();
    if (detailsWanted >= 0 && S.parsed.has(detailsWanted)) {
      const i = detailsWanted;
      detailsWanted = -1;
      renderDetails(i);
    }
  }

  const errorText = (e) => (e && typeof e === 'object' ? e.text : e);
  const hex = (v) => '0x' + (v >>> 0).toString(16).toUpperCase().padStart(2, '0');

  function summaryOf(o) {
    const parts = [];
    for (const f of o.fields) {
      if (parts.length === 4) break;
      let s = f.name;
      if (f.text !== undefined) s += ' ' + f.text;
      else if (f.raw !== undefined) s += '=' + f.raw;
      parts.push(s);
    }
    if (o.errors.length) parts.unshift(errorText(o.errors[0]));
    return parts.join('; ');
  }

  // ------------------------------------------------------------------- list
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
    row.className = 'row' + (S.from[i] === 0 ? ' pc' : '') + (S.marks[i] & 16 ? ' err' : '');
    row.dataset.number = String(S.number[i]);
    row.dataset.index = String(i);
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

  function position(i) {
    // The place of message i among those shown (binary search: shown is sorted).
    let lo = 0;
    let hi = shown.length - 1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (shown[mid] < i) lo = mid + 1;
      else if (shown[mid] > i) hi = mid - 1;
      else return mid;
    }
    return -1;
  }

  function scrollToSelected() {
    const k = position(selected);
    if (k < 0) return;
    const top = k * ROW;
    if (top < list.scrollTop) list.scrollTop = top;
    else if (top + ROW > list.scrollTop + list.clientHeight) list.scrollTop = top + ROW - list.clientHeight;
  }

  // ---------------------------------------------------------------- filters
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
      if (errorsOnly && !(S.marks[i] & 16)) continue;
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

  // ---------------------------------------------------------------- details
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

  // -------------------------------------------------------------- selecting
  function select(i, scroll = true) {
    if (!S || i < 0 || i >= S.n) return;
    selected = i;
    for (const [k, row] of rendered) row.classList.toggle('selected', k === i);
    renderDetails(i);
    if (scroll) scrollToSelected();
    renderList();
    timeline.draw();
    pathView.draw();
    const hash = '#m=' + S.number[i];
    if (location.hash !== hash) history.replaceState(null, '', hash);
  }

  function indexOfNumber(number) {
    let lo = 0;
    let hi = S.n - 1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (S.number[mid] < number) lo = mid + 1;
      else if (S.number[mid] > number) hi = mid - 1;
      else return mid;
    }
    return -1;
  }

  function fromHash() {
    if (!S) return;
    const m = /^#m=(\d+)$/.exec(location.hash);
    if (!m) return;
    const i = indexOfNumber(Number(m[1]));
    if (i < 0) return;
    if (position(i) < 0) {
      // A message the filters hide is shown all the same: they are cleared.
      for (const id of ['f-instructions', 'f-search']) $(id).value = '';
      $('f-sender').value = '';
      $('f-errors').checked = false;
      S.range = null;
      applyFilters();
      timeline.draw();
    }
    select(i, true);
  }
  window.addEventListener('hashchange', fromHash);

  document.addEventListener('keydown', (e) => {
    const typing = e.target instanceof HTMLInputElement || e.target instanceof HTMLSelectElement;
    if (e.key === '/' && !typing) {
      e.preventDefault();
      $('f-search').focus();
      $('f-search').select();
      return;
    }
    if (!S || !shown.length) return;
    if (typing && e.key !== 'Enter') return;
    if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      e.preventDefault();
      const k = position(selected);
      const next = k < 0 ? 0 : Math.min(shown.length - 1, Math.max(0, k + (e.key === 'ArrowDown' ? 1 : -1)));
      select(shown[next]);
    } else if (e.key === 'Enter') {
      // From the search box: to the list; in the list: the details shown.
      e.preventDefault();
      if (position(selected) < 0) select(shown[0]);
      else select(selected);
      list.focus();
      $('details-panel').scrollIntoView({ block: 'nearest' });
    }
  });

  // --------------------------------------------------------------- canvases
  function fit(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const w = canvas.clientWidth;
    const h = canvas.clientHeight;
    if (canvas.width !== Math.round(w * ratio) || canvas.height !== Math.round(h * ratio)) {
      canvas.width = Math.round(w * ratio);
      canvas.height = Math.round(h * ratio);
    }
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, w, h);
    return { g, w, h };
  }

  // A canvas drawn in two layers: what changes with the view alone (kept
  // in an offscreen canvas under `key`, drawn again when the key changes)
  // and, over it, what changes with the selection.
  function layered(canvas, key, paintBase) {
    const { g, w, h } = fit(canvas);
    const fullKey = key + '|' + canvas.width + 'x' + canvas.height;
    if (canvas.baseKey !== fullKey) {
      const base = canvas.base || document.createElement('canvas');
      base.width = canvas.width;
      base.height = canvas.height;
      const bg = base.getContext('2d');
      const ratio = canvas.width / Math.max(1, w);
      bg.setTransform(ratio, 0, 0, ratio, 0, 0);
      bg.clearRect(0, 0, w, h);
      paintBase(bg, w, h);
      canvas.base = base;
      canvas.baseKey = fullKey;
    }
    g.drawImage(canvas.base, 0, 0, w, h);
    return { g, w, h };
  }

  // The timeline: buffer fill, the segment being processed, Data messages
  // per second and reply delays along the session's time (or message
  // number when the capture has no times), with markers below.
  const timeline = (() => {
    const canvas = $('timeline');
    let view = null; // [x0, x1]
    let drag = null;
    const pad = { l: 44, r: 44, t: 8, b: 34 };
    const colours = { buffer: '#2a6fdb', segment: '#7a7a7a', rate: '#2e9e5b', delay: '#c77800',
      error: '#d21f1f', refusal: '#ff7b00', noReply: '#8e44ad', stop: '#111111', selected: '#e0245e' };

    function reset() {
      if (!S || !S.n) { view = [0, 1]; draw(); legend(); return; }
      const lo = S.x[0];
      const hi = S.x[S.n - 1];
      view = [lo, hi > lo ? hi : lo + 1];
      legend();
      draw();
    }

    function legend() {
      const box = $('timeline-legend');
      box.replaceChildren();
      const counts = { error: 0, refusal: 0, noReply: 0, stop: 0 };
      if (S) for (let i = 0; i < S.n; i++) {
        const m = S.marks[i];
        if (m & 16) counts.error++;
        if (m & MARK.refusal) counts.refusal++;
        if (m & MARK.noReply) counts.noReply++;
        if (m & MARK.stop) counts.stop++;
      }
      canvas.dataset.errors = String(counts.error);
      canvas.dataset.refusals = String(counts.refusal);
      canvas.dataset.noReply = String(counts.noReply);
      canvas.dataset.stops = String(counts.stop);
      const items = [['buffer', 'buffer fill %'], ['segment', 'segment'], ['rate', 'Data messages/s'],
        ['delay', 'reply delay'], ['error', 'errors ' + counts.error], ['refusal', '"buffer full" ' + counts.refusal],
        ['noReply', 'no reply ' + counts.noReply], ['stop', 'stops ' + counts.stop]];
      for (const [key, text] of items) {
        const k = document.createElement('span');
        k.className = 'key';
        k.style.background = colours[key];
        box.appendChild(k);
        box.appendChild(document.createTextNode(text));
      }
      if (S && !S.timed) box.appendChild(document.createTextNode('   (no times: by message number)'));
    }

    const toX = (x, w) => pad.l + ((x - view[0]) / (view[1] - view[0])) * (w - pad.l - pad.r);
    const fromX = (px, w) => view[0] + ((px - pad.l) / (w - pad.l - pad.r)) * (view[1] - view[0]);

    function first(x) {
      let lo = 0;
      let hi = S.n;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (S.x[mid] < x) lo = mid + 1;
        else hi = mid;
      }
      return lo;
    }

    function paint(g, w, h) {
      const plotH = h - pad.t - pad.b;
      const y = (share) => pad.t + plotH * (1 - share);
      const cols = Math.max(1, Math.floor(w - pad.l - pad.r));
      // Per pixel column: buffer fill (last), segment (last), Data count, delay (max).
      const buf = new Float32Array(cols).fill(NaN);
      const seg = new Float64Array(cols).fill(NaN);
      const rate = new Float64Array(cols);
      const delay = new Float32Array(cols).fill(NaN);
      const marks = [new Uint8Array(cols), new Uint8Array(cols), new Uint8Array(cols), new Uint8Array(cols)];
      let segMax = 1;
      let delayMax = 1;
      const a = first(view[0]);
      const b = first(view[1] + 1e-12 * Math.abs(view[1])) ;
      const span = (view[1] - view[0]) / cols;
      for (let i = a; i < b && i < S.n; i++) {
        const c = Math.min(cols - 1, Math.floor((S.x[i] - view[0]) / span));
        if (c < 0) continue;
        if (S.buffer[i] >= 0) buf[c] = S.buffer[i];
        if (S.segment[i] >= 0) { seg[c] = S.segment[i]; }
        if (S.code[i] === 0x44 && S.from[i] === 0) rate[c]++;
        const d = S.delay[i];
        if (!Number.isNaN(d) && !(delay[c] >= d)) delay[c] = d;
        const m = S.marks[i];
        if (m & 16) marks[0][c] = 1;
        if (m & MARK.refusal) marks[1][c] = 1;
        if (m & MARK.noReply) marks[2][c] = 1;
        if (m & MARK.stop) marks[3][c] = 1;
      }
      segMax = Math.max(1, S.segMax);
      for (let c = 0; c < cols; c++) if (delay[c] > delayMax) delayMax = delay[c];
      // Data messages per second (per message number without times).
      const perUnit = S.timed ? 1 / span : 1 / span;
      let rateMax = 1;
      for (let c = 0; c < cols; c++) { rate[c] *= perUnit; if (rate[c] > rateMax) rateMax = rate[c]; }
      // Range selected.
      if (S.range) {
        g.fillStyle = '#2a6fdb1a';
        const x0 = Math.max(pad.l, toX(S.range[0], w));
        const x1 = Math.min(w - pad.r, toX(S.range[1], w));
        g.fillRect(x0, pad.t, Math.max(1, x1 - x0), plotH);
      }
      g.strokeStyle = '#ddd';
      g.strokeRect(pad.l, pad.t, w - pad.l - pad.r, plotH);
      g.fillStyle = '#555';
      g.font = '10px system-ui, sans-serif';
      g.textAlign = 'right';
      g.fillText('100%', pad.l - 4, y(1) + 8);
      g.fillText('0%', pad.l - 4, y(0));
      g.textAlign = 'left';
      g.fillText(Math.round(rateMax) + '/s', w - pad.r + 4, y(1) + 8);
      g.fillText(delayMax.toFixed(1) + ' ms', w - pad.r + 4, y(0.5));
      g.textAlign = 'center';
      g.fillText(axisText(view[0]), pad.l, h - 4);
      g.fillText(axisText(view[1]), w - pad.r, h - 4);
      g.fillText(axisText((view[0] + view[1]) / 2), (pad.l + w - pad.r) / 2, h - 4);
      const series = (values, max, colour, step) => {
        g.strokeStyle = colour;
        g.beginPath();
        let on = false;
        let last = NaN;
        for (let c = 0; c < cols; c++) {
          let v = values[c];
          if (Number.isNaN(v)) { if (!step || Number.isNaN(last)) { on = false; continue; } v = last; }
          last = v;
          const py = y(Math.min(1, v / max));
          if (on) g.lineTo(pad.l + c + 0.5, py);
          else g.moveTo(pad.l + c + 0.5, py);
          on = true;
        }
        g.stroke();
      };
      g.lineWidth = 1;
      g.fillStyle = colours.rate + '55';
      for (let c = 0; c < cols; c++) if (rate[c]) {
        const hgt = (rate[c] / rateMax) * plotH;
        g.fillRect(pad.l + c, pad.t + plotH - hgt, 1, hgt);
      }
      series(seg, segMax, colours.segment, true);
      g.lineWidth = 1.5;
      series(buf, 100, colours.buffer, true);
      g.lineWidth = 1;
      g.fillStyle = colours.delay;
      for (let c = 0; c < cols; c++) if (!Number.isNaN(delay[c])) g.fillRect(pad.l + c - 1, y(delay[c] / delayMax) - 1, 3, 3);
      const rows = [['error', 0], ['refusal', 1], ['noReply', 2], ['stop', 3]];
      for (const [key, r] of rows) {
        g.fillStyle = colours[key];
        for (let c = 0; c < cols; c++) if (marks[r][c]) g.fillRect(pad.l + c - 1, h - pad.b + 3 + r * 5, 3, 4);
      }
    }

    function draw() {
      if (!S || !view) { fit(canvas); return; }
      const range = S.range ? S.range.join(',') : '';
      const { g, w, h } = layered(canvas, view.join(',') + '|' + range + '|' + generation, paint);
      if (selected >= 0) {
        const px = toX(S.x[selected], w);
        if (px >= pad.l && px <= w - pad.r) {
          g.strokeStyle = colours.selected;
          g.beginPath();
          g.moveTo(px + 0.5, pad.t);
          g.lineTo(px + 0.5, h - pad.b + 22);
          g.stroke();
        }
      }
    }

    function axisText(x) {
      return S && S.timed ? x.toFixed(x - Math.floor(x) && view[1] - view[0] < 10 ? 3 : 1) + ' s' : '#' + Math.round(x);
    }

    canvas.addEventListener('wheel', (e) => {
      if (!S || !S.n) return;
      e.preventDefault();
      const w = canvas.clientWidth;
      const at = fromX(e.offsetX, w);
      const f = e.deltaY > 0 ? 1.25 : 0.8;
      view = [at - (at - view[0]) * f, at + (view[1] - at) * f];
      draw();
    }, { passive: false });
    canvas.addEventListener('mousedown', (e) => {
      if (!S || !S.n) return;
      drag = { x: e.offsetX, view: view.slice(), range: e.shiftKey, moved: false };
    });
    window.addEventListener('mousemove', (e) => {
      if (!drag) return;
      const rect = canvas.getBoundingClientRect();
      const px = e.clientX - rect.left;
      const w = canvas.clientWidth;
      if (Math.abs(px - drag.x) > 2) drag.moved = true;
      if (drag.range) {
        const a = fromX(Math.min(px, drag.x), w);
        const b = fromX(Math.max(px, drag.x), w);
        S.range = [a, b];
      } else {
        const dx = ((px - drag.x) / (w - pad.l - pad.r)) * (drag.view[1] - drag.view[0]);
        view = [drag.view[0] - dx, drag.view[1] - dx];
      }
      draw();
    });
    window.addEventListener('mouseup', (e) => {
      if (!drag) return;
      const d = drag;
      drag = null;
      if (d.range && d.moved) { applyFilters(); draw(); return; }
      if (!d.moved) {
        // A click: the message nearest in time.
        const at = fromX(d.x, canvas.clientWidth);
        let i = Math.min(S.n - 1, first(at));
        if (i > 0 && Math.abs(S.x[i - 1] - at) < Math.abs(S.x[i] - at)) i--;
        if (position(i) < 0 && shown.length) {
          const k = Math.min(shown.length - 1, Math.max(0, lowerBound(shown, i)));
          i = shown[k];
        }
        select(i);
      }
      void e;
    });
    canvas.addEventListener('dblclick', () => {
      if (!S) return;
      S.range = null;
      reset();
      applyFilters();
    });
    return { reset, draw };
  })();

  function lowerBound(a, v) {
    let lo = 0;
    let hi = a.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (a[mid] < v) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  // The tool path: the stored segments (the rows of the steps CSV, with
  // its signs) from (0, 0), S1 to the right and S2 up at one scale, and S3
  // by row below.
  function buildPath() {
    const rows = S.rowMessage.length;
    const x = new Float64Array(rows + 1);
    const y = new Float64Array(rows + 1);
    const z = new Float64Array(rows + 1);
    for (let r = 0; r < rows; r++) {
      x[r + 1] = x[r] + S.rowSteps[3 * r];
      y[r + 1] = y[r] + S.rowSteps[3 * r + 1];
      z[r + 1] = z[r] + S.rowSteps[3 * r + 2];
    }
    S.path = { rows, x, y, z };
  }

  const pathView = (() => {
    const plan = $('plan');
    const s3 = $('s3');
    let hover = -1;
    let t = null; // transform of the plan
    const margin = 14;

    function reset() { hover = -1; draw(); }

    function inRange(r) {
      if (!S.range) return true;
      const m = S.rowMessage[r];
      return m >= 0 && S.x[m] >= S.range[0] && S.x[m] <= S.range[1];
    }

    // The plan's scale and the S3 panel's extent, for the path as a whole.
    function frame(w, h) {
      const { rows, x, y, z } = S.path;
      let x0 = 0, x1 = 0, y0 = 0, y1 = 0, z0 = 0, z1 = 0;
      for (let r = 0; r <= rows; r++) {
        if (x[r] < x0) x0 = x[r];
        if (x[r] > x1) x1 = x[r];
        if (y[r] < y0) y0 = y[r];
        if (y[r] > y1) y1 = y[r];
        if (z[r] < z0) z0 = z[r];
        if (z[r] > z1) z1 = z[r];
      }
      const scale = Math.min((w - 2 * margin) / Math.max(1, x1 - x0), (h - 2 * margin) / Math.max(1, y1 - y0));
      const ox = margin + ((w - 2 * margin) - (x1 - x0) * scale) / 2 - x0 * scale;
      const oy = h - margin - ((h - 2 * margin) - (y1 - y0) * scale) / 2 + y0 * scale;
      return { scale, ox, oy, z0, z1 };
    }

    function paintPlan(g, w, h) {
      const { rows, x, y } = S.path;
      const { scale, ox, oy } = t;
      g.strokeStyle = '#eee';
      g.beginPath();
      g.moveTo(0, oy + 0.5); g.lineTo(w, oy + 0.5);
      g.moveTo(ox + 0.5, 0); g.lineTo(ox + 0.5, h);
      g.stroke();
      // The path goes to the canvas only where it moves by a quarter of a
      // pixel or more: a million segments become as many points as the
      // drawing can show, and the stroke stays quick.
      const stroke = (colour, only) => {
        g.strokeStyle = colour;
        g.beginPath();
        let lastPx = NaN, lastPy = NaN; // where the path is
        let drawnPx = NaN, drawnPy = NaN; // its last point given to the canvas
        for (let r = 0; r < rows; r++) {
          if (only && !only(r)) continue;
          const px1 = ox + x[r] * scale, py1 = oy - y[r] * scale;
          const px2 = ox + x[r + 1] * scale, py2 = oy - y[r + 1] * scale;
          if (px1 !== lastPx || py1 !== lastPy) {
            if (r > 0 && (lastPx !== drawnPx || lastPy !== drawnPy)) g.lineTo(lastPx, lastPy);
            g.moveTo(px1, py1);
            drawnPx = px1; drawnPy = py1;
          }
          lastPx = px2; lastPy = py2;
          if (Math.abs(px2 - drawnPx) >= 0.25 || Math.abs(py2 - drawnPy) >= 0.25) {
            g.lineTo(px2, py2);
            drawnPx = px2; drawnPy = py2;
          }
        }
        if (lastPx !== drawnPx || lastPy !== drawnPy) g.lineTo(lastPx, lastPy);
        g.stroke();
      };
      g.lineWidth = 1.2;
      stroke(S.range ? '#c9c9c9' : '#2a6fdb');
      if (S.range) stroke('#2a6fdb', inRange);
    }

    function paintS3(h, w, hh) {
      const { rows, z } = S.path;
      const zs = (v) => hh - 6 - ((v - t.z0) / Math.max(1, t.z1 - t.z0)) * (hh - 12);
      const xs = (r) => 6 + (r / rows) * (w - 12);
      h.strokeStyle = '#8e44ad';
      h.beginPath();
      h.moveTo(xs(0), zs(z[0]));
      const step = Math.max(1, Math.floor(rows / (w * 2)));
      for (let r = 1; r <= rows; r += step) h.lineTo(xs(r), zs(z[r]));
      h.lineTo(xs(rows), zs(z[rows]));
      h.stroke();
      h.fillStyle = '#555';
      h.font = '10px system-ui, sans-serif';
      h.fillText('S3 ' + t.z0 + ' .. ' + t.z1, 8, 12);
    }

    function draw() {
      if (!S || !S.path) { fit(plan); fit(s3); return; }
      const { rows, x, y } = S.path;
      plan.dataset.rows = String(rows);
      if (!rows) {
        const a = fit(plan);
        fit(s3);
        a.g.fillStyle = '#777';
        a.g.fillText('No stored segment in this capture.', 10, 20);
        return;
      }
      const w = plan.clientWidth, h = plan.clientHeight;
      const key = (S.range ? S.range.join(',') : '') + '|' + generation + '|' + w + 'x' + h;
      if (!t || t.key !== key) {
        t = frame(w, h);
        t.key = key;
      }
      // Where (0, 0) is and how many CSS pixels a step is: for scripts.
      plan.dataset.originX = t.ox.toFixed(3);
      plan.dataset.originY = t.oy.toFixed(3);
      plan.dataset.scale = String(t.scale);
      const a = layered(plan, key, paintPlan);
      const g = a.g;
      const { scale, ox, oy } = t;
      const mark = (r, colour, width) => {
        if (r < 0) return;
        g.strokeStyle = colour;
        g.lineWidth = width;
        g.beginPath();
        g.moveTo(ox + x[r] * scale, oy - y[r] * scale);
        g.lineTo(ox + x[r + 1] * scale, oy - y[r + 1] * scale);
        g.stroke();
      };
      const sel = selectedRow();
      mark(hover, '#ff9f1c', 4);
      mark(sel, '#e0245e', 3);
      const b = layered(s3, key, paintS3);
      if (sel >= 0) {
        b.g.fillStyle = '#e0245e';
        b.g.fillRect(6 + ((sel + 1) / rows) * (b.w - 12) - 1, 0, 2, b.h);
      }
    }

    function selectedRow() {
      if (!S || selected < 0) return -1;
      const r = lowerBound(S.rowMessage, selected);
      return r < S.rowMessage.length && S.rowMessage[r] === selected ? r : -1;
    }

    // The stored segment nearest to (px, py), within 8 pixels.
    function nearest(px, py) {
      if (!t || !S) return -1;
      const { rows, x, y } = S.path;
      let best = -1;
      let bestD = 64;
      for (let r = 0; r < rows; r++) {
        if (S.range && !inRange(r)) continue;
        const ax = t.ox + x[r] * t.scale, ay = t.oy - y[r] * t.scale;
        const bx = t.ox + x[r + 1] * t.scale, by = t.oy - y[r + 1] * t.scale;
        const dx = bx - ax, dy = by - ay;
        const len = dx * dx + dy * dy;
        let u = len ? ((px - ax) * dx + (py - ay) * dy) / len : 0;
        u = Math.max(0, Math.min(1, u));
        const ex = ax + u * dx - px, ey = ay + u * dy - py;
        const d = ex * ex + ey * ey;
        if (d <= bestD) { bestD = d; best = r; }
      }
      return best;
    }

    function describe(r) {
      const m = S.rowMessage[r];
      const steps = S.rowSteps;
      return 'Row ' + (r + 1) + ' of the steps CSV: SEG ' + S.rowSeg[r] +
        (S.rowEnd[r] ? ', end of data' : ', S1 ' + steps[3 * r] + ', S2 ' + steps[3 * r + 1] + ', S3 ' + steps[3 * r + 2] +
          (S.rowPwm[r] >= 0 ? ', PWM ' + S.rowPwm[r] : '')) +
        (m >= 0 ? '; Data message #' + S.number[m] : '');
    }

    let pending = null;
    plan.addEventListener('mousemove', (e) => {
      pending = [e.offsetX, e.offsetY];
      requestAnimationFrame(() => {
        if (!pending) return;
        const r = nearest(pending[0], pending[1]);
        pending = null;
        if (r !== hover) {
          hover = r;
          $('path-hover').textContent = r >= 0 ? describe(r) : '';
          draw();
        }
      });
    });
    plan.addEventListener('mouseleave', () => { hover = -1; $('path-hover').textContent = ''; draw(); });
    plan.addEventListener('click', (e) => {
      const r = nearest(e.offsetX, e.offsetY);
      if (r >= 0 && S.rowMessage[r] >= 0) {
        const i = S.rowMessage[r];
        if (position(i) < 0) { location.hash = '#m=' + S.number[i]; return; }
        select(i);
      }
    });
    s3.addEventListener('click', (e) => {
      if (!S || !S.path || !S.path.rows) return;
      const r = Math.min(S.path.rows - 1, Math.max(0, Math.round(((e.offsetX - 6) / (s3.clientWidth - 12)) * S.path.rows) - 1));
      if (S.rowMessage[r] >= 0) select(S.rowMessage[r]);
    });
    return { reset, draw };
  })();

  window.addEventListener('resize', () => { timeline.draw(); pathView.draw(); renderList(); });

  // ------------------------------------------------------------------ input
  function readFile(file) {
    if (!file) return;
    const again = () => file.arrayBuffer().then((buffer) => [new Uint8Array(buffer)]);
    again().then((parts) => decode(parts, file.name, again), () => setStatus("Can't read the file: " + file.name, true));
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
    if (!lastCapture) return;
    const { name, again } = lastCapture;
    again().then((parts) => decode(parts, name, again), (e) => setStatus("Can't read the capture again: " + e, true));
  });

  // A capture that vornlog -w put in the page.
  const embedded = $('capture');
  if (embedded.firstChild) {
    if (embedded.dataset.device) {
      $('device').appendChild(deviceOption(embedded.dataset.device, embedded.dataset.device));
      $('device').value = embedded.dataset.device;
    }
    if (embedded.dataset.keep) $('f-instructions').value = embedded.dataset.keep;
    performance.mark('vornlog-start');
    const raw = base64Bytes(embedded.textContent);
    // The text is not needed any more: its memory goes.
    embedded.textContent = '';
    performance.mark('vornlog-base64');
    const name = embedded.dataset.name || 'capture';
    if (embedded.dataset.encoding === 'deflate') {
      const again = () => inflate(raw);
      again().then((parts) => {
        performance.mark('vornlog-inflated');
        decode(parts, name, again);
      }, (e) => setStatus('The embedded capture is damaged: ' + e, true));
    } else {
      decode([raw.slice()], name, () => Promise.resolve([raw.slice()]));
    }
  } else {
    timeline.reset();
  }
})();
