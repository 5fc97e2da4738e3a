// The viewer's worker: runs the decoder (the WebAssembly module built from
// the console program's sources) on one capture (handed over whole, or
// live, as its bytes come), sends the page the views'
// columns and the findings, then the summary and the USB devices (written in the
// background), and answers the page's questions as they come: the JSON
// lines of some messages (their details, as vornlog -j writes them) and the
// messages whose line holds a text (from an index made after the summary). The module's bytes are handed over by
// the page, so nothing is ever fetched. A second worker of this script may
// inflate a capture for it (inflateTo).
'use strict';

let modulePromise = null;

// Base64 to bytes; both decoders pass over the line ends.
function base64Bytes(text) {
  if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(text);
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The module made ready: its functions (pointers and sizes come back as
// signed numbers: read them with >>> 0) and its memory. Of the system it
// asks only what its C library's writes to the standard streams need
// (nothing it writes there reaches the page). A module that stops (a fault
// of the program, its memory exhausted) makes the question under way fail.
// `wasm`: the module's bytes, or their base64.
function loadModule(wasm) {
  if (!modulePromise) {
    const ok = 0;
    const badFile = 8; // EBADF: no file can be sought
    let M = null;
    const system = {
      fd_write: (fd, iovs, count, written) => {
        const view = new DataView(M.memory.buffer);
        let n = 0;
        for (let k = 0; k < count; k++) n += view.getUint32((iovs >>> 0) + 8 * k + 4, true);
        view.setUint32(written >>> 0, n, true);
        return ok;
      },
      fd_close: () => ok,
      fd_seek: () => badFile,
    };
    const imports = {
      wasi_snapshot_preview1: system,
      vornlog: { progress: (pass, share) => postMessage({ type: 'progress', pass, share }) },
    };
    const wasmBytes = typeof wasm === 'string' ? base64Bytes(wasm) : wasm;
    modulePromise = WebAssembly.instantiate(wasmBytes, imports).then(({ instance }) => {
      M = instance.exports;
      M._initialize();
      return M;
    });
  }
  return modulePromise;
}

const bytesOf = (M) => new Uint8Array(M.memory.buffer);

// A copy of n elements of the given typed array type at a pointer.
function copyOut(M, Type, pointer, n) {
  const at = pointer >>> 0;
  return new Type(M.memory.buffer.slice(at, at + n * Type.BYTES_PER_ELEMENT));
}

// The columns' element types, by the names the decoder gives them.
const kColumnTypes = { u8: Uint8Array, i8: Int8Array, i32: Int32Array, f32: Float32Array, f64: Float64Array };

const utf8 = new TextDecoder('utf-8');
const toUtf8 = new TextEncoder();

// The text at a pointer: `size` bytes, or up to its terminating 0.
function textAt(M, pointer, size) {
  const at = pointer >>> 0;
  const heap = bytesOf(M);
  const end = size === undefined ? heap.indexOf(0, at) : at + (size >>> 0);
  return utf8.decode(heap.subarray(at, end));
}

// Calls f with the texts put in the module's memory (UTF-8, each ended by
// a 0), freed after.
function withTexts(M, texts, f) {
  const at = texts.map((text) => {
    const bytes = toUtf8.encode(text);
    const p = M.malloc(bytes.length + 1) >>> 0;
    if (!p) throw new Error('the decoder has no memory left');
    const heap = bytesOf(M);
    heap.set(bytes, p);
    heap[p + bytes.length] = 0;
    return p;
  });
  try {
    return f(...at);
  } finally {
    for (const p of at) M.free(p);
  }
}

async function decode(M, asked, began) {
  const { name, device } = asked;
  stopRunning(M);
  if (live) live.stopped = true;
  live = null;
  // A search of the last capture is answered no more.
  indexed = false;
  searchToken++;
  if (searchAsked) postMessage({ type: 'search', id: searchAsked.id, cancelled: true });
  searchAsked = null;
  // The capture's parts go into the module's memory, one after the other;
  // their buffers here are let go.
  const size = asked.parts.reduce((sum, part) => sum + part.byteLength, 0);
  let at = M.vornlog_capture(size) >>> 0;
  if (!at) throw new Error('the decoder has no memory left for a capture of ' + size + ' bytes');
  const heap = bytesOf(M);
  for (const part of asked.parts) {
    heap.set(new Uint8Array(part), at);
    at += part.byteLength;
  }
  asked.parts = null;
  postMessage({ type: 'progress', pass: 1, share: 0 });
  const loaded = performance.now();
  const status = withTexts(M, [name, device || ''], (n, d) => M.vornlog_decode(n, d));
  const decoded = performance.now();
  decodingDone(M, name, device, status, { module: loaded - began, decode: decoded - loaded });
}

// The capture decoded: its columns, findings and what the console says
// sent to the page, then the summary and the USB devices made in the
// background. `timing`: where the worker's time went, in ms.
function decodingDone(M, name, device, status, timing) {
  // Every column as the decoder describes it: copied out whatever it is.
  const described = JSON.parse(textAt(M, M.vornlog_columns()));
  const columns = {};
  for (const c of described.columns) columns[c.name] = copyOut(M, kColumnTypes[c.type], c.at, c.length);
  const result = {
    type: 'done',
    status,
    problem: textAt(M, M.vornlog_problem()),
    console: textAt(M, M.vornlog_console()),
    columns,
    markBits: described.markBits,
    causes: described.causes,
    instructions: described.instructions,
    protocol: described.protocol,
    strides: described.strides,
    // The findings, a JSON line each as vornlog -e writes them.
    findings: textAt(M, M.vornlog_findings()),
    // Where the worker's time went, in ms (the module made ready, the
    // decoding), and the module's memory then, in bytes.
    timing: Object.assign(timing, { memory: M.memory.buffer.byteLength }),
  };
  M.vornlog_release();
  const transfer = Object.values(columns).map((v) => v.buffer);
  postMessage(result, transfer);
  // Then the summary and the USB devices, in the background.
  const run = { stopped: false };
  running = run;
  afterDecoding(M, run, name, device || '').catch((e) => {
    if (!run.stopped) postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
  });
}

// The summary and the device scan each read the whole capture once more:
// they run in slices of some milliseconds, one event of the worker each,
// so that a question of the page (a message's details, a search) waits for
// one slice at most, not for the whole pass.
const kSliceMs = 8;
const kStep = 2048; // records (or packets) for one call into the decoder
let running = null; // the passes after the decoding, while they run: { stopped }
// After a question, the passes wait a little: the page draws the answer
// (and asks the next question) with the processor to itself.
const kQuietMs = 50;
let quietUntil = 0;

// The next turn of the worker's event loop: the questions that came in the
// meantime are answered first.
const turns = new MessageChannel();
const waiting = [];
turns.port1.onmessage = () => waiting.shift()();
function nextTurn() {
  return new Promise((resolve) => {
    waiting.push(resolve);
    turns.port2.postMessage(null);
  });
}

// Runs `step` slice after slice until it says it is done (true), or the
// run is stopped (false).
async function slices(run, step) {
  for (;;) {
    await nextTurn();
    if (run.stopped) return false;
    const quiet = quietUntil - performance.now();
    if (quiet > 0) {
      await new Promise((resolve) => setTimeout(resolve, quiet));
      continue;
    }
    const began = performance.now();
    do {
      if (step()) return true;
    } while (performance.now() - began < kSliceMs);
  }
}

async function afterDecoding(M, run, name, device) {
  // The summary, which the page shows when it comes.
  withTexts(M, [name, device], (n, d) => M.vornlog_summary_begin(n, d));
  if (!await slices(run, () => M.vornlog_summary_step(kStep))) return;
  M.vornlog_summary_finish();
  const summary = textAt(M, M.vornlog_summary());
  M.vornlog_release();
  postMessage({ type: 'summary', summary });
  // The USB devices of the capture, for the page's choice.
  M.vornlog_devices_begin();
  if (!await slices(run, () => M.vornlog_devices_step(kStep))) return;
  M.vornlog_devices_finish();
  const devices = textAt(M, M.vornlog_scratch(), M.vornlog_scratch_size()).split('\n').filter(Boolean)
    .map((line) => { const [device, packets] = line.split(' '); return { device, packets: Number(packets) }; });
  M.vornlog_capture_free();
  postMessage({ type: 'devices', devices });
  // The text search's index, from the messages kept.
  M.vornlog_index_begin();
  if (!await slices(run, () => M.vornlog_index_step(kStep))) return;
  running = null;
  indexed = true;
  postMessage({ type: 'indexed' });
  if (searchAsked && !searching) runSearches(M);
}

// A new capture stops the passes of the last one before its bytes are
// replaced.
function stopRunning(M) {
  if (!running) return;
  running.stopped = true;
  running = null;
  M.vornlog_background_stop();
}

function lines(M, { id, indices }) {
  const at = M.malloc(indices.length * 4 + 4) >>> 0;
  if (!at) throw new Error('the decoder has no memory left');
  new Int32Array(M.memory.buffer, at, indices.length).set(indices);
  M.vornlog_lines(at, indices.length);
  M.free(at);
  const text = textAt(M, M.vornlog_scratch(), M.vornlog_scratch_size());
  postMessage({ type: 'lines', id, indices, lines: text.split('\n').slice(0, indices.length) });
}

// The text search: the latest search asked, answered once the index is
// made. A search asked while another is under way or waiting cancels it:
// the older one is answered { cancelled: true } at the next step.
const kSearchStep = 65536; // messages for one call into the decoder
let searchAsked = null; // { id, query } not begun yet
let searchToken = 0; // changes with every search asked and every capture
let searching = false;
let indexed = false;

function askSearch(m) {
  if (searchAsked) postMessage({ type: 'search', id: searchAsked.id, cancelled: true });
  searchAsked = m;
  searchToken++;
  if (indexed && !searching) modulePromise.then(runSearches);
}

async function runSearches(M) {
  searching = true;
  while (searchAsked && indexed) {
    const { id, query } = searchAsked;
    searchAsked = null;
    const token = searchToken;
    const began = performance.now();
    withTexts(M, [query], (at) => M.vornlog_search_begin(at, toUtf8.encode(query).length));
    let done = false;
    for (;;) {
      done = M.vornlog_search_step(kSearchStep);
      if (done || token !== searchToken) break;
      await nextTurn();
      if (token !== searchToken) break;
    }
    if (!done || token !== searchToken) {
      postMessage({ type: 'search', id, cancelled: true });
      continue;
    }
    const hits = copyOut(M, Uint8Array, M.vornlog_hits(), M.vornlog_hits_size());
    postMessage({ type: 'search', id, hits, ms: performance.now() - began }, [hits.buffer]);
    quietUntil = performance.now() + kQuietMs;
  }
  searching = false;
}

// A live capture (vornlog -l): the page hands over its bytes as they come;
// so too a capture that the page inflates as it reads it (`whole`: no
// update and no idle time, findings as of a capture read at once, and its
// columns sent once decoded, as a capture handed over whole);
// the decoder decodes the whole records among them, slice after slice, and
// the page is told what changed (an update: the columns from the first
// message that changed, the new findings) at most every kUpdateMs, once
// the page has drawn the last update, and at once when the input has
// ended and everything is decoded. Then come the summary, the devices and
// the search index, as after a capture decoded at once.
const kUpdateMs = 100;
const kLiveStep = 512; // records for one call into the decoder
const kIdleMs = 250; // how often the findings engine hears that time passes
// { name, device, pumping, lastPost, timer, done, stopped, dirty (decoded
// since the last update), drawing (the page draws the last update) }
let live = null;

function liveBegin(M, { name, device, expected, whole, port, keep }, began) {
  stopRunning(M);
  if (live) live.stopped = true;
  indexed = false;
  searchToken++;
  if (searchAsked) postMessage({ type: 'search', id: searchAsked.id, cancelled: true });
  searchAsked = null;
  live = { name, device: device || '', pumping: false, lastPost: 0, timer: 0, done: false, stopped: false,
    dirty: false, drawing: false, lastMessage: performance.now(), whole: !!whole, expected: expected || 0,
    began, loaded: performance.now(), firstBytes: 0 };
  if (whole) {
    // The pieces come from the inflating worker, in their order.
    if (port) port.onmessage = onmessage;
    if (withTexts(M, [name, live.device], (n, d) => M.vornlog_live_begin(n, d, expected || 0, 1, 0)) !== 0) {
      live.done = true;
      decodingDone(M, name, live.device, 1, { module: live.loaded - began, decode: 0 });
    }
    return;
  }
  // While no message comes, the findings engine hears that time passes
  // (as the console's does while it waits for its input).
  const run = live;
  const idle = setInterval(() => {
    if (run.stopped || run.done) {
      clearInterval(idle);
      return;
    }
    const waited = performance.now() - run.lastMessage;
    if (!run.pumping && waited >= kIdleMs && M.vornlog_live_idle(waited)) {
      run.dirty = true;
      soon(M, run);
    }
  }, kIdleMs);
  if (withTexts(M, [name, live.device], (n, d) => M.vornlog_live_begin(n, d, expected || 0, 0, keep || 0)) !== 0) {
    live.done = true;
    postMessage({ type: 'failed', text: textAt(M, M.vornlog_problem()) });
  }
}

// The capture stream, read here, so that the page's drawing never holds
// up the bytes: `GET url?start=S&from=N` gives the capture's bytes from
// offset N in frames (a kind, the payload's length in 4 bytes
// little-endian, the payload): B bytes, Q the input quiet for a second, E
// the input ended (the payload: where the page was saved), X the server
// could not keep the capture (the payload: why; nothing more comes). A stream cut
// short is asked for again every kAgainMs from the offset decoded; a new
// capture (the first, or a followed file read again from its start or
// replaced) is decoded from its first byte. The page hears how the input
// goes: { type: 'stream', state: 'live', 'waiting', 'ended' or 'error',
// saved, problem }.
const kAgainMs = 500;
let stream = null; // { url, name, device, start, offset, ended, state }

function follow(M, asked) {
  const s = { url: asked.url, name: asked.name, device: asked.device, keep: asked.keep, start: null, offset: 0, ended: false,
    state: '' };
  stream = s;
  (async () => {
    while (s === stream && !s.ended) {
      try {
        const query = s.start === null ? '' : '?start=' + s.start + '&from=' + s.offset;
        const response = await fetch(s.url + query, { cache: 'no-store' });
        if (!response.ok) throw new Error('the server answered ' + response.status);
        const start = response.headers.get('X-Capture-Start');
        const from = Number(response.headers.get('X-Capture-From'));
        if (s !== stream) return;
        if (start !== s.start || from !== s.offset) {
          s.start = start;
          s.offset = from;
          liveBegin(M, { name: s.name, device: s.device, keep: s.keep,
            expected: Number(response.headers.get('X-Capture-Size')) || 0 });
        }
        await frames(M, s, response.body.getReader());
      } catch (e) {
        if (s !== stream || s.ended) return;
        said(s, 'waiting', 'The live viewer cannot be reached (' + (e && e.message ? e.message : e) + '): trying again');
      }
      if (s !== stream || s.ended) return;
      await new Promise((resolve) => setTimeout(resolve, kAgainMs));
    }
  })().catch((e) => postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) }));
}

