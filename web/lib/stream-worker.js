// The stream worker: reads the page's stream connections off the main thread (stream-socket.js
// starts it, once per page) and shows their frames where the page asked. One connection per
// stream; each frame is put together here, then
//   - handed to the page whole, its planes transferred rather than copied (the page draws);
//   - handed the same way to the drawing worker, which draws it into a canvas the page handed
//     over (drawing-worker.js; where a worker cannot start one, drawn here);
//   - written here into a media track (media-track.js).
//
// Where the browser has WebSocketStream the connection is read through it: a worker busy drawing
// then stops reading, the connection's flow control holds the rest back, and the agent, which
// replaces frames still waiting to be sent by newer ones, drops the excess; with a WebSocket, the
// browser would queue every frame for the worker however far behind it is.
import { FrameAssembler } from './frames.js';
import { CanvasDrawing } from './offscreen-drawing.js';
import { TrackFeed } from './media-track.js';

/** A binary message as an ArrayBuffer of its own (WebSocketStream may hand out views). */
function ownBuffer(data) {
  if (data instanceof ArrayBuffer) return data;
  const whole = data.byteOffset === 0 && data.byteLength === data.buffer.byteLength;
  return whole ? data.buffer : data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength);
}

/** Opens `url` with WebSocketStream; `on` gets open(url), text, binary, error() and close(code, reason). */
function readWithStream(url, on) {
  const socket = new WebSocketStream(url);
  const connection = { send() {}, close: () => socket.close() };
  (async () => {
    try {
      const { readable, writable } = await socket.opened;
      const writer = writable.getWriter();
      connection.send = (text) => writer.write(text).catch(() => {});
      on.open(socket.url);
      const reader = readable.getReader();
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        if (typeof value === 'string') on.text(value);
        else on.binary(ownBuffer(value));
      }
    } catch {
      on.error(); // as a WebSocket that could not connect or lost its connection
    }
    const { closeCode = 1006, reason = '' } = await socket.closed.catch(() => ({}));
    on.close(closeCode, reason);
  })();
  return connection;
}

/** The same with a WebSocket. */
function readWithSocket(url, on) {
  const ws = new WebSocket(url);
  ws.binaryType = 'arraybuffer';
  ws.onopen = () => on.open(ws.url);
  ws.onerror = () => on.error();
  ws.onclose = ({ code, reason }) => on.close(code, reason);
  ws.onmessage = ({ data }) => (typeof data === 'string' ? on.text(data) : on.binary(data));
  return { send: (text) => ws.send(text), close: () => ws.close() };
}

const read = typeof WebSocketStream === 'function' ? readWithStream : readWithSocket;

/**
 * Where canvases are drawn: the drawing worker, started on first use. Returns a sink for one
 * canvas: push(frame, transfer) hands a frame over (its planes transferred when `transfer`),
 * end(). `report` gets the drawing's reports.
 */
const drawer = {
  worker: undefined, // undefined: not tried yet; null: none can be started here
  reports: new Map(), // drawing id -> report
  nextDrawing: 1,
  start() {
    this.worker = null;
    if (typeof Worker !== 'function') return;
    try {
      this.worker = new Worker(new URL('./drawing-worker.js', import.meta.url), { type: 'module', name: 'kelvo-agent-drawing' });
      this.worker.onmessage = ({ data: { drawing, shown } }) => this.reports.get(drawing)?.(shown);
    } catch {
      // Drawn on the reading thread instead.
    }
  },
  sink(canvas, report) {
    if (this.worker === undefined) this.start();
    if (this.worker === null) {
      const drawing = new CanvasDrawing(canvas, report);
      return { push: (frame) => drawing.push(frame), end: () => drawing.end() };
    }
    const drawing = this.nextDrawing++;
    const { worker } = this;
    this.reports.set(drawing, report);
    worker.postMessage({ op: 'canvas', drawing, canvas }, [canvas]);
    return {
      push: (frame, transfer) => worker.postMessage({ op: 'frame', drawing, frame },
        transfer ? [frame.y.buffer, frame.u.buffer, frame.v.buffer] : []),
      end: () => {
        this.reports.delete(drawing);
        worker.postMessage({ op: 'end', drawing });
      },
    };
  },
};

