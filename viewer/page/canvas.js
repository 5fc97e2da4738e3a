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
// in an offscreen canvas under `key`, drawn again when the key changes;
// `addToBase`, when given, adds what came to a layer kept)
// and, over it, what changes with the selection.
// A canvas of no size (its pane collapsed) draws nothing.
function layered(canvas, key, paintBase, addToBase) {
  const { g, w, h } = fit(canvas);
  if (!canvas.width || !canvas.height) return { g, w, h };
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
  } else if (addToBase) {
    addToBase(canvas.base.getContext('2d'), w, h);
  }
  g.drawImage(canvas.base, 0, 0, w, h);
  return { g, w, h };
}

// A step of 1, 2 or 5 times a power of ten, at least `least`: the
// distance between an axis's ticks.
function niceStep(least) {
  const power = Math.pow(10, Math.floor(Math.log10(Math.max(least, 1e-9))));
  for (const k of [1, 2, 5]) if (k * power >= least) return k * power;
  return 10 * power;
}

// Colours that viewer.css defines as custom properties (--NAME), by the
// names the caller gives them: { key: 'NAME', ... } gives { key: colour }.
// (The canvases draw in the page's colours; a colour is written once.)
function cssColours(names) {
  const style = getComputedStyle(document.documentElement);
  const found = {};
  for (const [key, name] of Object.entries(names)) found[key] = style.getPropertyValue('--' + name).trim();
  return found;
}
