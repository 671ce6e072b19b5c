// The demo page in Debian's Chromium against the real agent with the stand-in engine: a call with
// the own camera and a simulated remote user, checked from the pixels the page drew, whose streams
// follow mute, leave and a lost connection; four users drawn live at their tiles' size; why an
// agent cannot be reached; and the user's question the first time a site uses the agent. Then the
// library's other ways of showing a stream, on a test page of its own: a remote user's stream as
// a media track in a <video> element and recorded by MediaRecorder, muted and ended with the
// user's video; a frame turned and mirrored by its header shown upright on every drawing path (a
// canvas drawn by the stream worker, the track, WebCodecs, WebGL, 2D); the own camera in a lobby
// before the call.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  startAgent, startStaticServer, launchBrowser, waitFor, ensureOutputDir, freePort,
} from './support/harness.mjs';
import {
  readTile, checkPicture, waitForNewerPicture, waitForStill, waitForEngineStopped, openPage, initializeAndJoin,
  setFrameGeometry, tileViewSize, askViewSize, waitForTileSizedPicture, holdStream, heldStream,
} from './support/demo-page.mjs';
import { launchQuietBrowser } from './support/quiet-browser.mjs';

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

/**
 * Rows that need padding (151 wide travel as 160-byte rows), an odd width (75 chroma columns for
 * 151 pixels) and an odd height (121 rows, 60 chroma rows) are drawn without shear or a coloured
 * edge; then a narrower window makes the demo ask for its tile's new size.
 */
async function checkPaddedFrames(page, uid) {
  await waitForTileSizedPicture(page, uid);
  await askViewSize(page, uid, 151, 121);
  const padded = await waitForNewerPicture(page, uid, null, { width: 151 });
  await waitForNewerPicture(page, uid, padded, { width: 151 });
  assert.match(await page.textContent(`.tile[data-uid="${uid}"] .info`), /151×121/);
  const viewport = page.viewportSize();
  await page.setViewportSize({ width: 900, height: viewport.height });
  assert.notEqual((await waitForTileSizedPicture(page, uid)).width, 151);
  await page.setViewportSize(viewport);
}

