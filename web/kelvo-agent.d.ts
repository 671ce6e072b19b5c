// Types of kelvo-agent.js, the page library of the Kelvo Web Agent. Written by hand beside the
// modules they describe (lib/*.js); tests/typed-example builds against them, and the client's
// tests check that they name exactly what the module exports.

// ---- errors ------------------------------------------------------------------------------------

/** Why something failed: a stable word to branch on. */
export type AgentErrorReason =
  /** No answer in time (a request, or a connection being opened). */
  | 'timeout'
  /** The connection closed (see closeCode and closeReason). */
  | 'closed'
  /** Nothing answers at the agent's address. */
  | 'not-running'
  /** The agent runs, but the browser does not trust its certificate (wss:// addresses). */
  | 'certificate'
  /** The address names a host the agent does not answer to (only 127.0.0.1 and agent.kelvo.localhost). */
  | 'refused-host'
  /** Another program (not the agent) answers HTTP at the address's port. */
  | 'not-the-agent'
  /** The port speaks the other protocol: wss:// to the agent's plain port, or ws:// to its TLS port. */
  | 'wrong-scheme'
  /** The browser does not let this page reach programs on this computer (Chromium's local network protection). */
  | 'blocked-by-browser'
  /** The agent refused the connection (a browser of another OS user, or too many connections). */
  | 'refused-by-agent'
  /** Code 403 from an agent that does not say why. */
  | 'refused-by-user'
  /** Code 403: the user blocked this site (remembered, or answered Block just now). */
  | 'blocked'
  /** Code 403: the site is undecided and the command is not "initialize" (only it asks the user). */
  | 'not-asked-yet'
  /** Code 403: the question was dismissed (or the site is in the 10-minute pause after that). */
  | 'dismissed'
  /** Code 403: the question went unanswered for 60 s (or the pause after that). */
  | 'question-timeout'
  /** Code 429: 16 sites already wait for the user's answer. */
  | 'too-many-questions'
  /** Code 403: the agent has no way to ask the user (kelvo_web_agent -allow ORIGIN allows the site). */
  | 'cannot-ask'
  /** Code 403: the page's origin is "null" (file:// pages, sandboxed frames). */
  | 'null-origin'
  /** Code 403: the agent cannot read the user's sites file, so it refuses every site. */
  | 'sites-unreadable'
  /** Code 403: a stream command from another site than the running session's. */
  | 'other-site'
  /** A session ended: the user quit the agent (close code 1001 "the agent is quitting"). */
  | 'agent-quit'
  /** A session ended: the user blocked the site while it ran (close code 4003). */
  | 'site-blocked'
  /** A session ended: the connection was lost and it does not reconnect (reconnect off, or it gave up). */
  | 'agent-lost'
  /** The agent speaks another protocol version than this library. */
  | 'incompatible-agent'
  /** Another page uses the engine (code 19). */
  | 'busy'
  /** No engine yet, or not in a channel (code 3). */
  | 'not-ready'
  /** The command is not allowed on this connection (code 5). */
  | 'wrong-connection'
  /** The engine library is missing (code 7). */
  | 'engine-unavailable'
  /** Unknown command, missing or invalid value (codes 2 and 101). */
  | 'invalid-request'
  /** An empty device or window list (code 1). */
  | 'nothing-found'
  /** The agent keeps 64 videos at most (code 429). */
  | 'too-many-videos'
  /** Joining the channel failed (codes 10 and 112). */
  | 'join-failed'
  /** The engine lost its connection to the service (code 111). */
  | 'connection-lost'
  /** Any other code: the engine's own. */
  | 'engine';

export interface AgentErrorOptions {
  reason?: AgentErrorReason | undefined;
  url?: string | null | undefined;
  /** The agent's plain address, named in the developer hint of 'certificate'. */
  plainUrl?: string | null | undefined;
  closeCode?: number | null | undefined;
  closeReason?: string | undefined;
  cause?: unknown;
}

