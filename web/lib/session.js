// A session: the page's call through the agent, from the control connection to its end.
//
// openSession() opens the control connection, checks that the agent speaks this library's
// protocol and starts the engine; the session then joins and leaves channels and owns every
// stream opened through it. Streams end with what ends them at the agent: leaving the channel
// (the agent stops sending every video, the own camera too) ends them with reason 'left-channel',
// the end of the session with 'session-ended'. A stream whose open was under way then ends as
// soon as it opens.
//
// The session outlives the agent going away (reconnect.js): while it tries to come back its
// state is 'reconnecting' and its streams are paused (the same VideoStream objects, 'pause' and
// 'resume' events); once the agent answers again it initializes, rejoins the channel with the
// same uid, switches the camera on again if it was on and asks for every paused video again.
//
// A remote user's streams follow the user's video: muted while the user paused it
// ("onUserMuteVideo") or switched it off ("onUserEnableVideo"), see VideoStream.muted.
//
// `state`, with a 'statechange' event ({state, previous, reason, error}) on every change:
// 'connecting', 'ready' (engine started), 'joining', 'joined', 'reconnecting', 'closed'
// (`closeReason` says why: 'closed-by-page', 'agent-quit', 'site-blocked', 'agent-lost', or the
// reason of the error that kept it from coming back, in `closeError`).
//
// Events: every event of the agent (see AgentConnection), 'statechange', 'joined' ({uid,
// channel, resumed}), 'left' ({reason}: 'left' when the page left, 'engine' when the engine left
// on its own, 'session-closed') and 'close' ({code, reason, byPage}: the last connection's close,
// once the session has closed).
import { AgentEvents } from './events.js';
import { AgentError } from './agent-error.js';
import { DEFAULT_URL, connect } from './connection.js';
import { checkCompatible, getAgentInfo } from './agent-info.js';
import { openStream } from './video-stream.js';
import { RemoteVideos } from './remote-videos.js';
import { finalCloseReason, reconnectPolicy, reconnectSession } from './reconnect.js';

/** Whether the view is a canvas, drawn where the stream is read (see VideoStream.drawTo). */
function isCanvas(view) {
  return (typeof HTMLCanvasElement === 'function' && view instanceof HTMLCanvasElement)
    || (typeof OffscreenCanvas === 'function' && view instanceof OffscreenCanvas);
}

/** A view's drawing function: a function itself, or an object's draw(); none for a canvas or no view. */
function drawingOf(view) {
  if (typeof view === 'function') return view;
  return view && typeof view.draw === 'function' ? (frame, stream) => view.draw(frame, stream) : null;
}

/** The size a view object says it shows its video at, where it says one. */
function sizeOf(view) {
  const size = {};
  for (const side of ['viewWidth', 'viewHeight']) if (typeof view?.[side] === 'number') size[side] = view[side];
  return size;
}

/** How long after a lone stream connection closed the session looks whether its control
 * connection went too (then the whole session comes back) before it reopens that stream alone. */
const LONE_STREAM_WAIT_MS = 250;

export class AgentSession extends AgentEvents {
  /**
   * A session on an initialized control connection. `options` are openSession's: without an
   * appID or key it cannot initialize again, so it does not reconnect.
   */
  constructor(connection, agentInfo, options = {}) {
    super();
    this.options = options;
    this.url = connection.url;
    const canInitialize = options.appID !== undefined || options.key !== undefined;
    this.policy = canInitialize ? reconnectPolicy(options.reconnect) : null;
    this.state = 'connecting';
    this.closeReason = null;
    this.closeError = null;
    this.uid = 0;
    this.channel = null;
    this.joined = null; // {channelName, channelKey, uid} of the channel to rejoin
    this.streams = new Set();
    this.pausedVideo = new Map(); // uid -> {muted, disabled}: the user's video, as the user set it
    this.epoch = 0; // goes up whenever the agent drops every stream: leaving, or the end
    this.cameraOn = false; // switched on by openCamera; switched on again after a reconnect
    this.reconnecting = null; // AbortController of the tries under way
    this.lastClose = null;
    this.attach(connection, agentInfo);
  }