test('a call: own camera, a simulated remote user, mute and unmute, devices, windows, leave', async () => {
  const { page, problems } = await openPage(chromium, site, agent);
  await initializeAndJoin(page, 'browser-room');
  assert.match(await page.textContent('#status'), /browser-room/);
  assert.match(await page.textContent('#version'), /Engine version \S+/);

  assert.match(await page.textContent('#version'), /^Agent \d+\.\d+\.\d+, protocol 1 · /);
  await page.click('#camera');
  const own = await waitForNewerPicture(page, 0);
  const best = await page.evaluate(() => (typeof VideoFrame === 'function' ? 'webcodecs'
    : document.createElement('canvas').getContext('webgl') ? 'webgl' : '2d'));
  assert.equal(own.renderer, best, 'the page draws with WebCodecs where it can, else with WebGL');
  await waitForNewerPicture(page, 0, own);

  await page.fill('#sim-uid', '4242');
  await page.click('#sim-add');
  const remote = await waitForNewerPicture(page, 4242);
  assert.equal(await page.evaluate(() => window.kelvoDemo.stream(4242).connection.ws instanceof WebSocket), false,
    'the stream is read by the library\'s worker, not on the page');
  await waitForNewerPicture(page, 4242, remote);
  const tileSize = await tileViewSize(page, 4242);
  assert.match(await page.textContent('.tile[data-uid="4242"] .info'),
    new RegExp(`^${tileSize.width}×${tileSize.height} · frame \\d+`));
  await checkPaddedFrames(page, 4242);

  await page.click('#devices-refresh');
  await page.waitForSelector('#devices-videoinput option', { state: 'attached' });
  assert.deepEqual(await page.$$eval('#devices-videoinput option', (o) => o.map((x) => x.textContent)), ['Stand-in Camera']);
  assert.deepEqual(await page.$$eval('#devices-audiooutput option', (o) => o.map((x) => x.textContent)), ['Stand-in Speaker']);
  assert.deepEqual(await page.$$eval('#devices-audioinput option', (o) => o.map((x) => x.textContent)), ['Stand-in Microphone']);
  await page.selectOption('#devices-videoinput', 'cam-0');
  await waitFor('the camera choice to reach the engine', () => /setDevice\S* cam-0/.test(agent.log()));

  await page.click('#windows-refresh');
  await page.waitForSelector('#windows option', { state: 'attached' });
  assert.equal(await page.textContent('#windows option'), 'Screen');
  await page.click('#share-start');
  await waitFor('screen sharing to start', () => agent.log().includes('che.video.start_screen_capture'));
  await page.click('#share-stop');
  await waitFor('screen sharing to stop', () => agent.log().includes('che.video.stop_screen_capture'));

  const screenshot = join(ensureOutputDir(), 'demo.png');
  await page.screenshot({ path: screenshot, fullPage: true });

  // Muting and unmuting keeps the user's one stream: the agent announces the resumed video again.
  const tile = '.tile[data-uid="4242"]';
  const announced = Number(await page.getAttribute(tile, 'data-announcements'));
  await page.evaluate(() => { window.kelvoDemo.stream(4242).kept = true; });
  await page.click(`${tile} button.mute`);
  await page.waitForSelector(`${tile}[data-muted="true"]`);
  const still = await waitForStill(page, 4242);
  checkPicture(still);
  assert.ok(agent.log().includes('rtc.video.mute_peer'));
  await waitForNewerPicture(page, 0, await readTile(page, 0)); // the own camera goes on

  await page.click(`${tile} button.mute`);
  await page.waitForSelector(`${tile}[data-muted="false"]`);
  await waitFor('the resumed video to be announced again',
    async () => Number(await page.getAttribute(tile, 'data-announcements')) > announced);
  await waitForNewerPicture(page, 4242, still);
  assert.equal(await page.evaluate(() => window.kelvoDemo.stream(4242).kept && window.kelvoDemo.stream(4242).open), true,
    'the same stream goes on after unmuting');
  assert.equal(await page.locator(tile).count(), 1);

  await holdStream(page, 4242);
  await page.click('#sim-users button[data-uid="4242"]');
  await page.waitForSelector(tile, { state: 'detached' });
  assert.deepEqual(await heldStream(page, 4242), { open: false, endReason: 'peer-left' });

  await page.fill('#sim-uid', '77');
  await page.click('#sim-add');
  await waitForNewerPicture(page, 77);
  await holdStream(page, 77);
  await holdStream(page, 0);
  await page.click('#leave');
  await page.waitForSelector('#status[data-state="ready"]');
  assert.equal(await page.locator('.tile').count(), 0);
  assert.deepEqual(await heldStream(page, 77), { open: false, endReason: 'left-channel' });
  assert.deepEqual(await heldStream(page, 0), { open: false, endReason: 'left-channel' });
  assert.equal(await page.isVisible('#error'), false);
  assert.deepEqual(problems, []);

  // The agent goes on serving: join again and the simulated user's video comes back.
  await page.click('#join');
  await page.waitForSelector('#status[data-state="joined"]');
  await page.fill('#sim-uid', '78');
  await page.click('#sim-add');
  await waitForNewerPicture(page, 78);

  // The agent closes the control connection for a message that is no command: the session ends
  // and its streams with it; connecting again brings a new session and new streams.
  await holdStream(page, 78);
  await page.evaluate(() => window.kelvoDemo.agent.connection.ws.send('[1,2]'));
  await page.waitForSelector('#status[data-state="disconnected"]');
  assert.match(await page.textContent('#error'), /The connection to the agent closed/);
  assert.deepEqual(await heldStream(page, 78), { open: false, endReason: 'session-ended' });
  assert.equal(await page.locator('.tile').count(), 0);
  await waitForEngineStopped(agent);
  await initializeAndJoin(page, 'browser-room');
  await page.fill('#sim-uid', '79');
  await page.click('#sim-add');
  await waitForNewerPicture(page, 79);

  await page.click('#disconnect');
  await page.waitForSelector('#status[data-state="disconnected"]');
  await waitForEngineStopped(agent);
  await page.close();
});

