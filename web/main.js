// The painting page: the name asked first, then the board. What is painted,
// sent and chosen is decided by the module (src/web/page_client.h); the
// scripts move bytes, map input to the board and show what the module holds.
// The board that arrives at login is drawn in slices of a few milliseconds, so
// the page answers input, chat and the colour panel while it is drawn.
import { loadModule, withString, ascii, cBytes } from './module.js';
import { BoardView, showProgress } from './view.js';
import { attachInput } from './input.js';
import { Controls } from './controls.js';
import { layout, showRoster, showChat, showBanner, flashBanner } from './panels.js';
import { openLink } from './link.js';

const $ = (id) => document.getElementById(id);
// Runs fn in a task of its own after what is queued, input included (a
// message to ourselves: a timer of 0 waits 4 ms once timers nest).
const tasks = new MessageChannel(), queued = [];
tasks.port1.onmessage = () => queued.shift()();
function later(fn) {
  queued.push(fn);
  tasks.port2.postMessage(0);
}
const SLICE_MS = 10;              // drawing between two looks at input
const BACKLOG_REPAINT_MS = 200;   // how often the arriving board is shown
const REJOIN_DELAYS = [0.5, 1, 2, 4, 8, 15, 30];  // seconds before an automatic rejoin
const BACK_SHOWN_MS = 2000;       // how long the band says that the link is back

const nameField = $('name');
nameField.value = localStorage.getItem('easel-name') || '';
const ready = loadModule();
ready.then(({ K }) => { nameField.maxLength = K.nameMax; $('line').maxLength = K.chatMax; },
           (error) => { $('login-note').textContent = 'This browser cannot run the board: ' + error.message; });
let started = false;

$('login').addEventListener('submit', (e) => {
  e.preventDefault();
  const name = nameField.value.trim();
  if (!name || started) return;
  started = true;
  localStorage.setItem('easel-name', name);
  ready.then((module) => start(module, name), () => { started = false; });
});

