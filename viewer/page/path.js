// The tool path: the stored segments (the rows of the steps CSV, with
// its signs) from (0, 0), S1 to the right and S2 up at one scale, and S3
// by row below; with the path's extent. A live session that grew keeps
// what it had: the positions are added from row `rowsFrom` on (the rows
// before never change).
panel('path', ['plan', 's3', 'path-hover'], (session, el) => {
  const P = session.P;
  const plan = el.plan;
  const s3 = el.s3;
  // The path's colours, as viewer.css defines them.
  const colours = cssColours({ path: 'accent', outside: 'path-outside', start: 'start', startLabel: 'start-label', end: 'end',
    stop: 'stop', hover: 'moment', selected: 'selected', s3: 'no-reply', axis: 'axis', tick: 'tick-dark', label: 'label-dark',
    labelGround: 'label-ground', tickGround: 'tick-ground', markGround: 'mark-ground', text: 'label', note: 'note' });

  // The tool path: the stored segments (the rows of the steps CSV, with
  // its signs) from (0, 0), S1 to the right and S2 up at one scale; with
  // the path's extent. A live session that grew keeps what it had: the
  // positions are added from row `rowsFrom` on (the rows before never
  // change).
  function buildPath(rowsFrom = 0) {
    const S = session.data;
    const rows = S.rowMessage.length;
    const old = S.path;
    const kept = old && rowsFrom > 0 && rowsFrom <= old.rows ? rowsFrom : 0;
    // (A live session whose oldest rows left builds its path again in the
    // room it had, rather than leave that room to the garbage collector.)
    const had = old || S.pathRoom;
    const reuse = had && had.xs.length > rows;
    const room = reuse ? had.xs.length : Math.max(rows + 1, kept ? Math.ceil(1.5 * (rows + 1)) : 0);
    const grown = (v) => {
      if (reuse) return v;
      const a = new Float64Array(room);
      if (kept) a.set(v.subarray(0, kept + 1));
      return a;
    };
    const x = grown(had && had.xs), y = grown(had && had.ys), z = grown(had && had.zs);
    S.pathRoom = null;
    // (A live session's rows that went leave the position they reached.)
    const [ox, oy, oz] = S.pathFrom || [0, 0, 0];
    if (!kept) [x[0], y[0], z[0]] = [ox, oy, oz];
    const box = kept ? Object.assign({}, old.box) : { x0: ox, x1: ox, y0: oy, y1: oy, z0: oz, z1: oz };
    // (A row's steps of S1, S2 and S3 one after the other in rowSteps.)
    const steps = S.rowSteps;
    const per = S.strides.rowSteps;
    for (let r = kept; r < rows; r++) {
      const a = x[r + 1] = x[r] + steps[per * r];
      const b = y[r + 1] = y[r] + steps[per * r + 1];
      const c = z[r + 1] = z[r] + steps[per * r + 2];
      if (a < box.x0) box.x0 = a;
      if (a > box.x1) box.x1 = a;
      if (b < box.y0) box.y0 = b;
      if (b > box.y1) box.y1 = b;
      if (c < box.z0) box.z0 = c;
      if (c > box.z1) box.z1 = c;
    }
    S.path = { rows, x: x.subarray(0, rows + 1), y: y.subarray(0, rows + 1), z: z.subarray(0, rows + 1),
      xs: x, ys: y, zs: z, box };
  }

  // The stop findings that say where the tool got to.
  const stopsWithPosition = () => session.data.findings.filter((f) => f.kind === 'stop' && f.position);

  let hover = -1;
  let fitted = null; // the plan's scale and place for the whole path
  let t = null; // the transform drawn: fitted, or zoomed and moved
  // The view zoomed or moved: its scale (CSS pixels a step) and (cx, cy)
  // the position in steps at the plan's middle; null for the whole path
  // (a live path that grows keeps a view zoomed where it is).
  let zoom = null;
  // What the S3 strip shows (stripOf), for the view drawn.
  let strip = null;
  const margin = 14;
  // The moment the timeline's hover points at and where the tool was then
  // ({ t, at: positionAt's answer }), or null.
  let moment = null;

  function reset() { hover = -1; grid = null; zoom = null; strip = null; moment = null; draw(); }

  function inRange(r) {
    const S = session.data;
    if (!S.range) return true;
    const m = S.rowMessage[r];
    return m >= 0 && S.x[m] >= S.range[0] && S.x[m] <= S.range[1];
  }

  // The plan's scale and the S3 panel's extent, for the path as a whole.
  function frame(w, h, box = S.path.box) {
    const { x0, x1, y0, y1, z0, z1 } = box;
    const scale = Math.min((w - 2 * margin) / Math.max(1, x1 - x0), (h - 2 * margin) / Math.max(1, y1 - y0));
    const ox = margin + ((w - 2 * margin) - (x1 - x0) * scale) / 2 - x0 * scale;
    const oy = h - margin - ((h - 2 * margin) - (y1 - y0) * scale) / 2 + y0 * scale;
    return { scale, ox, oy, z0, z1 };
  }

  // The transform of the view: the fitted one, or the zoom's, which keeps
  // its middle where it is when the plan changes size.
  function transform(w, h) {
    if (!zoom) return Object.assign({}, fitted);
    const scale = zoom.scale;
    return { scale, ox: w / 2 - zoom.cx * scale, oy: h / 2 + zoom.cy * scale, z0: fitted.z0, z1: fitted.z1 };
  }

  // Zooms by k, the point (px, py) of the plan staying where it is: from
  // half the whole path to some 200 pixels a step.
  function zoomAt(px, py, k) {
    const S = session.data;
    if (!t || !S || !S.path || !S.path.rows) return;
    const w = plan.clientWidth, h = plan.clientHeight;
    // From the view as it is now, drawn or not.
    const now = transform(w, h);
    const sx = (px - now.ox) / now.scale, sy = (now.oy - py) / now.scale;
    const scale = Math.max(fitted.scale / 2, Math.min(Math.max(fitted.scale, 200), now.scale * k));
    const ox = px - sx * scale, oy = py + sy * scale;
    setView({ scale, cx: (w / 2 - ox) / scale, cy: (oy - h / 2) / scale });
  }

  // Moves the view by (dx, dy) pixels (the path follows the pointer).
  function pan(dx, dy, from = view()) {
    setView({ scale: from.scale, cx: from.cx - dx / from.scale, cy: from.cy + dy / from.scale });
  }

  // The view as it is now, zoomed or not.
  function view() {
    if (zoom) return zoom;
    const w = plan.clientWidth, h = plan.clientHeight;
    return { scale: fitted.scale, cx: (w / 2 - fitted.ox) / fitted.scale, cy: (fitted.oy - h / 2) / fitted.scale };
  }

  function setView(v) {
    zoom = v;
    hover = -1;
    drawSoon();
  }

  // Labels beside points of the plan, each at the first of its places
  // (right above, right below, left above, left below, above, below) that
  // stays inside the plan, clear of the edges' tick labels and of the
  // boxes already taken (the marks, the labels placed before); at the
  // least bad place when none is.
  function placeLabels(g, w, h, labels, taken) {
    const overlaps = (a, b) => a[0] < b[2] && b[0] < a[2] && a[1] < b[3] && b[1] < a[3];
    for (const { text, x, y, colour } of labels) {
      const tw = g.measureText(text).width;
      const places = [[x + 8, y - 16], [x + 8, y + 5], [x - 8 - tw, y - 16], [x - 8 - tw, y + 5],
        [x - tw / 2, y - 21], [x - tw / 2, y + 9]];
      let best = null, bestCost = Infinity;
      for (const [lx, ly] of places) {
        const box = [lx - 1, ly, lx + tw + 1, ly + 12];
        const outside = Math.max(0, 2 - box[0]) + Math.max(0, box[2] - (w - 2)) +
          Math.max(0, 2 - box[1]) + Math.max(0, box[3] - (h - 14));
        const cost = outside * 100 + taken.filter((b) => overlaps(box, b)).length;
        if (cost < bestCost) { best = box; bestCost = cost; }
        if (!cost) break;
      }
      // Pulled inside the plan when every place is cut.
      const dx = Math.max(0, 2 - best[0]) - Math.max(0, best[2] - (w - 2));
      const dy = Math.max(0, 2 - best[1]) - Math.max(0, best[3] - (h - 14));
      const box = [best[0] + dx, best[1] + dy, best[2] + dx, best[3] + dy];
      g.fillStyle = colours.markGround;
      g.fillRect(box[0], box[1], box[2] - box[0], box[3] - box[1]);
      g.fillStyle = colour;
      g.fillText(text, box[0] + 1, box[1] + 10);
      taken.push(box);
    }
  }

  // The plan: its axes and the path, then the ruler and the marks.
  function paintPlan(g, w, h) {
    paintPath(g, w, h, 0);
    paintMarks(g, w, h);
  }

  // The path from row `first` on (from the first: with the axes under it).
  function paintPath(g, w, h, first) {
    const S = session.data;
    const { rows, x, y } = S.path;
    const { scale, ox, oy } = t;
    if (!first) {
      g.strokeStyle = colours.axis;
      g.beginPath();
      g.moveTo(0, oy + 0.5); g.lineTo(w, oy + 0.5);
      g.moveTo(ox + 0.5, 0); g.lineTo(ox + 0.5, h);
      g.stroke();
    }
    // The path goes to the canvas only where it moves by half a pixel or
    // more, and only where it crosses the plan: a million segments become
    // as many points as the drawing can show, and the stroke (one pixel
    // wide, the canvas's quickest) stays quick at any zoom.
    // (Where the path is and its last point given to the canvas are kept in
    // a typed array: doubles changed in a closure's variables would each be
    // a new object, some millions of them at every drawing.)
    const at = new Float64Array(4); // the path's x, y; the last point given's x, y
    const stroke = (colour, only) => {
      g.strokeStyle = colour;
      g.beginPath();
      at.fill(NaN);
      let points = 0; // given to the canvas since the last stroke
      const to = (px, py) => {
        g.lineTo(px, py);
        at[2] = px;
        at[3] = py;
        // Stroked in pieces: one stroke of many thousand points costs the
        // canvas far more than its pieces do.
        if (++points === 512) {
          g.stroke();
          g.beginPath();
          g.moveTo(px, py);
          points = 0;
        }
      };
      // The path given so far ends where it is.
      const ends = () => {
        if (!Number.isNaN(at[0]) && (at[0] !== at[2] || at[1] !== at[3])) to(at[0], at[1]);
      };
      const outside = (px, py) => (px < -8 ? 1 : px > w + 8 ? 2 : 0) | (py < -8 ? 4 : py > h + 8 ? 8 : 0);
      for (let r = first; r < rows; r++) {
        if (only && !only(r)) continue;
        const px1 = ox + x[r] * scale, py1 = oy - y[r] * scale;
        const px2 = ox + x[r + 1] * scale, py2 = oy - y[r + 1] * scale;
        if (outside(px1, py1) & outside(px2, py2)) {
          // Wholly beyond one edge.
          ends();
          at.fill(NaN);
          continue;
        }
        if (px1 !== at[0] || py1 !== at[1]) {
          ends();
          g.moveTo(px1, py1);
          at[2] = px1;
          at[3] = py1;
        }
        at[0] = px2;
        at[1] = py2;
        if (Math.abs(px2 - at[2]) >= 0.5 || Math.abs(py2 - at[3]) >= 0.5) to(px2, py2);
      }
      if (!Number.isNaN(at[0]) && (at[0] !== at[2] || at[1] !== at[3])) g.lineTo(at[0], at[1]);
      g.stroke();
    };
    g.lineWidth = 1;
    stroke(S.range ? colours.outside : colours.path);
    if (S.range) stroke(colours.path, inRange);
  }

  // The ruler, the start, the end and the stops, and their labels.
  function paintMarks(g, w, h) {
    const S = session.data;
    const { rows, x, y } = S.path;
    const { scale, ox, oy } = t;
    g.lineWidth = 1;
    const taken = [ruler(g, w, h)];
    // The start (0, 0), the end, and where each stop left the tool (over
    // them: a stop finding's position); the start a ring around the end
    // when they meet.
    const px = (r) => ox + x[r] * scale, py = (r) => oy - y[r] * scale;
    const inside = (r) => px(r) >= -6 && px(r) <= w + 6 && py(r) >= -6 && py(r) <= h + 6;
    const meet = Math.hypot(px(0) - px(rows), py(0) - py(rows)) < 10;
    g.font = '11px system-ui, sans-serif';
    g.fillStyle = colours.end;
    g.fillRect(px(rows) - 4.5, py(rows) - 4.5, 9, 9);
    g.fillStyle = g.strokeStyle = colours.start;
    g.beginPath();
    if (meet) {
      g.lineWidth = 2;
      g.arc(px(0), py(0), 8, 0, 2 * Math.PI);
      g.stroke();
      g.lineWidth = 1;
    } else {
      g.arc(px(0), py(0), 5, 0, 2 * Math.PI);
      g.fill();
    }
    g.strokeStyle = colours.stop;
    g.lineWidth = 2;
    const stops = [];
    for (const f of stopsWithPosition()) {
      const sx = ox + f.position.S1 * scale, sy = oy - f.position.S2 * scale;
      if (sx < -6 || sx > w + 6 || sy < -6 || sy > h + 6) continue;
      stops.push({ f, sx, sy });
      g.beginPath();
      g.moveTo(sx - 5, sy - 5); g.lineTo(sx + 5, sy + 5);
      g.moveTo(sx + 5, sy - 5); g.lineTo(sx - 5, sy + 5);
      g.stroke();
    }
    g.lineWidth = 1;
    const labels = [];
    for (const r of [0, rows]) if (inside(r)) taken.push([px(r) - 8, py(r) - 8, px(r) + 8, py(r) + 8]);
    for (const { sx, sy } of stops) taken.push([sx - 6, sy - 6, sx + 6, sy + 6]);
    // A few stops in view are named by their cause beside their mark (in
    // the end's label when the tool stopped at the end).
    const named = stops.length <= 4 ? stops : [];
    const atEnd = named.filter(({ sx, sy }) => inside(rows) && Math.hypot(sx - px(rows), sy - py(rows)) < 10);
    if (inside(0)) labels.push({ text: 'start', x: px(0), y: py(0), colour: colours.startLabel });
    if (inside(rows)) {
      labels.push({ text: 'end' + atEnd.map(({ f }) => ', ' + f.cause + ' stop').join(''), x: px(rows), y: py(rows),
        colour: colours.end });
    }
    for (const n of named) if (!atEnd.includes(n)) labels.push({ text: n.f.cause + ' stop', x: n.sx, y: n.sy, colour: colours.stop });
    placeLabels(g, w, h, labels, taken);
  }

  // Ticks in steps along the plan's lower and left edges: S1 below, S2 on
  // the left, some 70 pixels apart, and the length of one tick's step (in
  // millimetres too when known) in the upper right corner, whose box it
  // gives back. No tick label is cut at an edge.
  function ruler(g, w, h) {
    const { scale, ox, oy } = t;
    // (A whole number of steps: at most one tick a step.)
    const step = niceStep(Math.max(1, 70 / scale));
    g.strokeStyle = colours.tick;
    g.fillStyle = colours.label;
    g.font = '10px system-ui, sans-serif';
    g.beginPath();
    // Each label on a light ground, over the path.
    const label = (text, lx, ly) => {
      const width = g.measureText(text).width;
      g.fillStyle = colours.tickGround;
      g.fillRect(lx - 1, ly - 9, width + 2, 11);
      g.fillStyle = colours.label;
      g.fillText(text, lx, ly);
    };
    for (let v = Math.ceil(-ox / scale / step) * step; ox + v * scale <= w; v += step) {
      const p = Math.round(ox + v * scale) + 0.5;
      g.moveTo(p, h); g.lineTo(p, h - 5);
      if (p + 2 + g.measureText(String(v)).width <= w - 2) label(String(v), p + 2, h - 2);
    }
    for (let v = Math.ceil((oy - h) / scale / step) * step; oy - v * scale >= 0; v += step) {
      const p = Math.round(oy - v * scale) + 0.5;
      g.moveTo(0, p); g.lineTo(5, p);
      if (p > 12 && p < h - 14) label(String(v), 7, p + 3);
    }
    g.stroke();
    const mm = perMm();
    const a = mm && +(step / mm.s[0]).toPrecision(4), b = mm && +(step / mm.s[1]).toPrecision(4);
    const text = 'tick: ' + step + ' steps' + (!mm ? '' : a === b ? ' = ' + a + ' mm' : ' = ' + a + ' mm S1, ' + b + ' mm S2') +
      (zoom ? ', zoom ' + +(zoom.scale / fitted.scale).toPrecision(3) + 'x' : '');
    const width = g.measureText(text).width;
    g.fillStyle = colours.labelGround;
    g.fillRect(w - width - 7, 1, width + 6, 13);
    g.fillStyle = colours.label;
    g.textAlign = 'right';
    g.fillText(text, w - 4, 11);
    g.textAlign = 'left';
    return [w - width - 7, 1, w, 14];
  }

  // What the S3 strip shows: the positions after rows `from` to `to` (0
  // the start) with their extent in S3, all of them for the whole path;
  // with the plan zoomed or moved, from the first to the last whose S1 and
  // S2 lie in the plan's view, so that the strip follows the plan. Null
  // when none does.
  function stripOf(w, h) {
    const S = session.data;
    const { rows, x, y, z, box } = S.path;
    if (!zoom) return { from: 0, to: rows, z0: box.z0, z1: box.z1 };
    const { scale, ox, oy } = t;
    const x0 = -ox / scale, x1 = (w - ox) / scale, y0 = (oy - h) / scale, y1 = oy / scale;
    let from = -1, to = -1, z0 = Infinity, z1 = -Infinity;
    for (let r = 0; r <= rows; r++) {
      if (x[r] < x0 || x[r] > x1 || y[r] < y0 || y[r] > y1) continue;
      if (from < 0) from = r;
      to = r;
    }
    if (from < 0) return null;
    for (let r = from; r <= to; r++) {
      if (z[r] < z0) z0 = z[r];
      if (z[r] > z1) z1 = z[r];
    }
    return { from, to, z0, z1 };
  }

  // The strip's place of the position after row r.
  const stripX = (r, w) => 6 + ((r - strip.from) / Math.max(1, strip.to - strip.from)) * (w - 12);

  function paintS3(h, w, hh) {
    const S = session.data;
    h.fillStyle = colours.text;
    h.font = '10px system-ui, sans-serif';
    if (!strip) {
      h.fillText('S3: no position of this view', 8, 12);
      return;
    }
    const { z } = S.path;
    const { from, to, z0, z1 } = strip;
    const zs = (v) => hh - 6 - ((v - z0) / Math.max(1, z1 - z0)) * (hh - 12);
    h.strokeStyle = colours.s3;
    h.beginPath();
    h.moveTo(stripX(from, w), zs(z[from]));
    const step = Math.max(1, Math.floor((to - from) / (w * 2)));
    for (let r = from + 1; r <= to; r += step) h.lineTo(stripX(r, w), zs(z[r]));
    h.lineTo(stripX(to, w), zs(z[to]));
    h.stroke();
    h.fillText('S3 ' + z0 + ' .. ' + z1 + (zoom ? ', after rows ' + from + ' to ' + to + ' in view' : ''), 8, 12);
  }

  function draw() {
    const S = session.data;
    if (!S || !S.path) { fit(plan); fit(s3); return; }
    const { rows, x, y } = S.path;
    plan.dataset.rows = String(rows);
    if (!rows) {
      const a = fit(plan);
      fit(s3);
      a.g.fillStyle = colours.note;
      a.g.fillText('No stored segment in this capture.', 10, 20);
      return;
    }
    const w = plan.clientWidth, h = plan.clientHeight;
    // Collapsed: nothing to draw until the pane is there again.
    if (!w || !h) return;
    const mm = perMm();
    // A live path is framed with room to grow (a quarter of its extent
    // more on each side), framed again only when it leaves that room: the
    // plan then draws only the rows that came. The path whole is framed
    // exactly.
    const growing = !!S.growing;
    const box = S.path.box;
    if (growing && !(S.liveBox && box.x0 >= S.liveBox.x0 && box.x1 <= S.liveBox.x1 && box.y0 >= S.liveBox.y0 &&
        box.y1 <= S.liveBox.y1)) {
      const dx = Math.max(1, box.x1 - box.x0) / 4, dy = Math.max(1, box.y1 - box.y0) / 4;
      S.liveBox = { x0: box.x0 - dx, x1: box.x1 + dx, y0: box.y0 - dy, y1: box.y1 + dy, z0: box.z0, z1: box.z1 };
    }
    const fitKey = (S.range ? S.range.join(',') : '') + '|' + session.generation + '|' + w + 'x' + h + '|' + (mm ? mm.number : '') +
      '|' + (growing ? 'live ' + [S.liveBox.x0, S.liveBox.x1, S.liveBox.y0, S.liveBox.y1].join(',') : 'rows ' + rows);
    if (!fitted || fitted.key !== fitKey) {
      fitted = frame(w, h, growing ? S.liveBox : box);
      fitted.key = fitKey;
    }
    const key = fitKey + '|' + (zoom ? [zoom.scale, zoom.cx, zoom.cy].join(',') : 'whole');
    if (!t || t.key !== key) {
      t = transform(w, h);
      t.key = key;
      // The segments' squares made when the page is idle, before a hover,
      // once the view has stayed as it is for a moment (not between the
      // notches of a zoom).
      const later = window.requestIdleCallback || ((f) => setTimeout(f, 0));
      clearTimeout(gridSoon);
      gridSoon = setTimeout(() => later(() => { const S = session.data; if (S && S.path && S.path.rows && t) gridOf(); }), 300);
    }
    // Where (0, 0) is and how many CSS pixels a step is, and the steps
    // for a millimetre when known: for scripts.
    for (const [k, v] of [['s1PerMm', mm && mm.s[0]], ['s2PerMm', mm && mm.s[1]], ['s3PerMm', mm && mm.s[2]]]) {
      if (v) plan.dataset[k] = String(v);
      else delete plan.dataset[k];
    }
    plan.dataset.originX = t.ox.toFixed(3);
    plan.dataset.originY = t.oy.toFixed(3);
    plan.dataset.scale = String(t.scale);
    // Growing: the layer under the selection holds the path drawn so far,
    // the rows that came are added to it; the marks go over it.
    const a = !growing ? layered(plan, key + '|' + S.findingsVersion, paintPlan) : layered(plan, key, (g, w, h) => {
      paintPath(g, w, h, 0);
      plan.baseRows = rows;
    }, (g, w, h) => {
      paintPath(g, w, h, Math.min(plan.baseRows, rows));
      plan.baseRows = rows;
    });
    const g = a.g;
    if (growing) paintMarks(g, a.w, a.h);
    const { scale, ox, oy } = t;
    const mark = (r, colour, width) => {
      if (r < 0) return;
      g.strokeStyle = colour;
      g.lineWidth = width;
      g.beginPath();
      g.moveTo(ox + x[r] * scale, oy - y[r] * scale);
      g.lineTo(ox + x[r + 1] * scale, oy - y[r + 1] * scale);
      g.stroke();
    };
    const sel = selectedRow();
    mark(hover, colours.hover, 4);
    mark(sel, colours.selected, 3);
    // Where the tool was at the moment hovered on the timeline.
    if (moment && moment.at) {
      g.strokeStyle = colours.hover;
      g.lineWidth = 2.5;
      g.beginPath();
      g.arc(ox + moment.at.x * scale, oy - moment.at.y * scale, 6, 0, 2 * Math.PI);
      g.stroke();
      g.lineWidth = 1;
    }
    // (A hovered row is said as the pointer moves.)
    if (hover < 0) {
      if (moment) sayMoment(moment);
      else say(sel);
    }
    const stripKey = key + (growing ? '|' + rows : '');
    if (!strip || strip.key !== stripKey) {
      strip = stripOf(w, h);
      if (strip) strip.key = stripKey;
      // The rows the strip shows, for scripts.
      s3.dataset.from = strip ? String(strip.from) : '';
      s3.dataset.to = strip ? String(strip.to) : '';
    }
    const b = layered(s3, stripKey, paintS3);
    if (sel >= 0 && strip && sel + 1 >= strip.from && sel + 1 <= strip.to) {
      b.g.fillStyle = colours.selected;
      b.g.fillRect(stripX(sel + 1, b.w) - 1, 0, 2, b.h);
    }
  }

  function selectedRow() {
    const S = session.data;
    if (!S || session.selected < 0) return -1;
    const r = lowerBound(S.rowMessage, session.selected);
    return r < S.rowMessage.length && S.rowMessage[r] === session.selected ? r : -1;
  }

  // The segments by the square of the plan they cross (kCell CSS pixels a
  // side), made once for a frame: a mouse move looks only at the
  // segments of the squares around it, not at every segment.
  const kCell = 16;
  let grid = null;
  let gridRoom = {};
  let gridSoon = 0;

  function gridOf() {
    const S = session.data;
    const key = t.key + '|' + S.path.rows;
    if (grid && grid.key === key) return grid;
    const { rows, x, y } = S.path;
    const cols = Math.max(1, Math.ceil(plan.clientWidth / kCell) + 1);
    const lines = Math.max(1, Math.ceil(plan.clientHeight / kCell) + 1);
    const cells = cols * lines;
    // A segment's squares: those its bounding box covers, within the plan.
    const box = (r, visit) => {
      const ax = t.ox + x[r] * t.scale, ay = t.oy - y[r] * t.scale;
      const bx = t.ox + x[r + 1] * t.scale, by = t.oy - y[r + 1] * t.scale;
      const c0 = Math.max(0, Math.floor(Math.min(ax, bx) / kCell)), c1 = Math.min(cols - 1, Math.floor(Math.max(ax, bx) / kCell));
      const l0 = Math.max(0, Math.floor(Math.min(ay, by) / kCell)), l1 = Math.min(lines - 1, Math.floor(Math.max(ay, by) / kCell));
      for (let l = l0; l <= l1; l++) for (let c = c0; c <= c1; c++) visit(l * cols + c);
    };
    // (Its arrays are kept for the next grid: a live path is gridded
    // again at every update.)
    const room = (name, length) => {
      if (!gridRoom[name] || gridRoom[name].length < length) gridRoom[name] = new Int32Array(Math.ceil(1.25 * length));
      return gridRoom[name].subarray(0, length);
    };
    // (The visits made once: one made for each segment would be as many
    // objects for the collector.)
    const first = room('first', cells + 1).fill(0);
    const count = (k) => { first[k + 1]++; };
    for (let r = 0; r < rows; r++) box(r, count);
    for (let k = 0; k < cells; k++) first[k + 1] += first[k];
    const filled = room('filled', cells);
    filled.set(first.subarray(0, cells));
    const members = room('members', first[cells]);
    let member = 0;
    const place = (k) => { members[filled[k]++] = member; };
    for (member = 0; member < rows; member++) box(member, place);
    grid = { key, cols, lines, first, members };
    return grid;
  }

  // The stored segment nearest to (px, py), within 8 pixels (the later
  // one of two as near), and where on it (0 at its start, 1 at its end).
  function nearest(px, py) {
    const S = session.data;
    if (!t || !S || !S.path.rows) return { r: -1, u: 0 };
    const { x, y } = S.path;
    const g = gridOf();
    let best = -1, bestU = 0;
    let bestD = 64;
    const c = Math.floor(px / kCell), l = Math.floor(py / kCell);
    for (let ll = Math.max(0, l - 1); ll <= Math.min(g.lines - 1, l + 1); ll++) {
      for (let cc = Math.max(0, c - 1); cc <= Math.min(g.cols - 1, c + 1); cc++) {
        const k = ll * g.cols + cc;
        for (let m = g.first[k]; m < g.first[k + 1]; m++) {
          const r = g.members[m];
          if (S.range && !inRange(r)) continue;
          const ax = t.ox + x[r] * t.scale, ay = t.oy - y[r] * t.scale;
          const bx = t.ox + x[r + 1] * t.scale, by = t.oy - y[r + 1] * t.scale;
          const dx = bx - ax, dy = by - ay;
          const len = dx * dx + dy * dy;
          let u = len ? ((px - ax) * dx + (py - ay) * dy) / len : 0;
          u = Math.max(0, Math.min(1, u));
          const ex = ax + u * dx - px, ey = ay + u * dy - py;
          const d = ex * ex + ey * ey;
          if (d < bestD || d === bestD && r > best) { bestD = d; best = r; bestU = u; }
        }
      }
    }
    return { r: best, u: bestU };
  }

  // The moment at the point u along row r (0 its start, 1 its end), by the
  // motion model: null when the model does not know when the row ran.
  function timeAlong(r, u) {
    const S = session.data;
    const a = S.rowStart[r];
    if (!motionOf(S) || !(a === a)) return null;
    return a + u * (S.rowFinish[r] - a);
  }

  // When row r ran, as the model tells it, and the moment at u along it.
  function runText(r, u) {
    const S = session.data;
    if (!motionOf(S)) return '';
    const a = timeAlong(r, 0);
    if (a === null) return S.growing ? '; not run yet' : '; never ran, as far as the capture shows';
    const here = u === undefined ? '' : ', here at ' + timeAlong(r, u).toFixed(3) + ' s';
    return '; ran from ' + a.toFixed(3) + ' to ' + timeAlong(r, 1).toFixed(3) + ' s' + here;
  }

  // Row r and where the tool is: at the row's end (the steps CSV's sums
  // down to that row), and at the point u along it when hovered.
  function describe(r, u) {
    const S = session.data;
    const m = S.rowMessage[r];
    const steps = S.rowSteps;
    const per = S.strides.rowSteps;
    const { x, y, z } = S.path;
    const at = (v) => Math.round(v[r] + u * (v[r + 1] - v[r]));
    return 'Row ' + (r + 1) + ' of the steps CSV: SEG ' + S.rowSeg[r] +
      (S.rowEnd[r] ? ', end of data' : ', S1 ' + steps[per * r] + ', S2 ' + steps[per * r + 1] + ', S3 ' + steps[per * r + 2] +
        (S.rowPwm[r] >= 0 ? ', PWM ' + S.rowPwm[r] : '')) +
      (m >= 0 ? '; Data message #' + S.number[m] : '') +
      '. Position after it: S1 ' + x[r + 1] + ', S2 ' + y[r + 1] + ', S3 ' + z[r + 1] + ' steps' +
      inMm(x[r + 1], y[r + 1], z[r + 1]) +
      (u === undefined ? '' : '; here S1 ' + at(x) + ', S2 ' + at(y) + ', S3 ' + at(z) + inMm(at(x), at(y), at(z))) +
      runText(r, u);
  }

  // A position in millimetres, when the capture's tables give the steps
  // for one.
  function inMm(...steps) {
    const mm = perMm();
    if (!mm) return '';
    return ' (' + steps.map((v, k) => (mm.s[k] ? +(v / mm.s[k]).toFixed(3) : '?')).join(', ') + ' mm)';
  }

  // The steps for a millimetre of S1, S2 and S3 ({ s: [s1, s2, s3], number:
  // the message that gives them }), as the decoder's motion model read them
  // from the last Table message that gives them for S1 and S2 (the table
  // read or written last); null when none does.
  function perMm() {
    const S = session.data;
    return S && S.perMm ? S.perMm : null;
  }

  // The line under the path: the hovered segment, else the selected one;
  // data-row and data-s1, data-s2, data-s3 (the position after that row,
  // in steps from the start) for scripts.
  function say(r, u) {
    const S = session.data;
    const line = el.pathHover;
    line.textContent = r >= 0 ? describe(r, u) : '';
    if (r >= 0) {
      line.dataset.row = String(r + 1);
      line.dataset.s1 = String(S.path.x[r + 1]);
      line.dataset.s2 = String(S.path.y[r + 1]);
      line.dataset.s3 = String(S.path.z[r + 1]);
    } else {
      for (const k of ['row', 's1', 's2', 's3']) delete line.dataset[k];
    }
  }

  // The line under the path for the moment hovered on the timeline: the
  // row under way then, or the last done, or the stop that left the tool
  // there, and where it was.
  function sayMoment({ t, at }) {
    const S = session.data;
    const line = el.pathHover;
    for (const k of ['row', 's1', 's2', 's3']) delete line.dataset[k];
    let text = 'At ' + t.toFixed(3) + ' s: ';
    if (!motionOf(S)) text += 'the capture has no times to tell where the tool was';
    else if (!at) text += 'no stored segment had started; the tool at the start';
    else {
      const m = S.rowMessage[at.row];
      const row = 'row ' + (at.row + 1) + (m >= 0 ? ' (Data message #' + S.number[m] + ')' : '');
      const round = (v) => Math.round(v);
      text += (at.stop ? 'stopped since ' + at.stop.start.toFixed(3) + ' s (' + at.stop.cause + ', finding #' +
        at.stop.id + '), the last row run ' + row
        : at.share < 1 ? 'running ' + row + ', ' + Math.floor(at.share * 100) + '% of it done'
        : 'after ' + row) +
        '; the tool at S1 ' + round(at.x) + ', S2 ' + round(at.y) + ', S3 ' + round(at.z) + ' steps' +
        inMm(round(at.x), round(at.y), round(at.z));
    }
    line.textContent = text;
  }

  // The moment t (seconds) hovered on the timeline, or none (null): where
  // the tool was then, marked on the plan.
  function showMoment(t) {
    const S = session.data;
    moment = t === null || !S || !S.path ? null : { t, at: positionAt(S, t) };
    drawSoon();
  }

  // A stop's mark within a few pixels of (px, py): its finding, or null.
  function stopNear(px, py) {
    if (!t) return null;
    for (const f of stopsWithPosition()) {
      const dx = t.ox + f.position.S1 * t.scale - px, dy = t.oy - f.position.S2 * t.scale - py;
      if (dx * dx + dy * dy <= 49) return f;
    }
    return null;
  }

  // A mouse move finds its segment at once (a few hundred segments
  // looked at); the drawing waits for the next frame, as does a view
  // zoomed or moved (wheel notches and drag moves come faster than frames).
  let drawing = false;
  function drawSoon() {
    if (drawing) return;
    drawing = true;
    requestAnimationFrame(() => {
      drawing = false;
      draw();
    });
  }
  let drag = null; // the pointer's place and the view where a drag began
  plan.addEventListener('mousemove', (e) => {
    const S = session.data;
    if (!S || !t || drag) return;
    // A stop's mark names its stop in the plan's title.
    const stop = stopNear(e.offsetX, e.offsetY);
    const title = stop ? 'Stopped: ' + stop.cause + ' (finding #' + stop.id + ', message #' + stop.first +
      (stop.start === null ? '' : ', ' + stop.start.toFixed(3) + ' s') + '); the tool at S1 ' + stop.position.S1 +
      ', S2 ' + stop.position.S2 + ', S3 ' + stop.position.S3 + ' steps' : '';
    if (plan.title !== title) plan.title = title;
    const { r, u } = nearest(e.offsetX, e.offsetY);
    if (r >= 0) say(r, u);
    // The moment at that point of the row, marked on the timeline.
    P.timeline.showMoment(r >= 0 ? timeAlong(r, u) : null);
    if (r === hover) return;
    hover = r;
    drawSoon();
  });
  plan.addEventListener('mouseleave', () => { hover = -1; P.timeline.showMoment(null); draw(); });
  // The wheel zooms about the pointer; a drag moves the path; a click (no
  // drag) selects the Data message of the segment under the pointer.
  plan.addEventListener('wheel', (e) => {
    const S = session.data;
    if (!S || !t || !S.path.rows) return;
    e.preventDefault();
    zoomAt(e.offsetX, e.offsetY, e.deltaY > 0 ? 0.8 : 1.25);
  }, { passive: false });
  plan.addEventListener('mousedown', (e) => {
    const S = session.data;
    if (!S || !t || !S.path.rows || e.button !== 0) return;
    drag = { x: e.clientX, y: e.clientY, view: view(), moved: false };
  });
  window.addEventListener('mousemove', (e) => {
    if (!drag) return;
    const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
    if (!drag.moved && Math.abs(dx) + Math.abs(dy) < 4) return;
    drag.moved = true;
    plan.classList.add('moving');
    pan(dx, dy, drag.view);
  });
  window.addEventListener('mouseup', () => {
    if (!drag) return;
    // The click that ends a drag selects nothing.
    if (drag.moved) plan.addEventListener('click', (e) => e.stopImmediatePropagation(), { capture: true, once: true });
    drag = null;
    plan.classList.remove('moving');
  });
  plan.addEventListener('click', (e) => {
    const S = session.data;
    const { r } = nearest(e.offsetX, e.offsetY);
    if (r >= 0 && S.rowMessage[r] >= 0) {
      const i = S.rowMessage[r];
      session.show(i);
    }
  });
  plan.addEventListener('dblclick', () => { if (zoom) setView(null); });
  // Keys while the plan has the focus: + (or =) zooms in and - out, around
  // the selected segment when it is in view, else around the middle; the
  // arrows move the path by an eighth of the plan (with shift: a half); 0
  // shows the whole path again.
  const kZoomKeys = { '+': 1.25, '=': 1.25, '-': 0.8, _: 0.8 };
  const kPanKeys = { ArrowLeft: [1, 0], ArrowRight: [-1, 0], ArrowUp: [0, 1], ArrowDown: [0, -1] };
  plan.addEventListener('keydown', (e) => {
    const S = session.data;
    if (!S || !t || !S.path.rows || e.ctrlKey || e.altKey || e.metaKey) return;
    const w = plan.clientWidth, h = plan.clientHeight;
    if (kZoomKeys[e.key]) {
      const r = selectedRow();
      const now = transform(w, h);
      const ax = r >= 0 ? now.ox + S.path.x[r + 1] * now.scale : w / 2;
      const ay = r >= 0 ? now.oy - S.path.y[r + 1] * now.scale : h / 2;
      const seen = ax >= 0 && ax <= w && ay >= 0 && ay <= h;
      zoomAt(seen ? ax : w / 2, seen ? ay : h / 2, kZoomKeys[e.key]);
    } else if (kPanKeys[e.key]) {
      const [kx, ky] = kPanKeys[e.key];
      const share = e.shiftKey ? 0.5 : 0.125;
      pan(kx * w * share, ky * h * share);
    } else if (e.key === '0') {
      setView(null);
    } else {
      return;
    }
    e.preventDefault();
    e.stopPropagation();
  });
  s3.addEventListener('click', (e) => {
    const S = session.data;
    if (!S || !S.path || !S.path.rows || !strip) return;
    const at = strip.from + Math.round(((e.offsetX - 6) / (s3.clientWidth - 12)) * (strip.to - strip.from));
    const r = Math.min(S.path.rows - 1, Math.max(0, at - 1));
    if (S.rowMessage[r] >= 0) session.select(S.rowMessage[r]);
  });
  return {
    reset,
    draw,
    showMoment,
    build: buildPath,
    selected: () => draw(),
  };
});