/** A command answered with a code other than true, or a connection that failed or was lost. */
export class AgentError extends Error {
  constructor(command: string | null, code: number | null, reply?: object | null, options?: AgentErrorOptions);
  readonly name: 'AgentError';
  /** The command that failed; null for a connection that could not be made. */
  readonly command: string | null;
  /** The agent's code (negative: the engine's own, as a deferred reply carries it); null when none. */
  readonly code: number | null;
  readonly reason: AgentErrorReason;
  /** What the user can do about it, in a sentence or two, for the system the page runs on. */
  readonly advice: string;
  /** What the page's developer can do about it: the address, origin, switch or option to change. */
  readonly developerHint: string;
  /** The reply that carried the code (for 'incompatible-agent': the agent's information). */
  readonly reply: object | null;
  /** The address a connection failed to reach. */
  readonly url: string | null;
  /** For 'closed': the WebSocket close code and reason (1008 "too many unread replies", say). */
  readonly closeCode: number | null;
  readonly closeReason: string;
}

/** Plain words for a reply or event code, or for a reason. */
export function describeCode(code: number | AgentErrorReason): string;

// ---- events ------------------------------------------------------------------------------------

/** The event the library's objects dispatch: `detail` is the message, `name` its own name. */
export class AgentEvent<T = unknown> extends CustomEvent<T> {
  constructor(type: string, detail: T, name?: string);
  readonly name: string;
}

export type Listener<T> = (message: T, name: string) => unknown;

/**
 * An EventTarget with shorthands whose listeners get the message itself. A listener that throws
 * (or whose promise rejects) is reported as an uncaught error; the other listeners still run.
 */
export class AgentEvents<Events extends object = Record<string, unknown>> extends EventTarget {
  /** Calls the listener for every event of that name; returns the function that stops it. */
  on<K extends keyof Events & string>(name: K, listener: Listener<Events[K]>): () => void;
  /** Calls the listener for the next event of that name only. */
  once<K extends keyof Events & string>(name: K, listener: Listener<Events[K]>): () => void;
  /** The next event's message; an aborted signal rejects with its reason. */
  once<K extends keyof Events & string>(name: K, options?: { signal?: AbortSignal | undefined }): Promise<Events[K]>;
  off<K extends keyof Events & string>(name: K, listener: Listener<Events[K]>): void;
}

// ---- the protocol ------------------------------------------------------------------------------

/** Any message of the agent: a reply ("command", "code") or an event ("event"). */
export interface AgentMessage {
  command?: string;
  event?: string;
  code?: true | number;
  [member: string]: unknown;
}

export type DeviceKind = 'videoinput' | 'audiooutput' | 'audioinput';

export interface DeviceInfo {
  deviceId: string;
  label: string;
  kind: DeviceKind;
}

export interface WindowInfo {
  windowId: string;
  /** Base64 of the title's UTF-8 bytes: decodeTitle() gives the text. */
  title: string;
}

/** The commands of the control connection (and of stream connections: preview, subscribe):
 * their members and what their reply carries beside "command" and "code". */