  /** The members "initialize" was sent with. */
  initializeMembers() {
    return this.options.key === undefined ? { appID: this.options.appID } : { key: this.options.key };
  }

  attach(connection, agentInfo) {
    this.connection = connection;
    this.agentInfo = agentInfo;
    connection.on('*', (message, name) => {
      if (this.connection === connection) this.received(name, message);
    });
    if (connection.open) this.setState('ready');
    else this.connectionClosed(connection.closing ?? { code: 1006, reason: '', byPage: false });
  }

  setState(state, { reason = null, error = null } = {}) {
    const previous = this.state;
    if (previous === state) return;
    this.state = state;
    this.emit('statechange', { state, previous, reason, error });
  }

  received(name, message) {
    if (name === 'reply' && message.command === 'leaveChannel' && message.code === true) {
      this.channelLeft('engine'); // the engine left on its own
    } else if (name === 'close') {
      this.connectionClosed(message);
      return;
    } else if (name === 'onUserMuteVideo' || name === 'onUserEnableVideo') {
      const paused = this.pausedVideo.get(message.uid) ?? { muted: false, disabled: false };
      if (name === 'onUserMuteVideo') paused.muted = message.muted === true;
      else paused.disabled = message.enabled === false;
      this.pausedVideo.set(message.uid, paused);
      for (const stream of this.streams) if (stream.uid === message.uid) stream.setMuted(this.isPaused(stream.uid));
    } else if (name === 'onPeerLeave') {
      this.pausedVideo.delete(message.uid);
    }
    this.emit(name, message);
  }

  connectionClosed(close) {
    this.lastClose = close;
    if (this.state === 'closed') {
      this.emit('close', close);
      return;
    }
    const final = finalCloseReason(close);
    if (final === null && this.policy !== null) {
      this.startReconnecting();
      return;
    }
    this.finish(final ?? 'agent-lost');
  }

  startReconnecting() {
    this.epoch += 1; // streams being opened belong to the connection that went
    for (const stream of this.streams) stream.pause('reconnecting');
    this.setState('reconnecting');
    this.reconnecting = new AbortController();
    reconnectSession(this, this.policy, this.reconnecting.signal);
  }

  /** The agent took the session again on `connection`: rejoin, camera, the paused videos. */
  async resumeOn(connection, agentInfo) {
    this.reconnecting = null;
    this.url = connection.url;
    this.attach(connection, agentInfo);
    const epoch = this.epoch;
    if (this.joined !== null) {
      try {
        await this.join(this.joined.channelName, { ...this.joined, resumed: true });
      } catch {
        // Closed again (the session tries again), or refused: the channel is gone with its videos.
        if (this.connection === connection && connection.open) this.channelLeft('rejoin-failed');
        return;
      }
    }
    if (this.epoch !== epoch || this.state === 'closed' || this.state === 'reconnecting') return;
    if (this.cameraOn) await this.request('enableLocalVideo', { enabled: true }).catch(() => {});
    await Promise.all([...this.streams].map((stream) => this.resumeStream(stream)));
  }

  async resumeStream(stream) {
    if (!stream.paused || stream.endReason !== null) return;
    try {
      await stream.resume(this.url, { workerUrl: this.options.workerUrl });
    } catch {
      // ended by resume() ('failed'), or the agent went again: then it is paused once more
    }
  }

  /**
   * What becomes of a stream whose connection closed (see VideoStream.keep). The control
   * connection's close may come a moment later and decide for all: the session ends them
   * ('session-ended') or resumes them. A stream that lost its connection alone is opened again,
   * or ends ('closed') where the session would not come back either.
   */
  keepStream(stream, close) {
    if (this.state === 'closed') return null;
    const comesBack = this.policy !== null && finalCloseReason(close) === null;
    if (this.state !== 'reconnecting') {
      setTimeout(() => {
        if (this.state === 'reconnecting' || this.state === 'closed' || stream.endReason !== null) return;
        if (comesBack) this.resumeStream(stream);
        else stream.stop('closed');
      }, LONE_STREAM_WAIT_MS);
    }
    return comesBack ? 'pause' : 'hold';
  }

