// Once per animation frame: a page (or a worker drawing into a canvas) can only show one picture
// per display refresh, so whatever waits to be shown is handed its newest frame then, all in one
// callback. requestAnimationFrame where it works (pages, Chromium's workers started by a page),
// else a 16 ms timer (workers started by workers, where Chromium refuses it; node).

let animationFrames = typeof requestAnimationFrame === 'function';

function nextTick(callback) {
  if (animationFrames) {
    try {
      requestAnimationFrame(callback);
      return;
    } catch {
      animationFrames = false;
    }
  }
  setTimeout(callback, 16);
}

/** Calls due.show() on the next animation frame for everything that asked since the last one. */
export const frameClock = {
  due: new Set(),
  scheduled: false,
  request(waiting) {
    this.due.add(waiting);
    if (this.scheduled) return;
    this.scheduled = true;
    nextTick(() => this.tick());
  },
  tick() {
    this.scheduled = false;
    const due = [...this.due];
    this.due.clear();
    for (const waiting of due) waiting.show();
  },
};
