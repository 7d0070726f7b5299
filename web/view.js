// The board on the screen: the picture the module shows, drawn into a canvas
// of the board's size and placed by one transform (a scale, then an offset in
// the board's box), the labels of who painted where over it, and a bar while
// the board arrives. A pointer's board pixel is floor((clientX - left) * width
// of the board / width on the screen) of the picture's box on the screen,
// whatever the zoom and pan.
import { ascii, cBytes, imageAt } from './module.js';

const MAX_SCALE = 16;  // screen pixels a board pixel may become

export class BoardView {
  constructor(m, K, box, picture, names) {
    Object.assign(this, { m, K, box, picture, names });
    this.W = K.boardWidth;
    this.H = K.boardHeight;
    picture.width = this.W;
    picture.height = this.H;
    this.g = picture.getContext('2d');
    this.labels = names.getContext('2d');
    this.scale = 1;
    this.x = 0;
    this.y = 0;
    this.fitted = true;  // follows the box's size until zoomed or panned
    this.showLabels = false;
    this.labelsDrawn = false;
  }

  // The box's size changed (or the layout): refit, or keep the view inside it.
  resize() {
    const dpr = devicePixelRatio || 1;
    this.names.width = Math.round(this.box.clientWidth * dpr);
    this.names.height = Math.round(this.box.clientHeight * dpr);
    this.names.style.width = this.box.clientWidth + 'px';
    this.names.style.height = this.box.clientHeight + 'px';
    if (this.fitted) this.fit(); else this.place(this.scale, this.x, this.y);
  }

  fitScale() {
    return Math.min(this.box.clientWidth / this.W, this.box.clientHeight / this.H) || 1;
  }

  fit() {
    this.place(this.fitScale(), 0, 0);
    this.fitted = true;
  }

  // Scale s with the board's pixel (bx, by) at (px, py) of the box.
  zoomAround(s, bx, by, px, py) {
    s = Math.min(MAX_SCALE, Math.max(Math.min(this.fitScale(), 1), s));
    this.place(s, px - bx * s, py - by * s);
    this.fitted = false;
  }

  // Zooms by factor keeping what is at (px, py) of the box where it is.
  zoomAt(factor, px, py) {
    this.zoomAround(this.scale * factor, (px - this.x) / this.scale, (py - this.y) / this.scale, px, py);
  }

  // The next power of two in or out (1/2 .. 16), around the box's centre.
  step(direction) {
    const s = this.scale, target = direction > 0 ? 2 ** Math.floor(Math.log2(s) + 1.0001) : 2 ** Math.ceil(Math.log2(s) - 1.0001);
    this.zoomAt(target / s, this.box.clientWidth / 2, this.box.clientHeight / 2);
  }

  panBy(dx, dy) {
    this.place(this.scale, this.x + dx, this.y + dy);
    this.fitted = false;
  }

  // A board smaller than the box is centred in it; a larger one covers it.
  place(s, x, y) {
    const bw = this.box.clientWidth, bh = this.box.clientHeight, w = this.W * s, h = this.H * s;
    x = w <= bw ? (bw - w) / 2 : Math.min(0, Math.max(bw - w, x));
    y = h <= bh ? (bh - h) / 2 : Math.min(0, Math.max(bh - h, y));
    // On whole device pixels, so that a whole zoom shows every board pixel the same size.
    const dpr = devicePixelRatio || 1;
    this.scale = s;
    this.x = Math.round(x * dpr) / dpr;
    this.y = Math.round(y * dpr) / dpr;
    this.picture.style.transform = `translate(${this.x}px, ${this.y}px) scale(${s})`;
    this.drawLabels();
  }

  // The board pixel under a pointer, and whether it is on the picture.
  boardPoint(clientX, clientY) {
    const r = this.picture.getBoundingClientRect();
    return [Math.floor((clientX - r.left) * this.W / r.width), Math.floor((clientY - r.top) * this.H / r.height)];
  }

  onPicture(clientX, clientY) {
    const [x, y] = this.boardPoint(clientX, clientY);
    return x >= 0 && y >= 0 && x < this.W && y < this.H;
  }

  // The part of the module's picture that changed since the last call.
  paint() {
    const m = this.m, d = m._page_take_dirty() >> 2;
    const [x, y, w, h] = m.HEAP32.subarray(d, d + 4);
    if (w <= 0 || h <= 0) return;
    this.g.putImageData(imageAt(m, m._page_view_rgba(x, y, w, h), w, h), x, y);
  }

  // Each present user's id and name where their latest stroke began, in its colour.
  drawLabels() {
    const m = this.m, g = this.labels, dpr = devicePixelRatio || 1, show = this.showLabels && m._page_connected();
    if (!show && !this.labelsDrawn) return;  // clear already
    this.labelsDrawn = show;
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.clearRect(0, 0, this.names.width, this.names.height);
    if (!show) return;
    g.setTransform(dpr, 0, 0, dpr, 0, 0);
    g.font = '11px monospace';
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    for (let id = 1; id <= m._page_roster_used(); ++id) {
      const ptr = m._page_roster_name(id);
      if (!ptr) continue;
      const label = id + ':' + ascii(cBytes(m, ptr)), c = m._page_roster_colour(id);
      const r = c >> 16, gr = (c >> 8) & 255, b = c & 255;
      const x = this.x + (m._page_roster_x(id) + 0.5) * this.scale, y = this.y + (m._page_roster_y(id) + 0.5) * this.scale;
      g.fillStyle = r * 3 + gr * 6 + b > 1270 ? '#000' : '#fff';
      for (const [dx, dy] of [[-1, 0], [1, 0], [0, -1], [0, 1]]) g.fillText(label, x + dx, y + dy);
      g.fillStyle = `rgb(${r},${gr},${b})`;
      g.fillText(label, x, y);
    }
  }
}

// The bar over the board while it arrives: the shares of it arrived and drawn
// (null: no board arriving).
export function showProgress(box, bar, textBox, arrived, drawn) {
  box.hidden = arrived === null;
  if (arrived === null) return;
  const percent = (share) => Math.floor(Math.min(share, 0.99) * 100);
  bar.style.width = percent(drawn) + '%';
  textBox.textContent = `The board: ${percent(arrived)} % arrived, ${percent(drawn)} % drawn`;
}
