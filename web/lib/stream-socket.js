// Stream connections read in a worker.
//
// A page's main thread also lays out, runs the page's scripts and draws. While it is busy, nobody
// reads the stream connections, and the frames wait in the operating system's socket buffers,
// where no frame can be skipped any more: the video falls behind by as many frames as those
// buffers hold. So the stream connections are read by a worker (stream-worker.js, started once
// per page), which puts each frame together and hands it over without copying (its buffers are
// transferred); the main thread keeps only the newest. A stream may also be shown by the worker
// itself, drawn into a canvas or written into a media track, and then no frame crosses to the
// main thread at all. Where no module worker can be started (old browsers, a library loaded from
// another origin, node, a bundle without the worker's file) the page reads the sockets itself,
// and says so once on the console.
//
// The worker's address: `workerUrl` where the page gives one (openSession's option), else
// lib/stream-worker.js beside this module, written so that Vite and webpack 5 bundle it by
// themselves; with esbuild, build kelvo-web-agent/stream-worker as an entry point of its own
// named stream-worker.js beside the bundle (README, "Bundlers").
import { AgentConnection, openSocket } from './connection.js';

const STREAM_WORKER_NAME = 'kelvo-agent-streams';
const CONNECTING = 0;
const OPEN = 1;
const CLOSED = 3;

let streamWorker; // undefined: not tried yet; null: none can be started here

/** Says once, on the console, that video is read on the main thread and why. */
function warnReadOnPage(why, cause) {
  console.warn(`kelvo-web-agent: ${why}; the video streams are read on the page's main thread. ` +
    'Give openSession() the worker\'s address (workerUrl), or emit lib/stream-worker.js beside your bundle ' +
    '(README: "Bundlers").', ...(cause ? [cause] : []));
}

/**
 * The page's stream worker, started on first use from `workerUrl` (default: beside this module;
 * false: none); null where none can be.
 */
function startStreamWorker(workerUrl) {
  if (streamWorker !== undefined) return streamWorker;
  streamWorker = null;
  if (workerUrl === false || typeof Worker !== 'function' || typeof document === 'undefined') return null;
  const address = workerUrl ?? './stream-worker.js';
  try {
    // The default written out as bundlers look for it: new Worker(new URL(literal, import.meta.url)).
    const worker = workerUrl === undefined
      ? new Worker(new URL('./stream-worker.js', import.meta.url), { type: 'module', name: STREAM_WORKER_NAME })
      : new Worker(workerUrl, { type: 'module', name: STREAM_WORKER_NAME });
    const sockets = new Map();
    let nextId = 1;
    worker.onmessage = ({ data }) => sockets.get(data.id)?.receive(data);
    worker.onerror = (event) => {
      // The module did not load as a worker: its sockets fail, later streams read on the page.
      event.preventDefault?.();
      if (streamWorker !== null) warnReadOnPage(`the stream worker could not be loaded from ${address}`);
      streamWorker = null;
      for (const socket of sockets.values()) socket.receive({ op: 'error' }, true);
    };
    streamWorker = {
      open(socket) {
        const id = nextId++;
        sockets.set(id, socket);
        // Where the page cannot make a track generator, the worker may (VideoTrackGenerator).
        const workerTrack = typeof MediaStreamTrackGenerator !== 'function';
        worker.postMessage({ id, op: 'open', url: socket.url, workerTrack });
        return {
          id,
          send: (text) => worker.postMessage({ id, op: 'send', text }),
          close: () => worker.postMessage({ id, op: 'close' }),
          post: (message, transfer) => worker.postMessage({ id, ...message }, transfer),
          forget: () => sockets.delete(id),
        };
      },
    };
  } catch (error) {
    warnReadOnPage('no worker can be started here', error);
  }
  return streamWorker;
}

/**
 * The page's side of a stream connection read by the worker: it looks like a WebSocket to
 * AgentConnection, hands complete frames to onframe and reports of frames the worker showed
 * itself to onshown.
 */
export class WorkerSocket {
  constructor(url, worker) {
    this.url = url;
    this.readyState = CONNECTING;
    this.binaryType = 'arraybuffer';
    this.onopen = this.onerror = this.onclose = this.onmessage = this.onframe = this.onshown = null;
    this.workerTrack = null; // a track the worker made for this stream
    this.channel = worker.open(this);
  }

  /** Whether the worker hands every frame to the page (onframe); it does until told otherwise. */
  framesToPage(on) {
    this.channel.post({ op: 'to-page', on });
  }

  /** The worker draws the frames into this canvas (its control goes to the worker). */
  draw(canvas) {
    const offscreen = canvas.transferControlToOffscreen();
    this.channel.post({ op: 'draw', canvas: offscreen }, [offscreen]);
  }

  /** The worker writes the frames into this writable stream of a track (null: its own track). */
  feed(writable) {
    this.channel.post({ op: 'feed', writable }, writable ? [writable] : []);
  }

  /**
   * The canvases and track feeds the worker showed for `previous` (a closed connection of the
   * same stream) go on with this one.
   */
  adopt(previous) {
    this.channel.post({ op: 'adopt', from: previous.channel.id });
  }

  /** The stream ended: the worker ends the canvases and track feeds it showed for this connection. */
  release() {
    this.channel.post({ op: 'release' });
  }

  receive(message, workerFailed = false) {
    const { op } = message;
    if (op === 'open') {
      this.url = message.url;
      this.workerTrack = message.track ?? null;
      this.readyState = OPEN;
      this.onopen?.();
    } else if (op === 'text') {
      this.onmessage?.({ data: message.text });
    } else if (op === 'frame') {
      this.onframe?.(message.frame);
    } else if (op === 'shown') {
      this.onshown?.(message.shown);
    } else if (op === 'error') {
      this.onerror?.({ workerFailed });
      if (workerFailed) this.receive({ op: 'close', code: 1006, reason: 'the stream worker failed' });
    } else if (op === 'close' && this.readyState !== CLOSED) {
      this.readyState = CLOSED;
      this.channel.forget();
      this.onclose?.({ code: message.code, reason: message.reason });
    }
  }

  send(text) {
    if (this.readyState === OPEN) this.channel.send(text);
  }

  close() {
    this.channel.close();
  }
}

/**
 * A connection for one stream: read by the page's stream worker where there can be one.
 * Options as openSocket's (timeoutMs, signal, diagnose), and workerUrl.
 */
export async function connectStream(url, { workerUrl, ...options } = {}) {
  const worker = startStreamWorker(workerUrl);
  if (worker !== null) {
    try {
      return new AgentConnection(await openSocket(url, { ...options, makeSocket: (address) => new WorkerSocket(address, worker) }));
    } catch (error) {
      if (streamWorker !== null) throw error; // the agent, not the worker, failed
    }
  }
  return new AgentConnection(await openSocket(url, options));
}