test('WebGL and the 2D canvas draw the same pictures where they are chosen', async () => {
  for (const renderer of ['webgl', '2d']) {
    const { page, problems } = await openPage(chromium, site, agent, `&renderer=${renderer}`);
    try {
      await initializeAndJoin(page, `${renderer}-room`);
      await page.fill('#sim-uid', '9');
      await page.click('#sim-add');
      const first = await waitForNewerPicture(page, 9);
      assert.equal(first.renderer, renderer);
      await waitForNewerPicture(page, 9, first);
      await checkPaddedFrames(page, 9);
      assert.deepEqual(problems, []);
    } finally {
      await page.close(); // its connections close: the agent stops the engine
      await waitForEngineStopped(agent);
    }
  }
});

test('four users sending 1280x720 are drawn live at their tiles\' size, close behind the engine', async (t) => {
  // How far behind the page draws is measured without Playwright's network recording, which
  // copies every message of the four streams to the test.
  const quiet = await launchQuietBrowser();
  try {
    const { page, problems } = await openPage(quiet, site, agent);
    await initializeAndJoin(page, 'four-room');
    const fps = 30;
    await setFrameGeometry(page, { width: 1280, height: 720, fps });
    const uids = [11, 12, 13, 14];
    for (const uid of uids) {
      await page.fill('#sim-uid', String(uid));
      await page.click('#sim-add');
      await page.waitForSelector(`.tile[data-uid="${uid}"]`); // the next user id is filled in after the add
    }
    const first = new Map();
    for (const uid of uids) first.set(uid, await waitForTileSizedPicture(page, uid));
    // How far the drawn counter is behind the engine's: the age of the drawn frame, in frames.
    const behind = [];
    for (let sample = 0; sample < 20; sample += 1) {
      for (const uid of uids) {
        const shot = await readTile(page, uid);
        checkPicture(shot);
        behind.push((shot.age * fps) / 1000);
      }
      await new Promise((done) => setTimeout(done, 100));
    }
    behind.sort((a, b) => a - b);
    const [median, worst] = [behind[behind.length >> 1], behind[Math.floor(behind.length * 0.9)]];
    const behindText = `drawn pictures ${median} (median), ${worst} (9 in 10) frames behind the engine`;
    t.diagnostic(behindText);
    assert.ok(median <= 4 && worst <= 10, behindText);
    for (const uid of uids) {
      const shot = await readTile(page, uid);
      const before = first.get(uid);
      assert.ok(shot.frames - before.frames >= 20, `user ${uid}: ${shot.frames - before.frames} frames drawn`);
    }
    assert.deepEqual(problems, []);
  } finally {
    await quiet.close(); // the page's connections close: the agent stops the engine
    await waitForEngineStopped(agent);
  }
});

/** Connects the page to `url` and waits for the error of `reason`; returns its words and advice. */
async function failToConnect(page, url, reason) {
  if (url !== null) await page.fill('#agent-url', url);
  await page.click('#initialize');
  await page.waitForSelector(`#error[data-reason="${reason}"]:not([hidden])`);
  assert.equal(await page.getAttribute('#status', 'data-state'), 'disconnected');
  return {
    text: await page.textContent('#error-text'), advice: await page.textContent('#advice'), hint: await page.textContent('#hint'),
  };
}

