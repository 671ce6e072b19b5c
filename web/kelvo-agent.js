/*
 * kelvo-agent.js: talk to the Kelvo Web Agent from a web page. One ES module, no dependencies;
 * copy it next to your page and import it.
 *
 *   import { connect, openStream } from './kelvo-agent.js';
 *
 *   const agent = await connect('ws://127.0.0.1:8922');        // or wss://127.0.0.1:8921
 *   agent.on('onAddVideoStream', ({ uid }) => openStream(agent.url, { uid }, drawFrame));
 *   await agent.request('initialize', { appID: 'my-app-id' });
 *   const { uid } = await agent.request('joinChannel', { channelName: 'room', uid: 0 });
 *
 * Control connection: the first connection that sends "initialize" becomes it. request() sends a
 * command and resolves with its reply once {"command": <same name>, ..., "code": true} arrives; a
 * reply whose "code" is anything else rejects with an AgentError carrying that code. Replies are
 * matched by command name, oldest request first. Some replies come later, when the engine has
 * done the work (joinChannel, leaveChannel, key renewal, recording): request() simply waits for
 * them. Everything else the agent sends is an event: {"event": name, ...} and the two messages
 * that carry their name in "command", "onPeerLeave" and "onAddVideoStream"; subscribe with on().
 *
 * Stream connections: one per video, opened with openStream(). {uid: 0} is your own camera
 * ("preview"), any other uid a remote user ("subscribe"). Each frame arrives as four binary
 * messages (a 20-byte header, then the Y, U and V planes) and is handed to your callback decoded:
 * {width, height, stride, chromaStride, rotation, mirrored, timestamp, y, u, v}. Rows are
 * `stride` bytes long (width plus padding), chroma rows `chromaStride` = stride / 2.
 *
 * Frame delivery: a page can only show one picture per display refresh, and a frame drawn late is
 * worth less than a newer one. So the messages are only put together as they arrive (the planes
 * stay the ArrayBuffers the socket gave, nothing is copied or drawn then; in browsers a worker
 * started from this module reads the stream connections, so that a busy page never leaves frames
 * waiting in the socket, and hands each frame over without copying it), and once per animation
 * frame (requestAnimationFrame; a 16 ms timer where there is none) each stream's callback gets the
 * newest complete frame that arrived since the last one, if any. Frames replaced before they were
 * handed over are counted as skipped. While the page is hidden the browser runs no animation
 * frames: nothing is drawn, and only the newest frame is kept. A frame's planes stay valid after
 * the callback returns (they are never reused).
 *
 * Each stream tells the agent once a second ("videoStat") how many frames per second it handed to
 * the page and their average age when handed over, in ms from the frame header's timestamp (the
 * agent's wall clock when it packed the frame); stream.stats holds the same figures for the page.
 * stream.setViewSize(width, height) asks for pictures of the size they are shown at, in device
 * pixels, so that neither the engine nor the connection carries pixels the page throws away.
 */

const DEFAULT_TIMEOUT_MS = 10000;
/** The first "initialize" of a site the user has not decided about waits for the user's answer,
 * which the agent gives up on after 60 s. */
const INITIALIZE_TIMEOUT_MS = 75000;
const HEADER_BYTES = 20;
const OPEN = 1; // WebSocket.OPEN

/** Messages that the agent sends with "command" first although nobody asked for them. */
const EVENT_COMMANDS = new Set(['onPeerLeave', 'onAddVideoStream']);

/** Reply names that answer each other: the agent names a key renewal's reply after the key style
 * the page chose at "initialize", not after the command that asked for it. */
const REPLY_ALIASES = { renewChannelDynamicKey: 'renewChannelKey' };

/** Codes the agent itself produces; every other code comes from the engine. */
const CODE_TEXT = {
  1: 'nothing was found',
  2: 'the request was not understood (unknown command, missing or invalid value)',
  3: 'the engine is not running (initialize first), or you are not in a channel',
  5: 'this command is not allowed on this connection',
  7: 'the engine library is not available',
  10: 'joining the channel failed',
  19: 'the engine is already in use by another page',
  101: 'the application id is empty',
  111: 'the connection to the service was lost',
  112: 'joining the channel failed',
  403: 'the user has not allowed this site to use the agent (the agent asks once per site; the ' +
    'user can change the decision in the tray menu\'s Sites… or with kelvo_web_agent -allow ORIGIN)',
  429: 'too many videos are open at once (close a stream first)',
  timeout: 'the agent did not answer in time',
  closed: 'the connection to the agent closed',
};