// The page told how the input goes, when that changes (or with a problem).
function said(s, state, problem, saved) {
  if (s.state === state && !problem) return;
  s.state = state;
  postMessage({ type: 'stream', state, problem, saved });
}

async function frames(M, s, reader) {
  let buffer = new Uint8Array(1 << 16);
  let have = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done || s !== stream) return;
    if (have + value.length > buffer.length) {
      const grown = new Uint8Array(Math.max(buffer.length * 2, have + value.length));
      grown.set(buffer.subarray(0, have));
      buffer = grown;
    }
    buffer.set(value, have);
    have += value.length;
    // The whole frames that came: their bytes straight into the decoder's memory.
    let at = 0;
    while (have - at >= 5) {
      const size = (buffer[at + 1] | buffer[at + 2] << 8 | buffer[at + 3] << 16 | buffer[at + 4] << 24) >>> 0;
      if (have - at < 5 + size) break;
      const kind = String.fromCharCode(buffer[at]);
      const payload = buffer.subarray(at + 5, at + 5 + size);
      at += 5 + size;
      if (kind === 'B') {
        if (!liveBytes(M, payload)) {
          s.ended = true;
          reader.cancel();
          return;
        }
        s.offset += size;
        said(s, 'live');
      } else if (kind === 'Q') {
        said(s, 'waiting');
      } else if (kind === 'X') {
        s.ended = true;
        said(s, 'error', utf8.decode(payload));
        pump(M, live);
        reader.cancel();
        return;
      } else if (kind === 'E') {
        s.ended = true;
        said(s, 'ended', undefined, utf8.decode(payload));
        liveEnd(M);
        reader.cancel();
        return;
      }
    }
    if (at) pump(M, live);
    buffer.copyWithin(0, at, have);
    have -= at;
  }
}

