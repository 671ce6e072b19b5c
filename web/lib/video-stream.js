// A video stream connection: one per video, its own camera ("preview", uid 0) or a remote user's
// ("subscribe", any other uid).
//
// Frame delivery: a page can only show one picture per display refresh, and a frame drawn late is
// worth less than a newer one. So the messages are only put together as they arrive (the planes
// stay the ArrayBuffers the socket gave, nothing is copied or drawn then; in browsers a worker
// reads the stream connections, see stream-socket.js), and once per animation frame
// (requestAnimationFrame; a 16 ms timer where there is none) each stream's callback gets the
// newest complete frame that arrived since the last one, if any. Frames replaced before they were
// handed over are counted as skipped. While the page is hidden the browser runs no animation
// frames: nothing is drawn, and only the newest frame is kept. A frame's planes stay valid after
// the callback returns (they are never reused).
//
// Each stream tells the agent once a second ("videoStat") how many frames per second it handed to
// the page and their average age when handed over, in ms from the frame header's timestamp (the
// agent's wall clock when it packed the frame, see frames.js); stream.stats holds the same
// figures for the page with the frames that arrived and were skipped in that second, and a
// 'stats' event carries them. Frames that the agent discarded before sending (a page that reads
// too slowly) never reach the page; the agent counts them for the engine's statistics.
//
// Shown without the page's help: drawTo(canvas) has the frames drawn into a canvas where the
// stream is read (the worker: no frame crosses to the main thread, see offscreen-drawing.js), and
// `track` (toMediaStreamTrack()) is a video MediaStreamTrack of the stream (media-track.js). A
// stream opened without a frame callback hands no frame to the page; its stats then count the
// frames shown in the canvas or track it showed first, and each of those is a 'shown' event
// ({kind: 'canvas' or 'track', age, width, height}).
//
// `muted` is true while the user has paused their video (the session tells its streams, from the
// user's "onUserMuteVideo" and "onUserEnableVideo"); 'mute' and 'unmute' events follow it, as
// they do for a camera's track, and the stream's track follows too.
//
// A stream ends once: stopped by the page, closed by the agent or the network ('closed'), or
// ended by its session (see session.js). Then `open` is false, `endReason` says why, and an
// 'end' event ({uid, reason}) goes to its listeners; its track ends with it. A session's stream
// whose connection is lost with the agent is paused instead (`paused`, a 'pause' event {uid,
// reason}) until the session comes back and resume() gives it a new connection ('resume' {uid}):
// the page keeps the same object, its tile stays where it is, and its canvas and track go on with
// the new connection.
import { AgentEvents } from './events.js';
import { FrameAssembler, frameAge } from './frames.js';
import { frameClock } from './frame-clock.js';
import { CanvasDrawing } from './offscreen-drawing.js';
import { StreamTrack, TrackFeed } from './media-track.js';
import { WorkerSocket, connectStream } from './stream-socket.js';

/**
 * Sends "preview" (uid 0) or "subscribe" (any other uid) on its connection and calls
 * onFrame(frame, stream) with its newest frame once per animation frame (none when onFrame is
 * null: the stream is shown by drawTo() or its track). stop() ends it; for the
 * preview, also switch the camera off with "enableLocalVideo" on the control connection (a
 * session's openCamera() does both).
 */
export class VideoStream extends AgentEvents {
  constructor(connection, uid, onFrame, { viewWidth = 0, viewHeight = 0, statsIntervalMs = 1000 } = {}) {
    super();
    this.uid = uid;
    this.onFrame = onFrame;
    this.viewWidth = viewWidth;
    this.viewHeight = viewHeight;
    this.frames = 0; // handed to onFrame
    this.received = 0; // complete frames that arrived
    this.skipped = 0; // arrived but replaced by a newer one before the page got them
    /** The last period's figures: frames handed over per second and their average age in ms, and
     * how many frames arrived and were skipped in it. */
    this.stats = { fps: 0, latency: 0, received: 0, skipped: 0 };
    this.endReason = null;
    this.paused = false;
    /** Asked when the connection closes: 'pause' keeps the stream, paused, for resume(); 'hold'
     * leaves it to its owner to end it; anything else ends it ('closed'). */
    this.keep = () => null;
    this.muted = false;
    this.newest = null;
    this.period = { start: Date.now(), frames: 0, age: 0, received: 0, skipped: 0 };
    this.sinks = []; // where frames read on the page are drawn or written besides onFrame
    this.shownKind = null; // the kind of the first canvas or track: its frames are counted
    this.streamTrack = null;
    this.connection = null;
    this.inWorker = false;
    this.timer = statsIntervalMs > 0 ? setInterval(() => this.measure(), statsIntervalMs) : null;
    this.bind(connection);
  }

