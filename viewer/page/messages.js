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
// numbers them.
const kRequest = Object.freeze({
  room: 1, decode: 2, release: 3, devices: 4, index: 5, search: 6, searchStep: 7, lines: 8, stop: 9,
  liveBegin: 10, liveRoom: 11, liveAdd: 12, liveEnd: 13, liveStep: 14, liveIdle: 15, liveUpdate: 16,
});
