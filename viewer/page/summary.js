// The summary (the -t page), each line or packet number in it that a
// message has made a link that selects that message (#m=NUMBER).
panel('summary', ['summary'], (session, el) => {
  const box = el.summary;

  function show(text) {
    const numbered = /\b(lines? |packets? )(\d+)(?:( to )(\d+))?/g;
    const link = (number) => {
      if (!session.data || session.indexOfNumber(Number(number)) < 0) return number;
      const a = document.createElement('a');
      a.href = '#m=' + number;
      a.textContent = number;
      return a;
    };
    const parts = [];
    let last = 0;
    for (const m of text.matchAll(numbered)) {
      parts.push(text.slice(last, m.index), m[1], link(m[2]));
      if (m[3]) parts.push(m[3], link(m[4]));
      last = m.index + m[0].length;
    }
    parts.push(text.slice(last));
    box.replaceChildren(...parts);
    box.dataset.ready = 'true';
  }

  // What the pane says until the summary comes.
  function waiting(text) {
    box.textContent = text;
    delete box.dataset.ready;
  }

  return { show, waiting };
});
