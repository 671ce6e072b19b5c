// The demo page in Debian's Chromium against the real agent with the stand-in engine: a call with
// the own camera and a simulated remote user, checked from the pixels the page drew.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import {
  startAgent, startStaticServer, launchBrowser, waitFor, ensureOutputDir,
} from './support/harness.mjs';

let agent;
let site;
let chromium;

before(async () => {
  agent = await startAgent();
  site = await startStaticServer();
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
 * Reads a video tile's canvas as drawn: the stand-in engine paints its frame counter into the top
 * rows as 16 x 16 blocks (bit 15 first; white for one, black for zero). Also returns the red
 * channel of picture row 20, where luma runs (x + 20 + counter) & 255, and the counter the page
 * decoded from the same frame's bytes.
 */
function readTile(page, uid) {
  return page.evaluate((uid) => {
    const tile = document.querySelector(`.tile[data-uid="${uid}"]`);
    if (!tile || tile.dataset.frameCounter === '') return null;
    const canvas = tile.querySelector('canvas');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const blocks = Math.min(16, Math.floor(canvas.width / 16));
    let bits = 0;
    const strip = [];
    for (let i = 0; i < blocks; i += 1) {
      const [r, g, b] = context.getImageData(16 * i + 8, 8, 1, 1).data;
      strip.push([r, g, b]);
      bits = bits * 2 + (r > 128 ? 1 : 0);
    }
    return {
      bits,
      blocks,
      strip,
      row20: [...context.getImageData(0, 20, canvas.width, 1).data].filter((_, i) => i % 4 === 0),
      decoded: Number(tile.dataset.frameCounter),
      frames: Number(tile.dataset.frames),
      renderer: tile.dataset.renderer,
      width: canvas.width,
    };
  }, uid);
}

/** The drawn picture matches the frame the page decoded: counter bits, neutral grey, the ramp. */
function checkPicture(shot) {
  assert.ok(shot.blocks >= 8, `canvas too narrow: ${shot.width}`);
  const drop = 16 - shot.blocks;
  assert.equal(shot.bits, (shot.decoded >>> drop) & ((1 << shot.blocks) - 1),
    `counter drawn ${shot.bits}, decoded ${shot.decoded}`);
  for (const [r, g, b] of shot.strip) {
    assert.ok(Math.abs(r - g) <= 6 && Math.abs(r - b) <= 6, `marker not grey: ${r},${g},${b}`);
  }
  let compared = 0;
  shot.row20.forEach((red, x) => {
    const luma = (x + 20 + shot.decoded) & 0xff;
    if (luma < 24 || luma > 228) return; // clipped or wrapping
    const expected = Math.round(1.164 * (luma - 16));
    assert.ok(Math.abs(red - expected) <= 6, `row 20, x ${x}: red ${red}, expected about ${expected}`);
    compared += 1;
  });
  assert.ok(compared > shot.width / 2, 'too little of the ramp was compared');
}

/** Waits until the canvas shows a later frame than `after` (counter read from pixels). */
async function waitForNewerPicture(page, uid, after = null) {
  return waitFor(`a newer picture of user ${uid}`, async () => {
    const shot = await readTile(page, uid);
    if (!shot) return null;
    checkPicture(shot);
    if (after !== null && ((shot.bits - after.bits) & 0xffff) === 0) return null;
    if (after !== null) assert.ok(((shot.bits - after.bits) & 0xffff) < 0x8000, 'counter went back');
    return shot;
  });
}

/** Waits until the picture stays the same for a second (a 30 fps stream that has stopped). */
async function waitForStill(page, uid) {
  let last = null;
  let since = 0;
  return waitFor(`the video of user ${uid} to stop`, async () => {
    const shot = await readTile(page, uid);
    if (last === null || shot.frames !== last.frames) {
      last = shot;
      since = Date.now();
      return null;
    }
    return Date.now() - since > 1000 ? shot : null;
  }, { intervalMs: 100 });
}

/** A closed control connection makes the agent stop the engine; the next page may then start one. */
function waitForEngineStopped() {
  const count = (text, line) => text.split(line).length - 1;
  return waitFor('the agent to stop the engine', () => {
    const log = agent.log();
    return count(log, '[wa] Rtc Engine destroyed') === count(log, '[wa] Rtc Engine initialized');
  });
}

async function openPage(query = '') {
  const page = await chromium.context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(`${site.url}?agent=${encodeURIComponent(agent.url)}${query}`);
  await page.waitForSelector('body[data-ready="true"]');
  return { page, problems };
}

async function initializeAndJoin(page, channel) {
  await page.click('#initialize');
  await page.waitForSelector('#status[data-state="ready"]');
  await page.fill('#channel-name', channel);
  await page.click('#join');
  await page.waitForSelector('#status[data-state="joined"]');
}

test('a call: own camera, a simulated remote user, mute and unmute, devices, windows, leave', async () => {
  const { page, problems } = await openPage();
  await initializeAndJoin(page, 'browser-room');
  assert.match(await page.textContent('#status'), /browser-room/);
  assert.match(await page.textContent('#version'), /Engine version \S+/);

  await page.click('#camera');
  const own = await waitForNewerPicture(page, 0);
  const webgl = await page.evaluate(() => document.createElement('canvas').getContext('webgl') !== null);
  assert.equal(own.renderer, webgl ? 'webgl' : '2d', 'the page draws with WebGL wherever the browser has it');
  await waitForNewerPicture(page, 0, own);

  await page.fill('#sim-uid', '4242');
  await page.click('#sim-add');
  const remote = await waitForNewerPicture(page, 4242);
  await waitForNewerPicture(page, 4242, remote);
  assert.match(await page.textContent('.tile[data-uid="4242"] .info'), /320×240 · frame \d+/);

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

  const tile = '.tile[data-uid="4242"]';
  const announced = Number(await page.getAttribute(tile, 'data-announcements'));
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

  await page.click('#sim-users button[data-uid="4242"]');
  await page.waitForSelector(tile, { state: 'detached' });

  await page.fill('#sim-uid', '77');
  await page.click('#sim-add');
  await waitForNewerPicture(page, 77);
  await page.click('#leave');
  await page.waitForSelector('#status[data-state="ready"]');
  assert.equal(await page.locator('.tile').count(), 0);
  assert.equal(await page.isVisible('#error'), false);
  assert.deepEqual(problems, []);

  // The agent goes on serving: join again and the simulated user's video comes back.
  await page.click('#join');
  await page.waitForSelector('#status[data-state="joined"]');
  await page.fill('#sim-uid', '78');
  await page.click('#sim-add');
  await waitForNewerPicture(page, 78);
  await page.click('#disconnect');
  await page.waitForSelector('#status[data-state="disconnected"]');
  await waitForEngineStopped();
  await page.close();
});

test('the 2D canvas draws the same pictures when WebGL is not used', async () => {
  const { page, problems } = await openPage('&renderer=2d');
  await initializeAndJoin(page, 'flat-room');
  await page.fill('#sim-uid', '9');
  await page.click('#sim-add');
  const first = await waitForNewerPicture(page, 9);
  assert.equal(first.renderer, '2d');
  await waitForNewerPicture(page, 9, first);
  await page.click('#disconnect');
  await waitForEngineStopped();
  assert.deepEqual(problems, []);
  await page.close();
});

test('a page that cannot reach the agent says so in plain words', async () => {
  const { page } = await openPage();
  await page.fill('#agent-url', 'ws://127.0.0.1:1');
  await page.click('#initialize');
  await page.waitForSelector('#error:not([hidden])');
  assert.match(await page.textContent('#error'), /Cannot reach the agent at ws:\/\/127\.0\.0\.1:1/);
  assert.equal(await page.getAttribute('#status', 'data-state'), 'disconnected');
  await page.close();
});