  /** Ends the session for good with `reason` (and the error that caused it). */
  finish(reason, error = null) {
    if (this.state === 'closed') return;
    this.reconnecting?.abort();
    this.reconnecting = null;
    const close = this.lastClose ?? {};
    this.closeReason = reason;
    this.closeError = error ?? (reason === 'closed-by-page' ? null : new AgentError(null, null, null, {
      reason, closeCode: close.code ?? null, closeReason: close.reason ?? '',
    }));
    const wasInChannel = this.joined !== null;
    this.joined = null;
    this.uid = 0;
    this.channel = null;
    this.setState('closed', { reason, error: this.closeError });
    this.endStreams('session-ended');
    if (wasInChannel) this.emit('left', { reason: 'session-closed' });
    if (this.lastClose !== null) this.emit('close', this.lastClose);
  }

  /** Whether a user's video is paused or switched off, as far as the session heard. */
  isPaused(uid) {
    const paused = this.pausedVideo.get(uid);
    return paused !== undefined && (paused.muted || paused.disabled);
  }

  /** Sends a command on the control connection; see AgentConnection.request. */
  request(command, members, options) {
    return this.connection.request(command, members, options);
  }

  /** A command this library has no types for; see AgentConnection.requestAny. */
  requestAny(command, members, options) {
    return this.connection.request(command, members, options);
  }

  /**
   * Joins a channel; resolves with {uid}, the own uid the engine granted (uid 0: it chooses).
   * The channel, key and uid are kept to rejoin after a reconnect.
   */
  async join(channelName, { uid = 0, channelKey = '', signal, timeoutMs, resumed = false } = {}) {
    this.setState('joining');
    let reply;
    try {
      reply = await this.request('joinChannel', { channelKey, channelName, uid }, { signal, timeoutMs });
    } catch (error) {
      if (this.state === 'joining') this.setState('ready');
      throw error;
    }
    this.uid = reply.uid;
    this.channel = channelName;
    this.joined = { channelName, channelKey, uid: reply.uid };
    this.setState('joined');
    this.emit('joined', { uid: reply.uid, channel: channelName, resumed });
    return { uid: reply.uid };
  }

  /** Leaves the channel. Its streams end whatever the agent answers. */
  async leave({ signal, timeoutMs } = {}) {
    try {
      await this.request('leaveChannel', {}, { signal, timeoutMs });
    } finally {
      this.channelLeft('left');
    }
  }

  channelLeft(reason) {
    const wasInChannel = this.joined !== null || this.state === 'joined';
    if (this.state !== 'closed' && this.state !== 'reconnecting') this.setState('ready');
    this.uid = 0;
    this.channel = null;
    this.joined = null;
    this.pausedVideo.clear();
    this.endStreams('left-channel');
    if (wasInChannel) this.emit('left', { reason });
  }

  endStreams(reason) {
    this.epoch += 1;
    for (const stream of [...this.streams]) stream.stop(reason);
  }

  /**
   * Opens the stream of one user's video (uid 0: the own camera; see openCamera) and keeps it
   * until it ends. `view` shows its frames: a canvas (drawn off the page's main thread, see
   * VideoStream.drawTo), a function (frame, stream), or an object with draw(frame, stream),
   * optionally end(reason), called once when the stream ends, and viewWidth and viewHeight, the
   * size it shows the video at; or none, for a stream shown through its track. Options:
   * viewWidth, viewHeight, statsIntervalMs, timeoutMs, signal.
   */
  async openStream(uid, view = null, options = {}) {
    if (this.state === 'closed' || this.state === 'reconnecting') {
      throw this.connection.closedError(uid === 0 ? 'preview' : 'subscribe');
    }
    const epoch = this.epoch;
    const canvas = isCanvas(view) ? view : undefined;
    const stream = await openStream(this.url, {
      workerUrl: this.options.workerUrl, ...options, ...sizeOf(view), uid, canvas,
    }, drawingOf(view));
    if (typeof view?.end === 'function') stream.once('end', ({ reason }) => view.end(reason));
    stream.setMuted(uid !== 0 && this.isPaused(uid));
    if (this.epoch !== epoch) {
      stream.stop(this.state === 'closed' ? 'session-ended' : 'left-channel');
      return stream;
    }
    stream.keep = (close) => this.keepStream(stream, close);
    this.streams.add(stream);
    stream.once('end', () => this.streams.delete(stream));
    return stream;
  }

