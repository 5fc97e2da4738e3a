// The messages between the viewer's page and its worker, and the requests
// the worker makes of the decoder: one table each, held by the page's
// script and by the worker's alike (assemble.py puts this file in both).

// The page's messages to the worker (and the inflating worker's to the
// decoding one), by their type.
const kToWorker = Object.freeze({
  decode: 'decode', // a capture handed over whole: { wasm, parts, name, device }
  live: 'live', // a live capture's stream to follow: { wasm, url, name, device, keep }
  pieces: 'pieces', // a capture that comes in pieces: { wasm, name, device, expected, whole, port }
  bytes: 'bytes', // a piece of it: { bytes }
  end: 'end', // its last piece has come
  lines: 'lines', // some messages' JSON lines: { id, indices }
  search: 'search', // a text search: { id, query }
  drawn: 'drawn', // the page has drawn the last update: { spare } (the room of its columns, given back)
  inflate: 'inflate', // inflate the parts that come for the decoding worker: { port }
  part: 'part', // a part to inflate: { text } (base64; null: the last)
  inflateKept: 'inflate-kept', // inflate the parts kept by the page: { parts }
});

// The worker's messages to the page, by their type.
const kToPage = Object.freeze({
  progress: 'progress', // { pass, share }
  failed: 'failed', // { text }
  done: 'done', // the capture decoded: its columns, findings, console, steps for 1 mm, timing
  summary: 'summary', // { summary }
  devices: 'devices', // { devices: [{ device, packets }] }
  lines: 'lines', // { id, indices, lines }
  indexed: 'indexed', // the text search can be answered
  search: 'search', // { id, hits, ms } or { id, cancelled }
  update: 'update', // what a live decoding changed
  stream: 'stream', // how a live input goes: { state, problem, saved }
  inflated: 'inflated', // { parts }
});

// The decoder's requests (its one entry: a kind, a session, an input; a
// reply: a JSON head on its first line, then a body), as the decoder
// numbers them (viewer/wasm/decode.cpp). Every head holds `posts`: the
// messages for the page that the request made ready, of the types above
// (kToPage), which the worker posts as they are.
const kRequest = Object.freeze({
  decode: 1, // MODULE_MS, NAME, DEVICE, then the capture's bytes
  begin: 2, // MODULE_MS, NAME, DEVICE, EXPECTED, WHOLE, KEEP: a capture whose bytes come in blocks
  add: 3, // COUNT, then the COUNT bytes that came (none: is there room again?); { taken, full }
  end: 4, // the input ended
  work: 5, // BUDGET_MS, QUIET: the work due; { more, wait, afterQuiet, answered }
  lines: 6, // ID, then the messages' indices (32-bit)
  search: 7, // ID, QUERY
  drawn: 8, // the page drew the last update
  quiet: 9, // QUIET_MS: the input has been quiet for QUIET_MS ms, as the server says
});
