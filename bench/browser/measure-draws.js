// Served to the pages in place of their yuv-canvas.js: the same module, with every draw counted and
// its delay taken (from the frame header's timestamp to the moment the draw call returns). Works
// with any build's drawing module that offers createRenderer() -> {kind, draw(frame)}.
import * as drawing from './measured/yuv-canvas.js';

export * from './measured/yuv-canvas.js';

/** One record per renderer; the benchmark resets them when it starts measuring. */
const records = [];
window.benchDraws = records;
window.benchMeasuring = false;

function age(timestamp) {
  const ms = (Date.now() - timestamp) % 0x100000000;
  return ms < 0 ? ms + 0x100000000 : ms;
}

export function createRenderer(canvas, options) {
  const renderer = drawing.createRenderer(canvas, options);
  const record = { kind: renderer.kind, draws: 0, delays: [], width: 0, height: 0 };
  records.push(record);
  const draw = renderer.draw.bind(renderer);
  renderer.draw = (frame) => {
    draw(frame);
    if (!window.benchMeasuring) return;
    record.draws += 1;
    record.delays.push(age(frame.timestamp));
    record.width = frame.width;
    record.height = frame.height;
  };
  return renderer;
}
