// Unit tests of the page-side client without an agent: reply matching, events, errors and why a
// connection failed, the session's state, frame decoding. Sockets are played by the test; where
// the library probes the network, real servers on free ports stand in for the agent.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:http';
import { readFileSync } from 'node:fs';
import {
  AgentConnection, AgentError, AgentEvents, AgentSession, FrameAssembler, RemoteVideos, VideoStream, parseFrameHeader,
  frameCounter, frameAge, decodeTitle, describeCode, getAgentInfo, connect, openSession,
} from '../kelvo-agent.js';
import { whyUnreachable } from '../lib/reachability.js';
import { adviceFor, pagePlatform } from '../lib/advice.js';
import { simulateLeave, simulateUser } from '../testing.js';
import { agentAnswer, startFakeAgent } from './support/fake-agent.mjs';
import { checkCompatible } from '../lib/agent-info.js';
import { shownSize, shownToFrame, uprightTransform } from '../lib/orientation.js';
import { freePort, waitFor, webRoot } from './support/harness.mjs';
import * as library from '../kelvo-agent.js';
import * as drawing from '../yuv-canvas.js';
import * as testing from '../testing.js';

/** A socket that records what the client sends and lets the test play the agent. */
class FakeSocket {
  constructor() {
    this.readyState = 1;
    this.url = 'ws://127.0.0.1:1/';
    this.sent = [];
  }
  send(text) { this.sent.push(JSON.parse(text)); }
  close() { this.readyState = 3; this.onclose({ code: 1000, reason: '' }); }
  reply(message) { this.onmessage({ data: JSON.stringify(message) }); }
  binary(buffers) { for (const data of buffers) this.onmessage({ data }); }
}

const tick = (ms = 40) => new Promise((done) => setTimeout(done, ms));

function header({ flag = 0, width, height, padding = 0, rotation = 0, timestamp = 0 }) {
  const view = new DataView(new ArrayBuffer(20));
  view.setUint8(1, flag);
  view.setUint16(2, width);
  view.setUint16(4, height);
  view.setUint16(10, padding);
  view.setUint16(14, rotation);
  view.setUint32(16, timestamp);
  return view.buffer;
}

/** The four messages of one frame; the U plane's last row starts with the counter. */
function frameMessages(width, height, padding, counter, timestamp = 0xfffffff0) {
  const stride = width + padding;
  const chroma = (stride / 2) * Math.floor(height / 2);
  const y = new Uint8Array(stride * height).map((_, i) => i & 0xff);
  const u = new Uint8Array(chroma).fill(128);
  new DataView(u.buffer).setUint32(chroma - stride / 2, counter);
  const v = new Uint8Array(chroma).fill(128);
  return [header({ width, height, padding, rotation: 270, timestamp }), y.buffer, u.buffer, v.buffer];
}

test('a frame header gives geometry, flag, rotation and timestamp', () => {
  const parsed = parseFrameHeader(header({ flag: 1, width: 100, height: 121, padding: 12, rotation: 270, timestamp: 4294967295 }));
  assert.deepEqual(parsed, {
    mirrored: true, width: 100, height: 121, stride: 112, chromaStride: 56, rotation: 270, timestamp: 4294967295,
  });
  assert.equal(parseFrameHeader(new ArrayBuffer(19)), null);
  const notHeader = new Uint8Array(20);
  notHeader[0] = 7;
  assert.equal(parseFrameHeader(notHeader.buffer), null);
});

test('four messages make one frame with padded rows and the counter from the U plane', () => {
  const assembler = new FrameAssembler();
  const messages = frameMessages(100, 121, 12, 0x01020304);
  assert.equal(assembler.push(messages[0]), null);
  assert.equal(assembler.push(messages[1]), null);
  assert.equal(assembler.push(messages[2]), null);
  const frame = assembler.push(messages[3]);
  assert.equal(frame.width, 100);
  assert.equal(frame.y.length, 112 * 121);
  assert.equal(frame.u.length, 56 * 60);
  assert.equal(frame.y[112 + 5], (112 + 5) & 0xff);
  assert.equal(frameCounter(frame), 0x01020304);
});

test('a message of the wrong size is skipped until the next header', () => {
  const assembler = new FrameAssembler();
  const first = frameMessages(64, 48, 0, 1);
  const second = frameMessages(64, 48, 0, 2);
  assembler.push(first[0]);
  assembler.push(first[1]);
  assert.equal(assembler.push(second[0]), null); // a header where the U plane belongs: start over
  assembler.push(second[1]);
  assembler.push(second[2]);
  assert.equal(frameCounter(assembler.push(second[3])), 2);
  assert.equal(assembler.push(new ArrayBuffer(5)), null); // not a header: ignored
  for (const message of first.slice(0, 3)) assembler.push(message);
  assert.equal(frameCounter(assembler.push(first[3])), 1);
});