export interface AgentCommands {
  initialize: { members: { appID: string } | { key: string }; reply: {} };
  getVersion: { members: {}; reply: { version: string } };
  getAgentInfo: { members: {}; reply: { agentVersion: string; protocolVersion: number; commands: string[] } };
  renewChannelKey: { members: { channelKey: string }; reply: {} };
  renewChannelDynamicKey: { members: { key: string }; reply: {} };
  /** channelKey is required: '' where the channel needs none. */
  joinChannel: { members: { channelName: string; channelKey: string; uid?: number | undefined }; reply: { uid: number } };
  leaveChannel: { members: {}; reply: {} };
  enableAudio: { members: { streamID: number }; reply: {} };
  disableAudio: { members: { streamID: number }; reply: {} };
  enableVideo: { members: { streamID: number }; reply: {} };
  disableVideo: { members: { streamID: number }; reply: {} };
  enableLocalVideo: { members: { enabled: boolean }; reply: {} };
  preview: { members: { video?: boolean | undefined; viewWidth?: number | undefined; viewHeight?: number | undefined }; reply: {} };
  subscribe: { members: { uid: number; viewWidth?: number | undefined; viewHeight?: number | undefined }; reply: {} };
  muteLocal: { members: {}; reply: {} };
  unmuteLocal: { members: {}; reply: {} };
  setVideoProfile: { members: { profile: string; swapWidthAndHeight?: boolean | undefined }; reply: {} };
  getDevices: { members: {}; reply: { devices: DeviceInfo[] } };
  selectDevice: { members: { device: { deviceId: string; kind: DeviceKind } }; reply: {} };
  startRecording: { members: { recordingKey: string }; reply: {} };
  stopRecording: { members: { recordingKey: string }; reply: {} };
  queryRecordingStatus: { members: {}; reply: { status: number } };
  /** A JSON object as text; the stand-in engine takes its "sim." keys here. */
  setParameters: { members: { parameters: string }; reply: {} };
  setEncryptionMode: { members: { mode: string }; reply: {} };
  setEncryptionSecret: { members: { secret: string }; reply: {} };
  getWindows: { members: {}; reply: { windows: WindowInfo[] } };
  startScreenSharing: { members: { window?: string | undefined }; reply: {} };
  setScreenSharingWindow: { members: { windowId?: string | undefined }; reply: {} };
  stopScreenSharing: { members: {}; reply: {} };
  setChannelProfile: { members: { profile: 'communication' | 'live-broadcasting' }; reply: {} };
  setClientRole: { members: { role: 'broadcaster' | 'audience'; key?: string | undefined }; reply: {} };
  enableDualStreamMode: { members: { enabled: boolean }; reply: {} };
}

export type CommandName = keyof AgentCommands;
export type CommandReply<C extends CommandName> = AgentCommands[C]['reply'] & { command: C; code: true };

export interface RequestOptions {
  /** Default 10 s (75 s for "initialize", which may wait for the user's answer). */
  timeoutMs?: number | undefined;
  signal?: AbortSignal | undefined;
}

/** Members are optional where a command has none. */
export type RequestArguments<C extends CommandName> = {} extends AgentCommands[C]['members']
  ? [members?: AgentCommands[C]['members'], options?: RequestOptions]
  : [members: AgentCommands[C]['members'], options?: RequestOptions];

/** The events of the control connection, with their messages. */
export interface AgentEventMap {
  /** A remote user's video is available, or a video the page muted runs again. */
  onAddVideoStream: { command: 'onAddVideoStream'; uid: number };
  onPeerLeave: { command: 'onPeerLeave'; uid: number; reason: number };
  onUserMuteAudio: { event: 'onUserMuteAudio'; uid: number; muted: boolean };
  onUserMuteVideo: { event: 'onUserMuteVideo'; uid: number; muted: boolean };
  onUserEnableVideo: { event: 'onUserEnableVideo'; uid: number; enabled: boolean };
  onRejoinChannelSuccess: { event: 'onRejoinChannelSuccess'; channel: string; uid: number; elapsed: number };
  onRequestChannelKey: { event: 'onRequestChannelKey' };
  onCameraReady: { event: 'onCameraReady' };
  onVideoStopped: { event: 'onVideoStopped' };
  warning: { event: 'warning'; code: number };
  /** describeCode(code) puts it in words; `error` is the same as an AgentError. */
  error: { event: 'error'; code: number; error: AgentError };
  /** A reply nobody waited for: the engine left the channel on its own, a late join failure. */
  reply: AgentMessage;
  /** The connection closed: byPage when the page closed it, else the agent or the network did. */
  close: { code: number; reason: string; byPage: boolean };
}

export interface ConnectionEventMap extends AgentEventMap {
  /** Every message, with its name as the listener's second argument. */
  '*': unknown;
  binary: ArrayBuffer;
  invalid: string;
}

