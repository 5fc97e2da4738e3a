// The viewer's worker: runs the decoder (the WebAssembly module built from
// the console program's sources) on one capture and sends the page its
// results. The module's JavaScript glue comes before this text in the same
// script; its WebAssembly bytes are handed over by the page, so nothing is
// ever fetched.
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

onmessage = async (event) => {
  const { wasm, bytes, name, device } = event.data;
  try {
    const M = await loadModule(wasm);
    M.FS.writeFile('/capture', new Uint8Array(bytes));
    postMessage({ type: 'progress', pass: 1, share: 0 });
    const status = M.ccall('vornlog_decode', 'number', ['string', 'string', 'string'], ['/capture', name, device || '']);
    const n = M._vornlog_messages();
    const rows = M._vornlog_rows();
    const result = {
      type: 'done',
      status,
      problem: M.UTF8ToString(M._vornlog_problem()),
      json: copyOut(M, Uint8Array, M._vornlog_json(), M._vornlog_json_size()),
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
    };
    M._vornlog_release();
    const transfer = Object.values(result).filter((v) => ArrayBuffer.isView(v)).map((v) => v.buffer);
    postMessage(result, transfer);
    // Then the summary, which the page shows when it comes.
    M.ccall('vornlog_summarize', null, ['string', 'string', 'string'], ['/capture', name, device || '']);
    const summary = M.UTF8ToString(M._vornlog_summary());
    M._vornlog_release();
    M.FS.unlink('/capture');
    postMessage({ type: 'summary', summary });
  } catch (e) {
    postMessage({ type: 'failed', text: String(e && e.message ? e.message : e) });
  }
};