test('the page gets only the newest frame per animation frame; the rest count as skipped', async () => {
  const socket = new FakeSocket();
  const drawn = [];
  const stream = new VideoStream(new AgentConnection(socket), 42, (frame) => drawn.push(frameCounter(frame)),
    { statsIntervalMs: 0 });
  for (const counter of [1, 2, 3]) socket.binary(frameMessages(64, 48, 0, counter));
  assert.deepEqual(drawn, [], 'nothing is drawn while messages arrive');
  await tick();
  socket.binary(frameMessages(64, 48, 0, 4));
  await tick();
  await tick(); // no new frame: nothing more
  assert.deepEqual(drawn, [3, 4]);
  assert.deepEqual([stream.received, stream.frames, stream.skipped], [4, 2, 2]);
});

test('a stream reports the rate and age of the frames it handed over; setViewSize asks again; it ends once', async () => {
  const socket = new FakeSocket();
  const stream = new VideoStream(new AgentConnection(socket), 42, () => {}, { viewWidth: 320, viewHeight: 180, statsIntervalMs: 150 });
  const period = stream.once('stats');
  const now = Date.now();
  socket.binary(frameMessages(64, 48, 0, 1, (now - 30) % 2 ** 32));
  await tick();
  socket.binary(frameMessages(64, 48, 0, 2, (now - 10) % 2 ** 32));
  const stats = await period;
  const stat = socket.sent.find((m) => m.command === 'videoStat');
  assert.equal(stat.uid, 42);
  assert.ok(stat.fps >= 1 && stat.fps <= 14, `two frames in at least 150 ms: ${stat.fps} fps`);
  assert.ok(stat.latency >= 40 && stat.latency < 2000, `average age ${stat.latency} ms`);
  assert.deepEqual(stats, { fps: stat.fps, latency: stat.latency, received: 2, skipped: 0 });

  const asked = stream.setViewSize(640.4, 360);
  socket.reply({ command: 'subscribe', code: true });
  await asked;
  await stream.setViewSize(640, 360); // the same size: nothing to ask
  assert.deepEqual(socket.sent.filter((m) => m.command === 'subscribe'), [{ command: 'subscribe', uid: 42, viewWidth: 640, viewHeight: 360 }]);
  const ended = stream.once('end');
  socket.close();
  assert.deepEqual(await ended, { uid: 42, reason: 'closed' });
  assert.equal(stream.open, false);

  const camera = new FakeSocket();
  const own = new VideoStream(new AgentConnection(camera), 0, () => {}, { statsIntervalMs: 0 });
  const preview = own.setViewSize(100, 50);
  assert.deepEqual(camera.sent, [{ command: 'preview', video: true, viewWidth: 100, viewHeight: 50 }]);
  own.stop();
  await assert.rejects(preview, (error) => error.reason === 'closed' && error.code === null);
  assert.equal(own.endReason, 'stopped');
});

test('frame ages wrap with the 32-bit timestamp; a stamp ahead of the clock is no age', () => {
  assert.equal(frameAge(0xfffffff0, 2 ** 32 * 400 + 0x10), 0x20);
  assert.equal(frameAge(1000, 2 ** 32 * 7 + 1250), 250);
  assert.equal(frameAge(1000, 2 ** 32 * 7 + 990), 0);
});

test('replies resolve their requests in order; a code other than true rejects with its code and reason', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const first = agent.request('joinChannel', { channelName: 'a' });
  const second = agent.request('joinChannel', { channelName: 'b' });
  const version = agent.request('getVersion');
  const refused = agent.request('initialize', { appID: 'x' });
  assert.deepEqual(socket.sent[0], { command: 'joinChannel', channelName: 'a' });
  socket.reply({ command: 'getVersion', version: '1.0', code: true });
  socket.reply({ command: 'joinChannel', uid: 7, code: true });
  socket.reply({ command: 'joinChannel', code: -17 });
  socket.reply({ command: 'initialize', code: 403 });
  assert.equal((await version).version, '1.0');
  assert.equal((await first).uid, 7);
  await assert.rejects(second, (error) => error instanceof AgentError && error.code === -17
    && error.reason === 'engine' && error.command === 'joinChannel' && /error -17/.test(error.message));
  await assert.rejects(refused, (error) => error.reason === 'refused-by-user' && error.code === 403
    && /not allowed to use the agent/.test(error.message) && /Allow/.test(error.advice));
  assert.equal(describeCode(-2), 'the engine refused a value as invalid');
  assert.equal(describeCode(429), 'too many videos are open at once (close a stream first)');
});