export interface ConnectOptions {
  /** How long opening the connection may take; default 10 s. */
  timeoutMs?: number | undefined;
  signal?: AbortSignal | undefined;
  /** The agent's plain address, to tell an untrusted certificate from an agent that is not
   * running when a wss:// address fails; ws://127.0.0.1:8922 beside the default TLS port. */
  plainUrl?: string | undefined;
  /** false: no probes after a failure, the reason is 'not-running' (default true). */
  diagnose?: boolean | undefined;
}

/** A WebSocket connection to the agent: commands out, replies and events in. */
export class AgentConnection extends AgentEvents<ConnectionEventMap> {
  constructor(ws: WebSocket);
  readonly ws: WebSocket;
  readonly url: string;
  readonly open: boolean;
  /**
   * Sends a command; resolves with its reply when its code is true. Rejects with an AgentError
   * for any other code, no reply within timeoutMs ('timeout') or a closed connection ('closed'),
   * and with the signal's reason when it aborts. A reply that comes after its request timed out
   * or was aborted is dropped.
   */
  request<C extends CommandName>(command: C, ...args: RequestArguments<C>): Promise<CommandReply<C>>;
  /** request() for a command this library has no types for (an agent newer than it). */
  requestAny(command: string, members?: object, options?: RequestOptions): Promise<AgentMessage>;
  /** Sends a command that is never answered ("videoStat"). */
  post(command: string, members?: object): void;
  close(): void;
  dispose(): void;
}

/**
 * Opens a connection to the agent; default ws://127.0.0.1:8922. Rejects with an AgentError whose
 * reason says why it failed (a TypeError for an address that is no URL).
 */
export function connect(url?: string, options?: ConnectOptions): Promise<AgentConnection>;

// ---- what the agent says about itself -----------------------------------------------------------

/** The protocol version this library speaks. */
export const PROTOCOL_VERSION: 1;

export interface AgentInfo {
  /** The agent's own version; null for an agent from before "getAgentInfo". */
  agentVersion: string | null;
  protocolVersion: number;
  /** Every command the agent knows; null for an agent from before "getAgentInfo". */
  commands: string[] | null;
  /** True for an agent from before "getAgentInfo" (it still speaks protocol 1). */
  outdated: boolean;
  /** For an outdated agent: what to tell the user; else null. */
  notice: string | null;
}

export function getAgentInfo(connection: AgentConnection, options?: RequestOptions): Promise<AgentInfo>;

// ---- frames ------------------------------------------------------------------------------------

/**
 * One I420 picture as the agent sends it. Rows are `stride` bytes (width plus padding), chroma
 * rows `chromaStride` (stride / 2), floor(height / 2) of them.
 */
export interface I420Frame {
  width: number;
  height: number;
  stride: number;
  chromaStride: number;
  /** Degrees clockwise to turn the picture. */
  rotation: 0 | 90 | 180 | 270;
  /** Show it flipped left to right, after turning it. */
  mirrored: boolean;
  /**
   * The agent's wall clock when it packed the frame: milliseconds since 1970-01-01 UTC, low 32
   * bits (it wraps every 49.7 days). Not the capture time. frameAge(timestamp) is how long ago.
   */
  timestamp: number;
  y: Uint8Array;
  u: Uint8Array;
  v: Uint8Array;
}

export type FrameHeader = Omit<I420Frame, 'y' | 'u' | 'v'>;

/** Parses a 20-byte frame header; null when the buffer is not one. */
export function parseFrameHeader(buffer: ArrayBuffer): FrameHeader | null;

/** Puts frames together from their four messages. */
export class FrameAssembler {
  /** Takes the messages in arrival order; returns the frame after its V plane, else null. */
  push(buffer: ArrayBuffer): I420Frame | null;
}

/** The stand-in engine's frame counter, painted into each of its pictures; null without chroma rows. */
export function frameCounter(frame: I420Frame): number | null;

/** Milliseconds from a frame's timestamp to `now` (default Date.now()), across the 32-bit wrap. */
export function frameAge(timestamp: number, now?: number): number;

// ---- video streams -----------------------------------------------------------------------------

