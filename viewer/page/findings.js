// The findings: why the machine stuttered or stopped, as the decoder's
// findings engine tells it (the worker hands over vornlog -e's lines). A
// list with one element per finding, in the order of their first message;
// a click on one (or on its bar in the timeline's findings lane) selects
// its first message and zooms the timeline to it; F and Shift+F go to the
// next and the previous finding.
const findingsView = (() => {
  const box = $('findings');
  let current = -1; // the place in S.findings of the finding gone to last

  // The session's findings from their JSON lines, each with the indices
  // of its first and last message (-1 for a number that no message has).
  // A finding written again (an ongoing one, complete) keeps its last line.
  function load(text) {
    S.findingsById = new Map();
    add(text);
  }

  // More of the session's findings (a live session's new lines).
  function add(text) {
    const byId = S.findingsById || (S.findingsById = new Map());
    for (const line of text.split('\n')) if (line) {
      const f = JSON.parse(line);
      byId.set(f.id, f);
    }
    const all = [...byId.values()];
    for (const f of all) {
      f.at = indexOfNumber(f.first);
      f.lastAt = indexOfNumber(f.last);
      if (f.lastAt < f.at) f.lastAt = f.at;
    }
    all.sort((a, b) => a.at - b.at || a.id - b.id);
    S.findings = all;
    S.findingsVersion = (S.findingsVersion || 0) + 1;
    current = -1;
    render();
  }

  const seconds = (t) => (t === null ? '' : t.toFixed(3));

  function render() {
    const items = S.findings.map((f, k) => {
      const el = document.createElement('div');
      el.className = 'finding';
      el.dataset.finding = String(f.id);
      el.dataset.kind = f.kind;
      el.dataset.cause = f.cause;
      el.dataset.first = String(f.first);
      el.dataset.place = String(k);
      el.title = f.text;
      const when = f.start === null ? '' : seconds(f.start) + (f.end !== f.start ? ' to ' + seconds(f.end) : '') + ' s, ';
      const where = (f.first === f.last ? '#' + f.first : '#' + f.first + ' to #' + f.last) +
        (f.count > 1 ? ', ' + f.count + ' times' : '') +
        (f.ongoing ? ', still open' + (body.dataset.live && body.dataset.live !== 'ended' ? '' : ' at the end') : '');
      const cells = [['id', '#' + f.id], ['what', f.kind + ' (' + f.cause + ')'], ['when', when + where], ['text', f.text]];
      for (const [name, text] of cells) {
        const span = document.createElement('span');
        span.className = name;
        span.textContent = text;
        el.appendChild(span);
      }
      return el;
    });
    if (!items.length) {
      const none = document.createElement('div');
      none.className = 'note';
      none.textContent = 'No findings: the buffer never ran dry while a job ran, nothing stopped the controller, ' +
        'every message was answered and accepted.';
      items.push(none);
    }
    box.replaceChildren(...items);
    $('findings-count').textContent = String(S.findings.length);
  }

  // Goes to the finding at place k: its first message selected, the
  // timeline around it.
  function goTo(k) {
    const f = S && S.findings[k];
    if (!f || f.at < 0) return;
    current = k;
    for (const el of box.children) el.classList.toggle('current', el.dataset.place === String(k));
    const el = box.children[k];
    if (el) el.scrollIntoView({ block: 'nearest' });
    show(f.at);
    timeline.zoomTo(f.at, f.lastAt);
  }

  // The next finding (step 1) or the previous one (-1): after the one gone
  // to last while its message is still selected, else from the selection.
  function next(step) {
    if (!S || !S.findings.length) return;
    const all = S.findings;
    let k = -1;
    if (current >= 0 && all[current].at === selected) k = current + step;
    else if (step > 0) k = all.findIndex((f) => f.at > selected);
    else for (let j = all.length - 1; j >= 0 && k < 0; j--) if (all[j].at >= 0 && all[j].at < selected) k = j;
    if (k >= 0 && k < all.length) goTo(k);
  }

  box.addEventListener('click', (e) => {
    const el = e.target.closest('[data-place]');
    if (el) goTo(Number(el.dataset.place));
  });

  return { load, add, goTo, next, current: () => current };
})();
