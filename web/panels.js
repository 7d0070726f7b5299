// What is around the board: the arrangement of the page for the screen it is
// on, the roster, the chat and the banner that tells about the link.
import { ascii, cBytes } from './module.js';

const SIDE_MIN = 300, SIDE_MAX = 420;  // the side panel's width
const BELOW_MIN = 220;                 // height the panel needs under the board
const TABBED_BELOW = 560;              // a shorter panel shows colours or chat, not both

// Picks the arrangement that shows the board largest: the panel beside it,
// under it, or (when either would cost the board a quarter) in a drawer.
export function layout(app, bar, side, boardRatio) {
  const w = document.documentElement.clientWidth, h = document.documentElement.clientHeight;
  const barHeight = bar.offsetHeight, room = h - barHeight;
  const sideWidth = Math.round(Math.min(SIDE_MAX, Math.max(SIDE_MIN, w * 0.3)));
  const alone = Math.min(w / boardRatio, room);  // the board's height with the whole room
  const beside = Math.min((w - sideWidth) / boardRatio, room);
  const belowHeight = Math.floor(w / boardRatio);
  const under = room - belowHeight >= BELOW_MIN ? belowHeight : 0;
  let arrangement = 'drawer';
  if (Math.max(beside, under) >= 0.75 * alone) arrangement = under >= beside ? 'below' : 'side';
  for (const a of ['side', 'below', 'drawer']) app.classList.toggle(a, a === arrangement);
  app.style.setProperty('--side-width', sideWidth + 'px');
  app.style.setProperty('--board-height', belowHeight + 'px');
  app.style.setProperty('--bar-height', barHeight + 'px');
  const panelHeight = arrangement === 'below' ? room - belowHeight : room;
  side.classList.toggle('tabbed', panelHeight < TABBED_BELOW);
  return arrangement;
}

export function showRoster(m, list, online) {
  list.textContent = '';
  list.classList.toggle('offline', !online);
  if (!online) {
    const item = document.createElement('li');
    item.textContent = 'Not connected: nobody is shown.';
    list.appendChild(item);
    return;
  }
  for (let id = 1; id <= m._page_roster_used(); ++id) {
    const ptr = m._page_roster_name(id);
    if (!ptr) continue;
    const item = document.createElement('li');
    item.textContent = id + ': ' + ascii(cBytes(m, ptr)) + (id === m._page_own_id() ? ' (you)' : '');
    list.appendChild(item);
  }
}

// Lines with their colour escapes (0xFF and a code) as coloured runs.
export function showChat(m, K, box) {
  const lines = [];
  for (let n = 0, ptr; (ptr = m._page_chat_line(n)); ++n) lines.push(cBytes(m, ptr).slice());
  box.textContent = '';
  const plain = K.chatColours[0xFE];
  for (const bytes of lines.reverse()) {
    const line = document.createElement('div');
    let colour = plain, run = '';
    const end = () => {
      if (!run) return;
      const span = document.createElement('span');
      span.style.color = colour;
      span.textContent = run;
      line.appendChild(span);
      run = '';
    };
    for (let i = 0; i < bytes.length; ++i) {
      if (bytes[i] === 0xFF && i + 1 < bytes.length) { end(); colour = K.chatColours[bytes[++i]] || colour; }
      else run += String.fromCharCode(bytes[i]);
    }
    end();
    box.appendChild(line);
  }
  box.scrollTop = box.scrollHeight;
}

// The banner over the board: text, and whether Rejoin is offered. null hides it.
export function showBanner($, text, rejoin) {
  $('banner').hidden = text === null;
  $('banner-text').textContent = text || '';
  $('rejoin').hidden = !rejoin;
}

// Draws attention to the banner: a stroke was refused.
export function flashBanner($) {
  const b = $('banner');
  b.classList.remove('flash');
  void b.offsetWidth;  // restarts the animation
  b.classList.add('flash');
}