// The bytes added to the live capture; false (the page told) when the
// decoder's memory has no room for them.
function liveBytes(M, bytes) {
  if (!live || live.done) return true;
  const at = M.vornlog_live_room(bytes.length) >>> 0;
  if (!at) {
    postMessage({ type: 'failed', text: 'the decoder has no memory left for the live capture' });
    return false;
  }
  bytesOf(M).set(bytes, at);
  M.vornlog_live_add(bytes.length);
  return true;
}

// A piece of a capture that comes in pieces (liveBegin's `whole`), from
// the worker that inflates it.
function piece(M, buffer) {
  if (!live || !live.whole || live.done) return;
  if (!live.firstBytes) live.firstBytes = performance.now();
  if (!liveBytes(M, new Uint8Array(buffer))) {
    live.done = true;
    return;
  }
  if (live.expected) postMessage({ type: 'progress', pass: 1, share: M.vornlog_live_size() / live.expected });
  pump(M, live);
}

function liveEnd(M) {
  if (!live || live.done) return;
  M.vornlog_live_end();
  pump(M, live);
}

async function pump(M, run) {
  if (run.pumping || run.done) return;
  run.pumping = true;
  try {
    for (;;) {
      const began = performance.now();
      const decoded = M.vornlog_live_messages();
      let status;
      do status = M.vornlog_live_step(kLiveStep);
      while (status === 1 && performance.now() - began < kSliceMs);
      if (M.vornlog_live_messages() !== decoded) run.lastMessage = performance.now();
      if (status === 2) {
        run.done = true;
        clearTimeout(run.timer);
        if (run.whole) {
          const decoded = performance.now();
          // (Decoding from the first bytes on, while they came.)
          decodingDone(M, run.name, run.device, textAt(M, M.vornlog_problem()) ? 1 : 0,
            { module: run.loaded - run.began, decode: decoded - (run.firstBytes || decoded) });
          return;
        }
        postUpdate(M, run, true);
        afterLive(M, run);
        return;
      }
      run.dirty = true;
      soon(M, run);
      if (status === 0) return;
      await nextTurn();
      if (run.stopped) return;
    }
  } finally {
    run.pumping = false;
  }
}