/** Plain words for a reply or event code. */
export function describeCode(code) {
  return CODE_TEXT[code] ?? `the engine reported error ${code}`;
}

/** A command that the agent answered with a code other than true. */
export class AgentError extends Error {
  constructor(command, code, reply = null) {
    super(`${command}: ${describeCode(code)} (code ${code})`);
    this.name = 'AgentError';
    this.command = command;
    this.code = code;
    this.reply = reply;
  }
}

/** Opens `url` with makeSocket (a WebSocket, or a stream socket read in the worker). */
function openSocket(url, timeoutMs, makeSocket = (address) => new WebSocket(address)) {
  return new Promise((resolve, reject) => {
    let ws;
    try {
      ws = makeSocket(url);
    } catch (error) {
      reject(error);
      return;
    }
    ws.binaryType = 'arraybuffer';
    const timer = setTimeout(() => {
      ws.close();
      reject(new Error(`no answer from the agent at ${url}`));
    }, timeoutMs);
    ws.onopen = () => {
      clearTimeout(timer);
      resolve(ws);
    };
    ws.onerror = () => {
      clearTimeout(timer);
      reject(new Error(`cannot reach the agent at ${url}`));
    };
  });
}

/** A WebSocket connection to the agent that sends commands and delivers replies and events. */
export class AgentConnection {
  constructor(ws) {
    this.ws = ws;
    this.url = ws.url;
    this.pending = new Map(); // reply name -> [{resolve, reject, timer}], oldest first
    this.listeners = new Map(); // event name ('*' for all) -> Set of functions
    ws.onmessage = (message) => this.receive(message.data);
    ws.onclose = (close) => this.closed(close);
  }

  get open() {
    return this.ws.readyState === OPEN;
  }

  /** Sends a command and resolves with its reply; rejects with AgentError when code is not true. */
  request(command, members = {}, {
    timeoutMs = command === 'initialize' ? INITIALIZE_TIMEOUT_MS : DEFAULT_TIMEOUT_MS,
  } = {}) {
    return new Promise((resolve, reject) => {
      if (!this.open) {
        reject(new AgentError(command, 'closed'));
        return;
      }
      const name = REPLY_ALIASES[command] ?? command;
      const waiter = { resolve, reject, command };
      waiter.timer = setTimeout(() => {
        this.forget(name, waiter);
        reject(new AgentError(command, 'timeout'));
      }, timeoutMs);
      if (!this.pending.has(name)) this.pending.set(name, []);
      this.pending.get(name).push(waiter);
      this.ws.send(JSON.stringify({ command, ...members }));
    });
  }

  /** Sends a command that is never answered ("videoStat"). */
  post(command, members = {}) {
    if (this.open) this.ws.send(JSON.stringify({ command, ...members }));
  }

  /** Calls fn(message) for every event of that name; '*' receives all. Returns an unsubscribe. */
  on(name, fn) {
    if (!this.listeners.has(name)) this.listeners.set(name, new Set());
    this.listeners.get(name).add(fn);
    return () => this.listeners.get(name).delete(fn);
  }

  close() {
    this.ws.close();
  }

  forget(name, waiter) {
    const queue = this.pending.get(name) ?? [];
    const index = queue.indexOf(waiter);
    if (index >= 0) queue.splice(index, 1);
  }

  emit(name, message) {
    for (const key of [name, '*']) {
      for (const fn of this.listeners.get(key) ?? []) fn(message, name);
    }
  }

  receive(data) {
    if (typeof data !== 'string') {
      this.emit('binary', data);
      return;
    }
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      this.emit('invalid', data);
      return;
    }
    if (typeof message.event === 'string') {
      this.emit(message.event, message);
      return;
    }
    const command = message.command;
    if (EVENT_COMMANDS.has(command)) {
      this.emit(command, message);
      return;
    }
    const name = REPLY_ALIASES[command] ?? command;
    const waiter = (this.pending.get(name) ?? []).shift();
    if (!waiter) {
      // Nobody asked: the engine left the channel on its own, or a late failure of a join.
      this.emit('reply', message);
      return;
    }
    clearTimeout(waiter.timer);
    if (message.code === true) waiter.resolve(message);
    else waiter.reject(new AgentError(waiter.command, message.code, message));
  }

  closed(close) {
    for (const queue of this.pending.values()) {
      for (const waiter of queue.splice(0)) {
        clearTimeout(waiter.timer);
        waiter.reject(new AgentError(waiter.command, 'closed'));
      }
    }
    this.emit('close', { code: close.code, reason: close.reason });
  }
}

