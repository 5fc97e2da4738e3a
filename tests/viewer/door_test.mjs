// The viewer's decoder module through its one entry, in Node, without a
// browser: two sessions held at once, each answering for its own capture
// after the other was decoded (the JSON lines as vornlog -j writes them,
// the summary as -t writes it, the steps for 1 mm of the last Table
// message that gives them); a session that cannot be is refused.
//
// usage: node door_test.mjs VORNLOG DECODER.wasm MESSAGES.js EXAMPLES
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';

const [vornlog, wasmPath, messagesPath, examples] = process.argv.slice(2);
// The request kinds, from the table that page and worker share.
const kRequest = new Function(readFileSync(messagesPath, 'utf8') + '\nreturn kRequest;')();

let M = null;
const { instance } = await WebAssembly.instantiate(readFileSync(wasmPath), {
  wasi_snapshot_preview1: { fd_write: () => 0, fd_close: () => 0, fd_seek: () => 8 },
  vornlog: { progress: () => {} },
});
M = instance.exports;
M._initialize();

const utf8 = new TextDecoder();
function request(session, kind, input = []) {
  const bytes = input instanceof Uint8Array ? input : new TextEncoder().encode(input.map((v) => v + '\0').join(''));
  const at = bytes.length ? M.malloc(bytes.length) >>> 0 : 0;
  new Uint8Array(M.memory.buffer).set(bytes, at);
  const where = M.vornlog_request(session, kind, at, bytes.length) >>> 0;
  if (at) M.free(at);
  if (!where) return null;
  const [replyAt, size] = new Uint32Array(M.memory.buffer.slice(where, where + 8));
  const text = utf8.decode(new Uint8Array(M.memory.buffer, replyAt, size));
  const line = text.indexOf('\n');
  return { head: JSON.parse(line < 0 ? text : text.slice(0, line)), body: line < 0 ? '' : text.slice(line + 1) };
}

let failures = 0;
function check(what, got, want) {
  if (JSON.stringify(got) === JSON.stringify(want)) return;
  failures++;
  console.error(`${what}:\n  got  ${JSON.stringify(got)}\n  want ${JSON.stringify(want)}`);
}

const captures = ['session.txt', 'stall.txt'].map((name) => examples + '/' + name);
const jsonOf = (path) => execFileSync(vornlog, ['-n', '-j', path, '-'], { encoding: 'utf8', maxBuffer: 1 << 28, stdio: ['ignore', 'pipe', 'ignore'] }).split('\n').filter(Boolean);

// The steps for 1 mm as the JSON lines give them: the last Table message's
// that gives them for S1 and S2.
function perMmOf(json) {
  let perMm = null;
  for (const line of json) {
    const o = JSON.parse(line);
    const of = (name) => (o.fields.find((f) => f.name === name && f.unit === 'steps/mm') || { value: 0 }).value;
    if (o.code === 0x54 && of('S1') > 0 && of('S2') > 0) perMm = { s: [of('S1'), of('S2'), Math.max(0, of('S3'))], number: o.number };
  }
  return perMm;
}

captures.forEach((path, session) => {
  const bytes = readFileSync(path);
  const room = request(session, kRequest.room, [bytes.length]).head;
  new Uint8Array(M.memory.buffer).set(bytes, room.at);
  const decoded = request(session, kRequest.decode, [path, '']).head;
  check(path + ': decoded', [decoded.status, decoded.problem], [0, '']);
  check(path + ': summary', decoded.summary, execFileSync(vornlog, ['-n', '-t', path, '-'], { encoding: 'utf8', maxBuffer: 1 << 28, stdio: ['ignore', 'pipe', 'ignore'] }));
  check(path + ': steps for 1 mm', decoded.perMm, perMmOf(jsonOf(path)));
  request(session, kRequest.release);
});

// Each session's details, asked after both were decoded.
captures.forEach((path, session) => {
  const json = jsonOf(path);
  const indices = Int32Array.from(json.keys());
  const lines = request(session, kRequest.lines, new Uint8Array(indices.buffer)).body.split('\n').slice(0, json.length);
  check(path + ': every JSON line', lines, json);
});

check('a third session', request(2, kRequest.stop), null);
if (failures) process.exit(1);
console.log('the decoder module: two sessions, each its own');