// The next update: once the page has drawn the last (a page slower to
// draw gets fewer updates, each with more in it), and kUpdateMs after it.
function soon(M, run) {
  if (run.whole || !run.dirty || run.drawing || run.timer || run.done || run.stopped) return;
  const since = performance.now() - run.lastPost;
  if (since >= kUpdateMs) postUpdate(M, run, false);
  else run.timer = setTimeout(() => { run.timer = 0; soon(M, run); }, kUpdateMs - since);
}

function drawn() {
  if (!live || !live.drawing) return;
  live.drawing = false;
  modulePromise.then((M) => soon(M, live));
}

function postUpdate(M, run, done) {
  run.lastPost = performance.now();
  run.dirty = false;
  run.drawing = !done;
  const described = JSON.parse(textAt(M, M.vornlog_live_update()));
  const findings = textAt(M, M.vornlog_scratch(), M.vornlog_scratch_size());
  const columns = {};
  for (const c of described.columns) columns[c.name] = copyOut(M, kColumnTypes[c.type], c.at, c.length);
  const update = { type: 'update', done, from: described.from, rowsFrom: described.rowsFrom, again: described.again,
    base: described.base, rowBase: described.rowBase, memory: M.memory.buffer.byteLength,
    columns, markBits: described.markBits, causes: described.causes, instructions: described.instructions,
    protocol: described.protocol, strides: described.strides, findings };
  if (done) {
    update.status = textAt(M, M.vornlog_problem()) ? 1 : 0;
    update.problem = textAt(M, M.vornlog_problem());
    update.console = textAt(M, M.vornlog_console());
  }
  postMessage(update, Object.values(columns).map((v) => v.buffer));
}

