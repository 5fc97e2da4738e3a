// The canvases' drawing: sized to their place on the screen, and drawn
// in layers.
function fit(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const w = canvas.clientWidth;
  const h = canvas.clientHeight;
  if (canvas.width !== Math.round(w * ratio) || canvas.height !== Math.round(h * ratio)) {
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
  }
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, w, h);
  return { g, w, h };
}

// A canvas drawn in two layers: what changes with the view alone (kept
// in an offscreen canvas under `key`, drawn again when the key changes)
// and, over it, what changes with the selection.
function layered(canvas, key, paintBase) {
  const { g, w, h } = fit(canvas);
  const fullKey = key + '|' + canvas.width + 'x' + canvas.height;
  if (canvas.baseKey !== fullKey) {
    const base = canvas.base || document.createElement('canvas');
    base.width = canvas.width;
    base.height = canvas.height;
    const bg = base.getContext('2d');
    const ratio = canvas.width / Math.max(1, w);
    bg.setTransform(ratio, 0, 0, ratio, 0, 0);
    bg.clearRect(0, 0, w, h);
    paintBase(bg, w, h);
    canvas.base = base;
    canvas.baseKey = fullKey;
  }
  g.drawImage(canvas.base, 0, 0, w, h);
  return { g, w, h };
}