/** Why a stream ended. */
export type StreamEndReason =
  /** The page stopped it. */
  | 'stopped'
  /** The agent or the network closed its connection. */
  | 'closed'
  /** The agent did not accept it. */
  | 'failed'
  /** The remote user left the channel. */
  | 'peer-left'
  /** The channel was left: the agent sends no video until the next join. */
  | 'left-channel'
  /** Its session ended. */
  | 'session-ended';

export interface StreamStats {
  /** Frames handed to the page per second. */
  fps: number;
  /** Their average age when handed over, ms since the agent packed them. */
  latency: number;
  /** Frames that arrived in the period. */
  received: number;
  /** Frames that arrived but were replaced by a newer one before the page got them. */
  skipped: number;
}

/** A frame drawn into a canvas or written into the track where the stream is read. */
export interface ShownFrame {
  kind: 'canvas' | 'track';
  /** ms since the agent packed it. */
  age: number;
  width: number;
  height: number;
}

export interface VideoStreamEventMap {
  end: { uid: number; reason: StreamEndReason };
  /** A session's stream lost its connection with the agent: no frames until 'resume'. */
  pause: { uid: number; reason: 'reconnecting' };
  /** The session came back and the stream has its video again (the same object). */
  resume: { uid: number };
  /** Once per statistics period (a second by default). */
  stats: StreamStats;
  /** The user paused or switched off their video, or resumed it. */
  mute: { uid: number };
  unmute: { uid: number };
  shown: ShownFrame;
}

export type FrameCallback = (frame: I420Frame, stream: VideoStream) => void;

export interface StreamOptions {
  /** The size the video is shown at, in device pixels; 0 leaves it to the engine. */
  viewWidth?: number | undefined;
  viewHeight?: number | undefined;
  /** How often "videoStat" goes to the agent and 'stats' to the page; 0: never. Default 1000. */
  statsIntervalMs?: number | undefined;
  timeoutMs?: number | undefined;
  signal?: AbortSignal | undefined;
}

/** Where the stream worker is loaded from: a URL, or false to read video on the main thread.
 * Default: lib/stream-worker.js beside the library (README, "Bundlers"). */
export type WorkerUrl = string | URL | false;

/**
 * One video's stream connection; the callback gets its newest frame once per animation frame.
 * Without a callback the page gets no frame, and shows the stream with drawTo() or its track.
 */
export class VideoStream extends AgentEvents<VideoStreamEventMap> {
  constructor(connection: AgentConnection, uid: number, onFrame: FrameCallback | null,
    options?: { viewWidth?: number | undefined; viewHeight?: number | undefined; statsIntervalMs?: number | undefined });
  readonly connection: AgentConnection;
  /** 0: the own camera. */
  readonly uid: number;
  /** True until the stream ends (also while paused). */
  readonly open: boolean;
  /** True while its session reconnects: the tile stays, no frames come. */
  readonly paused: boolean;
  /** Why it ended; null while it runs. */
  readonly endReason: StreamEndReason | null;
  readonly viewWidth: number;
  readonly viewHeight: number;
  /** Frames handed to the callback, arrived, and skipped (replaced before the page got them). */
  readonly frames: number;
  readonly received: number;
  readonly skipped: number;
  /** The last statistics period's figures. */
  readonly stats: StreamStats;
  /** True while the user has paused or switched off their video. */
  readonly muted: boolean;
  /**
   * A video track of the stream (made on first use): plays in a <video> element, records with
   * MediaRecorder, goes to a peer connection. It ends when the stream ends and is muted while
   * the stream is.
   */
  readonly track: MediaStreamTrack;
  toMediaStreamTrack(): MediaStreamTrack;
  /** Draws the frames into the canvas where they are read (a worker: off the main thread). */
  drawTo(canvas: HTMLCanvasElement): void;
  /** Asks for pictures of this size (device pixels). */
  setViewSize(width: number, height: number, options?: { signal?: AbortSignal | undefined }): Promise<void>;
  /** Sends "videoStat" with the page's own figures (done once a period by itself). */
  report(stats: { latency?: number | undefined; fps?: number | undefined }): void;
  /** Gives a paused stream a new connection to `url` and asks for its video again. */
  resume(url: string, options?: RequestOptions & { workerUrl?: WorkerUrl | undefined }): Promise<void>;
  stop(reason?: StreamEndReason): void;
  dispose(): void;
}