  /**
   * Takes its frames from `connection` from now on. Canvases and tracks fed on the page go on as
   * they are; those the worker fed from the previous connection are handed over to this one.
   */
  bind(connection) {
    this.unbind?.();
    const previous = this.connection;
    this.connection = connection;
    const assembler = new FrameAssembler();
    const arrived = (frame) => {
      for (const sink of this.sinks) sink.push(frame);
      if (this.onFrame === null) return;
      this.received += 1;
      this.period.received += 1;
      if (this.newest !== null) {
        this.skipped += 1;
        this.period.skipped += 1;
      }
      this.newest = frame;
      frameClock.request(this);
    };
    // A socket read by the stream worker hands over whole frames; a plain one, its messages.
    const inWorker = connection.ws instanceof WorkerSocket;
    if (inWorker) {
      connection.ws.onframe = arrived;
      connection.ws.onshown = (report) => this.shown(report);
      if (this.onFrame === null) connection.ws.framesToPage(false);
    }
    if (this.inWorker) {
      if (inWorker) {
        connection.ws.adopt(previous.ws);
      } else {
        // The worker's canvas cannot come back to the page: what it showed ends.
        previous.ws.release();
        this.streamTrack?.end();
      }
    }
    this.inWorker = inWorker;
    const stops = [
      connection.on('binary', (buffer) => {
        const frame = assembler.push(buffer);
        if (frame !== null) arrived(frame);
      }),
      connection.on('close', (close) => {
        const kept = this.endReason === null ? this.keep(close) : null;
        if (kept === 'pause') this.pause('reconnecting');
        else if (kept !== 'hold') this.finish('closed');
      }),
    ];
    this.unbind = () => {
      for (const stop of stops) stop();
      if (inWorker) connection.ws.onframe = connection.ws.onshown = null;
    };
  }

  /** True until the stream ends (also while paused). */
  get open() {
    return this.endReason === null;
  }

  /** Waits for a new connection (see resume); its frames stop meanwhile. */
  pause(reason) {
    if (this.paused || this.endReason !== null) return;
    this.paused = true;
    this.newest = null;
    this.emit('pause', { uid: this.uid, reason });
  }

  /**
   * Opens a new connection to `url` for a paused stream and asks for the same video on it; the
   * stream goes on as the same object. Fails (and ends the stream, 'failed') when the agent
   * refuses it. Options: workerUrl, timeoutMs, signal.
   */
  async resume(url, { workerUrl, timeoutMs, signal } = {}) {
    const connection = await connectStream(url, { workerUrl, timeoutMs, signal, diagnose: false });
    if (this.endReason !== null) {
      connection.close();
      return;
    }
    const previous = this.connection;
    this.bind(connection);
    previous.close();
    try {
      await connection.request(...this.setUp, { timeoutMs, signal });
    } catch (error) {
      // Refused by the agent: the stream ends. Closed: the agent went again, it stays paused.
      if (this.connection === connection && connection.open) this.stop('failed');
      throw error;
    }
    if (!this.paused || this.connection !== connection) return;
    this.paused = false;
    this.emit('resume', { uid: this.uid });
  }

  /** The set-up command of this stream with its members ("preview" or "subscribe"). */
  get setUp() {
    const view = { viewWidth: this.viewWidth, viewHeight: this.viewHeight };
    return this.uid === 0 ? ['preview', { video: true, ...view }] : ['subscribe', { uid: this.uid, ...view }];
  }

  /** Called by the frame clock: the page gets the newest frame. */
  show() {
    const frame = this.newest;
    if (frame === null) return;
    this.newest = null;
    this.frames += 1;
    this.period.frames += 1;
    try {
      this.onFrame(frame, this);
    } catch (error) {
      // One page callback failing must not keep the other streams' frames from being shown.
      setTimeout(() => { throw error; });
    }
    this.period.age += frameAge(frame.timestamp);
  }

  /**
   * A frame drawn into a canvas or written into the track where the stream is read. Without a
   * frame callback, those of the first one shown are the stream's frames.
   */
  shown(report) {
    if (this.endReason !== null) return;
    this.shownKind ??= report.kind;
    if (this.onFrame === null && report.kind === this.shownKind) {
      this.frames += 1;
      this.received += report.arrived;
      this.skipped += report.arrived - 1;
      Object.assign(this.period, {
        frames: this.period.frames + 1,
        age: this.period.age + report.age,
        received: this.period.received + report.arrived,
        skipped: this.period.skipped + report.arrived - 1,
      });
    }
    this.emit('shown', { kind: report.kind, age: report.age, width: report.width, height: report.height });
  }

