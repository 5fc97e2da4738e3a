// The viewer's worker: runs the decoder (the WebAssembly module built from
// the console program's sources) on one capture, sends the page the views'
// columns, then the summary and the USB devices (written in the
// background), and answers the page's questions as they come: the JSON
// lines of some messages (their details, as vornlog -j writes them) and the
// messages whose line holds a text. The module's JavaScript glue comes
// before this text in the same script; its WebAssembly bytes are handed
// over by the page, so nothing is ever fetched.
'use strict';

let modulePromise = null;

function loadModule(wasmBinary) {
  if (!modulePromise) {
    const settings = {
      wasmBinary,
      noInitialRun: true,
      print: () => {},
      printErr: () => {},
      onDecodeProgress: (pass, share) => postMessage({ type: 'progress', pass, share }),
    };
    modulePromise = VornlogModule(settings);
  }
  return modulePromise;
}

// A copy of n elements of the given typed array type at a pointer.
function copyOut(M, Type, pointer, n) {
  return new Type(M.HEAPU8.buffer.slice(pointer, pointer + n * Type.BYTES_PER_ELEMENT));
}

const utf8 = new TextDecoder('utf-8');

async function decode(M, { bytes, name, device }, began) {
  stopRunning(M);
  // The file system keeps the capture's own buffer: no copy of it.
  M.FS.writeFile('/capture', new Uint8Array(bytes), { canOwn: true });
  postMessage({ type: 'progress', pass: 1, share: 0 });
  const loaded = performance.now();
  const status = M.ccall('vornlog_decode', 'number', ['string', 'string', 'string'], ['/capture', name, device || '']);
  const decoded = performance.now();
  const n = M._vornlog_messages();
  const rows = M._vornlog_rows();
  const result = {
    type: 'done',
    status,
    problem: M.UTF8ToString(M._vornlog_problem()),
    console: M.UTF8ToString(M._vornlog_console()),
    number: copyOut(M, Float64Array, M._vornlog_number(), n),
    time: copyOut(M, Float64Array, M._vornlog_time(), n),
    from: copyOut(M, Uint8Array, M._vornlog_from(), n),
    code: copyOut(M, Uint8Array, M._vornlog_code(), n),
    marks: copyOut(M, Uint8Array, M._vornlog_marks(), n),
    delay: copyOut(M, Float32Array, M._vornlog_delay(), n),
    buffer: copyOut(M, Int8Array, M._vornlog_buffer(), n),
    segment: copyOut(M, Int32Array, M._vornlog_segment(), n),
    rowMessage: copyOut(M, Int32Array, M._vornlog_row_message(), rows),
    rowSteps: copyOut(M, Int32Array, M._vornlog_row_steps(), rows * 3),
    rowPwm: copyOut(M, Int32Array, M._vornlog_row_pwm(), rows),
    rowSeg: copyOut(M, Int32Array, M._vornlog_row_seg(), rows),
    rowEnd: copyOut(M, Uint8Array, M._vornlog_row_end(), rows),
    // Where the worker's time went, in ms: the module made ready, the decoding;
    // and the module's memory then, in bytes.
    timing: { module: loaded - began, decode: decoded - loaded, memory: M.HEAPU8.length },
  };
  M._vornlog_release();
  const transfer = Object.values(result).filter((v) => ArrayBuffer.isView(v)).map((v) => v.buffer);
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
  M.ccall('vornlog_summary_begin', null, ['string', 'string', 'string'], ['/capture', name, device]);
  if (!await slices(run, () => M._vornlog_summary_step(kStep))) return;
  M._vornlog_summary_finish();
  const summary = M.UTF8ToString(M._vornlog_summary());
  M._vornlog_release();
  postMessage({ type: 'summary', summary });
  // The USB devices of the capture, for the page's choice.
  M.ccall('vornlog_devices_begin', null, ['string'], ['/capture']);
  if (!await slices(run, () => M._vornlog_devices_step(kStep))) return;
  M._vornlog_devices_finish();
  const devices = M.UTF8ToString(M._vornlog_scratch(), M._vornlog_scratch_size()).split('\n').filter(Boolean)
    .map((line) => { const [device, packets] = line.split(' '); return { device, packets: Number(packets) }; });
  M.FS.unlink('/capture');
  running = null;
  postMessage({ type: 'devices', devices });
}

// A new capture stops the passes of the last one before its file is
// replaced.
function stopRunning(M) {
  if (!running) return;
  running.stopped = true;
  running = null;
  M._vornlog_background_stop();
}

function lines(M, { id, indices }) {
  const at = M._malloc(indices.length * 4 + 4);
  M.HEAP32.set(indices, at >> 2);
  M._vornlog_lines(at, indices.length);
  M._free(at);
  const text = utf8.decode(M.HEAPU8.subarray(M._vornlog_scratch(), M._vornlog_scratch() + M._vornlog_scratch_size()));
  postMessage({ type: 'lines', id, indices, lines: text.split('\n').slice(0, indices.length) });
}

function search(M, { id, query }) {
  const bytes = new TextEncoder().encode(query);
  const at = M._malloc(bytes.length + 1);
  M.HEAPU8.set(bytes, at);
  M._vornlog_search(at, bytes.length);
  M._free(at);
  const hits = copyOut(M, Uint8Array, M._vornlog_scratch(), M._vornlog_scratch_size());
  postMessage({ type: 'search', id, hits }, [hits.buffer]);
}

let queue = Promise.resolve();
onmessage = (event) => {
  const m = event.data;
  // One question at a time, in the order asked; a question asked while a
  // capture is decoded waits for its decoding, not for its summary.
  queue = queue.then(async () => {
    try {
      const began = performance.now();
      const M = await loadModule(m.wasm || null);
      if (m.type === 'decode') await decode(M, m, began);
      else if (m.type === 'lines' || m.type === 'search') {
        if (m.type === 'lines') lines(M, m);
        else search(M, m);
        quietUntil = performance.now() + kQuietMs;
      }
    } catch (e) {
      postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
    }
  });
};
