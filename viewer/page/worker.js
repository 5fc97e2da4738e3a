// The viewer's worker: a pipe between the page and the decoder (the
// WebAssembly module built from the console program's sources). The page's
// messages (messages.js) become requests of the decoder, its one entry (a
// kind, a session, an input; a reply); each reply names the messages for
// the page that it made ready, which are posted as they are, the columns
// and texts they name copied out. The decoder decides what work is due;
// the worker moves the bytes (the module's, handed over by the page, so
// that nothing is ever fetched; a capture's; a live capture's stream),
// and takes turns: it asks for the decoder's work in slices, so that the
// page's questions are answered between them. A second worker of this
// script may inflate a capture for it (inflateTo). In the page, it runs in
// strict mode after messages.js (assemble.py).

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
// (nothing it writes there reaches the page); of the worker, the clock and
// the progress bar. A module that stops (a fault of the program, its
// memory exhausted) makes the question under way fail.
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
      vornlog: {
        progress: (pass, share) => postMessage({ type: kToPage.progress, pass, share }),
        now: () => performance.now(),
      },
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

class NoRoom extends Error {}

// One request of the decoder: its kind (kRequest), its input (texts, each
// ended by a 0, then bytes: one array, or the buffers of a capture's
// parts one after the other), written into the module's memory, which
// the decoder takes over. The messages its reply names are posted to the
// page; returns the reply's head.
function request(M, kind, texts = [], bytes = []) {
  const said = toUtf8.encode(texts.map((v) => String(v) + '\0').join(''));
  const parts = bytes instanceof Uint8Array ? [bytes] : bytes.map((b) => new Uint8Array(b));
  const size = parts.reduce((sum, part) => sum + part.length, said.length);
  const at = size ? M.malloc(size) >>> 0 : 0;
  if (size && !at) throw new NoRoom('the decoder has no memory left for ' + size + ' bytes');
  const memory = bytesOf(M);
  memory.set(said, at);
  let to = at + said.length;
  for (const part of parts) {
    memory.set(part, to);
    to += part.length;
  }
  const where = M.vornlog_request(kSession, kind, at, size) >>> 0;
  if (!where) throw new Error('the decoder has no such session');
  const [replyAt, replySize] = new Uint32Array(M.memory.buffer.slice(where, where + 8));
  const reply = bytesOf(M).subarray(replyAt, replyAt + replySize);
  const line = reply.indexOf(10);
  const head = JSON.parse(utf8.decode(line < 0 ? reply : reply.subarray(0, line)));
  const body = line < 0 ? reply.subarray(replySize) : reply.subarray(line + 1);
  for (const post of head.posts) postToPage(M, post, body);
  return head;
}