test('events, command-first events, unasked replies and renamed key renewals', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const seen = [];
  agent.on('onAddVideoStream', (m) => seen.push(['add', m.uid]));
  agent.on('onPeerLeave', (m) => seen.push(['leave', m.uid, m.reason]));
  agent.addEventListener('warning', (event) => seen.push(['warning', event.detail.code]));
  agent.on('reply', (m) => seen.push(['reply', m.command]));
  const renewal = agent.request('renewChannelKey', { channelKey: 'k' });
  socket.reply({ command: 'onAddVideoStream', uid: 4294967295 });
  socket.reply({ command: 'onPeerLeave', uid: 5, reason: 0 });
  socket.reply({ event: 'warning', code: 8 });
  socket.reply({ command: 'leaveChannel', code: true });
  socket.reply({ command: 'renewChannelDynamicKey', code: true });
  await renewal;
  assert.deepEqual(seen, [['add', 4294967295], ['leave', 5, 0], ['warning', 8], ['reply', 'leaveChannel']]);
});

test('a listener that throws or rejects is reported and the others still run; once and off', async () => {
  const reported = [];
  const original = globalThis.reportError;
  globalThis.reportError = (error) => reported.push(error.message);
  try {
    const socket = new FakeSocket();
    const agent = new AgentConnection(socket);
    const seen = [];
    agent.on('onUserMuteVideo', () => { throw new Error('first listener'); });
    agent.on('onUserMuteVideo', async () => { throw new Error('second listener'); });
    agent.on('onUserMuteVideo', ({ muted }) => seen.push(['every', muted]));
    agent.once('onUserMuteVideo', ({ muted }) => seen.push(['once', muted]));
    const removed = ({ muted }) => seen.push(['removed', muted]);
    agent.on('onUserMuteVideo', removed);
    agent.off('onUserMuteVideo', removed);
    const next = agent.once('onUserMuteVideo');
    socket.reply({ event: 'onUserMuteVideo', uid: 3, muted: true });
    socket.reply({ event: 'onUserMuteVideo', uid: 3, muted: false });
    assert.equal((await next).muted, true);
    assert.deepEqual(seen, [['every', true], ['once', true], ['every', false]]);
    assert.deepEqual(reported, ['first listener', 'first listener', 'second listener', 'second listener']);

    const gone = new AbortController();
    const waiting = agent.once('onCameraReady', { signal: gone.signal });
    gone.abort(new Error('page closed'));
    await assert.rejects(waiting, /page closed/);
  } finally {
    globalThis.reportError = original;
  }
});

test('a late reply answers its timed-out or aborted request and is dropped; a closing connection says so', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const unasked = [];
  agent.on('reply', (m) => unasked.push(m));
  await assert.rejects(agent.request('leaveChannel', {}, { timeoutMs: 20 }),
    (error) => error instanceof AgentError && error.reason === 'timeout' && error.code === null);
  const cancel = new AbortController();
  const aborted = agent.request('getVersion', {}, { signal: cancel.signal });
  cancel.abort();
  await assert.rejects(aborted, (error) => error.name === 'AbortError');
  await assert.rejects(agent.request('getVersion', {}, { signal: cancel.signal }), (error) => error.name === 'AbortError');
  const next = agent.request('leaveChannel');
  const version = agent.request('getVersion');
  socket.reply({ command: 'leaveChannel', code: 3 }); // the timed-out one's answer
  socket.reply({ command: 'getVersion', version: 'late', code: true });
  socket.reply({ command: 'leaveChannel', code: true });
  socket.reply({ command: 'getVersion', version: 'current', code: true });
  await next;
  assert.equal((await version).version, 'current');
  assert.deepEqual(unasked, []);

  const waiting = agent.request('joinChannel', { channelName: 'x' });
  socket.onclose({ code: 1008, reason: 'too many unread replies' });
  socket.readyState = 3;
  await assert.rejects(waiting, (error) => error.reason === 'closed' && error.closeCode === 1008
    && error.closeReason === 'too many unread replies' && /Reload/.test(error.advice)
    && /1008 \("too many unread replies"\)/.test(error.developerHint));
  await assert.rejects(agent.request('getVersion'), (error) => error.reason === 'closed');
});