// Once the live capture is decoded to its end: the summary, the devices
// and the search index, in the background.
function afterLive(M, run) {
  M.vornlog_release();
  const background = { stopped: false };
  running = background;
  afterDecoding(M, background, run.name, run.device).catch((e) => {
    if (!background.stopped) postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
  });
}

// The capture compressed by vornlog -w: parts, each the four bytes of its
// length (little-endian) then a zlib stream of its own. Returns
// { add(bytes), end() }: add takes the compressed bytes in pieces as they
// come, whatever their bounds; each part is inflated by a
// DecompressionStream of its own, and what it gives goes to `take`, in the
// parts' order. end() resolves once all is handed on, and fails when a
// part does not inflate or the bytes end inside one.
function partsInflater(take) {
  const head = new Uint8Array(4);
  let have = 0; // bytes of the next part's length
  let left = 0; // bytes of the open part still to come
  let writer = null;
  let inflated = Promise.resolve();
  const open = () => {
    const stream = new DecompressionStream('deflate');
    writer = stream.writable.getWriter();
    const reader = stream.readable.getReader();
    inflated = inflated.then(async () => {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) return;
        take(value);
      }
    });
  };
  return {
    add(bytes) {
      let at = 0;
      while (at < bytes.length) {
        if (!writer) {
          while (have < 4 && at < bytes.length) head[have++] = bytes[at++];
          if (have < 4) return;
          have = 0;
          left = (head[0] | (head[1] << 8) | (head[2] << 16) | (head[3] << 24)) >>> 0;
          open();
        }
        const n = Math.min(left, bytes.length - at);
        // (A write that fails makes the reading fail, which says why.)
        if (n) writer.write(bytes.subarray(at, at + n)).catch(() => {});
        at += n;
        left -= n;
        if (!left) {
          writer.close().catch(() => {});
          writer = null;
        }
      }
    },
    end() {
      if (writer) writer.abort(new Error('the capture ends inside a part')).catch(() => {});
      const cut = have > 0;
      return inflated.then(() => {
        if (cut) throw new Error('the capture ends inside a part');
      });
    },
  };
}

