// The viewer's worker: the live capture's stream, read by the worker itself
// (a part of the worker's script, after worker.js).

// The capture stream, read here, so that the page's drawing never holds
// up the bytes: `GET url?start=S&from=N` gives the capture's bytes from
// offset N in frames (a kind, the payload's length in 4 bytes
// little-endian, the payload): B bytes, Q the input quiet for a second, E
// the input ended (the payload: where the page was saved), X the server
// could not keep the capture (the payload: why; nothing more comes). A stream cut
// short is asked for again every kAgainMs from the offset decoded; a new
// capture (the first, or a followed file read again from its start or
// replaced) is decoded from its first byte. The page hears how the input
// goes: { type: 'stream', state: 'live', 'waiting', 'ended' or 'error',
// saved, problem }.
const kAgainMs = 500;
const kInputQuietMs = 1000; // the input quiet this long before the server says so
const kFullMs = 50; // how often a decoder that holds as many bytes as it may is asked again
let stream = null; // { url, name, device, start, offset, ended, state }

function follow(M, asked) {
  const s = { url: asked.url, name: asked.name, device: asked.device, keep: asked.keep, start: null, offset: 0, ended: false,
    state: '' };
  stream = s;
  (async () => {
    while (s === stream && !s.ended) {
      try {
        const query = s.start === null ? '' : '?start=' + s.start + '&from=' + s.offset;
        const response = await fetch(s.url + query, { cache: 'no-store' });
        if (!response.ok) throw new Error('the server answered ' + response.status);
        const start = response.headers.get('X-Capture-Start');
        const from = Number(response.headers.get('X-Capture-From'));
        if (s !== stream) return;
        if (start !== s.start || from !== s.offset) {
          s.start = start;
          s.offset = from;
          begin(M, { name: s.name, device: s.device, keep: s.keep,
            expected: Number(response.headers.get('X-Capture-Size')) || 0 });
        }
        await frames(M, s, response.body.getReader());
      } catch (e) {
        if (s !== stream || s.ended) return;
        said(s, 'waiting', 'The live viewer cannot be reached (' + (e && e.message ? e.message : e) + '): trying again');
      }
      if (s !== stream || s.ended) return;
      await new Promise((resolve) => setTimeout(resolve, kAgainMs));
    }
  })().catch((e) => failed(e));
}

// The page told how the input goes, when that changes (or with a problem).
function said(s, state, problem, saved) {
  if (s.state === state && !problem) return;
  s.state = state;
  postMessage({ type: kToPage.stream, state, problem, saved });
}

async function frames(M, s, reader) {
  let buffer = new Uint8Array(1 << 16);
  let have = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done || s !== stream) return;
    if (have + value.length > buffer.length) {
      const grown = new Uint8Array(Math.max(buffer.length * 2, have + value.length));
      grown.set(buffer.subarray(0, have));
      buffer = grown;
    }
    buffer.set(value, have);
    have += value.length;
    // The whole frames that came: their bytes straight into the decoder's memory.
    let at = 0;
    let full = false;
    while (have - at >= 5) {
      const size = (buffer[at + 1] | buffer[at + 2] << 8 | buffer[at + 3] << 16 | buffer[at + 4] << 24) >>> 0;
      if (have - at < 5 + size) break;
      const kind = String.fromCharCode(buffer[at]);
      const payload = buffer.subarray(at + 5, at + 5 + size);
      at += 5 + size;
      if (kind === 'B') {
        const added = add(M, payload);
        full = added.full;
        if (!added.taken) {
          s.ended = true;
          reader.cancel();
          return;
        }
        s.offset += size;
        said(s, 'live');
      } else if (kind === 'Q') {
        // (The server says so once the input has been quiet a second: the
        // findings engine hears that time passes from then on.)
        request(M, kRequest.quiet, [kInputQuietMs]);
        work(M, true);
        said(s, 'waiting');
      } else if (kind === 'X') {
        s.ended = true;
        said(s, 'error', utf8.decode(payload));
        work(M, true);
        reader.cancel();
        return;
      } else if (kind === 'E') {
        s.ended = true;
        said(s, 'ended', undefined, utf8.decode(payload));
        request(M, kRequest.end);
        work(M, true);
        reader.cancel();
        return;
      }
    }
    if (at) work(M, true);
    buffer.copyWithin(0, at, have);
    have -= at;
    // The decoder holds as many bytes as it may that wait to be decoded (a
    // page that cannot draw as fast as they come): the stream is read on
    // once it has room again; the server keeps the capture meanwhile.
    while (full && s === stream) {
      await new Promise((resolve) => setTimeout(resolve, kFullMs));
      full = add(M, new Uint8Array(0)).full;
    }
  }
}
