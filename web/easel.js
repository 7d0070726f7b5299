// The painting page: the controls around the board and the WebSocket under
// the session. What is painted, sent and chosen is decided by the module
// (src/web/page_client.h); this script moves bytes, turns pointer events into
// board coordinates and shows what the module holds.
'use strict';
(function () {
  const W = 912, H = 684;
  const TOOL_NAMES = ['Pen', 'Pencil', 'Brush', 'Chalk', 'Smudge', 'Stamp'];
  const SLIDER_NAMES = ['Size', 'Value'];
  const SLIDER_W = 160, SLIDER_H = 32;
  const CHAT_COLOURS = { 0xFC: '#ff0', 0xFD: '#0ff', 0xFE: '#fff', 0xFF: '#c0c0c0' };
  const FRAME_PICTURE = 1, FRAME_ROSTER = 2, FRAME_LINES = 4, FRAME_MORE = 16;
  const $ = (id) => document.getElementById(id);

  const picture = $('picture'), names = $('names'), board = $('board');
  const view = picture.getContext('2d', { willReadFrequently: true });
  const labelsView = names.getContext('2d');
  const busy = $('busy'), busyView = busy.getContext('2d');
  let m = null;            // the module
  let socket = null;
  const toggles = { shift: false, ctrl: false, labels: false };
  let altHeld = false;
  let busyTimer = 0, busyCounter = 0, frameQueued = false;
  let colourCanvas = null;

  function text(ptr) {
    const heap = m.HEAPU8;
    let end = ptr;
    while (heap[end]) ++end;
    return heap.subarray(ptr, end);
  }

  function ascii(bytes) {
    let s = '';
    for (const b of bytes) s += String.fromCharCode(b);
    return s;
  }

  function withString(s, use) {
    const size = m.lengthBytesUTF8(s) + 1, ptr = m._malloc(size);
    m.stringToUTF8(s, ptr, size);
    try { return use(ptr); } finally { m._free(ptr); }
  }

  function flush() {
    const length = m._page_unsent_length();
    if (!length || !socket || socket.readyState !== WebSocket.OPEN) return;
    const ptr = m._page_unsent();
    socket.send(m.HEAPU8.slice(ptr, ptr + length));
    m._page_sent(length);
  }

  function paint() {
    const d = m._page_take_dirty() >> 2;
    const [x, y, w, h] = m.HEAP32.subarray(d, d + 4);
    if (w <= 0 || h <= 0) return;
    const ptr = m._page_view_rgba(x, y, w, h);
    view.putImageData(new ImageData(new Uint8ClampedArray(m.HEAPU8.slice(ptr, ptr + w * h * 4).buffer), w, h), x, y);
  }

  // After anything the module was told: the picture, the bytes to send, the busy bar.
  function settle() {
    paint();
    flush();
    busyStep();
  }

  // Bytes that arrive together are handled in one frame, drawn once.
  function frameSoon() {
    if (frameQueued) return;
    frameQueued = true;
    setTimeout(frame, 0);
  }

  function frame() {
    frameQueued = false;
    const flags = m._page_frame();
    settle();
    if (flags & (FRAME_PICTURE | FRAME_ROSTER)) { showRoster(); showLabels(); }
    if (flags & FRAME_LINES) showChat();
    if (flags & FRAME_MORE) frameSoon();
  }

  // The bar moves while our strokes wait for the server, as on the desktop.
  function busyStep() {
    const waiting = m._page_pending() > 0;
    busy.style.visibility = waiting ? 'visible' : 'hidden';
    if (waiting && !busyTimer) busyTimer = setInterval(drawBusy, 10);
    if (!waiting && busyTimer) { clearInterval(busyTimer); busyTimer = 0; busyCounter = 0; }
  }

  function drawBusy() {
    if (m._page_pending() === 0) return busyStep();
    busyCounter = busyCounter % 49 + 1;
    const p = Math.floor((busyCounter - 1) / 5);
    for (let i = 0; i < 60; ++i) {
      busyView.fillStyle = Math.floor((p + i) / 5) % 2 ? '#000' : '#f00';
      busyView.fillRect(i, 0, 1, 4);
    }
  }

  function showRoster() {
    const list = $('roster');
    list.textContent = '';
    for (let id = 1; id <= m._page_roster_used(); ++id) {
      const ptr = m._page_roster_name(id);
      if (!ptr) continue;
      const item = document.createElement('li');
      item.textContent = id + ': ' + ascii(text(ptr)) + (id === m._page_own_id() ? ' (you)' : '');
      list.appendChild(item);
    }
  }

  function showLabels() {
    labelsView.clearRect(0, 0, W, H);
    if (!toggles.labels && !altHeld) return;
    labelsView.font = '10px monospace';
    labelsView.textAlign = 'center';
    labelsView.textBaseline = 'middle';
    for (let id = 1; id <= m._page_roster_used(); ++id) {
      const ptr = m._page_roster_name(id);
      if (!ptr) continue;
      const label = id + ':' + ascii(text(ptr)), c = m._page_roster_colour(id);
      const r = c >> 16, g = (c >> 8) & 255, b = c & 255;
      const x = m._page_roster_x(id), y = m._page_roster_y(id);
      labelsView.fillStyle = r * 3 + g * 6 + b > 1270 ? '#000' : '#fff';
      for (const [dx, dy] of [[-1, 0], [1, 0], [0, -1], [0, 1]]) labelsView.fillText(label, x + dx, y + dy);
      labelsView.fillStyle = 'rgb(' + r + ',' + g + ',' + b + ')';
      labelsView.fillText(label, x, y);
    }
  }

  // Lines with their colour escapes (0xFF and a code) as coloured runs.
  function showChat() {
    const box = $('chat');
    const lines = [];
    for (let n = 0, ptr; (ptr = m._page_chat_line(n)); ++n) lines.push(text(ptr).slice());
    box.textContent = '';
    for (const bytes of lines.reverse()) {
      const line = document.createElement('div');
      let colour = CHAT_COLOURS[0xFE], run = '';
      const end = () => {
        if (!run) return;
        const span = document.createElement('span');
        span.style.color = colour;
        span.textContent = run;
        line.appendChild(span);
        run = '';
      };
      for (let i = 0; i < bytes.length; ++i) {
        if (bytes[i] === 0xFF && i + 1 < bytes.length) { end(); colour = CHAT_COLOURS[bytes[++i]] || colour; }
        else run += String.fromCharCode(bytes[i]);
      }
      end();
      box.appendChild(line);
    }
    box.scrollTop = box.scrollHeight;
  }

  // Board coordinates from the picture's box on the screen, whole pixels as the desktop maps them.
  function boardPoint(e) {
    const r = picture.getBoundingClientRect();
    return [Math.floor((e.clientX - r.left) * W / r.width), Math.floor((e.clientY - r.top) * H / r.height)];
  }

  function pointer(e, edge) {
    if (!e.isPrimary) return;
    e.preventDefault();
    const [x, y] = boardPoint(e);
    m._page_pointer(x, y, edge, e.buttons & 3, (e.ctrlKey || toggles.ctrl) ? 1 : 0, (e.shiftKey || toggles.shift) ? 1 : 0);
    settle();
    if (edge === 2) { showPanel(); }
  }

  picture.addEventListener('pointerdown', (e) => {
    if (e.button !== 0 && e.button !== 2) return;
    picture.setPointerCapture(e.pointerId);
    pointer(e, e.button === 0 ? 1 : 2);
  });
  picture.addEventListener('pointermove', (e) => pointer(e, 0));
  picture.addEventListener('pointerup', (e) => pointer(e, 0));
  // A lost pointer cancels the stroke as the right button does.
  picture.addEventListener('pointercancel', (e) => {
    const [x, y] = boardPoint(e);
    m._page_pointer(x, y, 0, 2, 0, 0);
    settle();
  });
  for (const c of [picture, $('panel')]) c.addEventListener('contextmenu', (e) => e.preventDefault());

  function fit() {
    const scale = Math.min(board.clientWidth / W, board.clientHeight / H);
    for (const c of [picture, names]) {
      c.style.width = W * scale + 'px';
      c.style.height = H * scale + 'px';
      c.style.left = (board.clientWidth - W * scale) / 2 + 'px';
      c.style.top = (board.clientHeight - H * scale) / 2 + 'px';
    }
  }
  window.addEventListener('resize', fit);

  // The tool bar: the six drawing tools, then the toggles for what a touch screen lacks.
  function showTools() {
    const bar = $('tools');
    bar.textContent = '';
    TOOL_NAMES.forEach((name, tool) => {
      const b = document.createElement('button');
      b.textContent = name;
      b.id = 'tool-' + name.toLowerCase();
      if (tool === m._page_tool()) b.className = 'on';
      b.onclick = () => { m._page_set_tool(tool); showTools(); showPanel(); };
      bar.appendChild(b);
    });
  }

  for (const key of Object.keys(toggles)) {
    $(key).onclick = () => {
      toggles[key] = !toggles[key];
      $(key).classList.toggle('on', toggles[key]);
      showLabels();
    };
  }
  window.addEventListener('keydown', (e) => { if (e.key === 'Alt') { altHeld = true; showLabels(); e.preventDefault(); } });
  window.addEventListener('keyup', (e) => { if (e.key === 'Alt') { altHeld = false; showLabels(); } });

  // The panel: the drawing tool's sliders, then the colour square, hue strip and palette.
  function showPanel() {
    const panel = $('panel'), tool = m._page_tool();
    panel.textContent = '';
    for (let s = 0; s < 2; ++s) {
      if (!m._page_has_slider(tool, s)) continue;
      const label = document.createElement('p');
      label.textContent = TOOL_NAMES[tool] + ' ' + SLIDER_NAMES[s].toLowerCase() + ': ' +
        Math.round(m._page_slider_value(tool, s) * 100) / 100;
      const c = document.createElement('canvas');
      c.width = SLIDER_W;
      c.height = SLIDER_H;
      c.id = 'slider-' + s;
      const g = c.getContext('2d');
      for (let x = 0; x < SLIDER_W; ++x) {
        const v = Math.floor(x * 255 / SLIDER_W);
        g.fillStyle = s ? 'rgb(' + v + ',' + v + ',' + v + ')' : '#fff';
        const h = s ? SLIDER_H : Math.max(1, Math.floor(x * SLIDER_H / SLIDER_W));
        g.fillRect(x, SLIDER_H - h, 1, h);
      }
      const at = m._page_slider_column(tool, s);
      g.fillStyle = '#f00';
      g.fillRect(at - 2, 0, 1, SLIDER_H);
      g.fillRect(at + 2, 0, 1, SLIDER_H);
      c.addEventListener('pointerdown', (e) => {
        if (e.button !== 0) return;
        const r = c.getBoundingClientRect();
        m._page_slider_press(tool, s, Math.floor((e.clientX - r.left) * SLIDER_W / r.width));
        showPanel();
      });
      panel.append(label, c);
    }
    colourCanvas = document.createElement('canvas');
    colourCanvas.id = 'colours';
    colourCanvas.width = 416;
    colourCanvas.height = 256;
    colourCanvas.addEventListener('pointerdown', (e) => {
      if (e.button !== 0 && e.button !== 2) return;
      const r = colourCanvas.getBoundingClientRect();
      const x = Math.floor((e.clientX - r.left) * 416 / r.width), y = Math.floor((e.clientY - r.top) * 256 / r.height);
      if (m._page_colour_press(e.button === 0 ? 1 : 2, x, y)) showPanel();
    });
    panel.appendChild(colourCanvas);
    drawColours();
  }

  function drawColours() {
    const g = colourCanvas.getContext('2d');
    const ptr = m._page_colour_panel();
    g.putImageData(new ImageData(new Uint8ClampedArray(m.HEAPU8.slice(ptr, ptr + 416 * 256 * 4).buffer), 416, 256), 0, 0);
    const line = (colour, x0, y0, x1, y1) => { g.fillStyle = colour; g.fillRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1); };
    const yh = Math.floor(m._page_colour(3) * 256 / 360);
    line('#f00', 262, yh - 2, 282, yh - 2); line('#f00', 262, yh + 2, 282, yh + 2);
    line('#000', 263, yh - 3, 281, yh - 3); line('#000', 263, yh + 3, 281, yh + 3);
    const a = Math.floor(m._page_colour(5) * 256), b = Math.floor(m._page_colour(4) * 256);
    line('#f00', a - 10, b - 2, a - 2, b - 2); line('#f00', a - 2, b - 10, a - 2, b - 3);
    line('#f00', a + 2, b + 2, a + 10, b + 2); line('#f00', a + 2, b + 3, a + 2, b + 10);
    line('#000', a - 9, b - 3, a - 3, b - 3); line('#000', a - 3, b - 9, a - 3, b - 4);
    line('#000', a + 3, b + 3, a + 9, b + 3); line('#000', a + 3, b + 4, a + 3, b + 9);
    const rgb = [0, 1, 2].map((i) => Math.floor(m._page_colour(i)));
    colourCanvas.title = 'Colour ' + rgb.join(', ');
    colourCanvas.dataset.rgb = rgb.join(',');
  }

  $('say').addEventListener('submit', (e) => {
    e.preventDefault();
    const line = $('line').value;
    $('line').value = '';
    withString(line, (ptr) => m._page_chat(ptr));
    settle();
    showChat();
  });

  function connect(name) {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(scheme + '//' + location.host + '/ws');
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => {
      const port = Number(location.port) || (scheme === 'wss:' ? 443 : 80);
      withString(name, (n) => withString(location.hostname, (h) => m._page_login(n, h, port)));
      settle();
    };
    socket.onmessage = (e) => {
      const bytes = new Uint8Array(e.data);
      const ptr = m._page_receive_buffer(bytes.length);
      m.HEAPU8.set(bytes, ptr);
      if (!m._page_received(bytes.length)) return socket.close();  // no memory left for them
      frameSoon();
    };
    socket.onclose = () => {
      m._page_link_closed();
      settle();
      showChat();
    };
  }

  // The name is asked at once; painting starts when the module is ready too.
  const ready = EaselModule().then((module) => {
    m = module;
    if (!m._page_open()) throw new Error('no memory for the board');
  });
  const nameField = $('name');
  nameField.value = localStorage.getItem('easel-name') || '';
  $('login').addEventListener('submit', (e) => {
    e.preventDefault();
    const name = nameField.value.trim();
    localStorage.setItem('easel-name', name);
    ready.then(() => {
      $('login').hidden = true;
      $('app').hidden = false;
      fit();
      showTools();
      showPanel();
      paint();
      connect(name);
    });
  });
})();