test('the agent tells its version and commands; an older agent is recognised, another protocol refused', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const current = getAgentInfo(agent);
  socket.reply({
    command: 'getAgentInfo', agentVersion: '1.0.0', protocolVersion: 1, commands: ['initialize', 'getVersion'], code: true,
  });
  const info = await current;
  assert.deepEqual(info, {
    agentVersion: '1.0.0', protocolVersion: 1, commands: ['initialize', 'getVersion'], outdated: false, notice: null,
  });
  checkCompatible(info);
  // An agent from before "getAgentInfo": unknown command, or refused like every command from a
  // site it has not allowed.
  for (const code of [2, 403]) {
    const older = getAgentInfo(agent);
    socket.reply({ command: 'getAgentInfo', code });
    const outdated = await older;
    assert.deepEqual([outdated.outdated, outdated.protocolVersion, outdated.agentVersion, outdated.commands], [true, 1, null, null]);
    assert.match(outdated.notice, /older than the page library/);
  }
  assert.throws(() => checkCompatible({ ...info, protocolVersion: 2 }),
    (error) => error.reason === 'incompatible-agent' && /Install the current Kelvo Web Agent/.test(error.advice));
  socket.close();
});

test('a session: joined, left by the engine on its own, closed by the connection', async () => {
  const socket = new FakeSocket();
  const session = new AgentSession(new AgentConnection(socket), { protocolVersion: 1 });
  const seen = [];
  for (const name of ['joined', 'left', 'close', 'onUserMuteAudio']) session.on(name, (m) => seen.push([name, m]));
  const states = [];
  session.on('statechange', ({ state, reason }) => states.push(reason ? `${state}:${reason}` : state));
  const joined = session.join('room', { uid: 5 });
  assert.deepEqual(socket.sent.at(-1), { command: 'joinChannel', channelKey: '', channelName: 'room', uid: 5 });
  socket.reply({ command: 'joinChannel', uid: 5, code: true });
  assert.deepEqual(await joined, { uid: 5 });
  assert.deepEqual([session.state, session.channel, session.uid], ['joined', 'room', 5]);
  socket.reply({ event: 'onUserMuteAudio', uid: 9, muted: true });
  socket.reply({ command: 'leaveChannel', code: true }); // nobody asked: the engine left
  assert.deepEqual([session.state, session.channel, session.uid], ['ready', null, 0]);
  socket.close(); // without an appID it cannot initialize again: no reconnect
  assert.deepEqual([session.state, session.closeReason, session.closeError.reason], ['closed', 'agent-lost', 'agent-lost']);
  await assert.rejects(session.openStream(7, () => {}), (error) => error.reason === 'closed');
  assert.deepEqual(seen, [
    ['joined', { uid: 5, channel: 'room', resumed: false }],
    ['onUserMuteAudio', { event: 'onUserMuteAudio', uid: 9, muted: true }],
    ['left', { reason: 'engine' }], ['close', { code: 1000, reason: '', byPage: false }],
  ]);
  assert.deepEqual(states, ['joining', 'joined', 'ready', 'closed:agent-lost']);
});

test('a user who pauses or switches off their video mutes their streams until both are undone', () => {
  const socket = new FakeSocket();
  const session = new AgentSession(new AgentConnection(socket), { protocolVersion: 1 });
  const stream = new VideoStream(new AgentConnection(new FakeSocket()), 9, null, { statsIntervalMs: 0 });
  const other = new VideoStream(new AgentConnection(new FakeSocket()), 10, null, { statsIntervalMs: 0 });
  session.streams.add(stream).add(other);
  const seen = [];
  for (const name of ['mute', 'unmute']) stream.on(name, ({ uid }) => seen.push(`${name} ${uid} ${stream.muted}`));
  socket.reply({ event: 'onUserMuteVideo', uid: 9, muted: true });
  socket.reply({ event: 'onUserEnableVideo', uid: 9, enabled: false });
  socket.reply({ event: 'onUserMuteVideo', uid: 9, muted: false }); // still switched off
  assert.deepEqual([seen, stream.muted, other.muted], [['mute 9 true'], true, false]);
  socket.reply({ event: 'onUserEnableVideo', uid: 9, enabled: true });
  socket.reply({ event: 'onUserMuteVideo', uid: 9, muted: true });
  assert.equal(session.isPaused(9), true);
  socket.reply({ command: 'onPeerLeave', uid: 9, reason: 0 }); // a user who comes back starts afresh
  assert.equal(session.isPaused(9), false);
  assert.deepEqual(seen, ['mute 9 true', 'unmute 9 false', 'mute 9 true']);
});

