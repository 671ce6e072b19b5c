// A session: the page's call through the agent, from the control connection to its end.
//
// openSession() opens the control connection, checks that the agent speaks this library's
// protocol and starts the engine; the session then joins and leaves channels and owns every
// stream opened through it. Streams end with what ends them at the agent: leaving the channel
// (the agent stops sending every video, the own camera too) ends them with reason 'left-channel',
// the end of the session (close(), or the control connection closed by the agent or the network)
// with 'session-ended'. A stream whose open was under way then ends as soon as it opens.
//
// Events: every event of the agent (see AgentConnection), and 'joined' ({uid, channel}), 'left'
// ({}, also when the engine left the channel on its own) and 'close' ({code, reason}).
import { AgentEvents } from './events.js';
import { DEFAULT_URL, connect } from './connection.js';
import { checkCompatible, getAgentInfo } from './agent-info.js';
import { openStream } from './video-stream.js';
import { RemoteVideos } from './remote-videos.js';

/** A view's drawing function: a function itself, or an object's draw(). */
function drawingOf(view) {
  return typeof view === 'function' ? view : (frame, stream) => view.draw(frame, stream);
}

/** The size a view object says it shows its video at, where it says one. */
function sizeOf(view) {
  const size = {};
  for (const side of ['viewWidth', 'viewHeight']) if (typeof view[side] === 'number') size[side] = view[side];
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
    this.epoch = 0; // goes up whenever the agent drops every stream: leaving, or the end
    connection.on('*', (message, name) => this.received(name, message));
  }

  received(name, message) {
    if (name === 'reply' && message.command === 'leaveChannel' && message.code === true) {
      this.channelLeft(); // the engine left on its own
    } else if (name === 'close') {
      this.state = 'ended';
      this.endStreams('session-ended');
    }
    this.emit(name, message);
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
    this.endStreams('left-channel');
    if (wasJoined) this.emit('left', {});
  }

  endStreams(reason) {
    this.epoch += 1;
    for (const stream of [...this.streams]) stream.stop(reason);
  }

  /**
   * Opens the stream of one user's video (uid 0: the own camera; see openCamera) and keeps it
   * until it ends. `view` draws its frames: a function (frame, stream), or an object with
   * draw(frame, stream), optionally end(reason), called once when the stream ends, and
   * viewWidth and viewHeight, the size it shows the video at. Options: viewWidth, viewHeight,
   * statsIntervalMs, timeoutMs, signal.
   */
  async openStream(uid, view, options = {}) {
    if (this.state === 'ended') throw this.connection.closedError(uid === 0 ? 'preview' : 'subscribe');
    const epoch = this.epoch;
    const stream = await openStream(this.url, { ...options, ...sizeOf(view), uid }, drawingOf(view));
    if (typeof view.end === 'function') stream.once('end', ({ reason }) => view.end(reason));
    if (this.epoch !== epoch) {
      stream.stop(this.state === 'ended' ? 'session-ended' : 'left-channel');
      return stream;
    }
    this.streams.add(stream);
    stream.once('end', () => this.streams.delete(stream));
    return stream;
  }

  /**
   * Switches the camera on and opens its stream (a preview, also before joining); stopping the
   * stream switches the camera off again. Arguments as openStream's.
   */
  async openCamera(view, options = {}) {
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
