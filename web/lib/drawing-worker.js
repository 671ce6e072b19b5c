// The drawing worker: draws the streams whose page handed a canvas over (offscreen-drawing.js),
// started by the stream worker once per page. Reading and drawing are kept on two threads: a
// reader that also draws falls behind while it draws, the frames wait unread meanwhile, and the
// picture drawn next is an old one; a reader of its own hands the drawer the newest frame at any
// moment. Frames arrive with their planes transferred, so nothing is copied between the two.
import { CanvasDrawing } from './offscreen-drawing.js';

function serveDrawings() {
  const drawings = new Map(); // drawing id -> CanvasDrawing
  self.onmessage = ({ data: { op, drawing, canvas, frame } }) => {
    if (op === 'canvas') {
      drawings.set(drawing, new CanvasDrawing(canvas, (shown) => self.postMessage({ drawing, shown })));
    } else if (op === 'frame') {
      drawings.get(drawing)?.push(frame);
    } else if (op === 'end') {
      drawings.get(drawing)?.end();
      drawings.delete(drawing);
    }
  };
}

if (typeof WorkerGlobalScope !== 'undefined') serveDrawings();
