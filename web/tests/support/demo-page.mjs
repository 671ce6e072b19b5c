// Reading the demo page as a person sees it: the pictures drawn on its canvases, its words.
import assert from 'node:assert/strict';
import { waitFor } from './harness.mjs';

/**
 * Reads a video tile's canvas as drawn: the stand-in engine paints its frame counter into the top
 * rows as 16 x 16 blocks (bit 15 first; white for one, black for zero). Also returns the red
 * channel of picture row 20, where luma runs (x + 20 + counter) & 255, the counter the page
 * decoded from the same frame's bytes, and that frame's age: ms since the agent packed it.
 */
export function readTile(page, uid) {
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
    const age = (Date.now() - Number(tile.dataset.timestamp)) % 2 ** 32;
    return {
      age: age < 0 ? age + 2 ** 32 : age,
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
export function checkPicture(shot) {
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

/**
 * Waits until the canvas shows a later frame than `after` (and, if given, one `width` wide); every
 * picture looked at must match the counter that the page decoded from that frame.
 */
export async function waitForNewerPicture(page, uid, after = null, { width } = {}) {
  return waitFor(`a newer picture of user ${uid}`, async () => {
    const shot = await readTile(page, uid);
    if (!shot) return null;
    checkPicture(shot);
    if (width !== undefined && shot.width !== width) return null;
    if (after === null) return shot;
    const advance = (shot.decoded - after.decoded) >>> 0;
    assert.ok(advance < 0x80000000, `counter went back from ${after.decoded} to ${shot.decoded}`);
    return advance > 0 ? shot : null;
  });
}

/** The size of a tile's picture area in device pixels: what the demo asks the engine for. */
export function tileViewSize(page, uid) {
  return page.evaluate((uid) => {
    const box = document.querySelector(`.tile[data-uid="${uid}"] .screen`).getBoundingClientRect();
    return { width: Math.round(box.width * devicePixelRatio), height: Math.round(box.height * devicePixelRatio) };
  }, uid);
}

/**
 * Waits until the tile shows a (checked) picture of the tile's size, as it is when looked at: the
 * layout may still move after a change (a scroll bar coming or going).
 */
export function waitForTileSizedPicture(page, uid) {
  return waitFor(`a picture of user ${uid} at the size of its tile`, async () => {
    const { width } = await tileViewSize(page, uid);
    const shot = await readTile(page, uid);
    if (!shot) return null;
    checkPicture(shot);
    return shot.width === width ? shot : null;
  });
}

/** Asks for pictures of another size through the tile's stream, as the demo does on a resize. */
export async function askViewSize(page, uid, width, height) {
  await page.evaluate(([uid, width, height]) => window.kelvoDemo.stream(uid).setViewSize(width, height),
    [uid, width, height]);
}

/** Changes the stand-in engine's frame geometry for new frames, through the page's own connection. */
export async function setFrameGeometry(page, video) {
  await page.evaluate((video) => window.kelvoDemo.agent.request('setParameters',
    { parameters: JSON.stringify({ 'sim.video': video }) }), video);
}

/** Waits until the picture stays the same for a second (a 30 fps stream that has stopped). */
export async function waitForStill(page, uid) {
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
export function waitForEngineStopped(agent) {
  const count = (text, line) => text.split(line).length - 1;
  return waitFor('the agent to stop the engine', () => {
    const log = agent.log();
    return count(log, '[wa] Rtc Engine destroyed') === count(log, '[wa] Rtc Engine initialized');
  });
}

/** Opens the demo page served by `site`, pointed at `agent`; page errors are collected. */
export async function openPage(browser, site, agent, query = '') {
  const page = await browser.context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(`${site.url}?agent=${encodeURIComponent(agent.url)}${query}`);
  await page.waitForSelector('body[data-ready="true"]');
  return { page, problems };
}

export async function initializeAndJoin(page, channel) {
  await page.click('#initialize');
  await page.waitForSelector('#status[data-state="ready"]');
  await page.fill('#channel-name', channel);
  await page.click('#join');
  await page.waitForSelector('#status[data-state="joined"]');
}

/** Keeps a reference to a tile's current stream, to look at it after the tile is gone. */
export async function holdStream(page, uid) {
  await page.evaluate((uid) => {
    window.heldStreams ??= new Map();
    window.heldStreams.set(uid, window.kelvoDemo.stream(uid));
  }, uid);
}

/** The held stream's state: {open, endReason}. */
export function heldStream(page, uid) {
  return page.evaluate((uid) => {
    const stream = window.heldStreams.get(uid);
    return { open: stream.open, endReason: stream.endReason };
  }, uid);
}
