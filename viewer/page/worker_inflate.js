// The viewer's worker: a capture compressed by vornlog -w inflated, by a
// second worker of the worker's script (a part of it, after worker.js).

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