/** Opens a connection to the agent (ws://127.0.0.1:8922, or wss://127.0.0.1:8921 once its
 * certificate is trusted by the browser). The page must be served from 127.0.0.1 or its host
 * name must be 127.0.0.1 in the URL: the agent refuses other hosts. */
export async function connect(url = 'ws://127.0.0.1:8922', { timeoutMs = DEFAULT_TIMEOUT_MS } = {}) {
  return new AgentConnection(await openSocket(url, timeoutMs));
}

// ---- stream connections read in a worker ------------------------------------------------------
//
// A page's main thread also lays out, runs the page's scripts and draws. While it is busy, nobody
// reads the stream connections, and the frames wait in the operating system's socket buffers,
// where no frame can be skipped any more: the video falls behind by as many frames as those
// buffers hold. So the stream connections are read by a worker (this same module, started once per
// page), which puts each frame together and hands it over without copying (its buffers are
// transferred); the main thread keeps only the newest. Where no module worker can be started
// (old browsers, a library loaded from another origin, node) the page reads the sockets itself.

const STREAM_WORKER_NAME = 'kelvo-agent-streams';
const CONNECTING = 0;
const CLOSED = 3;

/** The worker's side: one WebSocket per stream, frames assembled and handed over whole. */
function serveStreams() {
  const sockets = new Map();
  const post = (message, transfer = []) => self.postMessage(message, transfer);
  self.onmessage = ({ data: { id, op, url, text } }) => {
    if (op === 'open') {
      let ws;
      try {
        ws = new WebSocket(url);
      } catch {
        post({ id, op: 'error' }); // as a WebSocket that cannot connect: an error, then closed
        post({ id, op: 'close', code: 1006, reason: '' });
        return;
      }
      ws.binaryType = 'arraybuffer';
      sockets.set(id, ws);
      const assembler = new FrameAssembler();
      ws.onopen = () => post({ id, op: 'open', url: ws.url });
      ws.onerror = () => post({ id, op: 'error' });
      ws.onclose = ({ code, reason }) => {
        sockets.delete(id);
        post({ id, op: 'close', code, reason });
      };
      ws.onmessage = ({ data }) => {
        if (typeof data === 'string') {
          post({ id, op: 'text', text: data });
          return;
        }
        const frame = assembler.push(data);
        if (frame !== null) post({ id, op: 'frame', frame }, [frame.y.buffer, frame.u.buffer, frame.v.buffer]);
      };
    } else if (op === 'send') {
      sockets.get(id)?.send(text);
    } else if (op === 'close') {
      sockets.get(id)?.close();
    }
  };
}

let streamWorker; // undefined: not tried yet; null: none can be started here

/** The page's stream worker, started on first use; null where none can be. */
function startStreamWorker() {
  if (streamWorker !== undefined) return streamWorker;
  streamWorker = null;
  if (typeof Worker !== 'function' || typeof document === 'undefined') return null;
  try {
    const worker = new Worker(import.meta.url, { type: 'module', name: STREAM_WORKER_NAME });
    const sockets = new Map();
    let nextId = 1;
    worker.onmessage = ({ data }) => sockets.get(data.id)?.receive(data);
    worker.onerror = () => {
      // The module did not load as a worker: its sockets fail, later streams read on the page.
      streamWorker = null;
      for (const socket of sockets.values()) socket.receive({ op: 'error' }, true);
    };
    streamWorker = {
      open(socket) {
        const id = nextId++;
        sockets.set(id, socket);
        worker.postMessage({ id, op: 'open', url: socket.url });
        return {
          send: (text) => worker.postMessage({ id, op: 'send', text }),
          close: () => worker.postMessage({ id, op: 'close' }),
          forget: () => sockets.delete(id),
        };
      },
    };
  } catch (error) {
    console.warn('The video streams are read on the page: no worker can be started here.', error);
  }
  return streamWorker;
}