test('a frame is shown turned clockwise, then mirrored, in its shown size', () => {
  // Where the picture's top-left and top-right corners are shown, for a 4 x 2 picture.
  const corners = (rotation, mirrored) => {
    const [a, b, c, d, e, f] = uprightTransform({ width: 4, height: 2, rotation, mirrored });
    return [[0, 0], [4, 0]].map(([x, y]) => [a * x + c * y + e, b * x + d * y + f]);
  };
  assert.deepEqual(corners(0, false), [[0, 0], [4, 0]]);
  assert.deepEqual(corners(90, false), [[2, 0], [2, 4]]);
  assert.deepEqual(corners(180, false), [[4, 2], [0, 2]]);
  assert.deepEqual(corners(270, false), [[0, 4], [0, 0]]);
  assert.deepEqual(corners(0, true), [[4, 0], [0, 0]]);
  assert.deepEqual(corners(90, true), [[0, 0], [0, 4]]); // shown transposed
  assert.deepEqual(corners(-90, false), corners(270, false));
  assert.deepEqual([shownSize({ width: 4, height: 2, rotation: 90 }), shownSize({ width: 4, height: 2, rotation: 180 })],
    [{ width: 2, height: 4 }, { width: 4, height: 2 }]);
  // The shader's way back: a shown point, in units of the shown size, to the picture's place.
  for (const rotation of [0, 90, 180, 270]) {
    for (const mirrored of [false, true]) {
      const frame = { width: 4, height: 2, rotation, mirrored };
      const { turn, shift } = shownToFrame(frame);
      const [a, b, c, d, e, f] = uprightTransform(frame);
      const shown = shownSize(frame);
      const [x, y] = [1, 0.5]; // a point of the picture, in pixels
      const [u, v] = [(a * x + c * y + e) / shown.width, (b * x + d * y + f) / shown.height];
      assert.deepEqual([turn[0] * u + turn[1] * v + shift[0], turn[2] * u + turn[3] * v + shift[1]],
        [x / 4, y / 2], `rotation ${rotation}, mirrored ${mirrored}`);
    }
  }
});

/** A session whose stream openings the test settles: openings holds {uid, signal, open(), fail()}. */
class ScriptedSession extends AgentEvents {
  constructor() {
    super();
    this.state = 'joined';
    this.openings = [];
  }

  openStream(uid, view, { signal }) {
    return new Promise((resolve, reject) => {
      signal.addEventListener('abort', () => reject(signal.reason));
      this.openings.push({
        uid,
        signal,
        open: () => {
          const stream = new AgentEvents();
          stream.endReason = null;
          stream.stop = (reason) => {
            stream.endReason = reason;
            view.end?.(reason);
            stream.emit('end', { uid, reason });
          };
          resolve(stream);
          return stream;
        },
        fail: () => reject(new AgentError('subscribe', 429)),
      });
    });
  }
}

test('remote videos: one stream per user across announcements, none for a user who left while it opened', async () => {
  const session = new ScriptedSession();
  const views = [];
  const remote = new RemoteVideos(session, (uid) => {
    const view = { uid, ended: null, draw() {}, end(reason) { view.ended = reason; } };
    views.push(view);
    return view;
  });
  const seen = [];
  for (const name of ['add', 'remove', 'error', 'without-video']) {
    remote.on(name, ({ uid, reason, error }) => seen.push([name, uid, reason ?? error?.reason]));
  }
  const settled = () => new Promise((done) => setTimeout(done));

  session.emit('onAddVideoStream', { uid: 1 });
  session.emit('onAddVideoStream', { uid: 1 }); // a resumed video while the first stream opens
  assert.deepEqual(remote.uids, [1]);
  const first = session.openings[0].open();
  await settled();
  session.emit('onAddVideoStream', { uid: 1 }); // and while it runs
  assert.deepEqual([session.openings.length, views.length, remote.get(1)], [1, 1, first]);

  session.emit('onAddVideoStream', { uid: 2 });
  session.emit('onPeerLeave', { uid: 2, reason: 0 }); // gone before its stream opened
  await settled();
  assert.equal(session.openings[1].signal.aborted, true);
  session.emit('onAddVideoStream', { uid: 3 });
  session.openings[2].fail();
  await settled();
  session.emit('onUserEnableVideo', { uid: 4, enabled: false }); // in the call, camera off
  session.emit('onUserMuteVideo', { uid: 1, muted: true }); // shown: its stream mutes instead

  first.stop('closed'); // closed by the agent: the next announcement opens a new stream
  session.emit('onAddVideoStream', { uid: 1 });
  session.openings[3].open();
  await settled();
  remote.stop();
  assert.deepEqual(views.map((v) => [v.uid, v.ended]), [[1, 'closed'], [2, 'peer-left'], [3, 'failed'], [1, 'stopped']]);
  assert.deepEqual(seen, [['add', 1, undefined], ['remove', 2, 'peer-left'], ['remove', 3, 'failed'],
    ['error', 3, 'too-many-videos'], ['without-video', 4, undefined], ['remove', 1, 'closed'], ['add', 1, undefined],
    ['remove', 1, 'stopped']]);
  assert.deepEqual(remote.uids, []);
});