  /** Shows the frames in `canvas` from now on, drawn where the stream is read. */
  drawTo(canvas) {
    const report = (shown) => this.shown(shown);
    if (this.inWorker) this.connection.ws.draw(canvas);
    else this.sinks.push(new CanvasDrawing(canvas, report));
  }

  /** A video MediaStreamTrack of this stream, made on first use; it ends with the stream. */
  toMediaStreamTrack() {
    if (this.streamTrack === null) {
      const { ws } = this.connection;
      const ended = this.endReason !== null; // a track of an ended stream is fed by nobody
      this.streamTrack = new StreamTrack({
        workerTrack: this.inWorker ? ws.workerTrack : null,
        feed: (writable) => {
          if (ended) return;
          if (this.inWorker) ws.feed(writable);
          else this.sinks.push(new TrackFeed(writable, (shown) => this.shown(shown)));
        },
        draw: (canvas) => {
          if (!ended) this.drawTo(canvas);
        },
      });
      this.streamTrack.setMuted(this.muted);
      if (ended) this.streamTrack.track.stop();
    }
    return this.streamTrack.track;
  }

  /** The stream's MediaStreamTrack (see toMediaStreamTrack). */
  get track() {
    return this.toMediaStreamTrack();
  }

  /** The user paused (true) or resumed (false) their video: 'mute' or 'unmute'. */
  setMuted(muted) {
    if (muted === this.muted || this.endReason !== null) return;
    this.muted = muted;
    this.streamTrack?.setMuted(muted);
    this.emit(muted ? 'mute' : 'unmute', { uid: this.uid });
  }

  /** Closes the period: stats and a 'stats' event for the page, "videoStat" for the agent. */
  measure() {
    const now = Date.now();
    const { start, frames, age, received, skipped } = this.period;
    this.stats = {
      fps: now > start ? Math.round((frames * 1000) / (now - start)) : 0,
      latency: frames > 0 ? Math.round(age / frames) : 0,
      received,
      skipped,
    };
    this.period = { start: now, frames: 0, age: 0, received: 0, skipped: 0 };
    this.report(this.stats);
    this.emit('stats', this.stats);
  }

  /** Tells the agent the page's own measurements; it passes them to the engine's statistics. */
  report({ latency = 0, fps = 0 } = {}) {
    this.connection.post('videoStat', { uid: this.uid, latency, fps });
  }

  /**
   * Asks for pictures of this size (device pixels; 0 leaves the size to the engine). The set-up
   * command goes again on the same connection, and the agent replaces the video it carries with
   * one of the new size; frames of the old size may still arrive for a moment.
   */
  async setViewSize(width, height, { signal } = {}) {
    const [viewWidth, viewHeight] = [Math.max(0, Math.round(width)), Math.max(0, Math.round(height))];
    if (viewWidth === this.viewWidth && viewHeight === this.viewHeight) return;
    this.viewWidth = viewWidth;
    this.viewHeight = viewHeight;
    await this.connection.request(...this.setUp, { signal });
  }

  /** Ends the stream with `reason` ('stopped' unless said otherwise) and closes its connection. */
  stop(reason = 'stopped') {
    this.finish(reason);
    this.connection.close();
  }

  dispose() {
    this.stop();
  }

  finish(reason) {
    if (this.endReason !== null) return;
    this.endReason = reason;
    clearInterval(this.timer);
    this.newest = null;
    this.endSinks();
    this.emit('end', { uid: this.uid, reason });
  }

  /** Ends what shows the frames, on the page's side and in the worker. */
  endSinks() {
    for (const sink of this.sinks.splice(0)) sink.end();
    if (this.inWorker) this.connection.ws.release();
    this.streamTrack?.end();
  }
}

/**
 * Opens the stream connection for one user's video; resolves once the agent accepted it. Options:
 * uid, viewWidth and viewHeight (the size shown, in device pixels), canvas (drawn into where the
 * stream is read, see drawTo), statsIntervalMs (how often "videoStat" goes to the agent; 0:
 * never), timeoutMs, signal, workerUrl (the stream worker's address, see stream-socket.js).
 * onFrame: see VideoStream; none when the stream is shown otherwise.
 */
export async function openStream(url, {
  uid = 0, viewWidth = 0, viewHeight = 0, canvas, statsIntervalMs, timeoutMs, signal, workerUrl,
} = {}, onFrame = null) {
  const connection = await connectStream(url, { timeoutMs, signal, workerUrl });
  const stream = new VideoStream(connection, uid, onFrame, { viewWidth, viewHeight, statsIntervalMs });
  if (canvas) stream.drawTo(canvas);
  try {
    await connection.request(...stream.setUp, { timeoutMs, signal });
  } catch (error) {
    stream.stop('failed');
    throw error;
  }
  return stream;
}