/**
 * The page's side of a stream connection read by the worker: it looks like a WebSocket to
 * AgentConnection, and hands complete frames to onframe.
 */
class WorkerSocket {
  constructor(url, worker) {
    this.url = url;
    this.readyState = CONNECTING;
    this.binaryType = 'arraybuffer';
    this.onopen = this.onerror = this.onclose = this.onmessage = this.onframe = null;
    this.channel = worker.open(this);
  }

  receive(message, workerFailed = false) {
    const { op } = message;
    if (op === 'open') {
      this.url = message.url;
      this.readyState = OPEN;
      this.onopen?.();
    } else if (op === 'text') {
      this.onmessage?.({ data: message.text });
    } else if (op === 'frame') {
      this.onframe?.(message.frame);
    } else if (op === 'error') {
      this.onerror?.();
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

/** A connection for one stream: read by the page's stream worker where there can be one. */
async function connectStream(url, timeoutMs = DEFAULT_TIMEOUT_MS) {
  const worker = startStreamWorker();
  if (worker !== null) {
    try {
      return new AgentConnection(await openSocket(url, timeoutMs, (address) => new WorkerSocket(address, worker)));
    } catch (error) {
      if (streamWorker !== null) throw error; // the agent, not the worker, failed
    }
  }
  return new AgentConnection(await openSocket(url, timeoutMs));
}

/** Reads a 32-bit big-endian word. */
function word32(bytes, offset) {
  return ((bytes[offset] << 24) | (bytes[offset + 1] << 16) | (bytes[offset + 2] << 8) | bytes[offset + 3]) >>> 0;
}

/** Parses a frame header; returns null when the buffer is not one. */
export function parseFrameHeader(buffer) {
  if (buffer.byteLength !== HEADER_BYTES) return null;
  const view = new DataView(buffer);
  if (view.getUint8(0) !== 0) return null;
  const width = view.getUint16(2);
  const height = view.getUint16(4);
  const stride = width + view.getUint16(10);
  return {
    mirrored: view.getUint8(1) === 1,
    width,
    height,
    stride,
    chromaStride: stride >> 1,
    rotation: view.getUint16(14),
    timestamp: view.getUint32(16),
  };
}

/**
 * Puts frames together from the four binary messages that carry each one. push() takes the
 * messages in arrival order and returns a whole frame after its V plane, else null. A message of
 * the wrong size (a connection that lost step) is skipped until the next header.
 */
export class FrameAssembler {
  constructor() {
    this.frame = null;
    this.planes = [];
  }

  push(buffer) {
    if (this.frame === null) {
      this.frame = parseFrameHeader(buffer);
      this.planes = [];
      return null;
    }
    const { stride, chromaStride, height } = this.frame;
    const expected = this.planes.length === 0 ? stride * height : chromaStride * (height >> 1);
    if (buffer.byteLength !== expected) {
      this.frame = parseFrameHeader(buffer);
      this.planes = [];
      return null;
    }
    this.planes.push(new Uint8Array(buffer));
    if (this.planes.length < 3) return null;
    const [y, u, v] = this.planes;
    const frame = { ...this.frame, y, u, v };
    this.frame = null;
    this.planes = [];
    return frame;
  }
}

/**
 * The stand-in engine's frame counter, read from the decoded planes: the first four bytes of the
 * U plane's last row hold it big-endian. Returns null for a frame without chroma rows.
 */
export function frameCounter(frame) {
  const rows = frame.height >> 1;
  if (rows === 0 || frame.chromaStride < 4) return null;
  return word32(frame.u, (rows - 1) * frame.chromaStride);
}

/** Milliseconds from a frame header's timestamp (low 32 bits of the wall clock) to `now`. */
export function frameAge(timestamp, now = Date.now()) {
  const age = (now - timestamp) % 0x100000000;
  const wrapped = age < 0 ? age + 0x100000000 : age;
  // A stamp slightly ahead of this clock (it moved back) counts as no age, not as 49 days.
  return wrapped >= 0x80000000 ? 0 : wrapped;
}

/** The next animation frame, or a timer where the environment has none (workers, node). */
function nextTick(callback) {
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(callback);
  else setTimeout(callback, 16);
}

/** Hands every stream with a new frame its newest one, all in one callback per animation frame. */
const frameClock = {
  due: new Set(),
  scheduled: false,
  request(stream) {
    this.due.add(stream);
    if (this.scheduled) return;
    this.scheduled = true;
    nextTick(() => this.tick());
  },
  tick() {
    this.scheduled = false;
    const due = [...this.due];
    this.due.clear();
    for (const stream of due) stream.deliver();
  },
};

/**
 * A video stream connection: sends "preview" (uid 0) or "subscribe" (any other uid) on a new
 * connection and calls onFrame(frame, stream) with its newest frame once per animation frame.
 * stop() closes it; for the preview, also switch the camera off with "enableLocalVideo" on the
 * control connection.
 */
export class VideoStream {
  constructor(connection, uid, onFrame, { viewWidth = 0, viewHeight = 0, statsIntervalMs = 1000 } = {}) {
    this.connection = connection;
    this.uid = uid;
    this.onFrame = onFrame;
    this.viewWidth = viewWidth;
    this.viewHeight = viewHeight;
    this.frames = 0; // handed to onFrame
    this.received = 0; // complete frames that arrived
    this.skipped = 0; // arrived but replaced by a newer one before the page got them
    /** The last period's figures: frames handed over per second and their average age in ms. */
    this.stats = { fps: 0, latency: 0 };
    this.newest = null;
    this.period = { start: Date.now(), frames: 0, age: 0 };
    const assembler = new FrameAssembler();
    const arrived = (frame) => {
      this.received += 1;
      if (this.newest !== null) this.skipped += 1;
      this.newest = frame;
      frameClock.request(this);
    };
    // A socket read by the stream worker hands over whole frames; a plain one, its messages.
    if (connection.ws instanceof WorkerSocket) connection.ws.onframe = arrived;
    connection.on('binary', (buffer) => {
      const frame = assembler.push(buffer);
      if (frame !== null) arrived(frame);
    });
    const timer = statsIntervalMs > 0 ? setInterval(() => this.measure(), statsIntervalMs) : null;
    connection.on('close', () => {
      clearInterval(timer);
      this.newest = null;
    });
  }

  get open() {
    return this.connection.open;
  }

  /** The set-up command of this stream with its members ("preview" or "subscribe"). */
  get setUp() {
    const view = { viewWidth: this.viewWidth, viewHeight: this.viewHeight };
    return this.uid === 0 ? ['preview', { video: true, ...view }] : ['subscribe', { uid: this.uid, ...view }];
  }

  /** Called by the frame clock: the page gets the newest frame. */
  deliver() {
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

  /** Closes the period: stats for the page, "videoStat" for the agent. */
  measure() {
    const now = Date.now();
    const { start, frames, age } = this.period;
    this.stats = {
      fps: now > start ? Math.round((frames * 1000) / (now - start)) : 0,
      latency: frames > 0 ? Math.round(age / frames) : 0,
    };
    this.period = { start: now, frames: 0, age: 0 };
    this.report(this.stats);
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
  async setViewSize(width, height) {
    const [viewWidth, viewHeight] = [Math.max(0, Math.round(width)), Math.max(0, Math.round(height))];
    if (viewWidth === this.viewWidth && viewHeight === this.viewHeight) return;
    this.viewWidth = viewWidth;
    this.viewHeight = viewHeight;
    await this.connection.request(...this.setUp);
  }

  stop() {
    this.connection.close();
  }
}

/**
 * Opens the stream connection for one user's video; resolves once the agent accepted it. Options:
 * viewWidth and viewHeight (the size shown, in device pixels), statsIntervalMs (how often
 * "videoStat" goes to the agent; 0: never), timeoutMs.
 */
export async function openStream(url, {
  uid = 0, viewWidth = 0, viewHeight = 0, statsIntervalMs, timeoutMs,
} = {}, onFrame) {
  const connection = await connectStream(url, timeoutMs);
  const stream = new VideoStream(connection, uid, onFrame, { viewWidth, viewHeight, statsIntervalMs });
  try {
    await connection.request(...stream.setUp, { timeoutMs });
  } catch (error) {
    connection.close();
    throw error;
  }
  return stream;
}

/** Decodes a window title from a "getWindows" listing (Base64 of UTF-8). */
export function decodeTitle(base64) {
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  return new TextDecoder().decode(bytes);
}

// Started as the page's stream worker: serve its stream connections.
if (typeof WorkerGlobalScope !== 'undefined' && self.name === STREAM_WORKER_NAME) serveStreams();
