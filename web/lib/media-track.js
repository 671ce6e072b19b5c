// A stream as a video MediaStreamTrack, so that a remote user's video plays wherever the browser
// takes a track: a <video> element (video.srcObject = new MediaStream([stream.track])),
// MediaRecorder, picture-in-picture, a peer connection.
//
// The track is fed where the stream is read (the stream worker, or the page without one), by the
// first of these the browser has:
//   - VideoTrackGenerator in the worker: the worker makes the track and hands it to the page;
//   - MediaStreamTrackGenerator on the page (Chromium): its writable stream goes to the worker,
//     which writes each frame into it as a VideoFrame carrying its rotation and mirroring;
//   - a canvas's captureStream(): the canvas is drawn where the stream is read (CanvasDrawing).
// Frames the track's consumer has not taken yet are not queued: the newest goes next.
// The track ends when the stream ends, and reports 'mute' / 'unmute' (and `muted`) while the
// user's video is paused.
import { frameAge } from './frames.js';
import { quarterTurn } from './orientation.js';
import { VideoFramePacker } from './video-frames.js';

let orientedFrames = null;

/** Whether this browser's VideoFrames carry a rotation and a flip (asked once). */
function orientedFramesWork() {
  if (orientedFrames === null) {
    orientedFrames = false;
    try {
      const probe = new VideoFrame(new Uint8Array(6), {
        format: 'I420', codedWidth: 2, codedHeight: 2, timestamp: 0, rotation: 90, flip: true,
      });
      orientedFrames = probe.rotation === 90 && probe.flip === true;
      probe.close();
    } catch {
      // No VideoFrame at all: a canvas feeds the track.
    }
  }
  return orientedFrames;
}

/** Writes a stream's frames into a track generator's writable stream. */
export class TrackFeed {
  /** report({kind, age, arrived, width, height}) follows every frame written. */
  constructor(writable, report) {
    this.kind = 'track';
    this.writer = writable.getWriter();
    this.packer = new VideoFramePacker();
    this.report = report;
    this.arrived = 0;
    this.ended = false;
  }

  push(frame) {
    this.arrived += 1;
    if (this.ended || !(this.writer.desiredSize > 0)) return; // the consumer is behind: skipped
    const picture = this.packer.videoFrame(frame, {
      timestamp: frame.timestamp * 1000, // the agent's clock, in microseconds
      ...(frame.rotation || frame.mirrored ? { rotation: quarterTurn(frame.rotation), flip: frame.mirrored } : {}),
    });
    // The generator takes the VideoFrame and closes it; a write fails only once the track ended.
    this.writer.write(picture).catch(() => picture.close());
    this.report({ kind: this.kind, age: frameAge(frame.timestamp), arrived: this.arrived, width: frame.width, height: frame.height });
    this.arrived = 0;
  }

  /** The stream ended: so does the track ('ended' for its consumers). */
  end() {
    if (this.ended) return;
    this.ended = true;
    this.writer.close().catch(() => {});
  }
}

/**
 * The page's side: a track for a stream. `source` says where the stream is read and takes the
 * feeding there: workerTrack (a track the worker made, or null), feed(writable), draw(canvas).
 */
export class StreamTrack {
  constructor(source) {
    this.canvas = null;
    if (source.workerTrack) {
      this.track = source.workerTrack;
      source.feed(null);
    } else if (typeof MediaStreamTrackGenerator === 'function' && orientedFramesWork()) {
      this.track = new MediaStreamTrackGenerator({ kind: 'video' });
      source.feed(this.track.writable);
    } else {
      this.canvas = document.createElement('canvas');
      [this.track] = this.canvas.captureStream().getVideoTracks();
      source.draw(this.canvas);
    }
  }

  /**
   * The user's video paused or resumed: the track says so as a camera's track does (its `muted`
   * is the browser's to set, so the page's track object carries its own).
   */
  setMuted(muted) {
    if (this.track.readyState === 'ended' || this.track.muted === muted) return;
    Object.defineProperty(this.track, 'muted', { value: muted, configurable: true });
    this.track.dispatchEvent(new Event(muted ? 'mute' : 'unmute'));
  }

  /** The stream ended. A generator's track ends as its feed closes; a canvas's track is stopped. */
  end() {
    if (this.canvas === null || this.track.readyState === 'ended') return;
    this.track.stop();
    this.track.dispatchEvent(new Event('ended'));
  }
}