test('a page that cannot reach the agent says why and what to do', async () => {
  const { page, problems } = await openPage(chromium, site, agent);
  const nobody = `ws://127.0.0.1:${await freePort()}`;
  const closed = await failToConnect(page, nobody, 'not-running');
  assert.ok(closed.text.startsWith(`Cannot connect to ${nobody}: nothing answers`), closed.text);
  assert.match(closed.advice, /Start the Kelvo Web Agent/);
  const named = await failToConnect(page, agent.url.replace('127.0.0.1', 'localhost'), 'refused-host');
  assert.match(named.advice, /wrong address/);
  assert.ok(named.hint.includes(agent.url), named.hint); // the address in use, not the default
  await page.close();

  // The TLS port of an agent whose certificate this browser does not trust; its plain port answers.
  const secure = await startAgent({ tls: true });
  try {
    const opened = await openPage(chromium, site, secure, `&plain=${encodeURIComponent(secure.plainUrl)}`);
    const untrusted = await failToConnect(opened.page, null, 'certificate');
    assert.match(untrusted.text, /does not trust its certificate/);
    assert.match(untrusted.advice, /does not trust the certificate/);
    assert.ok(untrusted.hint.includes(secure.plainUrl), untrusted.hint);
    assert.deepEqual(opened.problems, []);
    await opened.page.close();
  } finally {
    await secure.stop();
  }

  // Chromium's local network protection: the test's site counts as a public one. Served from a
  // public name over http:// it may never reach this computer; over a secure address the browser
  // asks the user (a headless browser answers no).
  const port = new URL(site.url).port;
  const guarded = await launchBrowser([`--ip-address-space-overrides=127.0.0.1:${port}=public`,
    '--host-resolver-rules=MAP public.test 127.0.0.1']);
  try {
    for (const served of [{ ...site, url: `http://public.test:${port}/` }, site]) {
      const opened = await openPage(guarded, served, agent);
      const blocked = await failToConnect(opened.page, null, 'blocked-by-browser');
      assert.match(blocked.advice, /to reach apps and services on this device/);
      assert.deepEqual(opened.problems, []);
      await opened.page.close();
    }
  } finally {
    await guarded.close();
  }
  assert.deepEqual(problems, []);
});

test('a site the user has not decided about waits for the question, then is served or refused', async () => {
  // The question program: tells the test which site it asks about, then exits with the answer the
  // test writes (0 allow, 1 block), as a user clicking a dialog would.
  const folder = mkdtempSync(join(tmpdir(), 'kelvo-question-'));
  const [question, answer] = [join(folder, 'question'), join(folder, 'answer')];
  const prompt = join(folder, 'prompt');
  writeFileSync(prompt, `#!/bin/sh\necho "$1" > '${question}'\n` +
    `while [ ! -f '${answer}' ]; do sleep 0.1; done\nexit "$(cat '${answer}')"\n`, { mode: 0o755 });
  const asking = await startAgent({ prompt });
  const other = await startStaticServer();
  try {
    for (const [served, reply] of [[site, '0'], [other, '1']]) {
      rmSync(question, { force: true });
      rmSync(answer, { force: true });
      const { page, problems } = await openPage(chromium, served, asking);
      await page.click('#initialize');
      await waitFor('the question', () => existsSync(question) && readFileSync(question, 'utf8').includes('\n'));
      assert.equal(readFileSync(question, 'utf8').trim(), served.origin);
      assert.equal(await page.getAttribute('#status', 'data-state'), 'connecting');
      writeFileSync(answer, reply);
      if (reply === '0') {
        await page.waitForSelector('#status[data-state="ready"]');
        await page.click('#disconnect');
      } else {
        // Refused: an agent that says why says 'blocked', and a block is undone, never asked again.
        await page.waitForSelector('#error:not([hidden])');
        const reason = await page.getAttribute('#error', 'data-reason');
        assert.ok(['blocked', 'refused-by-user'].includes(reason), reason);
        if (reason === 'blocked') {
          assert.match(await page.textContent('#advice'), new RegExp(`kelvo_web_agent -allow ${served.origin}`));
          assert.doesNotMatch(await page.textContent('#advice'), /choose Allow when the agent asks/);
        }
        assert.equal(await page.getAttribute('#status', 'data-state'), 'disconnected');
      }
      assert.deepEqual(problems, []);
      await page.close();
    }
    assert.doesNotMatch(asking.log(), /Rtc Engine initialized[\s\S]*Rtc Engine initialized/,
      'the refused site started no engine');
  } finally {
    await other.stop();
    await asking.stop();
    rmSync(folder, { recursive: true, force: true });
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
