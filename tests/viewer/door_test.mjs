// The viewer's decoder module through its one entry, in Node, without a
// browser: two sessions held at once, each answering for its own capture
// after the other was decoded (the JSON lines as vornlog -j writes them,
// the summary as -t writes it, the steps for 1 mm of the last Table
// message that gives them); the work after a decoding (a search answered
// through it); a capture that comes in pieces decoded as the whole one; a
// session that cannot be is refused; messages the decoder cannot keep
// packed, kept whole or let go.
//
// usage: node door_test.mjs VORNLOG DECODER.wasm MESSAGES.js EXAMPLES
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [vornlog, wasmPath, messagesPath, examples] = process.argv.slice(2);
// The request kinds, from the table that page and worker share.
const { kRequest, kToPage } = new Function(readFileSync(messagesPath, 'utf8') + '\nreturn { kRequest, kToPage };')();

let M = null;
// The worker's clock, which the test moves on.
let clock = 0;
const { instance } = await WebAssembly.instantiate(readFileSync(wasmPath), {
  wasi_snapshot_preview1: { fd_write: () => 0, fd_close: () => 0, fd_seek: () => 8 },
  vornlog: { progress: () => {}, now: () => clock },
});
M = instance.exports;
M._initialize();

// The request's input (texts, then bytes) in memory from malloc, which the
// decoder takes over; the reply's messages for the page, with what they
// name in the body or the memory read out, as the worker does.
const utf8 = new TextDecoder();
const kTypes = { u8: Uint8Array, i8: Int8Array, i32: Int32Array, f32: Float32Array, f64: Float64Array };
function request(session, kind, texts = [], bytes = new Uint8Array(0)) {
  const said = new TextEncoder().encode(texts.map((v) => v + '\0').join(''));
  const size = said.length + bytes.length;
  const at = size ? M.malloc(size) >>> 0 : 0;
  new Uint8Array(M.memory.buffer).set(said, at);
  new Uint8Array(M.memory.buffer).set(bytes, at + said.length);
  const where = M.vornlog_request(session, kind, at, size) >>> 0;
  if (!where) return null;
  const [replyAt, replySize] = new Uint32Array(M.memory.buffer.slice(where, where + 8));
  const reply = new Uint8Array(M.memory.buffer, replyAt, replySize);
  const line = reply.indexOf(10);
  const head = JSON.parse(utf8.decode(reply.subarray(0, line < 0 ? replySize : line)));
  const body = reply.subarray(line < 0 ? replySize : line + 1);
  const cut = ([from, n]) => body.slice(from, from + n);
  for (const post of head.posts) {
    for (const [key, v] of Object.entries(post)) {
      if (!v || typeof v !== 'object') continue;
      if (v.$text) post[key] = utf8.decode(cut(v.$text));
      else if (v.$lines) post[key] = utf8.decode(cut(v.$lines)).split('\n').slice(0, -1);
      else if (v.$bytes) post[key] = cut(v.$bytes);
      else if (v.$columns) post[key] = Object.fromEntries(v.$columns.map((c) => [c.name,
        new kTypes[c.type](M.memory.buffer.slice(c.at >>> 0, (c.at >>> 0) + c.length * kTypes[c.type].BYTES_PER_ELEMENT))]));
    }
  }
  return head;
}
// The messages of one type among a reply's.
const postsOf = (head, type) => head.posts.filter((p) => p.type === type);
// Asks for the work until none is due now, as the worker does; every
// message posted.
function workDone(session) {
  const posts = [];
  for (let k = 0; k < 100000; k++) {
    const head = request(session, kRequest.work, [8, 0]);
    posts.push(...head.posts);
    if (!head.more) return posts;
  }
  throw new Error('the work never ends');
}

// A live capture's bytes fed in blocks, then its end, a second passing
// at every request so that an update is due at every turn, amid the
// decoding: each update handed to `take`, then drawn.
function feedLive(session, bytes, block, take) {
  for (let at = 0; at <= bytes.length; at += block) {
    if (at < bytes.length) request(session, kRequest.add, [Math.min(block, bytes.length - at)], bytes.subarray(at, at + block));
    else request(session, kRequest.end);
    for (let more = true; more;) {
      clock += 1000;
      const head = request(session, kRequest.work, [8, 0]);
      for (const u of postsOf(head, 'update')) {
        take(u);
        request(session, kRequest.drawn);
      }
      more = head.more;
    }
  }
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

const decoded = [];
captures.forEach((path, session) => {
  const head = request(session, kRequest.decode, [0, path, ''], readFileSync(path));
  const [done] = postsOf(head, 'done');
  check(path + ': decoded', [done.status, done.problem], [0, '']);
  check(path + ': summary', postsOf(head, 'summary')[0].summary, execFileSync(vornlog, ['-n', '-t', path, '-'], { encoding: 'utf8', maxBuffer: 1 << 28, stdio: ['ignore', 'pipe', 'ignore'] }));
  check(path + ': steps for 1 mm', done.perMm, perMmOf(jsonOf(path)));
  decoded.push(done);
});
// Each session's details, asked after both were decoded.
captures.forEach((path, session) => {
  const json = jsonOf(path);
  const indices = Int32Array.from(json.keys());
  const [answer] = postsOf(request(session, kRequest.lines, [7], new Uint8Array(indices.buffer)), 'lines');
  check(path + ': every JSON line', [answer.id, answer.lines], [7, json]);
});

// The work after the decoding: the devices (none in a text dump), the
// index, then a search; one asked while another waits cancels it.
{
  const posts = workDone(0);
  check('the work after the decoding', posts.map((p) => p.type), ['devices', 'indexed']);
  request(0, kRequest.search, [1, 'nowhere-at-all']);
  const cancelled = request(0, kRequest.search, [2, 'Buffer']).posts;
  check('a search replaced', cancelled, [{ type: 'search', id: 1, cancelled: true }]);
  const [found] = workDone(0).filter((p) => p.type === 'search');
  const json = jsonOf(captures[0]);
  const hits = json.map((line) => line.toLowerCase().includes('buffer') ? 1 : 0);
  check('a search answered by the work', [found.id, Array.from(found.hits)], [2, hits]);
}

// A capture that comes in pieces, whatever their bounds: the same
// columns, findings and summary as the capture handed over whole.
{
  const bytes = readFileSync(captures[1]);
  request(1, kRequest.begin, [0, captures[1], '', bytes.length, 1, 0]);
  const posts = [];
  for (let at = 0; at < bytes.length; at += 777) {
    check('a piece taken', request(1, kRequest.add, [Math.min(777, bytes.length - at)], bytes.subarray(at, at + 777)).taken, true);
    posts.push(...workDone(1));
  }
  request(1, kRequest.end);
  posts.push(...workDone(1));
  const [done] = posts.filter((p) => p.type === 'done');
  const whole = decoded[1];
  check('in pieces: findings', done.findings, whole.findings);
  check('in pieces: messages', Array.from(done.columns.number), Array.from(whole.columns.number));
  check('in pieces: summary', posts.filter((p) => p.type === 'summary').map((p) => p.summary),
    [execFileSync(vornlog, ['-n', '-t', captures[1], '-'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] })]);
  check('in pieces: then the devices and the index', posts.map((p) => p.type).slice(-2), ['devices', 'indexed']);
  // Every message is one the page knows.
  const kinds = new Set(Object.values(kToPage));
  check('the messages\' types', posts.map((p) => p.type).filter((t) => !kinds.has(t)), []);
}

