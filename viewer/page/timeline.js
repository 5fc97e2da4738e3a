// The timeline: buffer fill, the segment being processed, Data messages
// per second and reply delays along the session's time (or message
// number when the capture has no times), with, under the plot, the motion
// lane (the machine moving, standing still while a job ran), the markers
// and the findings' lane: a bar from each finding's first message to its
// last (and a tint over the plot where it lasts), drawn from bins of a
// pixel column. The buffer fill and the
// motion lane come from the motion model (session.js's motionOf): the
// segments waiting at each moment, as percent of the buffer's 7, and the
// rows' executions and stand-stills; without times, the buffer fill is the
// BUF that the Data replies sampled.
panel('timeline', ['timeline', 'timeline-legend'], (session, el) => {
  const P = session.P;
  const canvas = el.timeline;
  let view = null; // [x0, x1]
  let drag = null;
  // The markers' rows under the plot, top to bottom: each the mark it
  // shows (a name of the decoder's mark bits; 'refused': the other
  // refusals, each in its cause's colour) and the colour it is drawn in.
  const kMarkRows = [
    { mark: 'errors', colour: 'error' },
    { mark: 'refusal', colour: 'refusal' },
    { mark: 'refused', colour: 'refusal' }, // (each marker in its cause's colour)
    { mark: 'noReply', colour: 'noReply' },
    { mark: 'stop', colour: 'stop' },
  ];
  const kRows = kMarkRows.length;
  const rowOf = Object.fromEntries(kMarkRows.map(({ mark }, r) => [mark, r]));
  const kRefusedRow = rowOf.refused;
  // The rows of the marks that a mark bit gives ([row, mark name]).
  const kBitRows = kMarkRows.filter(({ mark }) => mark !== 'refused').map(({ mark }) => [rowOf[mark], mark]);
  // The markers drawn: for each row and pixel column, the first message
  // marked there, or -1; and the columns' span (markers.span, from view[0]).
  let markers = null;
  // The rows of the mark bits, and the bit of each, for `S`'s bits.
  const markBitsOf = (S) => [Int32Array.from(kBitRows, ([r]) => r), Int32Array.from(kBitRows, ([, mark]) => S.markBits[mark])];
  const pad = { l: 44, r: 44, t: 8, b: 58 };
  // The series' and markers' colours, as viewer.css defines them.
  const colours = cssColours({ buffer: 'buffer', segment: 'segment', rate: 'rate', delay: 'delay', error: 'error',
    refusal: 'refusal', noReply: 'no-reply', stop: 'stop', finding: 'finding', selected: 'selected', moving: 'moving',
    stood: 'stood', stoodLabel: 'stood-label', moment: 'moment', accent: 'accent', frame: 'frame', tick: 'tick', label: 'label',
    labelGround: 'label-ground' });
  // The other refusals' colours by their cause.
  const causeColours = cssColours(Object.fromEntries(Object.keys(kRefusalCauses).map((cause) => [cause, 'cause-' + cause])));
  // The moment the tool path's hover points at (seconds), or null.
  let moment = null;

  // The session's span when the view was last made the whole session.
  let extent = null;

  function reset() {
    const S = session.data;
    moment = null;
    if (!S || !S.n) { view = [0, 1]; extent = null; draw(); legend(); return; }
    const lo = S.x[0];
    const hi = S.x[S.n - 1];
    view = [lo, hi > lo ? hi : lo + 1];
    extent = view.slice();
    legend();
    draw();
  }

  // The session grew (live): a view of the whole session grows with it;
  // one that was zoomed or moved stays where it is.
  function grew() {
    const S = session.data;
    if (!view || !extent || !S || !S.n || (view[0] <= extent[0] && view[1] >= extent[1])) reset();
    else { legend(); draw(); }
  }

  // The messages that no longer change: all of them but in a live
  // session, whose last ones its next update may give again.
  const settled = (S) => (S.settled === undefined ? S.n : Math.min(S.settled, S.n));

  // The markers counted, kept with the session for the messages settled:
  // a live session's update counts only what came.
  function markCounts() {
    const S = session.data;
    const add = (counts, a, b) => {
      for (let i = a; i < b; i++) {
        const m = S.marks[i];
        if (m & S.markBits.errors) counts.error++;
        if (m & S.markBits.refusal) counts.refusal++;
        if (m & S.markBits.noReply) counts.noReply++;
        if (m & S.markBits.stop) counts.stop++;
      }
      return counts;
    };
    const kept = S.markCounts || (S.markCounts = { at: 0, counts: { error: 0, refusal: 0, noReply: 0, stop: 0 } });
    const upTo = settled(S);
    add(kept.counts, kept.at, upTo);
    kept.at = Math.max(kept.at, upTo);
    return add(Object.assign({}, kept.counts), kept.at, S.n);
  }

  function legend() {
    const S = session.data;
    const box = el.timelineLegend;
    box.replaceChildren();
    const counts = S ? markCounts() : { error: 0, refusal: 0, noReply: 0, stop: 0 };
    canvas.dataset.errors = String(counts.error);
    canvas.dataset.refusals = String(counts.refusal);
    canvas.dataset.noReply = String(counts.noReply);
    canvas.dataset.stops = String(counts.stop);
    canvas.dataset.refused = String(S ? S.refused.size : 0);
    const causes = new Map();
    if (S) for (const cause of S.refused.values()) causes.set(cause, (causes.get(cause) || 0) + 1);
    canvas.dataset.findings = String(S ? S.findings.length : 0);
    const model = !!(S && S.timed);
    const items = [['buffer', model ? 'segments waiting, % of ' + bufferRoom(S) : 'buffer fill % (BUF)'], ['segment', 'segment'],
      ['rate', 'Data messages/s'], ['delay', 'reply delay']];
    if (model) items.push(['moving', 'moving'], ['stood', 'standing still']);
    items.push(['error', 'errors ' + counts.error], ['refusal', '"buffer full" ' + counts.refusal]);
    // Each cause of the other refusals (none: one key for them all).
    for (const [cause, name] of Object.entries(kRefusalCauses))
      if (causes.has(cause)) items.push([causeColours[cause], name + ' ' + causes.get(cause)]);
    if (!causes.size) items.push([causeColours['not-usb-mode'], 'other refusals 0']);
    items.push(['noReply', 'no reply ' + counts.noReply], ['stop', 'stops ' + counts.stop],
      ['finding', 'findings ' + (S ? S.findings.length : 0)]);
    for (const [key, text] of items) {
      const k = document.createElement('span');
      k.className = 'key';
      k.style.background = colours[key] || key;
      box.appendChild(k);
      box.appendChild(document.createTextNode(text));
    }
    if (S && !S.timed) box.appendChild(document.createTextNode('   (no times: by message number)'));
  }

  const toX = (x, w) => pad.l + ((x - view[0]) / (view[1] - view[0])) * (w - pad.l - pad.r);
  const fromX = (px, w) => view[0] + ((px - pad.l) / (w - pad.l - pad.r)) * (view[1] - view[0]);

  function first(x) {
    const S = session.data;
    let lo = 0;
    let hi = S.n;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (S.x[mid] < x) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  function paint(g, w, h) {
    const S = session.data;
    const plotH = h - pad.t - pad.b;
    const y = (share) => pad.t + plotH * (1 - share);
    const cols = Math.max(1, Math.floor(w - pad.l - pad.r));
    // Per pixel column: buffer fill (last), segment (last), Data count, delay (max).
    const buf = new Float32Array(cols).fill(NaN);
    const seg = new Float64Array(cols).fill(NaN);
    const rate = new Float64Array(cols);
    const delay = new Float32Array(cols).fill(NaN);
    const marks = Array.from({ length: kRows }, () => new Int32Array(cols).fill(-1));
    let segMax = 1;
    let delayMax = 1;
    const a = first(view[0]);
    const b = first(view[1] + 1e-12 * Math.abs(view[1])) ;
    const span = (view[1] - view[0]) / cols;
    markers = Object.assign(marks, { span, from: view[0] });
    const [bitRows, rowBits] = markBitsOf(S);
    const dataCode = S.protocol.data;
    // The other refusals, each column in the colour of its first one's cause.
    const refusedColour = new Array(cols);
    const refusedAt = (i, c) => {
      if (marks[kRefusedRow][c] >= 0) return;
      const cause = S.refused.get(i);
      marks[kRefusedRow][c] = i;
      refusedColour[c] = causeColours[cause] || colours.refusal;
    };
    const put = (i) => {
      const c = Math.min(cols - 1, Math.floor((S.x[i] - view[0]) / span));
      if (c < 0) return;
      if (S.buffer[i] >= 0) buf[c] = S.buffer[i];
      if (S.segment[i] >= 0) { seg[c] = S.segment[i]; }
      if (S.code[i] === dataCode && S.from[i] === 0) rate[c]++;
      const d = S.delay[i];
      if (!Number.isNaN(d) && !(delay[c] >= d)) delay[c] = d;
      const m = S.marks[i];
      for (let k = 0; k < bitRows.length; k++) if (m & rowBits[k] && marks[bitRows[k]][c] < 0) marks[bitRows[k]][c] = i;
    };
    const bins = S.growing && whole() ? binsOf() : null;
    if (bins) {
      // A live session seen whole: its settled messages from their bins
      // (a few bins a pixel column), the others one by one.
      const B = bins;
      for (let k = 0; k < kBins; k++) {
        if (!B.count[k]) continue;
        const c = Math.min(cols - 1, Math.floor((B.x0 + (k + 0.5) * B.width - view[0]) / span));
        if (c < 0) continue;
        if (!Number.isNaN(B.buf[k])) buf[c] = B.buf[k];
        if (!Number.isNaN(B.seg[k])) seg[c] = B.seg[k];
        rate[c] += B.data[k];
        if (!Number.isNaN(B.delay[k]) && !(delay[c] >= B.delay[k])) delay[c] = B.delay[k];
        for (let r = 0; r < kRows; r++) if (B.marks[r][k] >= 0 && marks[r][c] < 0) {
          if (r === kRefusedRow) refusedAt(B.marks[r][k], c);
          else marks[r][c] = B.marks[r][k];
        }
      }
      for (let i = B.at; i < S.n; i++) {
        put(i);
        if (S.refused.has(i)) refusedAt(i, Math.min(cols - 1, Math.floor((S.x[i] - view[0]) / span)));
      }
    } else {
      for (let i = a; i < b && i < S.n; i++) put(i);
      for (const [i] of S.refused) {
        if (i < a || i >= b) continue;
        const c = Math.min(cols - 1, Math.floor((S.x[i] - view[0]) / span));
        if (c >= 0) refusedAt(i, c);
      }
    }
    segMax = Math.max(1, S.segMax);
    for (let c = 0; c < cols; c++) if (delay[c] > delayMax) delayMax = delay[c];
    // Data messages per second (per message number without times): those
    // within a second around the column (its own span when longer), not
    // those of one pixel column.
    const across = Math.max(1, span);
    const over = Math.min(across, S.x[S.n - 1] - S.x[0]) || 1; // a session shorter than that: its length
    const sent = dataSent();
    let rateMax = 1;
    for (let c = 0; c < cols; c++) {
      if (!rate[c]) continue;
      const mid = view[0] + (c + 0.5) * span;
      const lo = mid - across / 2, hi = mid + across / 2;
      rate[c] = (sent[first(hi + 1e-12 * Math.abs(hi))] - sent[first(lo)]) / over;
      if (rate[c] > rateMax) rateMax = rate[c];
    }
    // The motion model's buffer fill and motion lane, per pixel column;
    // the fill's columns for scripts (data-buffer).
    const M = motionOf(S);
    const fill = M && waiting(M, cols, span);
    const motion = M && moving(M, cols, span);
    if (fill) canvas.dataset.buffer = fillText(fill);
    else delete canvas.dataset.buffer;
    // Range selected.
    if (S.range) {
      g.fillStyle = colours.accent + '1a';
      const x0 = Math.max(pad.l, toX(S.range[0], w));
      const x1 = Math.min(w - pad.r, toX(S.range[1], w));
      g.fillRect(x0, pad.t, Math.max(1, x1 - x0), plotH);
    }
    g.strokeStyle = colours.frame;
    g.strokeRect(pad.l, pad.t, w - pad.l - pad.r, plotH);
    g.fillStyle = colours.label;
    g.font = '10px system-ui, sans-serif';
    g.textAlign = 'right';
    g.fillText('100%', pad.l - 4, y(1) + 8);
    g.fillText('0%', pad.l - 4, y(0));
    // The tops of the scales at the right, in their series' colours, at
    // the top of the plot where their maximum is drawn: Data messages per
    // second, and under it the reply delay (within the canvas, however
    // long).
    g.textAlign = 'right';
    g.fillStyle = colours.rate;
    g.fillText(Math.round(rateMax) + '/s', w - 2, y(1) + 8);
    g.fillStyle = colours.delay;
    g.fillText(+delayMax.toPrecision(3) + ' ms', w - 2, y(1) + 20);
    g.fillStyle = colours.label;
    g.textAlign = 'left';
    ticks(g, w, h);
    if (S.range) rangeText(g, w);
    const stills = M && standStills(g, M, w, h, cols, span);
    const series = (values, max, colour, step) => {
      g.strokeStyle = colour;
      g.beginPath();
      let on = false;
      let last = NaN;
      for (let c = 0; c < cols; c++) {
        let v = values[c];
        if (Number.isNaN(v)) { if (!step || Number.isNaN(last)) { on = false; continue; } v = last; }
        last = v;
        const py = y(Math.min(1, v / max));
        if (on) g.lineTo(pad.l + c + 0.5, py);
        else g.moveTo(pad.l + c + 0.5, py);
        on = true;
      }
      g.stroke();
    };
    g.lineWidth = 1;
    g.fillStyle = colours.rate + '55';
    for (let c = 0; c < cols; c++) if (rate[c]) {
      const hgt = (rate[c] / rateMax) * plotH;
      g.fillRect(pad.l + c, pad.t + plotH - hgt, 1, hgt);
    }
    series(seg, segMax, colours.segment, true);
    g.lineWidth = 1.5;
    if (fill) {
      // The fewest and the most segments waiting in each column, the
      // band between them filled: one line where the fill held.
      const least = new Float32Array(cols), most = new Float32Array(cols);
      for (let c = 0; c < cols; c++) {
        least[c] = fill.least[c] < 0 ? NaN : fill.least[c];
        most[c] = fill.most[c] < 0 ? NaN : fill.most[c];
      }
      g.fillStyle = colours.buffer + '40';
      for (let c = 0; c < cols; c++) if (most[c] > least[c]) {
        const top = y(Math.min(1, most[c] / bufferRoom(S)));
        g.fillRect(pad.l + c, top, 1, y(Math.min(1, least[c] / bufferRoom(S))) - top);
      }
      series(most, bufferRoom(S), colours.buffer, false);
      series(least, bufferRoom(S), colours.buffer, false);
    } else {
      series(buf, 100, colours.buffer, true);
    }
    g.lineWidth = 1;
    g.fillStyle = colours.delay;
    for (let c = 0; c < cols; c++) if (!Number.isNaN(delay[c])) g.fillRect(pad.l + c - 1, y(delay[c] / delayMax) - 1, 3, 3);
    if (motion) {
      // The motion lane: each column as dark as the share of it the
      // machine moved, and over that the stand-stills' share (never
      // fainter than `least`, so that the shortest still shows).
      for (const [share, colour, least] of [[motion, colours.moving, 0.2], [stills.share, colours.stood, 0.4]]) {
        g.fillStyle = colour;
        for (let c = 0; c < cols; c++) if (share[c] > 0) {
          g.globalAlpha = Math.min(1, least + (1 - least) * share[c]);
          g.fillRect(pad.l + c, motionTop(h), 1, 5);
        }
      }
      g.globalAlpha = 1;
      g.fillStyle = colours.label;
      g.font = '9px system-ui, sans-serif';
      g.fillText('motion', w - pad.r + 4, motionTop(h) + 5);
      g.font = '10px system-ui, sans-serif';
      // Each stand-still's duration, over it, where it is wide enough.
      for (const { text, x } of stills.labels) boxedLabel(g, text, x, pad.t + 15, 12, colours.stoodLabel);
    }
    kMarkRows.forEach(({ colour }, r) => {
      g.fillStyle = colours[colour];
      for (let c = 0; c < cols; c++) if (marks[r][c] >= 0) {
        if (r === kRefusedRow) g.fillStyle = refusedColour[c];
        g.fillRect(pad.l + c - 1, markerTop(h) + r * 5, 3, 4);
      }
    });
    // The findings' lane, and a tint over the plot where they last, from
    // bins: the findings over each pixel column counted, then each run of
    // columns of one count drawn once, the tint darker where more last.
    const cover = findingsCover(w);
    for (let c = 0; c < cover.length;) {
      let e = c + 1;
      while (e < cover.length && cover[e] === cover[c]) e++;
      if (cover[c] > 0) {
        g.fillStyle = colours.finding;
        g.globalAlpha = 0.08 * Math.min(3, cover[c]);
        g.fillRect(pad.l - 1 + c, pad.t, e - c, plotH);
        g.globalAlpha = 1;
        g.fillRect(pad.l - 1 + c, laneTop(h), e - c, 5);
      }
      c = e;
    }
  }

  // The findings whose bar covers each pixel column of the lane, from
  // pad.l - 1 on: each bar adds one at its first column and takes it
  // away after its last, then the sums along the lane.
  function findingsCover(w) {
    const S = session.data;
    const cover = new Int32Array(Math.max(1, Math.ceil(w - pad.r + 2 - (pad.l - 1))) + 1);
    const last = cover.length - 1;
    for (const f of S.findings) {
      const span = findingSpan(f, w);
      if (!span) continue;
      cover[Math.max(0, Math.min(last, Math.floor(span[0] - pad.l + 1)))]++;
      cover[Math.max(0, Math.min(last, Math.ceil(span[1] - pad.l + 1)))]--;
    }
    for (let c = 1; c < cover.length; c++) cover[c] += cover[c - 1];
    return cover.subarray(0, last);
  }

  // The segments waiting in the buffer, by the motion model: for each
  // pixel column the fewest and the most over its span ({ least, most },
  // -1 where nothing is drawn: before the capture's first message and
  // after its last). Swept over the rows' arrivals and leaves in view, the
  // value at each moment taken once all that happened at that moment is
  // counted: the same moment gives the same value at every zoom.
  function waiting(M, cols, span) {
    const S = session.data;
    const least = new Int32Array(cols).fill(-1);
    const most = new Int32Array(cols).fill(-1);
    const from = view[0];
    const lo = Math.max(from, S.x[0]);
    const hi = Math.min(view[1], S.x[S.n - 1]);
    if (!(hi >= lo)) return { least, most };
    // (The columns read into locals: the sweep may pass every row.)
    const rows = M.rows, rowMessage = S.rowMessage, x = S.x, rowStart = S.rowStart, sorted = M.sorted;
    const arrival = (r) => (rowMessage[r] >= 0 ? x[rowMessage[r]] : -Infinity);
    // The k-th leave in time: row k's, unless the rows' order is not theirs.
    const leave = sorted ? (k) => sorted[k]
      : (k) => (rowStart[k] === rowStart[k] ? Math.max(arrival(k), rowStart[k]) : leaveOf(S, M, k));
    const column = (t) => Math.max(0, Math.min(cols - 1, Math.floor((t - from) / span)));
    // The rows arrived, and gone, by lo.
    let ia = 0;
    for (let top = rows; ia < top;) {
      const mid = (ia + top) >> 1;
      if (arrival(mid) <= lo) ia = mid + 1;
      else top = mid;
    }
    let il = 0;
    for (let top = rows; il < top;) {
      const mid = (il + top) >> 1;
      if (leave(mid) <= lo) il = mid + 1;
      else top = mid;
    }
    let v = ia - il;
    let c = column(lo);
    least[c] = most[c] = v;
    // The next arrival and the next leave.
    let ta = ia < rows ? arrival(ia) : Infinity;
    let tl = il < rows ? leave(il) : Infinity;
    for (;;) {
      const t = ta < tl ? ta : tl;
      if (!(t <= hi)) break;
      while (ta <= t) ta = ++ia < rows ? arrival(ia) : Infinity;
      while (tl <= t) tl = ++il < rows ? leave(il) : Infinity;
      const next = ia - il;
      const k = column(t);
      if (k > c) {
        for (let j = c + 1; j < k; j++) least[j] = most[j] = v;
        // The column holds the value before t, unless t is where it begins.
        least[k] = most[k] = from + k * span < t ? v : next;
        c = k;
      }
      v = next;
      if (v < least[c]) least[c] = v;
      if (v > most[c]) most[c] = v;
    }
    for (let j = c + 1, last = column(hi); j <= last; j++) least[j] = most[j] = v;
    return { least, most };
  }

  // The fill's columns as data-buffer gives them: "fewest-most", or one
  // number where they are the same, empty where nothing is drawn.
  function fillText({ least, most }) {
    const parts = new Array(least.length);
    for (let c = 0; c < least.length; c++)
      parts[c] = least[c] < 0 ? '' : least[c] === most[c] ? String(least[c]) : least[c] + '-' + most[c];
    return parts.join(',');
  }

  // The share of each pixel column's span that the machine moved: from
  // each row's start to its finish (for a row a stop cut short, where the
  // model says its pulses ran out).
  function moving(M, cols, span) {
    const S = session.data;
    const share = new Float32Array(cols);
    const from = view[0], to = view[1];
    const started = M.started, rowStart = S.rowStart, rowFinish = S.rowFinish;
    for (let k = Math.max(0, startedBy(S, M, from)); k < started.length; k++) {
      const r = started[k];
      const a = rowStart[r];
      if (a > to) break;
      const b = rowFinish[r];
      if (b > a) spread(share, a, b, span);
    }
    return share;
  }

  // Adds the span from a to b (seconds) to the pixel columns it covers,
  // each by the share of the column it covers.
  function spread(share, a, b, span) {
    const cols = share.length;
    if (b <= view[0] || a >= view[1]) return;
    const x0 = (Math.max(a, view[0]) - view[0]) / span;
    const x1 = Math.min(cols, (Math.min(b, view[1]) - view[0]) / span);
    let c = Math.floor(x0);
    if (x1 <= c + 1) {
      share[c] += x1 - x0;
      return;
    }
    share[c] += c + 1 - x0;
    for (c++; c + 1 <= x1; c++) share[c] += 1;
    if (c < cols) share[c] += x1 - c;
  }

  // The stand-stills in view: a tint over the plot, each pixel column as
  // dark as the share of it the machine stood still, and each one's
  // duration written over it where it is wide enough. Returns { share
  // (for the motion lane), labels }.
  function standStills(g, M, w, h, cols, span) {
    const S = session.data;
    const stills = M.stills;
    const share = new Float32Array(cols);
    const labels = [];
    // The first whose end is in view or later.
    let k = 0;
    for (let top = stills.length; k < top;) {
      const mid = (k + top) >> 1;
      if (stillEnd(S, stills[mid]) < view[0]) k = mid + 1;
      else top = mid;
    }
    for (; k < stills.length; k++) {
      const r = stills[k];
      const end = stillEnd(S, r);
      if (end - M.longest > view[1]) break;
      const begin = end - S.rowStood[r];
      if (begin > view[1]) continue;
      spread(share, begin, end, span);
      const x0 = Math.max(pad.l, toX(begin, w)), x1 = Math.min(w - pad.r, toX(end, w));
      if (x1 - x0 >= 30) {
        const text = stoodText(S.rowStood[r]);
        if (x1 - x0 >= g.measureText(text).width + 8) labels.push({ text, x: (x0 + x1) / 2 });
      }
    }
    g.fillStyle = colours.stood;
    for (let c = 0; c < cols; c++) if (share[c] > 0) {
      g.globalAlpha = 0.2 * Math.sqrt(Math.min(1, share[c]));
      g.fillRect(pad.l + c, pad.t, 1, h - pad.t - pad.b);
    }
    g.globalAlpha = 1;
    return { share, labels };
  }

  // A stand-still's duration: in seconds (as the findings give it), in ms
  // under 10 ms.
  function stoodText(seconds) {
    if (seconds < 0.01) return +(seconds * 1000).toPrecision(2) + ' ms';
    if (seconds < 600) return +seconds.toFixed(seconds < 10 ? 3 : 1) + ' s';
    return durationText(seconds);
  }

  // A finding's bar in the lane, [left, right] in pixels (3 wide at
  // least), or null when it is out of view.
  function findingSpan(f, w) {
    const S = session.data;
    if (f.at < 0) return null;
    const a = toX(S.x[f.at], w);
    const b = toX(S.x[f.lastAt], w);
    if (b < pad.l - 1 || a > w - pad.r + 1) return null;
    const left = Math.max(pad.l - 1, a - 1);
    return [left, Math.max(left + 3, Math.min(w - pad.r + 1, b + 1))];
  }

  // The place in S.findings of the finding whose bar is under (px, py)
  // or nearest within a few pixels, or -1.
  function findingAt(px, py, h) {
    const S = session.data;
    if (!S.findings.length || py < laneTop(h) - 2 || py > laneTop(h) + 7) return -1;
    const w = canvas.clientWidth;
    let best = -1;
    let bestD = 4;
    S.findings.forEach((f, k) => {
      const span = findingSpan(f, w);
      if (!span) return;
      const d = px < span[0] ? span[0] - px : px > span[1] ? px - span[1] : 0;
      if (d < bestD) { best = k; bestD = d; }
    });
    return best;
  }

  function draw() {
    const S = session.data;
    if (!S || !view) { fit(canvas); return; }
    canvas.dataset.from = String(view[0]);
    canvas.dataset.to = String(view[1]);
    const range = S.range ? S.range.join(',') : '';
    const { g, w, h } = layered(canvas, view.join(',') + '|' + range + '|' + session.generation + '|' + S.n + '|' + settled(S) +
      '|' + !!S.growing + '|' + S.findingsVersion + '|' + S.rowsVersion, paint);
    // The finding gone to last, outlined in its lane.
    const current = S.findings[P.findings.current()];
    const span = current && findingSpan(current, w);
    if (span) {
      g.strokeStyle = colours.selected;
      g.strokeRect(span[0] - 1.5, laneTop(h) - 1.5, span[1] - span[0] + 3, 8);
    }
    // The moment the tool path's hover points at.
    if (moment !== null) {
      const px = toX(moment, w);
      if (px >= pad.l && px <= w - pad.r) {
        g.strokeStyle = colours.moment;
        g.lineWidth = 2;
        g.setLineDash([4, 3]);
        g.beginPath();
        g.moveTo(px, pad.t);
        g.lineTo(px, markerTop(h) - 2);
        g.stroke();
        g.setLineDash([]);
        g.lineWidth = 1;
      }
    }
    if (session.selected >= 0) {
      const px = toX(S.x[session.selected], w);
      if (px >= pad.l && px <= w - pad.r) {
        g.strokeStyle = colours.selected;
        g.beginPath();
        g.moveTo(px + 0.5, pad.t);
        g.lineTo(px + 0.5, laneTop(h) + 6);
        g.stroke();
      }
    }
  }

  // The top of the motion lane, under the plot, of the markers' rows
  // under it, each 5 pixels high, and of the findings' lane under them.
  const motionTop = (h) => h - pad.b + 3;
  const markerTop = (h) => motionTop(h) + 7;
  const laneTop = (h) => markerTop(h) + kRows * 5 + 2;

  // Whether message i has a marker in row r.
  const marked = (r, i) => hasMarker(session.data, kMarkRows[r].mark, i);

  // The message a click on the marker nearest to (px, py) selects: the
  // first one marked in its pixel column, or, when the selection is one of
  // them, the next one there (after the last: the first again), so that a
  // marker of several messages reaches each; -1 when no marker is within a
  // few pixels.
  function markedAt(px, py, h) {
    const S = session.data;
    const hit = markerAt(px, py, h);
    if (!hit) return -1;
    const column = (i) => Math.min(markers[hit.row].length - 1, Math.floor((S.x[i] - markers.from) / markers.span));
    if (session.selected >= 0 && marked(hit.row, session.selected) && column(session.selected) === hit.column) {
      for (let i = session.selected + 1; i < S.n && column(i) === hit.column; i++) if (marked(hit.row, i)) return i;
    }
    return markers[hit.row][hit.column];
  }

  // The marker nearest to (px, py) within a few pixels ({ row, column }),
  // or null: in the row under the pointer first, then in any row.
  function markerAt(px, py, h) {
    if (!markers || py < markerTop(h) - 3 || py > markerTop(h) + kRows * 5 + 3) return null;
    const row = Math.max(0, Math.min(kRows - 1, Math.floor((py - markerTop(h)) / 5)));
    const nearest = (r) => {
      const c = Math.round(px - pad.l);
      for (let d = 0; d <= 6; d++)
        for (const k of [c - d, c + d]) if (k >= 0 && k < markers[r].length && markers[r][k] >= 0) return [d, { row: r, column: k }];
      return [Infinity, null];
    };
    const own = nearest(row);
    if (own[1]) return own[1];
    let best = own;
    for (let r = 0; r < kRows; r++) {
      const found = nearest(r);
      if (found[0] < best[0]) best = found;
    }
    return best[1];
  }

  // Brings message i into view when the view does not show it, the view's
  // width kept.
  function reveal(i) {
    const S = session.data;
    if (!S || !view || (S.x[i] >= view[0] && S.x[i] <= view[1])) return;
    const half = (view[1] - view[0]) / 2;
    view = [S.x[i] - half, S.x[i] + half];
  }

  // The view around messages a to b (indices): they take two thirds of it,
  // and it spans a second at least (100 messages without times).
  function zoomTo(a, b) {
    const S = session.data;
    if (!S || a < 0) return;
    const x0 = S.x[a];
    const x1 = S.x[Math.max(a, b)];
    const half = Math.max((x1 - x0) * 0.75, S.timed ? 0.5 : 50);
    view = [(x0 + x1) / 2 - half, (x0 + x1) / 2 + half];
    draw();
  }

  // The view around the selection: a second (100 messages without times).
  function zoomToSelection() {
    const S = session.data;
    if (!S || session.selected < 0) return;
    const half = S.timed ? 0.5 : 50;
    view = [S.x[session.selected] - half, S.x[session.selected] + half];
    draw();
  }

  // The Data messages sent before each message: sent[i] of them before
  // message i (kept with the session; a live session's update counts on
  // from the first message it may have changed, in room that grows by half).
  function dataSent() {
    const S = session.data;
    const n = S.n;
    let kept = S.sent;
    const from = kept ? Math.min(kept.at, settled(S)) : 0;
    if (!kept || kept.room.length < n + 1) {
      const room = new Int32Array(kept ? Math.ceil(1.5 * (n + 1)) : n + 1);
      if (kept) room.set(kept.room.subarray(0, from + 1));
      kept = S.sent = { room, at: from };
    }
    const sent = kept.room;
    const dataCode = S.protocol.data;
    for (let i = from; i < n; i++) sent[i + 1] = sent[i] + (S.code[i] === dataCode && S.from[i] === 0 ? 1 : 0);
    kept.at = n;
    return sent.subarray(0, n + 1);
  }

  // Whether the view shows the whole session.
  const whole = () => !!extent && view[0] === extent[0] && view[1] === extent[1];

  // A live session's settled messages gathered in kBins bins along its
  // time (or message number), from its first message on: the buffer fill
  // and the segment last given in each, its Data messages sent, its
  // longest reply delay and its first message of each marker's row. The
  // bins' width doubles (two bins made one) when the session outgrows
  // them: an update adds only what came, and the whole session is drawn
  // from some thousands of bins, not from every message.
  const kBins = 8192;
  function binsOf() {
    const S = session.data;
    let B = S.bins;
    if (!B || B.timed !== S.timed) {
      B = S.bins = { timed: S.timed, at: 0, x0: S.x[0], width: S.timed ? 1e-3 : 1, count: new Int32Array(kBins),
        buf: new Float32Array(kBins).fill(NaN), seg: new Float64Array(kBins).fill(NaN), data: new Int32Array(kBins),
        delay: new Float32Array(kBins).fill(NaN), marks: Array.from({ length: kRows }, () => new Int32Array(kBins).fill(-1)) };
    }
    const [bitRows, rowBits] = markBitsOf(S);
    const dataCode = S.protocol.data;
    const upTo = settled(S);
    for (let i = B.at; i < upTo; i++) {
      if (!Number.isFinite(S.x[i])) continue;
      while (S.x[i] - B.x0 >= B.width * kBins) widen(B);
      const k = Math.max(0, Math.floor((S.x[i] - B.x0) / B.width));
      B.count[k]++;
      if (S.buffer[i] >= 0) B.buf[k] = S.buffer[i];
      if (S.segment[i] >= 0) B.seg[k] = S.segment[i];
      if (S.code[i] === dataCode && S.from[i] === 0) B.data[k]++;
      const d = S.delay[i];
      if (!Number.isNaN(d) && !(B.delay[k] >= d)) B.delay[k] = d;
      const m = S.marks[i];
      const marks = B.marks;
      for (let r = 0; r < bitRows.length; r++) if (m & rowBits[r] && marks[bitRows[r]][k] < 0) marks[bitRows[r]][k] = i;
      if (marks[kRefusedRow][k] < 0 && S.refused.has(i)) marks[kRefusedRow][k] = i;
    }
    B.at = Math.max(B.at, upTo);
    return B;
  }

  // The bins twice as wide: each pair made one, the later's fill and
  // segment over the earlier's, the earlier's first markers over the later's.
  function widen(B) {
    const half = kBins / 2;
    for (let k = 0; k < half; k++) {
      const a = 2 * k, b = a + 1;
      B.count[k] = B.count[a] + B.count[b];
      B.buf[k] = Number.isNaN(B.buf[b]) ? B.buf[a] : B.buf[b];
      B.seg[k] = Number.isNaN(B.seg[b]) ? B.seg[a] : B.seg[b];
      B.data[k] = B.data[a] + B.data[b];
      B.delay[k] = Number.isNaN(B.delay[a]) || B.delay[b] > B.delay[a] ? B.delay[b] : B.delay[a];
      for (const row of B.marks) row[k] = row[a] >= 0 ? row[a] : row[b];
    }
    B.count.fill(0, half);
    B.buf.fill(NaN, half);
    B.seg.fill(NaN, half);
    B.data.fill(0, half);
    B.delay.fill(NaN, half);
    for (const row of B.marks) row.fill(-1, half);
    B.width *= 2;
  }

  // A duration as a person reads it: ms under a second, s under ten
  // minutes, then min and h.
  function durationText(seconds) {
    const a = Math.abs(seconds);
    if (a < 1) return +(seconds * 1000).toPrecision(3) + ' ms';
    if (a < 600) return +seconds.toPrecision(4) + ' s';
    if (a < 36000) return +(seconds / 60).toPrecision(4) + ' min';
    return +(seconds / 3600).toPrecision(4) + ' h';
  }

  // Ticks along the time axis, some 90 pixels apart, at round times (1, 2
  // or 5 times a power of ten seconds, minutes or hours, or of message
  // numbers), each with its unit and the decimals its step needs.
  function ticks(g, w, h) {
    const S = session.data;
    const plotW = w - pad.l - pad.r;
    const per = (view[1] - view[0]) / Math.max(1, plotW);
    let step = niceStep(90 * per);
    if (!S.timed) step = Math.max(1, step);
    const unit = !S.timed ? null : step >= 3600 ? [3600, 'h'] : step >= 60 ? [60, 'min'] : [1, 's'];
    if (unit && unit[0] > 1) step = niceStep(90 * per / unit[0]) * unit[0];
    const digits = unit ? Math.max(0, -Math.floor(Math.log10(step / unit[0]) + 1e-9)) : 0;
    const label = (x) => (unit ? (x / unit[0]).toFixed(digits) + ' ' + unit[1] : '#' + Math.round(x));
    g.strokeStyle = colours.tick;
    g.fillStyle = colours.label;
    g.textAlign = 'center';
    g.beginPath();
    const base = h - pad.b;
    for (let x = Math.ceil(view[0] / step) * step; x <= view[1]; x += step) {
      const px = Math.round(toX(x, w)) + 0.5;
      g.moveTo(px, pad.t); g.lineTo(px, pad.t + 4);
      g.moveTo(px, base); g.lineTo(px, base - 4);
      g.fillText(label(Math.abs(x) < step / 1e6 ? 0 : x), px, h - 4);
    }
    g.stroke();
    g.textAlign = 'left';
  }

  // The range's length and its messages, above it.
  function rangeText(g, w) {
    const S = session.data;
    const [a, b] = S.range;
    const count = first(b + 1e-12 * Math.abs(b)) - first(a);
    const text = (S.timed ? durationText(b - a) : Math.round(b - a) + ' message numbers') + ', ' + count +
      (count === 1 ? ' message' : ' messages');
    const mid = Math.min(w - pad.r - 80, Math.max(pad.l + 80, (toX(a, w) + toX(b, w)) / 2));
    boxedLabel(g, text, mid, pad.t + 1, 13, colours.accent);
    canvas.dataset.rangeMessages = String(count);
  }

  // A text centred at x on a light box `height` high from `top`.
  function boxedLabel(g, text, x, top, height, colour) {
    const width = g.measureText(text).width;
    g.fillStyle = colours.labelGround;
    g.fillRect(x - width / 2 - 3, top, width + 6, height);
    g.fillStyle = colour;
    g.textAlign = 'center';
    g.fillText(text, x, top + height - 3);
    g.textAlign = 'left';
  }

  // The view's width times f, the place `at` staying where it is.
  function zoomAt(at, f) {
    view = [at - (at - view[0]) * f, at + (view[1] - at) * f];
    draw();
  }

  canvas.addEventListener('wheel', (e) => {
    const S = session.data;
    if (!S || !S.n) return;
    e.preventDefault();
    zoomAt(fromX(e.offsetX, canvas.clientWidth), e.deltaY > 0 ? 1.25 : 0.8);
  }, { passive: false });
  // Keys while the timeline has the focus: + (or =, Up) zooms in and -
  // (Down) out, around the selection when it is in view, else around the
  // middle; Left and Right pan by an eighth of the view (with shift: a
  // half).
  const kZoomKeys = { '+': 0.8, '=': 0.8, ArrowUp: 0.8, '-': 1.25, _: 1.25, ArrowDown: 1.25 };
  canvas.addEventListener('keydown', (e) => {
    const S = session.data;
    if (!S || !S.n || e.ctrlKey || e.altKey || e.metaKey) return;
    const pan = { ArrowLeft: -1, ArrowRight: 1 }[e.key];
    if (!kZoomKeys[e.key] && !pan) return;
    e.preventDefault();
    e.stopPropagation();
    if (pan) {
      const dx = pan * (view[1] - view[0]) * (e.shiftKey ? 0.5 : 0.125);
      view = [view[0] + dx, view[1] + dx];
      draw();
      return;
    }
    const at = session.selected >= 0 && S.x[session.selected] >= view[0] && S.x[session.selected] <= view[1] ? S.x[session.selected]
      : (view[0] + view[1]) / 2;
    zoomAt(at, kZoomKeys[e.key]);
  });
  canvas.addEventListener('mousedown', (e) => {
    const S = session.data;
    if (!S || !S.n) return;
    drag = { x: e.offsetX, y: e.offsetY, view: view.slice(), range: e.shiftKey, moved: false };
  });
  window.addEventListener('mousemove', (e) => {
    const S = session.data;
    if (!drag) return;
    const rect = canvas.getBoundingClientRect();
    const px = e.clientX - rect.left;
    const w = canvas.clientWidth;
    if (Math.abs(px - drag.x) > 2) drag.moved = true;
    if (drag.range) {
      const a = fromX(Math.min(px, drag.x), w);
      const b = fromX(Math.max(px, drag.x), w);
      S.range = [a, b];
    } else {
      const dx = ((px - drag.x) / (w - pad.l - pad.r)) * (drag.view[1] - drag.view[0]);
      view = [drag.view[0] - dx, drag.view[1] - dx];
    }
    draw();
  });
  window.addEventListener('mouseup', (e) => {
    const S = session.data;
    if (!drag) return;
    const d = drag;
    drag = null;
    if (d.range && d.moved) { P.filters.apply(); draw(); return; }
    if (!d.moved) {
      // A click: the finding of a bar in the findings' lane, the marked
      // message of a marker there, or the message nearest in time.
      const finding = findingAt(d.x, d.y, canvas.clientHeight);
      if (finding >= 0) {
        P.findings.goTo(finding);
        return;
      }
      const marker = markedAt(d.x, d.y, canvas.clientHeight);
      if (marker >= 0) {
        // (A marker of a message that left the live page selects nothing.)
        if (marker < S.n) session.show(marker);
        return;
      }
      const at = fromX(d.x, canvas.clientWidth);
      let i = Math.min(S.n - 1, first(at));
      if (i > 0 && Math.abs(S.x[i - 1] - at) < Math.abs(S.x[i] - at)) i--;
      if (session.position(i) < 0 && session.shown.length) {
        const k = Math.min(session.shown.length - 1, Math.max(0, lowerBound(session.shown, i)));
        i = session.shown[k];
      }
      session.select(i);
    }
    void e;
  });
  // Hovering: where the tool was at that moment, shown on the tool path.
  canvas.addEventListener('mousemove', (e) => {
    const S = session.data;
    if (!S || !S.n || drag) return;
    const w = canvas.clientWidth;
    P.path.showMoment(S.timed && e.offsetX >= pad.l && e.offsetX <= w - pad.r ? fromX(e.offsetX, w) : null);
  });
  canvas.addEventListener('mouseleave', () => { if (session.data) P.path.showMoment(null); });

  // The moment t (seconds) marked on the timeline, or none (null): the
  // tool path's hover.
  let marking = false;
  function showMoment(t) {
    if (t === moment) return;
    moment = t;
    if (marking) return;
    marking = true;
    requestAnimationFrame(() => {
      marking = false;
      draw();
    });
  }

  canvas.addEventListener('dblclick', () => {
    const S = session.data;
    if (!S) return;
    S.range = null;
    reset();
    P.filters.apply();
  });
  return {
    reset, grew, draw, reveal, zoomTo, zoomToSelection, showMoment,
    selected(i) {
      reveal(i);
      draw();
    },
  };
});