  /**
   * Switches the camera on and opens its stream: a preview, also before joining (a lobby), which
   * goes on through the join; leaving the channel ends it. Stopping the stream switches the
   * camera off again. Arguments as openStream's.
   */
  async openCamera(view = null, options = {}) {
    const { signal, timeoutMs } = options;
    await this.setCameraEnabled(true, { signal, timeoutMs });
    const stream = await this.openStream(0, view, options);
    stream.once('end', () => {
      this.cameraOn = false;
      if (this.connection.open) this.request('enableLocalVideo', { enabled: false }).catch(() => {});
    });
    return stream;
  }

  /** Mutes (true) or unmutes the own microphone and camera together ("muteLocal"/"unmuteLocal"). */
  async setMicrophoneMuted(muted, options) {
    await this.request(muted ? 'muteLocal' : 'unmuteLocal', {}, options);
  }

  /** Switches the camera on or off ("enableLocalVideo"); kept across a reconnect. */
  async setCameraEnabled(enabled, options) {
    await this.request('enableLocalVideo', { enabled }, options);
    this.cameraOn = enabled;
  }

  /** Stops (true) or starts again receiving a remote user's video ("disableVideo"/"enableVideo"). */
  async setRemoteVideoMuted(uid, muted, options) {
    await this.request(muted ? 'disableVideo' : 'enableVideo', { streamID: uid }, options);
  }

  /**
   * Shows every remote user's video: one stream per user with video, opened when the agent
   * announces it ("onAddVideoStream"), kept while the user mutes and unmutes, ended when the
   * user leaves, when the channel is left and when the session ends. createView(uid) returns the
   * view for that user (as for openStream); its end(reason) is the place to remove it.
   */
  followRemoteVideos(createView, options = {}) {
    return new RemoteVideos(this, createView, { peerWaitMs: this.policy?.peerWaitMs, ...options });
  }

  /** Ends the session: its streams end, the control connection closes and the agent stops the engine. */
  close() {
    this.finish('closed-by-page');
    this.connection.close();
  }

  dispose() {
    this.close();
  }
}

/**
 * Connects to the agent, checks its protocol and starts the engine. Options: url (default
 * ws://127.0.0.1:8922), appID, or key instead of appID, plainUrl (see connect), reconnect
 * (default on; false, or {initialDelayMs, maxDelayMs, maxAttempts, peerWaitMs}), workerUrl (the
 * stream worker's address), timeoutMs (waiting for the connection), signal. The first time a site
 * uses the agent, the agent asks the user whether it may: the promise waits for that answer.
 * Rejects with an AgentError whose reason says what went wrong.
 */
export async function openSession(options = {}) {
  const {
    url = DEFAULT_URL, appID, key, plainUrl, timeoutMs, signal,
  } = options;
  if (appID === undefined && key === undefined) {
    throw new TypeError('openSession needs an appID or a key');
  }
  const connection = await connect(url, { timeoutMs, signal, plainUrl });
  try {
    const agentInfo = await getAgentInfo(connection, { signal });
    checkCompatible(agentInfo);
    await connection.request('initialize', key === undefined ? { appID } : { key }, { signal });
    return new AgentSession(connection, agentInfo, { ...options, url });
  } catch (error) {
    connection.close();
    throw error;
  }
}