// A worker that only inflates a capture compressed by vornlog -w: its
// parts come from the page (base64) as the browser reads them, and what
// they give goes to the decoding worker (`port`) in pieces of about kPiece
// bytes, then { type: 'end' }; the page hears 'inflated' with the parts'
// bytes (to decode the capture again), or 'failed'.
const kPiece = 1 << 20;
let inflating = null; // { inflater, parts, send }

function inflateTo(port) {
  const parts = [];
  let waiting = [];
  let size = 0;
  const send = () => {
    const piece = new Uint8Array(size);
    let at = 0;
    for (const p of waiting) {
      piece.set(p, at);
      at += p.length;
    }
    waiting = [];
    size = 0;
    port.postMessage({ type: 'bytes', bytes: piece.buffer }, [piece.buffer]);
  };
  const inflater = partsInflater((value) => {
    waiting.push(value);
    size += value.length;
    if (size >= kPiece) send();
  });
  inflating = { inflater, parts, done: () => {
    if (size) send();
    port.postMessage({ type: 'end' });
    postMessage({ type: 'inflated', parts }, parts.map((p) => p.buffer));
  } };
}

// A part of the capture (base64; null: the last has come) to inflate.
function inflatePart(text) {
  const { inflater, parts, done } = inflating;
  const failed = (e) => postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
  if (text === null) {
    inflater.end().then(done, failed);
    return;
  }
  let bytes;
  try {
    bytes = base64Bytes(text);
  } catch (e) {
    // (Said once the parts before it are inflated.)
    inflating.inflater = { add() {}, end: () => inflater.end().then(() => { throw e; }) };
    return;
  }
  parts.push(bytes);
  inflater.add(bytes);
}

// The capture's compressed bytes kept by the page (`parts`), inflated
// again: the page hears 'inflated' with what they give, or 'failed'.
function inflateKept(parts) {
  const out = [];
  const inflater = partsInflater((value) => out.push(value));
  for (const p of parts) inflater.add(new Uint8Array(p));
  inflater.end().then(() => postMessage({ type: 'inflated', parts: out }, [...new Set(out.map((p) => p.buffer))]),
    (e) => postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) }));
}

let queue = Promise.resolve();
onmessage = (event) => {
  const m = event.data;
  if (m.type === 'inflate') {
    inflateTo(m.port);
    return;
  }
  if (m.type === 'part') {
    inflatePart(m.text);
    return;
  }
  if (m.type === 'inflate-kept') {
    inflateKept(m.parts);
    return;
  }
  if (m.type === 'search') {
    askSearch(m);
    return;
  }
  if (m.type === 'drawn') {
    drawn();
    return;
  }
  // One question at a time, in the order asked; a question asked while a
  // capture is decoded waits for its decoding, not for its summary.
  queue = queue.then(async () => {
    try {
      const began = performance.now();
      const M = await loadModule(m.wasm || null);
      if (m.type === 'decode') await decode(M, m, began);
      else if (m.type === 'live') follow(M, m);
      else if (m.type === 'pieces') liveBegin(M, m, began);
      else if (m.type === 'bytes') piece(M, m.bytes);
      else if (m.type === 'end') liveEnd(M);
      else if (m.type === 'lines') {
        lines(M, m);
        quietUntil = performance.now() + kQuietMs;
      }
    } catch (e) {
      postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
    }
  });
};