/** An HTTP server on a free port that refuses every WebSocket handshake, as the agent refuses a
 * browser of another OS user; plain requests get what `answer` writes. */
async function refusingServer(answer) {
  const server = createServer(answer);
  server.on('upgrade', (request, socket) => socket.end('HTTP/1.1 403 Forbidden\r\n\r\n'));
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return { port: server.address().port, stop: () => new Promise((done) => server.close(done)) };
}

/** The agent's answer to a plain HTTP request: 426, readable by any page, with its name. */
const agentHttpAnswer = (request, response) => response.writeHead(426, {
  server: 'Kelvo Web Agent', 'access-control-allow-origin': '*', 'access-control-expose-headers': 'Server',
}).end();

test('why the agent cannot be reached: nothing there, a refused host name, the agent refusing, another program, the other scheme, a certificate', async () => {
  const closed = await freePort();
  const agent = await refusingServer(agentHttpAnswer);
  const other = await refusingServer((request, response) => response.writeHead(404).end());
  try {
    assert.equal(await whyUnreachable(`ws://127.0.0.1:${closed}`), 'not-running');
    assert.equal(await whyUnreachable(`ws://localhost:${agent.port}`), 'refused-host');
    assert.equal(await whyUnreachable(`ws://127.0.0.1:${agent.port}`), 'refused-by-agent');
    assert.equal(await whyUnreachable(`ws://127.0.0.1:${other.port}`), 'not-the-agent');
    // wss:// to a port that answers plain HTTP: the agent's plain port.
    assert.equal(await whyUnreachable(`wss://127.0.0.1:${agent.port}`), 'wrong-scheme');
    // The TLS port fails as a closed one would, but the agent answers on its plain port.
    assert.equal(await whyUnreachable(`wss://127.0.0.1:${closed}`, { plainUrl: `ws://127.0.0.1:${agent.port}` }), 'certificate');
    assert.equal(await whyUnreachable(`wss://127.0.0.1:${closed}`), 'not-running');
    await assert.rejects(connect('no address'), (error) => error instanceof TypeError);
    if (typeof WebSocket === 'function') {
      await assert.rejects(connect(`ws://127.0.0.1:${agent.port}`), (error) => error instanceof AgentError
        && error.reason === 'refused-by-agent' && error.code === null && error.url === `ws://127.0.0.1:${agent.port}`
        && /user it runs as/.test(error.advice));
      await assert.rejects(connect(`ws://localhost:${agent.port}`), (error) => error.reason === 'refused-host'
        && error.developerHint.includes(`ws://127.0.0.1:${agent.port}`));
    }
  } finally {
    await agent.stop();
    await other.stop();
  }
});

test('the advice follows the refusal, names the origin and the address in use, and fits the platform', () => {
  const origin = 'https://calls.example';
  const refusal = (reason, code = 403) => new AgentError('initialize', code, { command: 'initialize', code, reason });
  const expected = {
    blocked: 'blocked', 'not-asked-yet': 'not-asked-yet', dismissed: 'dismissed', timeout: 'question-timeout',
    'cannot-ask': 'cannot-ask', 'null-origin': 'null-origin', 'sites-unreadable': 'sites-unreadable', 'other-site': 'other-site',
  };
  for (const [said, reason] of Object.entries(expected)) {
    const error = refusal(said);
    assert.deepEqual([error.reason, error.code], [reason, 403], said);
    assert.ok(error.advice.length > 0 && error.developerHint.length > 0, said);
    assert.ok(!/\.\/run/.test(error.advice), `${said}: no source-folder commands for the user`);
  }
  assert.equal(refusal('too-many-questions', 429).reason, 'too-many-questions');
  assert.equal(refusal('something-new').reason, 'refused-by-user'); // a newer agent's word

  const words = (reason, platform, details = {}) => adviceFor(reason, { origin, platform, ...details });
  // A remembered block is never asked about again: the advice says how to undo it, per platform.
  assert.match(words('blocked', 'windows').advice, /Sites….*forget https:\/\/calls\.example/);
  assert.match(words('blocked', 'linux').advice, /kelvo_web_agent -allow https:\/\/calls\.example/);
  assert.doesNotMatch(words('blocked', 'linux').advice, /Sites|tray|notification area/);
  assert.doesNotMatch(words('blocked', 'windows').advice, /Reload the page and choose Allow when/);
  assert.match(words('not-running', 'windows').advice, /Start menu/);
  assert.doesNotMatch(words('not-running', 'linux').advice, /Start menu|\.\/run/);
  assert.match(words('not-running', 'linux', { url: 'ws://127.0.0.1:9100' }).developerHint, /ws:\/\/127\.0\.0\.1:9100.*\.\/run/);
  assert.match(words('not-the-agent', 'linux', { url: 'ws://127.0.0.1:9100' }).advice, /port .*\(9100\)/);
  assert.match(words('wrong-scheme', 'linux', { url: 'wss://127.0.0.1:9100' }).developerHint, /Use ws:\/\/127\.0\.0\.1:9100/);
  assert.match(words('wrong-scheme', 'linux', { url: 'ws://127.0.0.1:9101' }).developerHint, /Use wss:\/\/127\.0\.0\.1:9101/);
  assert.match(words('certificate', 'linux', { url: 'wss://127.0.0.1:9101', plainUrl: 'ws://127.0.0.1:9100' }).developerHint,
    /ws:\/\/127\.0\.0\.1:9100.*-make-certificate/);
  assert.match(words('busy', 'linux').advice, /Another tab/);
  assert.deepEqual(['Win32', 'MacIntel', 'Linux x86_64', ''].map((platform) => pagePlatform({ platform })),
    ['windows', 'mac', 'linux', 'other']);
  assert.equal(pagePlatform({ userAgentData: { platform: 'Windows' }, platform: 'Linux' }), 'windows');

  // An engine error event carries its AgentError.
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const errors = [];
  agent.on('error', ({ error }) => errors.push(error));
  socket.reply({ event: 'error', code: 111 });
  assert.ok(errors[0] instanceof AgentError);
  assert.deepEqual([errors[0].code, errors[0].reason], [111, 'connection-lost']);
});

