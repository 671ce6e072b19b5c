// A WebSocket connection to the agent: commands out, replies matched to their requests, events in.
//
// request() sends a command and resolves with its reply once {"command": <same name>, ...,
// "code": true} arrives; any other "code" rejects with an AgentError carrying it. The agent
// answers the commands of one name in the order they were sent, so a reply answers the oldest
// request of its name. Some replies come later, when the engine has done the work (joinChannel,
// leaveChannel, key renewal, recording): request() waits for them. A request that timed out or
// was aborted keeps its place for as long again, so that its late reply is recognised and
// dropped instead of answering a newer request or arriving as an unasked 'reply'.
import { AgentEvents } from './events.js';
import { AgentError } from './agent-error.js';
import { isPlainPort, whyUnreachable } from './reachability.js';

export const DEFAULT_URL = 'ws://127.0.0.1:8922';
export const DEFAULT_TIMEOUT_MS = 10000;
/** The first "initialize" of a site the user has not decided about waits for the user's answer,
 * which the agent gives up on after 60 s. */
const INITIALIZE_TIMEOUT_MS = 75000;
const OPEN = 1; // WebSocket.OPEN

/** Messages that the agent sends with "command" first although nobody asked for them. */
const EVENT_COMMANDS = new Set(['onPeerLeave', 'onAddVideoStream']);

/** Reply names that answer each other: the agent names a key renewal's reply after the key style
 * the page chose at "initialize", not after the command that asked for it. */
const REPLY_ALIASES = { renewChannelDynamicKey: 'renewChannelKey' };

/** A wss:// address still opening after this long is checked for being a plain port: a TLS
 * handshake sent to a plain port is never answered, the connection fails only when the agent
 * gives up on it. */
const PLAIN_PORT_CHECK_MS = 400;

/** Calls abort() once the signal aborts; returns the function that stops watching. */
export function whenAborted(signal, abort) {
  if (!signal) return () => {};
  signal.addEventListener('abort', abort, { once: true });
  return () => signal.removeEventListener('abort', abort);
}

/**
 * Opens `url` with makeSocket (a WebSocket, or a stream socket read in the worker). A failure is
 * an AgentError whose reason says why, as far as the page can find out (reachability.js; with
 * diagnose false, as while reconnecting, no probe runs and the reason is 'not-running'); an
 * address that is no URL throws as the WebSocket constructor does.
 */
export function openSocket(url, {
  timeoutMs = DEFAULT_TIMEOUT_MS, signal, plainUrl, diagnose = true,
  makeSocket = (address) => new WebSocket(address),
} = {}) {
  return new Promise((resolve, reject) => {
    if (signal?.aborted) {
      reject(signal.reason);
      return;
    }
    let ws;
    try {
      new URL(url); // checked here: a stream worker's socket would find out only in the worker
      ws = makeSocket(url);
    } catch (error) {
      // Some browsers refuse a ws:// address from an https:// page outright.
      if (error?.name === 'SecurityError') reject(new AgentError(null, null, null, { reason: 'blocked-by-browser', url, cause: error }));
      else reject(error);
      return;
    }
    ws.binaryType = 'arraybuffer';
    const settle = (outcome) => {
      if (ws.onopen === null) return; // settled already
      clearTimeout(timer);
      clearTimeout(plainCheck);
      stopWatching();
      ws.onopen = ws.onerror = null;
      outcome();
    };
    const fail = (reason) => settle(() => {
      ws.close();
      reject(new AgentError(null, null, null, { reason, url, plainUrl }));
    });
    const timer = setTimeout(() => fail('timeout'), timeoutMs);
    const plainCheck = diagnose && url.startsWith('wss:')
      ? setTimeout(async () => { if (await isPlainPort(url)) fail('wrong-scheme'); }, PLAIN_PORT_CHECK_MS)
      : null;
    const stopWatching = whenAborted(signal, () => settle(() => {
      ws.close();
      reject(signal.reason);
    }));
    ws.onopen = () => settle(() => resolve(ws));
    ws.onerror = (event) => settle(async () => {
      // A stream worker that could not start says so itself; probing the agent would only add noise.
      const reason = event?.workerFailed ? 'not-running' : diagnose ? await whyUnreachable(url, { plainUrl }) : 'not-running';
      if (signal?.aborted) reject(signal.reason);
      else reject(new AgentError(null, null, null, { reason, url, plainUrl }));
    });
  });
}

/** A WebSocket connection to the agent that sends commands and delivers replies and events. */
export class AgentConnection extends AgentEvents {
  constructor(ws) {
    super();
    this.ws = ws;
    this.url = ws.url;
    this.pending = new Map(); // reply name -> [waiter], oldest first
    this.closing = null; // {code, reason, byPage} once the connection closed
    this.closedByPage = false;
    ws.onmessage = (message) => this.receive(message.data);
    ws.onclose = (close) => this.closed(close);
  }