// A live capture fed in blocks, each update taken as the live page takes
// it (every column from its first message, or stored segment, on
// replaced), a second passing at every request so that an update is due
// at every turn, amid the decoding: the columns of the capture decoded
// whole; so too when bounded to more messages than it has (the decoder
// then lets go of the rows it gave that the motion model settled).
for (const keep of [0, 100000]) {
  const bytes = readFileSync(captures[1]);
  request(1, kRequest.begin, [0, captures[1], '', 0, 0, keep]);
  const columns = {};
  feedLive(1, bytes, 500, (u) => {
    check('live: nothing let go', [u.base, u.rowBase], [0, 0]);
    for (const [name, part] of Object.entries(u.columns)) {
      const from = (name.startsWith('row') ? u.rowsFrom : u.from) * (u.strides[name] || 1);
      columns[name] = [...(columns[name] || []).slice(0, from), ...part];
    }
  });
  for (const [name, column] of Object.entries(decoded[1].columns))
    check('live, kept ' + keep + ': column ' + name, columns[name], Array.from(column));
}

// A bounded live page that does not draw (its first update not drawn yet)
// while some 12 MB come: the decoder stops decoding ahead of it and says
// it holds as many bytes as it may; once the page draws, every message
// comes.
{
  const block = readFileSync(captures[1]);
  const bytes = Buffer.concat(Array(200).fill(block));
  request(1, kRequest.begin, [0, 'long.txt', '', 0, 0, 1000]);
  let at = 0;
  let full = false;
  for (; at < bytes.length && !full; at += 65536) {
    full = request(1, kRequest.add, [Math.min(65536, bytes.length - at)], bytes.subarray(at, at + 65536)).full;
    clock += 1000;
    request(1, kRequest.work, [1000, 0]);
  }
  check('a page that does not draw: the decoder full', [full, request(1, kRequest.add, [0]).full], [true, true]);
  let last = null;
  request(1, kRequest.drawn);
  feedLive(1, bytes.subarray(at), 65536, (u) => { last = u; });
  check('once drawn: every message', last && last.from + last.columns.number.length, 200 * jsonOf(captures[1]).length);
}

// Bytes that the worker could not hand over: the capture is not shown as
// if it were whole.
{
  const bytes = readFileSync(captures[1]);
  request(1, kRequest.begin, [0, captures[1], '', bytes.length, 1, 0]);
  request(1, kRequest.add, [1000], bytes.subarray(0, 1000));
  const lost = request(1, kRequest.add, [1000]);
  check('bytes lost', [lost.taken, lost.posts.map((p) => p.type)], [false, ['failed']]);
  request(1, kRequest.add, [bytes.length - 2000], bytes.subarray(2000));
  request(1, kRequest.end);
  check('bytes lost: nothing decoded shown', workDone(1).map((p) => p.type), []);
}

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
  const [done] = postsOf(request(0, kRequest.decode, [0, oddPath, ''], odd), 'done');
  check('odd capture: decoded', done.status, 0);
  const indices = Int32Array.from(oddJson.keys());
  const [answer] = postsOf(request(0, kRequest.lines, [1], new Uint8Array(indices.buffer)), 'lines');
  check('odd capture: every JSON line', answer.lines, oddJson);
}
{
  const keep = 50;
  request(1, kRequest.begin, [0, oddPath, '', 0, 0, keep]);
  let base = 0;
  feedLive(1, odd, 4096, (u) => { base = u.base; });
  const kept = Int32Array.from(oddJson.keys()).slice(base);
  check('odd capture live: messages let go', base > 2 * keep, true);
  const [answer] = postsOf(request(1, kRequest.lines, [2], new Uint8Array(kept.buffer)), 'lines');
  check('odd capture live: every JSON line kept', answer.lines, oddJson.slice(base));
}

check('a third session', request(2, kRequest.drawn), null);
if (failures) process.exit(1);
console.log('the decoder module: two sessions, each its own');
