// The library's ways of showing a stream, in Debian's Chromium against the real agent with the
// stand-in engine, checked from the pictures shown: a remote user's stream as a media track in a
// <video> element and recorded by MediaRecorder, muted and ended with the user's video; a frame
// turned and mirrored by its header shown upright on every drawing path (a canvas drawn by the
// stream worker, the track, WebCodecs, WebGL, 2D); the own camera in a lobby before the call.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startAgent, startStaticServer, launchBrowser, waitFor } from './support/harness.mjs';
import { checkPicture, waitForEngineStopped } from './support/demo-page.mjs';

let agent;
let site;
let chromium;

before(async () => {
  agent = await startAgent();
  site = await startStaticServer();
  agent.allow(site.origin);
  chromium = await launchBrowser();
});

after(async () => {
  await chromium?.close();
  await site?.stop();
  if (agent) {
    const status = await agent.stop();
    assert.equal(status.code, 0, `the agent ended badly: ${JSON.stringify(status)}\n${agent.output()}`);
  }
});

/** The test page with a session on the agent (joined to `channel` unless null) as window.session. */
async function openCall(channel) {
  const page = await chromium.context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(`${site.url}tests/support/video-page.html`);
  await page.waitForSelector('body[data-ready="true"]', { state: 'attached' });
  await page.evaluate(async ([url, channel]) => {
    const { openSession } = await import('/kelvo-agent.js');
    window.session = await openSession({ url, appID: 'video-paths' });
    window.shown = {};
    if (channel !== null) await window.session.join(channel);
  }, [agent.url, channel]);
  return { page, problems };
}

/** Ends the page's session; the agent then stops the engine. */
async function endCall({ page, problems }) {
  await page.evaluate(() => window.session.close());
  await page.close();
  await waitForEngineStopped(agent);
  assert.deepEqual(problems, []);
}

/** Plays the stand-in engine's other people through the session's control connection. */
function simulate(page, parameters) {
  return page.evaluate((text) => window.session.request('setParameters', { parameters: text }), JSON.stringify(parameters));
}

/**
 * Waits until window.shown[name] shows the pattern (checked like the demo's tiles), of a later
 * frame than `after` when given; `transposed`: shown turned a quarter and mirrored.
 */
function waitForPattern(page, name, after = null, { transposed = false } = {}) {
  return waitFor(`a ${after ? 'newer ' : ''}picture in ${name}`, async () => {
    const shot = await page.evaluate(([name, transposed]) => window.readPattern(window.shown[name], { transposed }),
      [name, transposed]);
    if (!shot) return null;
    checkPicture(shot);
    if (after === null) return shot;
    const advance = (shot.bits - after.bits) & 0xffff;
    assert.ok(advance < 0x8000, `the counter went back from ${after.bits} to ${shot.bits} in ${name}`);
    return advance > 0 ? shot : null;
  });
}