export interface OpenStreamOptions extends StreamOptions {
  /** 0 (the default): the own camera ("preview"); any other: a remote user ("subscribe"). */
  uid?: number | undefined;
  workerUrl?: WorkerUrl | undefined;
  /** Drawn into where the stream is read, as drawTo(). */
  canvas?: HTMLCanvasElement | undefined;
}

/** Opens one video's stream connection; resolves once the agent accepted it. */
export function openStream(url: string, options: OpenStreamOptions, onFrame?: FrameCallback | null): Promise<VideoStream>;

// ---- sessions ----------------------------------------------------------------------------------

/**
 * Where a stream's frames go: a canvas (drawn off the page's main thread), a function, or an
 * object that also hears when the stream ends; null for a stream shown through its track.
 */
export type VideoView = HTMLCanvasElement | null | FrameCallback | {
  draw(frame: I420Frame, stream: VideoStream): void;
  /** Called once when the stream ends (or never opened): the place to remove the view. */
  end?(reason: StreamEndReason): void;
  /** The size the view shows the video at, in device pixels: asked of the engine. */
  viewWidth?: number | undefined;
  viewHeight?: number | undefined;
};

/**
 * 'connecting', 'ready' (the engine runs), 'joining', 'joined', 'reconnecting' (the agent went
 * away; the session tries to come back) or 'closed' (for good: see closeReason).
 */
export type SessionState = 'connecting' | 'ready' | 'joining' | 'joined' | 'reconnecting' | 'closed';

/**
 * Why a session closed: the page closed it, the user quit the agent (1001), the user blocked the
 * site (4003), the connection was lost for good, or the reason of the error that kept it from
 * coming back (the site blocked meanwhile, another page took the engine, ...).
 */
export type SessionCloseReason = 'closed-by-page' | 'agent-quit' | 'site-blocked' | 'agent-lost' | AgentErrorReason;

/** Why the channel was left: the page left it, the engine left on its own, the session closed,
 * or the rejoin after a reconnect was refused. */
export type LeftReason = 'left' | 'engine' | 'session-closed' | 'rejoin-failed';

export interface SessionEventMap extends AgentEventMap {
  statechange: { state: SessionState; previous: SessionState; reason: SessionCloseReason | null; error: AgentError | null };
  /** resumed: joined again after a reconnect. */
  joined: { uid: number; channel: string; resumed: boolean };
  left: { reason: LeftReason };
}

export interface ReconnectOptions {
  /** The wait before the first try; it doubles with each try. Default 100. */
  initialDelayMs?: number | undefined;
  /** The longest wait between tries. Default 1000. */
  maxDelayMs?: number | undefined;
  /** Tries before the session closes ('agent-lost'). Default: no limit. */
  maxAttempts?: number | undefined;
  /** After a rejoin, how long a remote user's paused video waits for the user. Default 10000. */
  peerWaitMs?: number | undefined;
}

interface SessionOptionsBase {
  /** Default ws://127.0.0.1:8922. */
  url?: string | undefined;
  plainUrl?: string | undefined;
  /**
   * Comes back after the agent crashed, the connection was lost or the agent restarted for an
   * upgrade (on by default); never after the user quit the agent or blocked the site.
   */
  reconnect?: boolean | ReconnectOptions | undefined;
  /** Where the stream worker is loaded from (default: beside the library). */
  workerUrl?: WorkerUrl | undefined;
  /** How long opening the connection may take. */
  timeoutMs?: number | undefined;
  signal?: AbortSignal | undefined;
}

/** An application id, or a key instead: one of them. */
export type SessionOptions = SessionOptionsBase & (
  | { appID: string; key?: undefined }
  | { key: string; appID?: undefined });

