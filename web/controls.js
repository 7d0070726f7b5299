// The controls the module's choices are made with: the tool bar's drawing
// tools and its held keys for a touch screen, the drawing tool's sliders and
// the colour panel (the square, the hue strip and the palette).
import { imageAt } from './module.js';

const SLIDER_NAMES = ['size', 'value'];
const SLIDER_HEIGHT = 32;

export class Controls {
  constructor(m, K, $) {
    Object.assign(this, { m, K, $ });
    this.toggles = { shift: false, ctrl: false, labels: false };
    this.onLabels = () => {};
  }

  start() {
    for (const key of Object.keys(this.toggles)) {
      this.$(key).addEventListener('click', () => {
        this.toggles[key] = !this.toggles[key];
        this.$(key).classList.toggle('on', this.toggles[key]);
        if (key === 'labels') this.onLabels();
      });
    }
    this.showTools();
    this.showPanel();
  }

  showTools() {
    const bar = this.$('tools'), m = this.m;
    bar.textContent = '';
    this.K.tools.forEach((name, tool) => {
      const b = document.createElement('button');
      b.textContent = name;
      b.id = 'tool-' + name.toLowerCase();
      if (tool === m._page_tool()) b.className = 'on';
      b.addEventListener('click', () => { m._page_set_tool(tool); this.showTools(); this.showPanel(); });
      bar.appendChild(b);
    });
  }

  // The drawing tool's sliders, then the colour panel.
  showPanel() {
    const panel = this.$('panel'), m = this.m, tool = m._page_tool(), width = this.K.sliderWidth;
    panel.textContent = '';
    for (let s = 0; s < 2; ++s) {
      if (!m._page_has_slider(tool, s)) continue;
      const label = document.createElement('p');
      label.textContent = this.K.tools[tool] + ' ' + SLIDER_NAMES[s] + ': ' + Math.round(m._page_slider_value(tool, s) * 100) / 100;
      const c = document.createElement('canvas');
      c.width = width;
      c.height = SLIDER_HEIGHT;
      c.id = 'slider-' + s;
      const g = c.getContext('2d');
      for (let x = 0; x < width; ++x) {
        const v = Math.floor(x * 255 / width);
        g.fillStyle = s ? `rgb(${v},${v},${v})` : '#fff';
        const h = s ? SLIDER_HEIGHT : Math.max(1, Math.floor(x * SLIDER_HEIGHT / width));
        g.fillRect(x, SLIDER_HEIGHT - h, 1, h);
      }
      const at = m._page_slider_column(tool, s);
      g.fillStyle = '#f00';
      g.fillRect(at - 2, 0, 1, SLIDER_HEIGHT);
      g.fillRect(at + 2, 0, 1, SLIDER_HEIGHT);
      c.addEventListener('pointerdown', (e) => {
        if (e.button !== 0) return;
        const r = c.getBoundingClientRect();
        m._page_slider_press(tool, s, Math.floor((e.clientX - r.left) * width / r.width));
        this.showPanel();
      });
      panel.append(label, c);
    }
    const c = document.createElement('canvas');
    const w = this.K.panelWidth, h = this.K.panelHeight;
    c.id = 'colours';
    c.width = w;
    c.height = h;
    c.addEventListener('pointerdown', (e) => {
      if (e.button !== 0 && e.button !== 2) return;
      const r = c.getBoundingClientRect();
      const x = Math.floor((e.clientX - r.left) * w / r.width), y = Math.floor((e.clientY - r.top) * h / r.height);
      if (m._page_colour_press(e.button === 0 ? 1 : 2, x, y)) this.showPanel();
    });
    c.addEventListener('contextmenu', (e) => e.preventDefault());
    panel.appendChild(c);
    this.drawColours(c);
  }

  // The panel's picture with the markers of the hue and of the colour in the square.
  drawColours(c) {
    const m = this.m, K = this.K, g = c.getContext('2d');
    g.putImageData(imageAt(m, m._page_colour_panel(), K.panelWidth, K.panelHeight), 0, 0);
    const line = (colour, x0, y0, x1, y1) => { g.fillStyle = colour; g.fillRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1); };
    const size = K.squareSize, h0 = size + 6, h1 = size + K.hueWidth - 6;
    const yh = Math.floor(m._page_colour(3) * size / 360);
    line('#f00', h0, yh - 2, h1, yh - 2); line('#f00', h0, yh + 2, h1, yh + 2);
    line('#000', h0 + 1, yh - 3, h1 - 1, yh - 3); line('#000', h0 + 1, yh + 3, h1 - 1, yh + 3);
    const a = Math.floor(m._page_colour(5) * size), b = Math.floor(m._page_colour(4) * size);
    line('#f00', a - 10, b - 2, a - 2, b - 2); line('#f00', a - 2, b - 10, a - 2, b - 3);
    line('#f00', a + 2, b + 2, a + 10, b + 2); line('#f00', a + 2, b + 3, a + 2, b + 10);
    line('#000', a - 9, b - 3, a - 3, b - 3); line('#000', a - 3, b - 9, a - 3, b - 4);
    line('#000', a + 3, b + 3, a + 9, b + 3); line('#000', a + 3, b + 4, a + 3, b + 9);
    const rgb = [0, 1, 2].map((i) => Math.floor(m._page_colour(i)));
    c.title = 'Colour ' + rgb.join(', ');
    c.dataset.rgb = rgb.join(',');
  }
}