/** Waits until the session is in `state`, or fails after `ms`. */
function stateOf(session, state, ms = 5000) {
  if (session.state === state) return Promise.resolve();
  return new Promise((done, fail) => {
    const timer = setTimeout(() => fail(new Error(`the session stayed ${session.state}, not ${state}`)), ms);
    const stop = session.on('statechange', ({ state: now }) => {
      if (now !== state) return;
      clearTimeout(timer);
      stop();
      done();
    });
  });
}

test('a session comes back after a crash or a restart: same channel, uid, camera and stream objects', {
  skip: typeof WebSocket !== 'function' && 'node has no WebSocket',
}, async () => {
  const agent = await startFakeAgent();
  try {
    const session = await openSession({ url: agent.url, appID: 'app', reconnect: { initialDelayMs: 20, maxDelayMs: 50 } });
    const states = [];
    session.on('statechange', ({ state }) => states.push(state));
    await session.join('room', { uid: 0 });
    const camera = await session.openCamera(() => {});
    const remote = await session.openStream(7, () => {});
    const pauses = [];
    for (const stream of [camera, remote]) {
      stream.on('pause', ({ uid, reason }) => pauses.push(['pause', uid, reason]));
      stream.on('resume', ({ uid }) => pauses.push(['resume', uid]));
    }
    for (const ending of ['crash', { code: 1012, reason: 'service restart' }, { code: 1001, reason: '' }]) {
      const before = agent.received.length;
      await agent.stop(ending);
      await stateOf(session, 'reconnecting');
      assert.deepEqual([camera.paused, remote.paused, camera.open], [true, true, true], JSON.stringify(ending));
      await agent.start();
      await stateOf(session, 'joined');
      await waitFor('both videos asked for again', () => !camera.paused && !remote.paused);
      const again = agent.received.slice(before).map(({ message }) => message);
      assert.deepEqual(again.find((m) => m.command === 'initialize'), { command: 'initialize', appID: 'app' });
      assert.deepEqual(again.find((m) => m.command === 'joinChannel'), { command: 'joinChannel', channelKey: '', channelName: 'room', uid: 1000 });
      assert.ok(again.some((m) => m.command === 'enableLocalVideo' && m.enabled === true));
      assert.ok(again.some((m) => m.command === 'preview') && again.some((m) => m.command === 'subscribe' && m.uid === 7));
      assert.deepEqual([session.uid, session.channel, camera.endReason, remote.endReason], [1000, 'room', null, null]);
    }
    assert.deepEqual(states.slice(2, 6), ['reconnecting', 'ready', 'joining', 'joined']);
    assert.deepEqual(pauses.slice(0, 4).sort(), [['pause', 0, 'reconnecting'], ['pause', 7, 'reconnecting'], ['resume', 0], ['resume', 7]]);
    session.close();
    assert.deepEqual([session.state, session.closeReason, session.closeError], ['closed', 'closed-by-page', null]);
    assert.deepEqual([camera.endReason, remote.endReason], ['session-ended', 'session-ended']);
  } finally {
    await agent.stop();
  }
});