export interface JoinOptions extends RequestOptions {
  /** 0 (the default): the engine chooses. */
  uid?: number | undefined;
  /** '' (the default) where the channel needs none. */
  channelKey?: string | undefined;
}

/** The page's call through the agent; owns the streams opened through it. */
export class AgentSession extends AgentEvents<SessionEventMap> {
  constructor(connection: AgentConnection, agentInfo: AgentInfo, options?: Partial<SessionOptionsBase & { appID: string; key: string }>);
  /** The control connection (a new one after each reconnect). */
  readonly connection: AgentConnection;
  readonly url: string;
  readonly agentInfo: AgentInfo;
  readonly state: SessionState;
  /** Once closed: why; else null. */
  readonly closeReason: SessionCloseReason | null;
  /** Once closed by anything but the page: the error that says why, with its advice. */
  readonly closeError: AgentError | null;
  /** The own uid while joined, else 0. */
  readonly uid: number;
  readonly channel: string | null;
  /** Sends a command on the control connection, as AgentConnection.request. */
  readonly request: AgentConnection['request'];
  readonly requestAny: AgentConnection['requestAny'];
  /** Mutes (true) or unmutes the microphone and the camera together ("muteLocal" / "unmuteLocal"). */
  setMicrophoneMuted(muted: boolean, options?: RequestOptions): Promise<void>;
  /** Switches the camera on or off ("enableLocalVideo"); switched on again after a reconnect. */
  setCameraEnabled(enabled: boolean, options?: RequestOptions): Promise<void>;
  /** Stops (true) or restarts receiving a remote user's video ("disableVideo" / "enableVideo" with streamID = uid). */
  setRemoteVideoMuted(uid: number, muted: boolean, options?: RequestOptions): Promise<void>;
  join(channelName: string, options?: JoinOptions): Promise<{ uid: number }>;
  /** Leaves the channel; every stream of the session ends ('left-channel') whatever the answer. */
  leave(options?: RequestOptions): Promise<void>;
  /** Opens a user's stream (uid 0: the own camera, see openCamera), kept until it ends. */
  openStream(uid: number, view?: VideoView, options?: StreamOptions): Promise<VideoStream>;
  /**
   * Switches the camera on and opens its stream, also before joining (a lobby); stopping the
   * stream switches it off.
   */
  openCamera(view?: VideoView, options?: StreamOptions): Promise<VideoStream>;
  /** One stream per remote user with video, for as long as the user, the channel and the session last. */
  followRemoteVideos(createView: (uid: number) => VideoView, options?: StreamOptions): RemoteVideos;
  /** Ends the session ('session-ended' for its streams); the agent stops the engine. */
  close(): void;
  dispose(): void;
}

/** Connects, checks the agent's protocol and starts the engine (the first time, after the user's answer). */
export function openSession(options: SessionOptions): Promise<AgentSession>;

export interface RemoteVideosEventMap {
  add: { uid: number; stream: VideoStream };
  remove: { uid: number; reason: StreamEndReason };
  /** A user's stream could not be opened (the agent's limit of 64 videos, say). */
  error: { uid: number; error: AgentError };
  /** A user is in the call without video (camera off or paused), so has no stream yet. */
  'without-video': { uid: number };
}

/** Every remote user's video in a session, one stream each. */
export class RemoteVideos extends AgentEvents<RemoteVideosEventMap> {
  /** The open stream of a user, or null. */
  get(uid: number): VideoStream | null;
  /** The users shown, also those whose stream is still opening. */
  readonly uids: number[];
  /** Ends a user's stream, or stops it from opening. */
  remove(uid: number, reason?: StreamEndReason): void;
  /** Stops following; its streams end ('stopped'). */
  stop(): void;
  dispose(): void;
}

// ---- windows -----------------------------------------------------------------------------------

/** Decodes a window title of a "getWindows" listing (Base64 of UTF-8). */
export function decodeTitle(base64: string): string;