function start({ m, K }, name) {
  $('login').hidden = true;
  $('app').hidden = false;
  const view = new BoardView(m, K, $('board'), $('picture'), $('names'));
  const controls = new Controls(m, K, $);
  let link = null, busyTimer = 0, busyCounter = 0, busyShown = false, sliceQueued = false;
  let boardBytes = 0;      // the board's size when we joined, for the progress bar
  let arrivedBytes = 0;
  let lastRepaint = 0, rejoinTimer = 0, rejoins = 0, stroking = false, decoding = false;
  // After a link end until the session is back: why it ended, when the next try is.
  let away = false, awayReason = '', retrying = false, rejoinDelay = 0, backTimer = 0;

  function arrange() {
    layout($('app'), $('bar'), $('side'), K.boardWidth / K.boardHeight);
    view.resize();
  }

  function flush() {
    const length = m._page_unsent_length();
    if (!length || !link || !link.open) return;
    const ptr = m._page_unsent();
    link.send(m.HEAPU8.slice(ptr, ptr + length));
    m._page_sent(length);
  }

  // After anything the module was told: the picture, the bytes to send, the busy bar, the band.
  function settle() {
    view.paint();
    flush();
    busyStep();
    linkBand();
  }

  // The band over the board follows the link once it ended: what waits for
  // it, then "Back." for a moment once the session is back.
  function linkBand() {
    if (!away) return;
    const state = m._page_link_state();
    if (state === K.linkJoined) {
      away = false;
      rejoins = 0;
      showBanner($, 'Back.', false);
      $('banner').classList.add('back');
      backTimer = setTimeout(() => { $('banner').classList.remove('back'); showBanner($, null); }, BACK_SHOWN_MS);
      return;
    }
    const n = m._page_pending(1), waiting = ' (' + n + (n === 1 ? ' stroke' : ' strokes') + ' waiting)';
    let text = 'Not connected: ' + awayReason + '.';
    if (state === K.linkGone) text += ' Strokes are not drawn or sent until you rejoin.';
    else if (state === K.linkJoining) text = 'Reconnecting…' + waiting;
    else if (!retrying) text += ' Strokes wait until you rejoin.' + waiting;
    else text += ' Reconnecting' + (rejoinTimer ? ' in ' + rejoinDelay + ' s' : '') + '…' + waiting;
    if ($('banner-text').textContent !== text) showBanner($, text, state !== K.linkJoining);
  }

  // Only a change is written: an unchanged page costs the browser no frame.
  function busyStep() {
    const waiting = m._page_pending(0) > 0;
    if (waiting && !busyTimer) busyTimer = setInterval(drawBusy, 10);
    if (!waiting && busyTimer) { clearInterval(busyTimer); busyTimer = 0; busyCounter = 0; }
    if (waiting !== busyShown) $('busy').style.visibility = (busyShown = waiting) ? 'visible' : 'hidden';
  }

  function drawBusy() {
    if (!m._page_pending(0)) return busyStep();
    const g = $('busy').getContext('2d');
    busyCounter = busyCounter % 49 + 1;
    const p = Math.floor((busyCounter - 1) / 5);
    for (let i = 0; i < 60; ++i) {
      g.fillStyle = Math.floor((p + i) / 5) % 2 ? '#000' : '#f00';
      g.fillRect(i, 0, 1, 4);
    }
  }

  function people() {
    showRoster(m, $('roster'), m._page_connected());
    view.drawLabels();
  }

  // One slice of what arrived; the next one after input had its turn.
  function slice() {
    sliceQueued = false;
    const t0 = performance.now();
    const flags = m._page_frame(SLICE_MS);
    const joined = m._page_joined();
    const loading = m._page_connected() && !joined, due = t0 - lastRepaint >= BACKLOG_REPAINT_MS;
    if (!loading || stroking || due) view.paint();
    if (!loading || due) {
      lastRepaint = t0;
      const total = Math.max(boardBytes, 1);
      showProgress($('progress'), $('progress-bar'), $('progress-text'),
                   loading ? (arrivedBytes + m._page_board_shift()) / total : null, m._page_handled_bytes() / total);
    }
    flush();
    busyStep();
    if (flags & K.frameRoster) people();
    else if (flags & K.framePicture) view.drawLabels();
    if (flags & K.frameLines) showChat(m, K, $('chat'));
    if (flags & K.frameEnded) sessionEnded();
    else if (m._page_checkpoint_length()) decodeCheckpoint();
    linkBand();
    if (flags & K.frameMore) sliceSoon();
  }

  // The module ended the link, and said why in its newest line: a checkpoint
  // came damaged (the next join asks for the history), a stroke could not be
  // sent, or our session is still open on another link.
  function sessionEnded() {
    const ptr = m._page_chat_line(0);
    const said = ptr ? ascii(cBytes(m, ptr).filter((b, i, all) => b !== 0xFF && all[i - 1] !== 0xFF)) : '';
    if (link) link.close(said || 'the session ended', true);
  }

  // A checkpoint's PNG is decoded by the browser, off the main thread; the
  // module takes the picture only with the digest the checkpoint names, and
  // decodes it itself when the browser cannot.
  function decodeCheckpoint() {
    if (decoding) return;
    decoding = true;
    const ptr = m._page_checkpoint_png();
    const png = new Blob([m.HEAPU8.slice(ptr, ptr + m._page_checkpoint_length())], { type: 'image/png' });
    const done = (decoded) => {
      decoding = false;
      if (!m._page_checkpoint_decoded(decoded)) sessionEnded();
      settle();
      sliceSoon();
    };
    createImageBitmap(png, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' }).then((bitmap) => {
      const canvas = document.createElement('canvas');
      canvas.width = K.boardWidth;
      canvas.height = K.boardHeight;
      const g = canvas.getContext('2d', { willReadFrequently: true });
      g.drawImage(bitmap, 0, 0);
      bitmap.close();
      const pixels = g.getImageData(0, 0, K.boardWidth, K.boardHeight).data;
      const at = m._page_checkpoint_rgba();  // first: it may move the module's memory
      m.HEAPU8.set(pixels, at);
      later(() => done(1));  // the module's check and the picture in a task of their own
    }, () => done(0));
  }

  function sliceSoon() {
    if (sliceQueued) return;
    sliceQueued = true;
    later(slice);
  }

  function connect() {
    clearTimeout(rejoinTimer);
    rejoinTimer = 0;
    if (!away) showBanner($, 'Connecting to the board…', false);
    // The board's length now: how much is to arrive (the bar's 100 %).
    fetch('/board.easel', { method: 'HEAD', cache: 'no-store' })
      .then((r) => { boardBytes = Number(r.headers.get('Content-Length')) || 0; }, () => {});
    link = openLink({
      opened() {
        const port = Number(location.port) || (location.protocol === 'https:' ? 443 : 80);
        withString(m, name, (n) => withString(m, location.hostname, (h) => m._page_login(n, h, port)));
        arrivedBytes = 0;
        if (!away) showBanner($, null);
        settle();
        people();
      },
      received(bytes) {
        const ptr = m._page_receive_buffer(bytes.length);
        m.HEAPU8.set(bytes, ptr);
        if (!m._page_received(bytes.length)) return false;  // no memory for them
        arrivedBytes += bytes.length;
        sliceSoon();
        return true;
      },
      ended(reason, again) {
        m._page_link_closed();  // a stroke being drawn goes on, held for the rejoin
        settle();
        people();
        showChat(m, K, $('chat'));
        showProgress($('progress'), null, null, null, null);
        offline(reason, again);
      },
    });
  }

  // Says so over the board; offers to rejoin, and rejoins by itself after a
  // while unless the server said goodbye (a kick, a refusal): the session is
  // resumed and what was drawn meanwhile sent then.
  function offline(reason, again) {
    clearTimeout(backTimer);
    $('banner').classList.remove('back');
    away = true;
    awayReason = reason;
    retrying = again && m._page_link_state() === K.linkAway;
    if (retrying) {
      rejoinDelay = REJOIN_DELAYS[Math.min(rejoins++, REJOIN_DELAYS.length - 1)];
      rejoinTimer = setTimeout(connect, rejoinDelay * 1000);
    }
    linkBand();
  }
  $('rejoin').addEventListener('click', () => { rejoins = 0; connect(); });

  attachInput($('board'), view, {
    pointer(x, y, edge, buttons, ctrl, shift) {
      const taken = m._page_pointer(x, y, edge, buttons, ctrl || controls.toggles.ctrl ? 1 : 0,
                                    shift || controls.toggles.shift ? 1 : 0);
      if (taken && edge === 1) stroking = true;
      if (!buttons) stroking = false;
      settle();
      if (edge === 2) controls.showPanel();
      return taken;
    },
    cancel() { m._page_stroke_cancel(); stroking = false; settle(); },
    strokeStarts() { $('app').classList.remove('drawer-open'); $('drawer').classList.remove('on'); },
    refused() { flashBanner($); },
    labels(held) { view.showLabels = held || controls.toggles.labels; view.drawLabels(); },
  });
  controls.onLabels = () => { view.showLabels = controls.toggles.labels; view.drawLabels(); };

  $('zoom-in').addEventListener('click', () => view.step(1));
  $('zoom-out').addEventListener('click', () => view.step(-1));
  $('zoom-fit').addEventListener('click', () => view.fit());
  $('drawer').addEventListener('click', () => {
    const open = $('app').classList.toggle('drawer-open');
    $('drawer').classList.toggle('on', open);
  });
  for (const [tab, chat] of [['tab-colour', false], ['tab-chat', true]]) {
    $(tab).addEventListener('click', () => {
      $('side').classList.toggle('chat', chat);
      $('tab-colour').classList.toggle('on', !chat);
      $('tab-chat').classList.toggle('on', chat);
    });
  }
  $('say').addEventListener('submit', (e) => {
    e.preventDefault();
    const line = $('line').value;
    $('line').value = '';
    withString(m, line, (ptr) => m._page_chat(ptr));
    settle();
    showChat(m, K, $('chat'));
  });

  // The window, and the bar as its buttons wrap, decide the arrangement; the
  // board's box, whatever changed it, the view.
  window.addEventListener('resize', arrange);
  new ResizeObserver(arrange).observe($('bar'));
  new ResizeObserver(() => view.resize()).observe($('board'));
  // Each its own task, none long enough to keep a tap waiting: the page is
  // laid out once, then arranged for the screen, then filled.
  showBanner($, 'Connecting to the board…', false);
  later(arrange);
  later(() => controls.start());
  later(() => { settle(); connect(); });
}
