// Input over the board: one finger, a pen or the left button paints (the
// module captures the stroke); two fingers pinch and pan, and a second finger
// arriving during a stroke cancels it first, as a lost touch does; the middle
// button, Space with the left, or a drag off the picture pans; the wheel pans
// and, with Ctrl (a trackpad's pinch), zooms; keys zoom and pan. Nothing of
// this reaches the browser's own zoom or scrolling.
const PAN_STEP = 64;  // screen pixels an arrow key pans

export function attachInput(box, view, hooks) {
  const pointers = new Map();  // id -> { x, y } on the screen
  let mode = 'idle';           // idle, stroke, pan, gesture, rest (fingers left over from a gesture)
  let strokeId = null, gesture = null, spaceHeld = false;

  const boxPoint = (x, y) => {
    const r = box.getBoundingClientRect();
    return [x - r.left, y - r.top];
  };

  function startGesture() {
    const [a, b] = [...pointers.values()];
    const [mx, my] = boxPoint((a.x + b.x) / 2, (a.y + b.y) / 2);
    gesture = { mx, my, distance: Math.hypot(a.x - b.x, a.y - b.y) || 1, scale: view.scale,
      bx: (mx - view.x) / view.scale, by: (my - view.y) / view.scale };
  }

  // The board point that was under the fingers' midpoint stays under it.
  function moveGesture() {
    const [a, b] = [...pointers.values()];
    const [mx, my] = boxPoint((a.x + b.x) / 2, (a.y + b.y) / 2);
    const s = gesture.scale * Math.hypot(a.x - b.x, a.y - b.y) / gesture.distance;
    view.zoomAround(s, gesture.bx, gesture.by, mx, my);
  }

  function stroke(e, edge) {
    const [x, y] = view.boardPoint(e.clientX, e.clientY);
    return hooks.pointer(x, y, edge, e.buttons & 3, e.ctrlKey, e.shiftKey);
  }

  function cancelStroke() {
    if (mode === 'stroke') hooks.cancel();
    strokeId = null;
  }

  box.addEventListener('pointerdown', (e) => {
    e.preventDefault();
    box.setPointerCapture(e.pointerId);
    pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (e.pointerType === 'touch' && pointers.size >= 2) {
      cancelStroke();
      if (mode !== 'gesture') { mode = 'gesture'; startGesture(); }
      return;
    }
    if (mode === 'stroke' && e.pointerId === strokeId) {
      stroke(e, e.button === 2 ? 2 : 0);  // another button of the same mouse
      return;
    }
    if (mode !== 'idle') return;
    const paints = e.button === 0 && !spaceHeld && view.onPicture(e.clientX, e.clientY);
    if (paints) {
      hooks.strokeStarts();
      if (stroke(e, 1)) { mode = 'stroke'; strokeId = e.pointerId; } else hooks.refused();
    } else if (e.button === 2) {
      stroke(e, 2);  // the colour under the pointer
    } else if (e.button === 0 || e.button === 1) {
      mode = 'pan';
    }
  });

  box.addEventListener('pointermove', (e) => {
    const p = pointers.get(e.pointerId);
    if (mode === 'stroke' && e.pointerId === strokeId) stroke(e, 0);
    else if (mode === 'gesture' && pointers.size >= 2 && p) { p.x = e.clientX; p.y = e.clientY; moveGesture(); return; }
    else if (mode === 'pan' && p) view.panBy(e.clientX - p.x, e.clientY - p.y);
    if (p) { p.x = e.clientX; p.y = e.clientY; }
  });

  function lift(e, cancelled) {
    if (!pointers.delete(e.pointerId)) return;
    if (mode === 'stroke' && e.pointerId === strokeId) {
      if (cancelled) cancelStroke(); else stroke(e, 0);
      strokeId = null;
      mode = 'idle';
    } else if (mode === 'gesture' || mode === 'rest') {
      mode = pointers.size ? 'rest' : 'idle';
      if (pointers.size >= 2) { mode = 'gesture'; startGesture(); }
    } else if (!pointers.size) {
      mode = 'idle';
    }
  }
  box.addEventListener('pointerup', (e) => lift(e, false));
  box.addEventListener('pointercancel', (e) => lift(e, true));
  box.addEventListener('contextmenu', (e) => e.preventDefault());

  box.addEventListener('wheel', (e) => {
    e.preventDefault();
    const unit = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? box.clientHeight : 1;
    if (e.ctrlKey) {
      const [px, py] = boxPoint(e.clientX, e.clientY);
      view.zoomAt(Math.exp(-e.deltaY * unit / 200), px, py);
    } else {
      view.panBy(-e.deltaX * unit, -e.deltaY * unit);
    }
  }, { passive: false });
  // A browser's own pinch gesture (where there is one besides pointer events).
  box.addEventListener('gesturestart', (e) => e.preventDefault());

  const KEYS = {
    '+': () => view.step(1), '=': () => view.step(1), '-': () => view.step(-1), '0': () => view.fit(),
    '1': () => view.zoomAt(1 / view.scale, box.clientWidth / 2, box.clientHeight / 2),
    ArrowLeft: () => view.panBy(PAN_STEP, 0), ArrowRight: () => view.panBy(-PAN_STEP, 0),
    ArrowUp: () => view.panBy(0, PAN_STEP), ArrowDown: () => view.panBy(0, -PAN_STEP),
  };
  window.addEventListener('keydown', (e) => {
    if (e.target instanceof HTMLInputElement) return;
    if (e.key === 'Alt') { hooks.labels(true); e.preventDefault(); return; }
    if (e.key === ' ') { spaceHeld = true; e.preventDefault(); return; }
    const action = !e.ctrlKey && !e.metaKey && !e.altKey && KEYS[e.key];
    if (action) { action(); e.preventDefault(); }
  });
  window.addEventListener('keyup', (e) => {
    if (e.key === 'Alt') hooks.labels(false);
    if (e.key === ' ') spaceHeld = false;
  });
  // Focus gone with keys held: they are not held any more.
  window.addEventListener('blur', () => { spaceHeld = false; hooks.labels(false); });
}
