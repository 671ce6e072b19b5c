/*
 * kelvo-agent.js: talk to the Kelvo Web Agent from a web page. ES modules without dependencies:
 * install the package (npm install kelvo-web-agent) or copy this file with lib/ beside your page.
 *
 *   import { openSession } from 'kelvo-web-agent';            // or './kelvo-agent.js'
 *
 *   const session = await openSession({ appID: 'my-app-id' }); // ws://127.0.0.1:8922
 *   session.followRemoteVideos((uid) => ({ draw: (frame) => { ... }, end: () => { ... } }));
 *   const { uid } = await session.join('room');
 *
 * The session (lib/session.js) follows the call: it starts the engine, joins and leaves, owns the
 * video streams, which end when the channel is left or the session ends, and comes back when the
 * agent crashed or restarted, never when the user quit it (lib/reconnect.js). Underneath it,
 * usable on their own: connect() and AgentConnection (lib/connection.js: commands, replies and
 * events), openStream() and VideoStream (lib/video-stream.js: one video each), the frame format
 * (lib/frames.js). Every failure is an AgentError (lib/agent-error.js) whose `reason` says what
 * went wrong, down to why the agent could not be reached (lib/reachability.js), with advice for
 * the user and a hint for the developer (lib/advice.js). kelvo-agent.d.ts has the types; README.md
 * the guide; testing.js plays other people in a call with the stand-in engine.
 */
export { AgentEvent, AgentEvents } from './lib/events.js';
export { AgentError, describeCode } from './lib/agent-error.js';
export { AgentConnection, connect } from './lib/connection.js';
export { PROTOCOL_VERSION, getAgentInfo } from './lib/agent-info.js';
export {
  parseFrameHeader, FrameAssembler, frameCounter, frameAge,
} from './lib/frames.js';
export { VideoStream, openStream } from './lib/video-stream.js';
export { AgentSession, openSession } from './lib/session.js';
export { RemoteVideos } from './lib/remote-videos.js';
export { decodeTitle } from './lib/window-titles.js';
