// A session: the page's call through the agent, from the control connection to its end.
//
// openSession() opens the control connection, checks that the agent speaks this library's
// protocol and starts the engine; the session then joins and leaves channels and owns every
// stream opened through it. Streams end with what ends them at the agent: leaving the channel
// (the agent stops sending every video, the own camera too) ends them with reason 'left-channel',
// the end of the session (close(), or the control connection closed by the agent or the network)
// with 'session-ended'. A stream whose open was under way then ends as soon as it opens.
//
// A remote user's streams follow the user's video: muted while the user paused it
// ("onUserMuteVideo") or switched it off ("onUserEnableVideo"), see VideoStream.muted.
//
// Events: every event of the agent (see AgentConnection), and 'joined' ({uid, channel}), 'left'
// ({}, also when the engine left the channel on its own) and 'close' ({code, reason}).
import { AgentEvents } from './events.js';
import { DEFAULT_URL, connect } from './connection.js';
import { checkCompatible, getAgentInfo } from './agent-info.js';
import { openStream } from './video-stream.js';
import { RemoteVideos } from './remote-videos.js';

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

export class AgentSession extends AgentEvents {
  constructor(connection, agentInfo) {
    super();
    this.connection = connection;
    this.url = connection.url;
    this.agentInfo = agentInfo;
    /** 'ready' (engine started), 'joined' (in a channel) or 'ended'. */
    this.state = connection.open ? 'ready' : 'ended';
    this.uid = 0;
    this.channel = null;
    this.streams = new Set();
    this.pausedVideo = new Map(); // uid -> {muted, disabled}: the user's video, as the user set it
    this.epoch = 0; // goes up whenever the agent drops every stream: leaving, or the end
    connection.on('*', (message, name) => this.received(name, message));
  }

  received(name, message) {
    if (name === 'reply' && message.command === 'leaveChannel' && message.code === true) {
      this.channelLeft(); // the engine left on its own
    } else if (name === 'close') {
      this.state = 'ended';
      this.endStreams('session-ended');
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

  /** Whether a user's video is paused or switched off, as far as the session heard. */
  isPaused(uid) {
    const paused = this.pausedVideo.get(uid);
    return paused !== undefined && (paused.muted || paused.disabled);
  }

  /** Sends a command on the control connection; see AgentConnection.request. */
  request(command, members, options) {
    return this.connection.request(command, members, options);
  }

  /** Joins a channel; resolves with {uid}, the own uid the engine granted (uid 0: it chooses). */
  async join(channelName, { uid = 0, channelKey = '', signal, timeoutMs } = {}) {
    const reply = await this.request('joinChannel', { channelKey, channelName, uid }, { signal, timeoutMs });
    this.state = 'joined';
    this.uid = reply.uid;
    this.channel = channelName;
    this.emit('joined', { uid: reply.uid, channel: channelName });
    return { uid: reply.uid };
  }

  /** Leaves the channel. Its streams end whatever the agent answers. */
  async leave({ signal, timeoutMs } = {}) {
    try {
      await this.request('leaveChannel', {}, { signal, timeoutMs });
    } finally {
      this.channelLeft();
    }
  }

  channelLeft() {
    const wasJoined = this.state === 'joined';
    if (this.state !== 'ended') this.state = 'ready';
    this.uid = 0;
    this.channel = null;
    this.pausedVideo.clear();
    this.endStreams('left-channel');
    if (wasJoined) this.emit('left', {});
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
    if (this.state === 'ended') throw this.connection.closedError(uid === 0 ? 'preview' : 'subscribe');
    const epoch = this.epoch;
    const canvas = isCanvas(view) ? view : undefined;
    const stream = await openStream(this.url, { ...options, ...sizeOf(view), uid, canvas }, drawingOf(view));
    if (typeof view?.end === 'function') stream.once('end', ({ reason }) => view.end(reason));
    stream.setMuted(uid !== 0 && this.isPaused(uid));
    if (this.epoch !== epoch) {
      stream.stop(this.state === 'ended' ? 'session-ended' : 'left-channel');
      return stream;
    }
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
    await this.request('enableLocalVideo', { enabled: true }, { signal, timeoutMs });
    const stream = await this.openStream(0, view, options);
    stream.once('end', () => {
      if (this.connection.open) this.request('enableLocalVideo', { enabled: false }).catch(() => {});
    });
    return stream;
  }

  /**
   * Shows every remote user's video: one stream per user with video, opened when the agent
   * announces it ("onAddVideoStream"), kept while the user mutes and unmutes, ended when the
   * user leaves, when the channel is left and when the session ends. createView(uid) returns the
   * view for that user (as for openStream); its end(reason) is the place to remove it.
   */
  followRemoteVideos(createView, options = {}) {
    return new RemoteVideos(this, createView, options);
  }

  /** Ends the session: its streams end, the control connection closes and the agent stops the engine. */
  close() {
    this.state = 'ended';
    this.endStreams('session-ended');
    this.connection.close();
  }

  dispose() {
    this.close();
  }
}

/**
 * Connects to the agent, checks its protocol and starts the engine. Options: url (default
 * ws://127.0.0.1:8922), appID, or key instead of appID, plainUrl (see connect), timeoutMs
 * (waiting for the connection), signal. The first time a site uses the agent, the agent asks the
 * user whether it may: the promise waits for that answer (reason 'refused-by-user' when refused).
 * Rejects with an AgentError whose reason says what went wrong.
 */
export async function openSession({
  url = DEFAULT_URL, appID, key, plainUrl, timeoutMs, signal,
} = {}) {
  const connection = await connect(url, { timeoutMs, signal, plainUrl });
  try {
    const agentInfo = await getAgentInfo(connection, { signal });
    checkCompatible(agentInfo);
    await connection.request('initialize', key === undefined ? { appID } : { key }, { signal });
    return new AgentSession(connection, agentInfo);
  } catch (error) {
    connection.close();
    throw error;
  }
}
