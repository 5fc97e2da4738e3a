// The viewer's worker: runs the decoder (the WebAssembly module built from
// the console program's sources) on one capture, sends the page the views'
// columns, then the summary, and answers the page's questions: the JSON
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
  // Then the summary, which the page shows when it comes.
  M.ccall('vornlog_summarize', null, ['string', 'string', 'string'], ['/capture', name, device || '']);
  const summary = M.UTF8ToString(M._vornlog_summary());
  M._vornlog_release();
  postMessage({ type: 'summary', summary });
  // Then the USB devices of the capture, for the page's choice.
  M.ccall('vornlog_devices', null, ['string'], ['/capture']);
  const devices = M.UTF8ToString(M._vornlog_scratch(), M._vornlog_scratch_size()).split('\n').filter(Boolean)
    .map((line) => { const [device, packets] = line.split(' '); return { device, packets: Number(packets) }; });
  M.FS.unlink('/capture');
  postMessage({ type: 'devices', devices });
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
  // One question at a time, in the order asked.
  queue = queue.then(async () => {
    try {
      const began = performance.now();
      const M = await loadModule(m.wasm || null);
      if (m.type === 'decode') await decode(M, m, began);
      else if (m.type === 'lines') lines(M, m);
      else if (m.type === 'search') search(M, m);
    } catch (e) {
      postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
    }
  });
};