// A message of a reply posted to the page, what it names copied out and
// handed over: a text, lines or bytes of the reply's body ({$text},
// {$lines}, {$bytes}: where and how many), columns of the module's memory
// ({$columns}: each one's name, element type, where and how many).
function postToPage(M, post, body) {
  const moved = [];
  const cut = ([at, size]) => body.subarray(at, at + size);
  for (const [key, v] of Object.entries(post)) {
    if (!v || typeof v !== 'object') continue;
    if (v.$text) {
      post[key] = utf8.decode(cut(v.$text));
    } else if (v.$lines) {
      post[key] = utf8.decode(cut(v.$lines)).split('\n').slice(0, -1);
    } else if (v.$bytes) {
      post[key] = cut(v.$bytes).slice();
      moved.push(post[key].buffer);
    } else if (v.$columns) {
      // (A live update's into the room the page gave back.)
      const spare = post.type === kToPage.update ? spareBuffer : null;
      const columns = {};
      for (const c of v.$columns) {
        const Type = kColumnTypes[c.type];
        const at = c.at >>> 0;
        const bytes = c.length * Type.BYTES_PER_ELEMENT;
        if (!spare) columns[c.name] = new Type(M.memory.buffer.slice(at, at + bytes));
        else (columns[c.name] = new Type(spare(bytes), 0, c.length)).set(new Type(M.memory.buffer, at, c.length));
        moved.push(columns[c.name].buffer);
      }
      post[key] = columns;
    }
  }
  postMessage(post, moved);
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

function failed(e) {
  postMessage({ type: kToPage.failed, text: String(e && e.message ? e.message : e) });
}

// The decoder's work, asked for in slices of some milliseconds, one event
// of the worker each, so that a question of the page (a message's details,
// a search) waits for one slice at most, not for the whole pass. A reply
// says whether more is due now, or in some ms.
const kSliceMs = 8;
// After a question, the work after a decoding waits a little: the page
// draws the answer (and asks the next question) with the processor to
// itself.
const kQuietMs = 50;
let quietUntil = 0;
let working = false;
let timer = 0;

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

// Asks for the decoder's work, slice after slice, while some is due, each
// in a turn of its own; `atOnce`, the first in this one (bytes came: they
// are decoded in the same event).
async function work(M, atOnce = false) {
  if (working) return;
  working = true;
  clearTimeout(timer);
  timer = 0;
  try {
    for (let first = true; ; first = false) {
      if (!first || !atOnce) await nextTurn();
      const quiet = quietUntil - performance.now();
      const head = request(M, kRequest.work, [kSliceMs, quiet > 0 ? 1 : 0]);
      if (head.answered) quietUntil = performance.now() + kQuietMs;
      if (head.more) continue;
      const wait = head.afterQuiet ? quietUntil - performance.now() : head.wait;
      if (wait !== undefined) timer = setTimeout(() => work(M), Math.max(0, wait));
      return;
    }
  } catch (e) {
    failed(e);
  } finally {
    working = false;
  }
}

// A capture handed over whole, its parts put in the module's memory one
// after the other (their buffers here let go).
function decode(M, asked, began) {
  const { parts } = asked;
  asked.parts = null;
  request(M, kRequest.decode, [performance.now() - began, asked.name, asked.device || ''], parts);
  work(M);
}

// A capture whose bytes come in blocks: a live capture (vornlog -l), or one
// that the page inflates as it reads it (`whole`: shown once decoded, as a
// capture handed over whole).
function begin(M, { name, device, expected, whole, keep }, began) {
  const moduleMs = began === undefined ? 0 : performance.now() - began;
  request(M, kRequest.begin, [moduleMs, name, device || '', expected || 0, whole ? 1 : 0, whole ? 0 : keep || 0]);
  work(M);
}

// Bytes of that capture: { taken } false when the decoder has no room for
// them (the page told); { full } when it holds as many as it may that wait
// to be decoded. Bytes that cannot even be handed over are said lost.
function add(M, bytes) {
  try {
    return request(M, kRequest.add, [bytes.length], bytes);
  } catch (e) {
    if (!(e instanceof NoRoom)) throw e;
    return request(M, kRequest.add, [bytes.length]);
  }
}

// The page's messages, by their type: those answered at once, and those
// answered one at a time in the order asked (a question asked while a
// capture is decoded waits for its decoding, not for the work after it).
const kAtOnce = {
  [kToWorker.inflate]: (m) => inflateTo(m.port),
  [kToWorker.part]: (m) => inflatePart(m.text),
  [kToWorker.inflateKept]: (m) => inflateKept(m.parts),
};
const kInTurn = {
  [kToWorker.decode]: (M, m, began) => decode(M, m, began),
  [kToWorker.live]: (M, m) => follow(M, m),
  [kToWorker.pieces]: (M, m, began) => {
    // The pieces come from the inflating worker, in their order.
    if (m.port) m.port.onmessage = onmessage;
    begin(M, m, began);
  },
  [kToWorker.bytes]: (M, m) => {
    add(M, new Uint8Array(m.bytes));
    work(M, true);
  },
  [kToWorker.end]: (M) => {
    request(M, kRequest.end);
    work(M, true);
  },
  [kToWorker.lines]: (M, m) => {
    request(M, kRequest.lines, [m.id], new Uint8Array(Int32Array.from(m.indices).buffer));
    quietUntil = performance.now() + kQuietMs;
  },
  [kToWorker.search]: (M, m) => {
    request(M, kRequest.search, [m.id, m.query]);
    work(M);
  },
  [kToWorker.drawn]: (M, m) => {
    givenBack(m.spare);
    request(M, kRequest.drawn);
    work(M);
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
