// The findings: why the machine stuttered or stopped, as the decoder's
// findings engine tells it (the worker hands over vornlog -e's lines). A
// list in the order of their first message, of which only the rows in view
// are made (a session may have tens of thousands); a click on one (or on
// its bar in the timeline's findings lane) selects its first message and
// zooms the timeline to it, and its whole sentence is shown over the list;
// F and Shift+F go to the next and the previous finding. While live, the
// list follows the newest finding (unless the person scrolled it away from
// its end), and a stop or an underrun raises an alert: the tab's title
// starts with its kind, and a banner shows its sentence until it is
// acknowledged (its button, or Esc).
panel('findings', ['findings', 'findings-space', 'finding-said', 'findings-count', 'alert', 'alert-kind', 'alert-text', 'alert-ok'],
  (session, el) => {
  const P = session.P;
  const box = el.findings;
  const space = el.findingsSpace;
  const said = el.findingSaid;
  const FROW = 34; // a row's height: two lines
  let current = -1; // the place in the session's findings of the finding gone to last
  let rows = new Map(); // the rows made, by place
  let madeFor = null; // the session and findings' version the rows were made for

  // The session's findings from their JSON lines, each with the indices
  // of its first and last message (-1 for a number that no message has).
  // A finding written again (an ongoing one, complete) keeps its last line.
  function load(text) {
    session.data.findingsById = new Map();
    add(text);
  }

  // More of the session's findings (a live session's new lines).
  function add(text) {
    const S = session.data;
    const byId = S.findingsById || (S.findingsById = new Map());
    // A live list at its end (or with nothing to scroll) follows the newest.
    const atEnd = box.scrollTop + box.clientHeight >= box.scrollHeight - FROW;
    for (const line of text.split('\n')) if (line) {
      const f = JSON.parse(line);
      byId.set(f.id, f);
    }
    const all = [...byId.values()];
    for (const f of all) {
      f.at = session.indexOfNumber(f.first);
      f.lastAt = session.indexOfNumber(f.last);
      if (f.lastAt < f.at) f.lastAt = f.at;
    }
    all.sort((a, b) => a.at - b.at || a.id - b.id);
    const was = current >= 0 && S.findings ? S.findings[current] : null;
    S.findings = all;
    S.findingsVersion = (S.findingsVersion || 0) + 1;
    current = was ? all.findIndex((f) => f.id === was.id) : -1;
    el.findingsCount.textContent = String(all.length);
    space.style.height = all.length * FROW + 'px';
    if (P.live.live() && body.dataset.live !== 'ended' && atEnd) box.scrollTop = box.scrollHeight;
    render();
  }

  const seconds = (t) => (t === null ? '' : t.toFixed(3));

  // The row of the finding at place k.
  function makeRow(f, k) {
    const el = document.createElement('div');
    el.className = 'finding';
    el.dataset.finding = String(f.id);
    el.dataset.kind = f.kind;
    el.dataset.cause = f.cause;
    el.dataset.first = String(f.first);
    el.dataset.place = String(k);
    el.title = f.text;
    el.style.top = k * FROW + 'px';
    const when = f.start === null ? '' : seconds(f.start) + (f.end !== f.start && f.end !== null ? ' to ' + seconds(f.end) : '') + ' s, ';
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
  }

  // The rows in view (and a few around them) made, the others gone.
  function render() {
    const S = session.data;
    if (!S) return;
    const all = S.findings;
    if (!madeFor || madeFor.session !== S || madeFor.version !== S.findingsVersion) {
      rows = new Map();
      space.replaceChildren();
      madeFor = { session: S, version: S.findingsVersion };
    }
    if (!all.length) {
      const none = document.createElement('div');
      none.className = 'note';
      none.textContent = 'No findings: the buffer never ran dry while a job ran, nothing stopped the controller, ' +
        'every message was answered and accepted.';
      space.replaceChildren(none);
      space.style.height = '';
      said.hidden = true;
      return;
    }
    const first = Math.max(0, Math.floor(box.scrollTop / FROW) - 5);
    const last = Math.min(all.length, Math.ceil((box.scrollTop + box.clientHeight) / FROW) + 5);
    const keep = new Map();
    for (let k = first; k < last; k++) {
      const row = rows.get(k) || makeRow(all[k], k);
      row.classList.toggle('current', k === current);
      keep.set(k, row);
    }
    for (const [k, row] of rows) if (!keep.has(k)) row.remove();
    for (const [, row] of keep) if (!row.parentNode) space.appendChild(row);
    rows = keep;
    const f = all[current];
    said.hidden = !f;
    if (f) said.textContent = '#' + f.id + ' ' + f.kind + ' (' + f.cause + '): ' + f.text;
  }

  // Goes to the finding at place k: its first message selected, the
  // timeline around it.
  function goTo(k) {
    const S = session.data;
    const f = S && S.findings[k];
    if (!f || f.at < 0) return;
    current = k;
    const top = k * FROW;
    if (top < box.scrollTop) box.scrollTop = top;
    else if (top + FROW > box.scrollTop + box.clientHeight) box.scrollTop = top + FROW - box.clientHeight;
    render();
    session.show(f.at);
    P.timeline.zoomTo(f.at, f.lastAt);
  }

  // The next finding (step 1) or the previous one (-1): after the one gone
  // to last while its message is still selected, else from the selection.
  // None there: the status line says so.
  function next(step) {
    const S = session.data;
    const selected = session.selected;
    if (!S) return;
    const all = S.findings;
    let k = -1;
    if (current >= 0 && all[current].at === selected) k = current + step;
    else if (step > 0) k = all.findIndex((f) => f.at > selected);
    else for (let j = all.length - 1; j >= 0 && k < 0; j--) if (all[j].at >= 0 && all[j].at < selected) k = j;
    if (k >= 0 && k < all.length) goTo(k);
    else session.nothingAhead(!all.length ? 'No findings in this session' : 'No finding ' + (step > 0 ? 'after' : 'before') + ' the selected message');
  }

  box.addEventListener('scroll', () => requestAnimationFrame(render));
  box.addEventListener('click', (e) => {
    const el = e.target.closest('[data-place]');
    if (el) goTo(Number(el.dataset.place));
  });

  // The live alerts: a stop or an underrun new to the page (not one it
  // has alerted of before, also across a reconnection) is shown in the
  // banner and the tab's title until acknowledged.
  const kAlertKinds = new Set(['stop', 'underrun']);
  const alerted = new Set();
  const banner = el.alert;
  let titleBefore = null;

  function alertFrom(text) {
    for (const line of text.split('\n')) if (line) {
      const f = JSON.parse(line);
      if (!kAlertKinds.has(f.kind) || alerted.has(f.id)) continue;
      alerted.add(f.id);
      raise(f);
    }
  }

  function raise(f) {
    if (titleBefore === null) titleBefore = document.title;
    document.title = f.kind.toUpperCase() + ': ' + titleBefore;
    const more = banner.hidden ? 0 : Number(banner.dataset.more || 0) + 1;
    banner.dataset.kind = f.kind;
    banner.dataset.finding = String(f.id);
    banner.dataset.more = String(more);
    el.alertKind.textContent = f.kind === 'stop' ? 'Stopped' : 'Stalled';
    el.alertText.textContent = f.text + (more ? ' (and ' + more + ' more before it)' : '');
    banner.hidden = false;
    body.dataset.alert = f.kind;
  }

  // The alert acknowledged: the banner gone, the title as it was; true
  // when there was one.
  function acknowledge() {
    if (banner.hidden) return false;
    banner.hidden = true;
    delete body.dataset.alert;
    if (titleBefore !== null) document.title = titleBefore;
    titleBefore = null;
    return true;
  }
  el.alertOk.addEventListener('click', acknowledge);

  return { load, add, goTo, next, render, alertFrom, acknowledge, current: () => current };
});
