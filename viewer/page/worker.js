// The viewer's worker: a pipe between the page and the decoder (the
// WebAssembly module built from the console program's sources). The page's
// messages (messages.js) become requests of the decoder, its one entry (a
// kind, a session, an input; a reply), and the replies the page's
// messages: a capture handed over whole, or live as its bytes come; the
// views' columns, findings and summary once decoded, then the USB devices
// and the search index made in the background; the JSON lines of some
// messages and the text search as the page asks. The module's bytes are
// handed over by the page, so nothing is ever fetched. A second worker of
// this script may inflate a capture for it (inflateTo). In the page, it
// runs in strict mode after messages.js (assemble.py).

let modulePromise = null;

// Base64 to bytes; both decoders pass over the line ends.
function base64Bytes(text) {
  if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(text);
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The module made ready: its entry (pointers and sizes come back as
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
      vornlog: { progress: (pass, share) => postMessage({ type: kToPage.progress, pass, share }) },
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

// The columns' element types, by the names the decoder gives them.
const kColumnTypes = { u8: Uint8Array, i8: Int8Array, i32: Int32Array, f32: Float32Array, f64: Float64Array };

const utf8 = new TextDecoder('utf-8');
const toUtf8 = new TextEncoder();

// The session of the decoder that this worker's page shows.
const kSession = 0;

// One request of the decoder: its kind (kRequest), its input (texts, each
// ended by a 0 in the module's memory, or bytes). Returns its reply: the
// head (the JSON of its first line) and the body's bytes (in the module's
// memory: valid until the next request).
function request(M, kind, input = []) {
  const bytes = input instanceof Uint8Array ? input : toUtf8.encode(input.map((v) => String(v) + '\0').join(''));
  const at = bytes.length ? M.malloc(bytes.length) >>> 0 : 0;
  if (bytes.length && !at) throw new Error('the decoder has no memory left');
  bytesOf(M).set(bytes, at);
  let where;
  try {
    where = M.vornlog_request(kSession, kind, at, bytes.length) >>> 0;
  } finally {
    if (at) M.free(at);
  }
  if (!where) throw new Error('the decoder has no such session');
  const [replyAt, size] = new Uint32Array(M.memory.buffer.slice(where, where + 8));
  const reply = bytesOf(M).subarray(replyAt, replyAt + size);
  const line = reply.indexOf(10);
  return { head: JSON.parse(utf8.decode(line < 0 ? reply : reply.subarray(0, line))),
    body: line < 0 ? reply.subarray(size) : reply.subarray(line + 1) };
}

// A reply's columns (the memory its head names), copied out to hand over
// (with `spare`: into the room it gives).
function columnsOf(M, head, spare) {
  const columns = {};
  for (const c of head.columns) {
    const Type = kColumnTypes[c.type];
    const at = c.at >>> 0;
    const bytes = c.length * Type.BYTES_PER_ELEMENT;
    if (!spare) columns[c.name] = new Type(M.memory.buffer.slice(at, at + bytes));
    else (columns[c.name] = new Type(spare(bytes), 0, c.length)).set(new Type(M.memory.buffer, at, c.length));
  }
  return columns;
}

// The buffers of a live update's columns that the page gave back once it
// had copied them: the next updates' columns are copied into them, so
// that updates leave no buffers behind for the garbage collector.
// (Those of at most 1 MiB, 8 MiB in all: what a burst needed once is not
// held for good.)
const spareBuffers = [];
function givenBack(buffers) {
  let held = spareBuffers.reduce((sum, b) => sum + b.byteLength, 0);
  for (const b of buffers || []) {
    if (!(b instanceof ArrayBuffer) || !b.byteLength || b.byteLength > 2 ** 20 || held + b.byteLength > 2 ** 23) continue;
    spareBuffers.push(b);
    held += b.byteLength;
  }
}
function spareBuffer(bytes) {
  let k = -1; // the smallest that holds them
  spareBuffers.forEach((b, i) => { if (b.byteLength >= bytes && (k < 0 || b.byteLength < spareBuffers[k].byteLength)) k = i; });
  if (k >= 0) return spareBuffers.splice(k, 1)[0];
  // (Rounded up, so that it serves the next updates; one too large to be
  // kept, to its size.)
  return new ArrayBuffer(bytes > 2 ** 20 ? bytes : Math.max(4096, 2 ** Math.ceil(Math.log2(bytes || 1))));
}

// Room in the module's memory for `size` bytes (a capture's, kRequest.room,
// or the live capture's next, kRequest.liveRoom); null when there is none.
function room(M, kind, size) {
  const { head } = request(M, kind, [size]);
  return head.size || !size ? bytesOf(M).subarray(head.at, head.at + size) : null;
}

// What a reply's head says of the capture, for the page.
const kDescribed = ['markBits', 'causes', 'instructions', 'protocol', 'strides', 'perMm'];
function described(head, to) {
  for (const key of kDescribed) to[key] = head[key];
  return to;
}

async function decode(M, asked, began) {
  const { name, device } = asked;
  stopRunning(M);
  if (live) live.stopped = true;
  live = null;
  forgetSearch();
  // The capture's parts go into the module's memory, one after the other;
  // their buffers here are let go.
  const size = asked.parts.reduce((sum, part) => sum + part.byteLength, 0);
  const into = room(M, kRequest.room, size);
  if (!into) throw new Error('the decoder has no memory left for a capture of ' + size + ' bytes');
  let at = 0;
  for (const part of asked.parts) {
    into.set(new Uint8Array(part), at);
    at += part.byteLength;
  }
  asked.parts = null;
  postMessage({ type: kToPage.progress, pass: 1, share: 0 });
  const loaded = performance.now();
  const reply = request(M, kRequest.decode, [name, device || '']);
  const decoded = performance.now();
  decodingDone(M, reply, { module: loaded - began, decode: decoded - loaded });
}

// The capture decoded (`reply`: the decoder's reply): its columns,
// findings, summary and what the console says sent to the page, then the
// USB devices and the search index made in the background. `timing`:
// where the worker's time went, in ms.
function decodingDone(M, reply, timing) {
  const { head } = reply;
  const columns = columnsOf(M, head);
  const result = described(head, {
    type: kToPage.done,
    status: head.status,
    problem: head.problem,
    console: head.console,
    columns,
    // The findings, a JSON line each as vornlog -e writes them.
    findings: utf8.decode(reply.body),
    // Where the worker's time went, in ms (the module made ready, the
    // decoding), and the module's memory then, in bytes.
    timing: Object.assign(timing, { memory: M.memory.buffer.byteLength }),
  });
  request(M, kRequest.release);
  postMessage(result, Object.values(columns).map((v) => v.buffer));
  postMessage({ type: kToPage.summary, summary: head.summary });
  const run = { stopped: false };
  running = run;
  afterDecoding(M, run).catch((e) => {
    if (!run.stopped) failed(e);
  });
}

function failed(e) {
  postMessage({ type: kToPage.failed, text: String(e && e.message ? e.message : e) });
}

// The device scan and the search index each go over the capture once
// more: they run in slices of some milliseconds, one event of the worker
// each, so that a question of the page (a message's details, a search)
// waits for one slice at most, not for the whole pass.
const kSliceMs = 8;
const kStep = 2048; // packets (or messages) for one request
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

// Asks `kind` slice after slice until its reply says it is done (its
// head, returned), or the run is stopped (null).
async function slices(M, run, kind, count) {
  for (;;) {
    await nextTurn();
    if (run.stopped) return null;
    const quiet = quietUntil - performance.now();
    if (quiet > 0) {
      await new Promise((resolve) => setTimeout(resolve, quiet));
      continue;
    }
    const began = performance.now();
    do {
      const { head } = request(M, kind, [count]);
      if (head.done) return head;
    } while (performance.now() - began < kSliceMs);
  }
}

async function afterDecoding(M, run) {
  // The USB devices of the capture, for the page's choice.
  const scanned = await slices(M, run, kRequest.devices, kStep);
  if (!scanned) return;
  postMessage({ type: kToPage.devices, devices: scanned.devices });
  // The text search's index, from the messages kept.
  if (!await slices(M, run, kRequest.index, kStep)) return;
  running = null;
  indexed = true;
  postMessage({ type: kToPage.indexed });
  if (searchAsked && !searching) runSearches(M);
}

// A new capture stops the passes of the last one before its bytes are
// replaced.
function stopRunning(M) {
  if (!running) return;
  running.stopped = true;
  running = null;
  request(M, kRequest.stop);
}

function lines(M, { id, indices }) {
  const asked = Int32Array.from(indices);
  const { body } = request(M, kRequest.lines, new Uint8Array(asked.buffer));
  postMessage({ type: kToPage.lines, id, indices, lines: utf8.decode(body).split('\n').slice(0, indices.length) });
}

// The text search: the latest search asked, answered once the index is
// made. A search asked while another is under way or waiting cancels it:
// the older one is answered { cancelled: true } at the next step.
const kSearchStep = 65536; // messages for one request
let searchAsked = null; // { id, query } not begun yet
let searchToken = 0; // changes with every search asked and every capture
let searching = false;
let indexed = false;

// A new capture: a search of the last one is answered no more.
function forgetSearch() {
  indexed = false;
  searchToken++;
  if (searchAsked) postMessage({ type: kToPage.search, id: searchAsked.id, cancelled: true });
  searchAsked = null;
}

function askSearch(m) {
  if (searchAsked) postMessage({ type: kToPage.search, id: searchAsked.id, cancelled: true });
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
    request(M, kRequest.search, [query]);
    let hits = null;
    for (;;) {
      const reply = request(M, kRequest.searchStep, [kSearchStep]);
      if (reply.head.done) hits = reply.body.slice();
      if (hits || token !== searchToken) break;
      await nextTurn();
      if (token !== searchToken) break;
    }
    if (!hits || token !== searchToken) {
      postMessage({ type: kToPage.search, id, cancelled: true });
      continue;
    }
    postMessage({ type: kToPage.search, id, hits, ms: performance.now() - began }, [hits.buffer]);
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
// ended and everything is decoded. Then come the devices and the search
// index, as after a capture decoded at once.
const kUpdateMs = 100;
const kLiveStep = 512; // records for one request
const kIdleMs = 250; // how often the findings engine hears that time passes
const kInputQuietMs = 1000; // the input quiet this long before the server says so
// { name, device, pumping, lastPost, timer, done, stopped, dirty (decoded
// since the last update), drawing (the page draws the last update),
// quietFrom (since when the input is quiet, as the server said; 0: it is not) }
let live = null;

function liveBegin(M, { name, device, expected, whole, port, keep }, began) {
  stopRunning(M);
  if (live) live.stopped = true;
  forgetSearch();
  live = { name, device: device || '', pumping: false, lastPost: 0, timer: 0, done: false, stopped: false,
    dirty: false, drawing: false, quietFrom: 0, whole: !!whole, expected: expected || 0,
    began, loaded: performance.now(), firstBytes: 0, messages: 0, size: 0 };
  const begun = request(M, kRequest.liveBegin, [name, live.device, expected || 0, whole ? 1 : 0, whole ? 0 : keep || 0]).head;
  if (whole) {
    // The pieces come from the inflating worker, in their order.
    if (port) port.onmessage = onmessage;
    if (begun.status !== 0) {
      // (The page shows the capture empty, with the problem.)
      live.done = true;
      decodingDone(M, request(M, kRequest.liveUpdate, [1]), { module: live.loaded - began, decode: 0 });
    }
    return;
  }
  if (begun.status !== 0) {
    live.done = true;
    postMessage({ type: kToPage.failed, text: begun.problem });
    return;
  }
  // While the input is quiet, the findings engine hears that time passes
  // (as the console's does while it waits for its input). Quiet as the
  // server says, not as the bytes come here: bytes held up on their way
  // (a busy machine, a page that draws) are no time that passed in the
  // capture.
  const run = live;
  const idle = setInterval(() => {
    if (run.stopped || run.done) {
      clearInterval(idle);
      return;
    }
    const waited = performance.now() - run.quietFrom;
    if (!run.pumping && run.quietFrom && request(M, kRequest.liveIdle, [waited]).head.found) {
      run.dirty = true;
      soon(M, run);
    }
  }, kIdleMs);
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
  })().catch((e) => failed(e));
}

// The page told how the input goes, when that changes (or with a problem).
function said(s, state, problem, saved) {
  if (s.state === state && !problem) return;
  s.state = state;
  postMessage({ type: kToPage.stream, state, problem, saved });
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
        if (live) live.quietFrom = 0;
        said(s, 'live');
      } else if (kind === 'Q') {
        // (The server says so once the input has been quiet a second.)
        if (live && !live.quietFrom) live.quietFrom = performance.now() - kInputQuietMs;
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
  const into = room(M, kRequest.liveRoom, bytes.length);
  if (!into) {
    postMessage({ type: kToPage.failed, text: 'the decoder has no memory left for the live capture' });
    return false;
  }
  into.set(bytes);
  live.size = request(M, kRequest.liveAdd, [bytes.length]).head.size;
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
  if (live.expected) postMessage({ type: kToPage.progress, pass: 1, share: live.size / live.expected });
  pump(M, live);
}

function liveEnd(M) {
  if (!live || live.done) return;
  request(M, kRequest.liveEnd);
  pump(M, live);
}

async function pump(M, run) {
  if (run.pumping || run.done) return;
  run.pumping = true;
  try {
    for (;;) {
      const began = performance.now();
      let step;
      do {
        step = request(M, kRequest.liveStep, [kLiveStep]).head;
        run.messages = step.messages;
      } while (step.status === 1 && performance.now() - began < kSliceMs);
      if (step.status === 2) {
        run.done = true;
        clearTimeout(run.timer);
        if (run.whole) {
          const decodedAt = performance.now();
          // (Decoding from the first bytes on, while they came.)
          decodingDone(M, request(M, kRequest.liveUpdate, [1]),
            { module: run.loaded - run.began, decode: decodedAt - (run.firstBytes || decodedAt) });
          return;
        }
        postUpdate(M, run, true);
        afterLive(M, run);
        return;
      }
      run.dirty = true;
      soon(M, run);
      if (step.status === 0) return;
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
  const { head, body } = request(M, kRequest.liveUpdate, [done ? 1 : 0]);
  const columns = columnsOf(M, head, spareBuffer);
  const update = described(head, { type: kToPage.update, done, from: head.from, rowsFrom: head.rowsFrom,
    again: head.again, base: head.base, rowBase: head.rowBase, memory: M.memory.buffer.byteLength, columns,
    findings: utf8.decode(body) });
  if (done) {
    update.status = head.status;
    update.problem = head.problem;
    update.console = head.console;
  }
  postMessage(update, Object.values(columns).map((v) => v.buffer));
  if (done) postMessage({ type: kToPage.summary, summary: head.summary });
}

// Once the live capture is decoded to its end: the devices and the search
// index, in the background.
function afterLive(M) {
  request(M, kRequest.release);
  const background = { stopped: false };
  running = background;
  afterDecoding(M, background).catch((e) => {
    if (!background.stopped) failed(e);
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
    port.postMessage({ type: kToWorker.bytes, bytes: piece.buffer }, [piece.buffer]);
  };
  const inflater = partsInflater((value) => {
    waiting.push(value);
    size += value.length;
    if (size >= kPiece) send();
  });
  inflating = { inflater, parts, done: () => {
    if (size) send();
    port.postMessage({ type: kToWorker.end });
    postMessage({ type: kToPage.inflated, parts }, parts.map((p) => p.buffer));
  } };
}

// A part of the capture (base64; null: the last has come) to inflate.
function inflatePart(text) {
  const { inflater, parts, done } = inflating;
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
  inflater.end().then(() => postMessage({ type: kToPage.inflated, parts: out }, [...new Set(out.map((p) => p.buffer))]),
    (e) => failed(e));
}

// The page's messages, by their type: those answered at once, and those
// answered one at a time in the order asked (a question asked while a
// capture is decoded waits for its decoding, not for its background
// passes).
const kAtOnce = {
  [kToWorker.inflate]: (m) => inflateTo(m.port),
  [kToWorker.part]: (m) => inflatePart(m.text),
  [kToWorker.inflateKept]: (m) => inflateKept(m.parts),
  [kToWorker.search]: (m) => askSearch(m),
  [kToWorker.drawn]: (m) => { givenBack(m.spare); drawn(); },
};
const kInTurn = {
  [kToWorker.decode]: (M, m, began) => decode(M, m, began),
  [kToWorker.live]: (M, m) => follow(M, m),
  [kToWorker.pieces]: (M, m, began) => liveBegin(M, m, began),
  [kToWorker.bytes]: (M, m) => piece(M, m.bytes),
  [kToWorker.end]: (M) => liveEnd(M),
  [kToWorker.lines]: (M, m) => {
    lines(M, m);
    quietUntil = performance.now() + kQuietMs;
  },
};

let queue = Promise.resolve();
onmessage = (event) => {
  const m = event.data;
  if (kAtOnce[m.type]) {
    kAtOnce[m.type](m);
    return;
  }
  const inTurn = kInTurn[m.type];
  if (!inTurn) return;
  queue = queue.then(async () => {
    try {
      const began = performance.now();
      await inTurn(await loadModule(m.wasm || null), m, began);
    } catch (e) {
      failed(e);
    }
  });
};
