// Decoding: the worker that runs the decoder, the capture handed to it, the
// USB device choice, and the session made of the columns it sends back.
panel('decoding', ['worker-source', 'decoder', 'progress', 'device', 'capture-name'], (session, el) => {
  const P = session.P;
  // The decoder's WebAssembly module as the page holds it (base64: the worker
  // decodes it).
  let wasmBytes = null;

  // The capture inflated again, by a worker of the worker's script, in the
  // parts the stream gives: the decoding worker puts them in the decoder's
  // memory one after the other, so they are never put together here first.
  // `compressed`: the bytes of the stream, as the page carried them.
  function inflate(compressed) {
    return new Promise((resolve, reject) => {
      const w = newWorker();
      w.onmessage = (event) => {
        const m = event.data;
      if (m.type !== kToPage.inflated && m.type !== kToPage.failed) return;
        w.terminate();
      if (m.type === kToPage.inflated) resolve(m.parts);
        else reject(m.text);
      };
    w.postMessage({ type: kToWorker.inflateKept, parts: compressed });
    });
  }

  // A new worker of the worker's script.
  function newWorker() {
    const source = el.workerSource.textContent;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    const w = new Worker(url);
    URL.revokeObjectURL(url);
    return w;
  }

  // The decoding worker, a new one (the last one's decoding, and inflating,
  // stopped).
  function startWorker() {
    if (session.worker) session.worker.terminate();
    if (inflater) inflater.terminate();
    inflater = null;
    session.worker = newWorker();
    if (!wasmBytes) wasmBytes = el.decoder.textContent;
    return session.worker;
  }

  // The capture shown, to decode again for another device: its name and
  // how to get its bytes once more (from the file, or inflated again from
  // the page), so that no copy of it is kept.
  let lastCapture = null;

  // Decodes the capture whose bytes are `parts` (Uint8Arrays, one after
  // the other), handed to the worker.
  function decode(parts, name, again) {
    const w = startDecoding(name, again);
    const buffers = parts.map((p) => (p.buffer.byteLength === p.byteLength ? p.buffer : p.slice().buffer));
    w.postMessage({ type: kToWorker.decode, wasm: wasmBytes, parts: buffers, name, device: el.device.value.trim() }, buffers);
  }

  // Decodes a capture compressed by vornlog -w whose parts (base64) come one
  // after the other as the browser reads the page: a second worker (of the
  // same script) inflates each part as it comes and hands what it gives to
  // the decoding worker, which decodes it meanwhile: the page is read, the
  // capture inflated and decoded at once, on three threads. `size`: the
  // capture's size, when known. Returns the function that takes the next
  // part (null: the last has come). Once inflated, the capture's compressed
  // bytes are kept to decode it again.
  let inflater = null;

  function decodeAsItComes(name, size) {
    let keep;
    const kept = new Promise((resolve) => { keep = resolve; });
    const w = startDecoding(name, () => kept.then(inflate));
    const pieces = new MessageChannel();
    w.postMessage({ type: kToWorker.pieces, whole: true, wasm: wasmBytes, name, device: el.device.value.trim(),
      expected: size, port: pieces.port2 }, [pieces.port2]);
    const inflating = newWorker();
    inflater = inflating;
    inflating.onmessage = (event) => {
      const m = event.data;
    if (m.type === kToPage.inflated) {
        keep(m.parts);
        inflating.terminate();
        if (session.worker === w) performance.mark('vornlog-inflated');
      } else if (m.type === kToPage.failed && session.worker === w) {
        w.terminate();
        inflating.terminate();
        el.progress.hidden = true;
        body.dataset.state = 'failed';
        session.setStatus('The embedded capture is damaged: ' + m.text, true);
      }
    };
    inflating.postMessage({ type: kToWorker.inflate, port: pieces.port1 }, [pieces.port1]);
    return (text) => inflating.postMessage({ type: kToWorker.part, text });
  }

  // The page made ready for a capture decoded by a new worker, whose
  // answers it takes; returns the worker.
  function startDecoding(name, again) {
    lastCapture = { name, again };
    body.dataset.state = 'decoding';
    el.captureName.textContent = name;
    document.title = name + ' - Vornlog viewer';
    session.setStatus('Decoding...');
    const bar = el.progress;
    bar.hidden = false;
    bar.value = 0;
    const w = startWorker();
    P.filters.indexed(false);
    const began = performance.now();
    listen(w, {
      [kToPage.progress]: (m) => {
        if (m.pass === 1) bar.value = m.share;
      },
      [kToPage.failed]: (m) => {
        bar.hidden = true;
        session.decoderFailed(m.text);
      },
      [kToPage.done]: (m) => {
        bar.hidden = true;
        performance.mark('vornlog-decoded', { detail: m.timing });
        loaded(m, name, performance.now() - began);
      },
    });
    w.onerror = (e) => {
      bar.hidden = true;
      session.decoderFailed(e.message || 'unknown error');
    };
    return w;
  }

  // The worker's messages that every decoding takes alike (the capture
  // decoded at once, or live).
  const kFromWorker = {
    [kToPage.devices]: (m) => listDevices(m.devices),
    [kToPage.summary]: (m) => P.summary.show(m.summary),
    [kToPage.lines]: (m) => session.answered(m),
    [kToPage.indexed]: () => {
      if (session.data) session.data.indexed = true;
      P.filters.indexed(true);
    },
    [kToPage.search]: (m) => P.filters.searchAnswered(m),
  };

  // The one place where the page takes a worker's messages: `own`, the
  // handlers of the decoding under way, then those every decoding shares.
  function listen(w, own) {
    w.onmessage = (event) => {
      const m = event.data;
      const take = own[m.type] || kFromWorker[m.type];
      if (take) take(m);
    };
  }

  // The USB device choice, as the console's: the one recognised (named once
  // known), or one of the capture's devices, as -d takes it.
  let recognised = '';

  function deviceOption(value, text) {
    const o = document.createElement('option');
    o.value = value;
    o.textContent = text;
    return o;
  }

  function listDevices(devices) {
    const box = el.device;
    const asked = box.value;
    const options = [deviceOption('', recognised ? 'recognised: ' + recognised : 'recognised')];
    for (const d of devices) options.push(deviceOption(d.device, d.device + ': ' + d.packets + ' data packets'));
    if (asked && !devices.some((d) => d.device === asked)) options.push(deviceOption(asked, asked + ': no data packet'));
    box.replaceChildren(...options);
    box.value = asked;
  }

  function loaded(m, name, ms) {
    // The session: the decoder's columns by their names (number, time, from,
    // code, marks, ...), the bits of its marks, the protocol's facts, the
    // columns' strides, and what the views keep.
    const n = m.columns.number.length;
    const S = session.data = Object.assign({}, m.columns, { n, name, markBits: m.markBits, causes: m.causes, instructions: m.instructions,
      protocol: m.protocol, strides: m.strides, perMm: m.perMm, range: null, parsed: new Map(), search: null, indexed: false, findings: [], refused: new Map() });
    session.generation++;
    session.selected = -1;
    session.forgetAsked();
    // Along the time when a message has one (those without, between them);
    // by message number when none has.
    let timed = false;
    let gaps = false;
    for (let i = 0; i < n; i++) {
      if (S.time[i] === S.time[i]) timed = true;
      else gaps = true;
    }
    S.timed = timed;
    S.x = !timed ? Float64Array.from(S.number) : gaps ? filledTimes(S.time, 0, n, NaN) : S.time;
    let segMax = 1;
    for (let i = 0; i < n; i++) if (S.segment[i] > segMax) segMax = S.segment[i];
    S.segMax = segMax;
    S.refused = refusalsOf(S);
    P.path.build();
    P.findings.load(m.findings);
    P.summary.waiting('The summary is being written...');
    P.filters.apply();
    P.timeline.reset();
    P.path.reset();
    const problem = m.problem;
    // What the console says of a USB capture's device: which it decoded, or
    // that none answered the PC.
    const said = sayDevice(m.console);
    session.setStatus(n + ' messages, decoded in ' + (ms / 1000).toFixed(1) + ' s' + (said ? '. ' + said : '') +
      (problem ? '. ' + problem : ''), !!problem);
    body.dataset.messages = String(n);
    body.dataset.state = 'ready';
    performance.mark('vornlog-ready');
    // A search typed before the capture was there is asked now.
    P.filters.askTyped();
    if (!session.fromHash() && session.shown.length) session.select(session.shown[0], false);
  }

  // The device the console says was decoded (the last line it wrote) named
  // in the device choice's first option, unless one was asked for; returns
  // that line.
  function sayDevice(consoleText) {
    const said = (consoleText || '').split('\n').filter(Boolean).pop() || '';
    const device = /^USB device (\d+\.\d+)/.exec(said);
    recognised = device && !el.device.value ? device[1] : '';
    el.device.options[0].textContent = recognised ? 'recognised: ' + recognised : 'recognised';
    return said;
  }

  return {
    decode,
    decodeAsItComes,
    listen,
    startWorker,
    listDevices,
    deviceOption,
    sayDevice,
    // The decoder's module (base64) for a worker.
    wasm: () => wasmBytes,
    // The capture shown, to decode again for another device (null: none, or
    // a live one).
    last: () => lastCapture,
    forgetCapture: () => { lastCapture = null; },
  };
});