/** Ends what a stream showed: its canvases' drawings and its track feeds. */
function endShows(shows) {
  for (const sink of [...shows.sinks, ...shows.canvases]) sink.end();
}

function serveStreams() {
  // What a stream shows (shows: {id, sinks, canvases}) outlives its connection: a page that opens
  // the stream again on a new connection (its agent restarted) hands them over ('adopt'), one
  // that ends the stream ends them ('release'). `shows.id` is the connection they report to.
  const streams = new Map(); // id -> {connection, toPage, shows, generator}
  const leftOver = new Map(); // id of a closed connection -> its shows, until adopted or released
  const post = (message, transfer = []) => self.postMessage(message, transfer);

  function open(id, url, workerTrack) {
    const assembler = new FrameAssembler();
    // sinks copy what they keep of a frame; canvases are handed the frame itself.
    const stream = { connection: null, toPage: true, shows: { id, sinks: [], canvases: [] }, generator: null };
    const on = {
      open: (address) => {
        // A browser whose page cannot make a track generator may make one here.
        if (workerTrack && typeof VideoTrackGenerator === 'function') stream.generator = new VideoTrackGenerator();
        const track = stream.generator?.track;
        post({ id, op: 'open', url: address, track }, track ? [track] : []);
      },
      text: (text) => post({ id, op: 'text', text }),
      binary: (buffer) => {
        const frame = assembler.push(buffer);
        if (frame === null) return;
        const { sinks, canvases } = stream.shows;
        for (const sink of sinks) sink.push(frame);
        // The planes can be transferred once: to the last one handed the frame.
        canvases.forEach((canvas, i) => canvas.push(frame, !stream.toPage && i === canvases.length - 1));
        if (stream.toPage) post({ id, op: 'frame', frame }, [frame.y.buffer, frame.u.buffer, frame.v.buffer]);
      },
      error: () => post({ id, op: 'error' }),
      close: (code, reason) => {
        streams.delete(id);
        const { sinks, canvases } = stream.shows;
        if (sinks.length + canvases.length > 0) leftOver.set(id, stream.shows);
        post({ id, op: 'close', code, reason });
      },
    };
    try {
      stream.connection = read(url, on);
    } catch {
      on.error(); // as a WebSocket that cannot connect: an error, then closed
      on.close(1006, '');
      return;
    }
    streams.set(id, stream);
  }

  /** The shows of connection `from` go on with connection `id` (or wait under its id). */
  function adopt(id, from) {
    const shows = leftOver.get(from);
    if (shows === undefined) return;
    leftOver.delete(from);
    shows.id = id;
    const stream = streams.get(id);
    if (stream === undefined) {
      leftOver.set(id, shows);
      return;
    }
    // A new connection shows nothing yet: the page hands the old shows over as soon as it opens.
    shows.sinks.push(...stream.shows.sinks);
    shows.canvases.push(...stream.shows.canvases);
    stream.shows = shows;
  }

  self.onmessage = ({ data }) => {
    const { id, op } = data;
    if (op === 'open') {
      open(id, data.url, data.workerTrack);
      return;
    }
    if (op === 'adopt') {
      adopt(id, data.from);
      return;
    }
    if (op === 'release') {
      const shows = leftOver.get(id) ?? streams.get(id)?.shows;
      leftOver.delete(id);
      if (shows === undefined) return;
      endShows(shows);
      shows.sinks = [];
      shows.canvases = [];
      return;
    }
    const stream = streams.get(id);
    if (stream === undefined) return;
    const { shows } = stream;
    const report = (shown) => post({ id: shows.id, op: 'shown', shown });
    if (op === 'send') stream.connection.send(data.text);
    else if (op === 'close') stream.connection.close();
    else if (op === 'to-page') stream.toPage = data.on;
    else if (op === 'draw') shows.canvases.push(drawer.sink(data.canvas, report));
    else if (op === 'feed') shows.sinks.push(new TrackFeed(data.writable ?? stream.generator.writable, report));
  };
}

if (typeof WorkerGlobalScope !== 'undefined') serveStreams();
