// The panes' sizes: the handles between them resize them (a drag, or the
// arrow keys on a focused handle; a double-click gives back the first
// size), the button in a pane's heading collapses it to that heading, and
// the canvases and the list are drawn again whenever their size changes.
panel('layout', [], (session) => {
  const P = session.P;
  const main = document.querySelector('main');
  // Each handle's size: the CSS variable it sets, the pane it measures, and
  // whether a move to the right or down makes that pane smaller.
  const kSizes = {
    timeline: { variable: '--timeline-h', pane: 'timeline-panel', across: true, least: 60 },
    list: { variable: '--list-h', pane: 'list-panel', across: true, least: 40 },
    right: { variable: '--right-w', pane: 'right', across: false, least: 200, shrinks: true },
  };

  // Sets the size of handle `name`'s pane to px, kept within its least and
  // what leaves the pane after it the same least.
  function resize(name, px) {
    const size = kSizes[name];
    const pane = $(size.pane);
    const room = size.across ? pane.parentElement.clientHeight : pane.parentElement.clientWidth;
    const most = name === 'timeline' ? room - 120 : room - size.least - 6;
    main.style.setProperty(size.variable, Math.round(Math.max(size.least, Math.min(most, px))) + 'px');
  }

  function current(name) {
    const box = $(kSizes[name].pane).getBoundingClientRect();
    return kSizes[name].across ? box.height : box.width;
  }

  for (const handle of document.querySelectorAll('.handle[data-resize]')) {
    const name = handle.dataset.resize;
    const size = kSizes[name];
    let from = null; // the pointer's place and the pane's size at the start of a drag
    handle.addEventListener('pointerdown', (e) => {
      e.preventDefault();
      handle.setPointerCapture(e.pointerId);
      handle.classList.add('moving');
      from = { at: size.across ? e.clientY : e.clientX, px: current(name) };
    });
    handle.addEventListener('pointermove', (e) => {
      if (!from) return;
      const moved = (size.across ? e.clientY : e.clientX) - from.at;
      resize(name, from.px + (size.shrinks ? -moved : moved));
    });
    const end = () => { from = null; handle.classList.remove('moving'); };
    handle.addEventListener('pointerup', end);
    handle.addEventListener('pointercancel', end);
    handle.addEventListener('dblclick', () => main.style.removeProperty(size.variable));
    handle.addEventListener('keydown', (e) => {
      const keys = size.across ? { ArrowUp: -1, ArrowDown: 1 } : { ArrowLeft: -1, ArrowRight: 1 };
      if (!keys[e.key]) return;
      e.preventDefault();
      e.stopPropagation();
      const step = keys[e.key] * (e.shiftKey ? 80 : 20);
      resize(name, current(name) + (size.shrinks ? -step : step));
    });
  }

  for (const button of document.querySelectorAll('.fold')) {
    button.addEventListener('click', () => {
      const pane = button.closest('section');
      const folded = pane.classList.toggle('collapsed');
      button.setAttribute('aria-expanded', String(!folded));
      main.classList.toggle('folded-' + pane.id.replace('-panel', ''), folded);
    });
  }

  // A heading's hint cut at the pane's width is whole in its title.
  for (const hint of document.querySelectorAll('h2 .hint')) hint.title = hint.textContent;

  // Whatever changes a view's size (the window, a handle, a pane
  // collapsed or expanded): the view drawn again at its new size.
  const redraw = new ResizeObserver((entries) => {
    for (const entry of entries) {
      if (entry.target.id === 'timeline') P.timeline.draw();
      else if (entry.target.id === 'list') P.list.render();
      else P.path.draw();
    }
  });
  for (const id of ['timeline', 'plan', 'list']) redraw.observe($(id));

});
