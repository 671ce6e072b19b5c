// Unit tests of the page-side client: reply matching, events and frame decoding, without an agent.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  AgentConnection, AgentError, FrameAssembler, VideoStream, parseFrameHeader, frameCounter, frameAge, decodeTitle,
} from '../kelvo-agent.js';

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

test('a stream reports the rate and age of the frames it handed over; setViewSize asks again', async () => {
  const socket = new FakeSocket();
  const stream = new VideoStream(new AgentConnection(socket), 42, () => {}, { viewWidth: 320, viewHeight: 180, statsIntervalMs: 150 });
  const now = Date.now();
  socket.binary(frameMessages(64, 48, 0, 1, (now - 30) % 2 ** 32));
  await tick();
  socket.binary(frameMessages(64, 48, 0, 2, (now - 10) % 2 ** 32));
  await tick(200);
  const stat = socket.sent.find((m) => m.command === 'videoStat');
  assert.equal(stat.uid, 42);
  assert.ok(stat.fps >= 1 && stat.fps <= 14, `two frames in at least 150 ms: ${stat.fps} fps`);
  assert.ok(stat.latency >= 40 && stat.latency < 2000, `average age ${stat.latency} ms`);
  assert.deepEqual(stream.stats, { fps: stat.fps, latency: stat.latency });

  const asked = stream.setViewSize(640.4, 360);
  socket.reply({ command: 'subscribe', code: true });
  await asked;
  await stream.setViewSize(640, 360); // the same size: nothing to ask
  assert.deepEqual(socket.sent.filter((m) => m.command === 'subscribe'), [{ command: 'subscribe', uid: 42, viewWidth: 640, viewHeight: 360 }]);
  socket.close();

  const camera = new FakeSocket();
  const own = new VideoStream(new AgentConnection(camera), 0, () => {}, { statsIntervalMs: 0 });
  const preview = own.setViewSize(100, 50);
  assert.deepEqual(camera.sent, [{ command: 'preview', video: true, viewWidth: 100, viewHeight: 50 }]);
  camera.close();
  await assert.rejects(preview, (error) => error.code === 'closed');
});

test('frame ages wrap with the 32-bit timestamp; a stamp ahead of the clock is no age', () => {
  assert.equal(frameAge(0xfffffff0, 2 ** 32 * 400 + 0x10), 0x20);
  assert.equal(frameAge(1000, 2 ** 32 * 7 + 1250), 250);
  assert.equal(frameAge(1000, 2 ** 32 * 7 + 990), 0);
});

test('replies resolve their requests in order; a code other than true rejects with it', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const first = agent.request('joinChannel', { channelName: 'a' });
  const second = agent.request('joinChannel', { channelName: 'b' });
  const version = agent.request('getVersion');
  assert.deepEqual(socket.sent[0], { command: 'joinChannel', channelName: 'a' });
  socket.reply({ command: 'getVersion', version: '1.0', code: true });
  socket.reply({ command: 'joinChannel', uid: 7, code: true });
  socket.reply({ command: 'joinChannel', code: -17 });
  assert.equal((await version).version, '1.0');
  assert.equal((await first).uid, 7);
  await assert.rejects(second, (error) => error instanceof AgentError && error.code === -17
    && error.command === 'joinChannel');
});

test('events, command-first events, unasked replies and renamed key renewals', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const seen = [];
  agent.on('onAddVideoStream', (m) => seen.push(['add', m.uid]));
  agent.on('onPeerLeave', (m) => seen.push(['leave', m.uid, m.reason]));
  agent.on('warning', (m) => seen.push(['warning', m.code]));
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

test('a closing connection rejects what is still waiting; a silent agent times out', async () => {
  const socket = new FakeSocket();
  const agent = new AgentConnection(socket);
  const late = agent.request('getVersion', {}, { timeoutMs: 20 });
  await assert.rejects(late, (error) => error.code === 'timeout');
  const waiting = agent.request('leaveChannel');
  socket.close();
  await assert.rejects(waiting, (error) => error.code === 'closed');
  await assert.rejects(agent.request('getVersion'), (error) => error.code === 'closed');
});

test('window titles are Base64 of UTF-8', () => {
  assert.equal(decodeTitle('U2NyZWVu'), 'Screen');
  assert.equal(decodeTitle(Buffer.from('Größe – 画面', 'utf8').toString('base64')), 'Größe – 画面');
});
