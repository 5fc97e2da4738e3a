// The viewer's decoder module through its one entry, in Node, without a
// browser: two sessions held at once, each answering for its own capture
// after the other was decoded (the JSON lines as vornlog -j writes them,
// the summary as -t writes it, the steps for 1 mm of the last Table
// message that gives them); a session that cannot be is refused.
//
// usage: node door_test.mjs VORNLOG DECODER.wasm MESSAGES.js EXAMPLES
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

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

// Messages that the decoder cannot keep as steps from the one before,
// among those it can: lines between them (their numbers far apart), a
// time back, ten seconds on, or none; a long data field, one not in hex
// pairs, a short line; the example's lines again and again. Their JSON
// lines, decoded at once and live kept to the newest 50 messages (those
// before let go in parts, from the middle of what the decoder packs
// together), are those of vornlog -j.
const odd = (() => {
  const base = readFileSync(captures[0], 'latin1').split('\r\n').filter(Boolean).map((l) => l.split('\t'));
  const out = [];
  let ms = Date.UTC(2026, 10, 30, 14, 2, 11);
  const stamp = (t) => new Date(t).toISOString().replace('T', ' ').replace('Z', '');
  for (let k = 0; k < 300; k++) {
    const [, dir, , length, hex, text] = base[k % base.length];
    ms += k === 90 ? -2500 : k === 140 ? 10000 : 3;
    let line = [String(out.length + 1).padStart(6, '0'), dir, k === 170 ? '' : stamp(ms), length, hex, text];
    if (k === 60) line = [line[0], 'OUT', stamp(ms), '300', Array(300).fill('4A').join(' '), 'J'.repeat(300)];
    if (k === 200) line[4] = hex.toLowerCase();
    out.push(line.join('\t'));
    if (k === 30) for (let j = 0; j < 70000; j++) out.push('');
    if (k === 120) out.push(line[0] + '\tOUT\t' + stamp(ms) + '\t1\t56');
  }
  return Buffer.from(out.join('\r\n') + '\r\n', 'latin1');
})();
const folder = mkdtempSync(join(tmpdir(), 'door-'));
const oddPath = join(folder, 'odd.txt');
writeFileSync(oddPath, odd);
const oddJson = jsonOf(oddPath);
rmSync(folder, { recursive: true });
{
  const room = request(0, kRequest.room, [odd.length]).head;
  new Uint8Array(M.memory.buffer).set(odd, room.at);
  check('odd capture: decoded', request(0, kRequest.decode, [oddPath, '']).head.status, 0);
  const indices = Int32Array.from(oddJson.keys());
  check('odd capture: every JSON line', request(0, kRequest.lines, new Uint8Array(indices.buffer)).body.split('\n').slice(0, oddJson.length), oddJson);
}
{
  const keep = 50;
  check('odd capture live: begun', request(1, kRequest.liveBegin, [oddPath, '', 0, 0, keep]).head.status, 0);
  let base = 0;
  for (let at = 0; at < odd.length; at += 4096) {
    const piece = odd.subarray(at, at + 4096);
    const room = request(1, kRequest.liveRoom, [piece.length]).head;
    new Uint8Array(M.memory.buffer).set(piece, room.at);
    request(1, kRequest.liveAdd, [piece.length]);
    if (at + 4096 >= odd.length) request(1, kRequest.liveEnd);
    while (request(1, kRequest.liveStep, [1000]).head.status === 1);
    base = request(1, kRequest.liveUpdate, [0]).head.base;
  }
  const kept = Int32Array.from(oddJson.keys()).slice(base);
  check('odd capture live: messages let go', base > 2 * keep, true);
  check('odd capture live: every JSON line kept', request(1, kRequest.lines, new Uint8Array(kept.buffer)).body.split('\n').slice(0, kept.length), oddJson.slice(base));
}

check('a third session', request(2, kRequest.stop), null);
if (failures) process.exit(1);
console.log('the decoder module: two sessions, each its own');