  get open() {
    return this.ws.readyState === OPEN;
  }

  /**
   * Sends a command and resolves with its reply; rejects with an AgentError when its code is not
   * true, when no reply comes within timeoutMs (reason 'timeout') or the connection closes
   * ('closed'), and with the signal's reason when the signal aborts.
   */
  request(command, members = {}, {
    timeoutMs = command === 'initialize' ? INITIALIZE_TIMEOUT_MS : DEFAULT_TIMEOUT_MS, signal,
  } = {}) {
    return new Promise((resolve, reject) => {
      if (signal?.aborted) {
        reject(signal.reason);
        return;
      }
      if (!this.open) {
        reject(this.closedError(command));
        return;
      }
      const name = REPLY_ALIASES[command] ?? command;
      const waiter = { command, resolve, reject, abandoned: false };
      const abandon = (error) => {
        clearTimeout(waiter.timer);
        waiter.stopWatching();
        waiter.abandoned = true;
        waiter.expiry = setTimeout(() => this.forget(name, waiter), timeoutMs);
        reject(error);
      };
      waiter.timer = setTimeout(() => abandon(new AgentError(command, null, null, { reason: 'timeout' })), timeoutMs);
      waiter.stopWatching = whenAborted(signal, () => abandon(signal.reason));
      if (!this.pending.has(name)) this.pending.set(name, []);
      this.pending.get(name).push(waiter);
      this.ws.send(JSON.stringify({ command, ...members }));
    });
  }

  /** request() for a command this library has no types for (an agent newer than it). */
  requestAny(command, members = {}, options = {}) {
    return this.request(command, members, options);
  }

  /** Sends a command that is never answered ("videoStat"). */
  post(command, members = {}) {
    if (this.open) this.ws.send(JSON.stringify({ command, ...members }));
  }

  close() {
    this.closedByPage = true;
    this.ws.close();
  }

  /** Closes the connection; what still waits is rejected with reason 'closed'. */
  dispose() {
    this.close();
  }

  /** The error for a request on (or cut off by) a closed connection. */
  closedError(command) {
    return new AgentError(command, null, null, {
      reason: 'closed', closeCode: this.closing?.code ?? null, closeReason: this.closing?.reason ?? '',
    });
  }

  forget(name, waiter) {
    const queue = this.pending.get(name) ?? [];
    const index = queue.indexOf(waiter);
    if (index >= 0) queue.splice(index, 1);
  }

  emit(name, message) {
    super.emit(name, message);
    super.emit(name, message, '*');
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
      if (message.event === 'error' && typeof message.code === 'number') {
        message.error = new AgentError(null, message.code, message);
      }
      this.emit(message.event, message);
      return;
    }
    const command = message.command;
    if (EVENT_COMMANDS.has(command)) {
      this.emit(command, message);
      return;
    }
    const waiter = (this.pending.get(REPLY_ALIASES[command] ?? command) ?? []).shift();
    if (!waiter) {
      // Nobody asked: the engine left the channel on its own, or a late failure of a join.
      this.emit('reply', message);
      return;
    }
    if (waiter.abandoned) {
      clearTimeout(waiter.expiry); // the late answer of a request given up on: dropped
      return;
    }
    clearTimeout(waiter.timer);
    waiter.stopWatching();
    if (message.code === true) waiter.resolve(message);
    else waiter.reject(new AgentError(waiter.command, message.code, message));
  }

  closed(close) {
    this.closing = { code: close.code, reason: close.reason, byPage: this.closedByPage };
    for (const queue of this.pending.values()) {
      for (const waiter of queue.splice(0)) {
        clearTimeout(waiter.expiry);
        if (waiter.abandoned) continue;
        clearTimeout(waiter.timer);
        waiter.stopWatching();
        waiter.reject(this.closedError(waiter.command));
      }
    }
    this.emit('close', this.closing);
  }
}

/**
 * Opens a connection to the agent (ws://127.0.0.1:8922, or wss://127.0.0.1:8921 once its
 * certificate is trusted by the browser). The agent refuses host names other than 127.0.0.1 and
 * agent.kelvo.localhost. Options: timeoutMs, signal, plainUrl (the agent's plain address, used to
 * tell an untrusted certificate from an agent that is not running when a wss:// address fails).
 */
export async function connect(url = DEFAULT_URL, {
  timeoutMs = DEFAULT_TIMEOUT_MS, signal, plainUrl, diagnose,
} = {}) {
  return new AgentConnection(await openSocket(url, { timeoutMs, signal, plainUrl, diagnose }));
}