test('a session never comes back after the user quit the agent or blocked the site, nor against a refusal', {
  skip: typeof WebSocket !== 'function' && 'node has no WebSocket',
}, async () => {
  let refusal = null;
  const agent = await startFakeAgent({
    answer: (message) => (message.command === 'initialize' && refusal ? { command: 'initialize', ...refusal } : agentAnswer(message)),
  });
  const fast = { initialDelayMs: 20, maxDelayMs: 50 };
  try {
    for (const [ending, reason] of [[{ code: 1001, reason: 'the agent is quitting' }, 'agent-quit'],
      [{ code: 4003, reason: 'the user blocked this site' }, 'site-blocked'],
      [{ code: 3001, reason: 'invalid request' }, 'invalid-request']]) {
      const session = await openSession({ url: agent.url, appID: 'app', reconnect: fast });
      await session.join('room');
      const camera = await session.openCamera(() => {});
      const left = session.once('left');
      const initializes = agent.commands().filter((c) => c === 'initialize').length;
      await agent.stop(ending);
      await stateOf(session, 'closed');
      assert.deepEqual([session.closeReason, session.closeError.reason, session.closeError.closeCode],
        [reason, reason, ending.code]);
      assert.deepEqual(await left, { reason: 'session-closed' });
      assert.equal(camera.endReason, 'session-ended');
      await agent.start();
      await tick(300); // tries would have come by now
      assert.equal(agent.commands().filter((c) => c === 'initialize').length, initializes, 'it came back');
    }

    // Back, the agent refuses the session: the user blocked the site, or another page took the engine.
    for (const [answer, reason] of [[{ code: 403, reason: 'blocked' }, 'blocked'], [{ code: 19 }, 'busy']]) {
      refusal = null;
      const session = await openSession({ url: agent.url, appID: 'app', reconnect: fast });
      refusal = answer;
      await agent.stop();
      await agent.start();
      await stateOf(session, 'closed');
      assert.deepEqual([session.closeReason, session.closeError.reason], [reason, reason]);
    }

    // Reconnecting switched off: a crash ends the session.
    refusal = null;
    const session = await openSession({ url: agent.url, appID: 'app', reconnect: false });
    await agent.stop();
    await stateOf(session, 'closed');
    assert.equal(session.closeReason, 'agent-lost');
    await agent.start();
  } finally {
    await agent.stop();
  }
});

test('the typed helpers send the commands developers would look up', async () => {
  const socket = new FakeSocket();
  const record = socket.send.bind(socket);
  socket.send = (text) => { // every command succeeds
    record(text);
    setTimeout(() => socket.reply({ command: JSON.parse(text).command, code: true }));
  };
  const session = new AgentSession(new AgentConnection(socket), { protocolVersion: 1 }, { appID: 'app' });
  await session.setMicrophoneMuted(true);
  await session.setMicrophoneMuted(false);
  await session.setCameraEnabled(true);
  await session.setRemoteVideoMuted(42, true);
  await session.setRemoteVideoMuted(42, false);
  await session.requestAny('somethingNewer', { value: 1 });
  await simulateUser(session, { uid: 9, width: 320, height: 180, fps: 15 });
  await simulateLeave(session, 9);
  assert.deepEqual(socket.sent, [
    { command: 'muteLocal' }, { command: 'unmuteLocal' }, { command: 'enableLocalVideo', enabled: true },
    { command: 'disableVideo', streamID: 42 }, { command: 'enableVideo', streamID: 42 },
    { command: 'somethingNewer', value: 1 },
    { command: 'setParameters', parameters: '{"sim.video":{"width":320,"height":180,"fps":15}}' },
    { command: 'setParameters', parameters: '{"sim.peer.add":{"uid":9,"video":true}}' },
    { command: 'setParameters', parameters: '{"sim.peer.remove":9}' },
  ]);
  await assert.rejects(openSession({ url: 'ws://127.0.0.1:1' }), TypeError);
});

test('window titles are Base64 of UTF-8', () => {
  assert.equal(decodeTitle('U2NyZWVu'), 'Screen');
  assert.equal(decodeTitle(Buffer.from('Größe – 画面', 'utf8').toString('base64')), 'Größe – 画面');
});

test('the type declarations name exactly the values each entry point exports', () => {
  for (const [declarations, module] of [['kelvo-agent.d.ts', library], ['yuv-canvas.d.ts', drawing], ['testing.d.ts', testing]]) {
    const text = readFileSync(`${webRoot}/${declarations}`, 'utf8');
    const declared = [...text.matchAll(/^export (?:class|function|const) (\w+)/gm)].map((m) => m[1]);
    assert.deepEqual([...new Set(declared)].sort(), Object.keys(module).sort(), declarations);
  }
});
