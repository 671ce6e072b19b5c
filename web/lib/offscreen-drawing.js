// Drawing a stream's frames into a canvas where the stream is read: in the stream worker, into
// the OffscreenCanvas that the page handed over with transferControlToOffscreen(), so that no
// frame crosses to the page's main thread and a busy page does not hold the video back (without a
// worker, on the page itself). The browser converts and draws each picture as a VideoFrame
// (video-frames.js), upright and mirrored as its header says (orientation.js); the canvas takes
// the picture's shown size. Like the page's own drawing, only the newest frame is drawn, once per
// animation frame; the others are skipped.
import { frameAge } from './frames.js';
import { frameClock } from './frame-clock.js';
import { drawUpright } from './orientation.js';
import { VideoFramePacker } from './video-frames.js';

export class CanvasDrawing {
  /**
   * Draws into `canvas` (an OffscreenCanvas or a canvas element). report({kind, age, arrived,
   * width, height}) follows every draw: the frame's age in ms when drawn, and how many frames
   * arrived since the last draw.
   */
  constructor(canvas, report) {
    this.kind = 'canvas';
    this.context = canvas.getContext('2d', { alpha: false });
    this.packer = new VideoFramePacker();
    this.report = report;
    this.newest = null;
    this.arrived = 0;
    this.ended = false;
  }

  push(frame) {
    if (this.ended) return;
    this.newest = frame;
    this.arrived += 1;
    frameClock.request(this);
  }

  /** Called by the frame clock. */
  show() {
    const frame = this.newest;
    if (frame === null || this.ended) return;
    this.newest = null;
    const picture = this.packer.videoFrame(frame);
    try {
      drawUpright(this.context, picture, frame);
    } finally {
      picture.close();
    }
    const { width, height } = this.context.canvas;
    this.report({ kind: this.kind, age: frameAge(frame.timestamp), arrived: this.arrived, width, height });
    this.arrived = 0;
  }

  /** The stream ended: the last picture stays on the canvas. */
  end() {
    this.ended = true;
    this.newest = null;
  }
}