test('a remote user as a media track: a <video> plays it, MediaRecorder records it, it mutes and ends', async () => {
  const call = await openCall('track-room');
  const { page } = call;
  await simulate(page, { 'sim.peer.add': { uid: 501, video: true } });
  await page.evaluate(async () => {
    const stream = window.stream = await window.session.openStream(501);
    window.events = [];
    for (const name of ['mute', 'unmute', 'ended']) stream.track.addEventListener(name, () => window.events.push(`track ${name}`));
    for (const name of ['mute', 'unmute']) stream.on(name, () => window.events.push(`stream ${name}`));
    const video = window.shown.video = document.createElement('video');
    video.muted = true;
    video.srcObject = new MediaStream([stream.track]);
    document.getElementById('videos').append(video);
    await video.play();
  });
  const first = await waitForPattern(page, 'video');
  const later = await waitForPattern(page, 'video', first);
  assert.deepEqual([later.shownWidth, later.shownHeight], [320, 240]);
  assert.equal(await page.evaluate(() => window.stream.connection.ws.constructor.name), 'WorkerSocket');
  const stats = await page.evaluate(() => window.stream.once('stats'));
  assert.ok(stats.fps > 10, `the track took ${stats.fps} frames per second`);

  const recorded = await page.evaluate(async () => {
    const recorder = new MediaRecorder(new MediaStream([window.stream.track]));
    const chunks = [];
    recorder.ondataavailable = ({ data }) => chunks.push(data);
    const stopped = new Promise((done) => { recorder.onstop = done; });
    recorder.start();
    await new Promise((done) => setTimeout(done, 3000));
    recorder.stop();
    await stopped;
    const blob = new Blob(chunks, { type: recorder.mimeType });
    const player = window.shown.recording = document.createElement('video');
    player.muted = true;
    player.src = URL.createObjectURL(blob);
    await new Promise((done, fail) => {
      player.onloadeddata = done;
      player.onerror = () => fail(new Error(`the recording does not play: ${player.error?.message}`));
    });
    return { size: blob.size, type: blob.type, width: player.videoWidth, height: player.videoHeight };
  });
  assert.match(recorded.type, /^video\//);
  assert.ok(recorded.size > 10000, `a recording of ${recorded.size} bytes`);
  assert.deepEqual([recorded.width, recorded.height], [320, 240]);

  // The user's video pauses and resumes: the stream and its track follow, and the video goes on.
  await simulate(page, { 'sim.peer.mute_video': { uid: 501, muted: true } });
  await waitFor('the track to mute', () => page.evaluate(() => window.stream.muted && window.stream.track.muted));
  await simulate(page, { 'sim.peer.mute_video': { uid: 501, muted: false } });
  await waitFor('the track to unmute', () => page.evaluate(() => !window.stream.track.muted));
  await waitForPattern(page, 'video', later);
  assert.deepEqual(await page.evaluate(() => window.events), ['track mute', 'stream mute', 'track unmute', 'stream unmute']);

  // A user who comes without video is told of, though no stream opens for them.
  await page.evaluate(() => {
    window.withoutVideo = [];
    window.session.followRemoteVideos(() => null).on('without-video', ({ uid }) => window.withoutVideo.push(uid));
  });
  await simulate(page, { 'sim.peer.add': { uid: 502, video: false } });
  await waitFor('the user without video', () => page.evaluate(() => window.withoutVideo.includes(502)));

  await page.evaluate(() => window.stream.stop());
  await waitFor('the track to end', () => page.evaluate(() => window.stream.track.readyState === 'ended'
    && window.events.includes('track ended')));
  await endCall(call);
});

test('a picture turned and mirrored by its header is shown upright on every drawing path', async () => {
  const call = await openCall('turned-room');
  const { page } = call;
  // Turned a quarter clockwise, then mirrored: the frame's pixel (x, y) is shown at (y, x).
  await simulate(page, { 'sim.video': { width: 320, height: 240, rotation: 90, mirrored: true } });
  const paths = ['canvas', 'track', 'webcodecs', 'webgl', '2d'];
  for (const [i, path] of paths.entries()) await simulate(page, { 'sim.peer.add': { uid: 600 + i, video: true } });
  const kinds = await page.evaluate(async (paths) => {
    const { createRenderer } = await import('/yuv-canvas.js');
    const box = document.getElementById('videos');
    const kinds = {};
    for (const [i, path] of paths.entries()) {
      const uid = 600 + i;
      if (path === 'canvas') {
        window.shown.canvas = box.appendChild(document.createElement('canvas'));
        await window.session.openStream(uid, window.shown.canvas);
      } else if (path === 'track') {
        const video = window.shown.track = box.appendChild(document.createElement('video'));
        video.muted = true;
        video.srcObject = new MediaStream([(await window.session.openStream(uid)).track]);
        await video.play();
      } else {
        const renderer = createRenderer(box.appendChild(document.createElement('canvas')), { preferred: path });
        window.shown[path] = renderer.canvas;
        kinds[path] = renderer.kind;
        await window.session.openStream(uid, (frame) => renderer.draw(frame));
      }
    }
    return kinds;
  }, paths);
  assert.deepEqual(kinds, { webcodecs: 'webcodecs', webgl: 'webgl', '2d': '2d' });
  for (const path of paths) {
    const first = await waitForPattern(page, path, null, { transposed: true });
    assert.deepEqual([first.shownWidth, first.shownHeight], [240, 320], `${path} shows the turned size`);
    await waitForPattern(page, path, first, { transposed: true });
  }
  await endCall(call);
});

test('a camera before the call: the lobby shows the own camera, which goes on through the join', async () => {
  const call = await openCall(null);
  const { page } = call;
  await page.evaluate(async () => {
    window.shown.camera = document.getElementById('videos').appendChild(document.createElement('canvas'));
    window.camera = await window.session.openCamera(window.shown.camera);
  });
  const lobby = await waitForPattern(page, 'camera');
  const still = await waitForPattern(page, 'camera', lobby);
  assert.equal(await page.evaluate(() => window.session.state), 'ready');

  await page.evaluate(() => window.session.join('lobby-room'));
  await waitForPattern(page, 'camera', still);
  assert.equal(await page.evaluate(() => window.camera.open), true);
  await page.evaluate(() => window.session.leave());
  assert.equal(await page.evaluate(() => window.camera.endReason), 'left-channel');
  await endCall(call);
});
