// One measured run of the browser video benchmark: a page drawing video for a few seconds while
// the draws (counted in the page), the messages received and the processor time are recorded.
import { startAgent, waitFor } from '../../web/tests/support/harness.mjs';
import { openPage, initializeAndJoin, setFrameGeometry } from '../../web/tests/support/demo-page.mjs';
import { startCpuMeter } from './proc-cpu.mjs';

const WARM_UP_MS = 2000;
const ENGINE_FPS = 30;

/**
 * Counts the binary messages that reach the page's own WebSockets (four per frame): what a page
 * library that reads its streams on the page received. (Sockets read in a worker are not seen
 * here; such a library counts its frames itself, see receivedFrames.)
 */
export function countMessages() {
  window.benchMessages = 0;
  const Native = window.WebSocket;
  window.WebSocket = class extends Native {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (event) => {
        if (typeof event.data !== 'string') window.benchMessages += 1;
      });
    }
  };
}

/** Frames received so far by the page: the library's own count where it keeps one. */
function receivedFrames() {
  const streams = window.benchStreams
    ?? [...document.querySelectorAll('.tile')].map((tile) => window.kelvoDemo?.stream?.(Number(tile.dataset.uid)));
  const counted = streams.filter((stream) => typeof stream?.received === 'number');
  if (counted.length > 0) return counted.reduce((sum, stream) => sum + stream.received, 0);
  return window.benchMessages / 4;
}

function percentile(sorted, p) {
  if (sorted.length === 0) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

/** Waits until every canvas of the page has drawn, lets it settle, then measures `seconds`. */
async function measure(page, { seconds, canvases, pids }) {
  await waitFor('every canvas to draw', () => page.evaluate((n) => window.benchDraws?.length >= n
    && window.benchDraws.every((r) => r.kind), canvases), { timeoutMs: 30000 });
  await page.evaluate(() => { window.benchMeasuring = true; });
  await waitFor('the first measured draws', () => page.evaluate(() => window.benchDraws.every((r) => r.draws > 0)),
    { timeoutMs: 30000 });
  await new Promise((done) => setTimeout(done, WARM_UP_MS));
  const start = await page.evaluate(`(() => {
    for (const record of window.benchDraws) Object.assign(record, { draws: 0, delays: [] });
    return { frames: (${receivedFrames})(), time: performance.now() };
  })()`);
  const stopCpu = startCpuMeter(pids);
  await new Promise((done) => setTimeout(done, seconds * 1000));
  const cpu = stopCpu();
  const end = await page.evaluate(`(() => {
    window.benchMeasuring = false;
    return { frames: (${receivedFrames})(), time: performance.now(), records: window.benchDraws };
  })()`);
  const elapsed = (end.time - start.time) / 1000;
  const records = end.records.slice(-canvases);
  const delays = records.flatMap((r) => r.delays).sort((a, b) => a - b);
  const frames = end.frames - start.frames;
  return {
    kind: records[0].kind,
    size: `${records[0].width}x${records[0].height}`,
    canvases,
    drawn: records.reduce((sum, r) => sum + r.draws, 0) / canvases / elapsed,
    p50: percentile(delays, 50),
    p95: percentile(delays, 95),
    received: frames / canvases / elapsed,
    agentCpu: cpu.agent,
    browserCpu: cpu.browser,
    agentMsPerFrame: frames > 0 && cpu.agent !== undefined ? (cpu.agent * 10 * elapsed) / frames : undefined,
    browserMsPerDrawn: (cpu.browser * 10) / records.reduce((sum, r) => sum + r.draws / elapsed, 0),
  };
}

function pageQuery(values) {
  return new URLSearchParams(Object.entries(values).filter(([, v]) => v !== undefined)).toString();
}

/** Starts the build's agent allowed for its site; runs `work(agent)`, then stops the agent. */
async function withAgent(build, site, work) {
  const agent = await startAgent({ program: build.agent });
  try {
    agent.allow(site.origin);
    return await work(agent);
  } finally {
    await agent.stop();
  }
}

/**
 * The benchmark page with `count` streams of width x height from simulated users, shown by the
 * page library's `path` (see page.js).
 */
export function runStreams({ browser, browserPid, build, site, scenario, seconds, path }) {
  return withAgent(build, site, async (agent) => {
    const page = await browser.context.newPage();
    try {
      await page.goto(`${site.url}bench/page.html?${pageQuery({
        mode: 'agent', path, agent: agent.url, count: scenario.count, width: scenario.width, height: scenario.height,
        fps: ENGINE_FPS, show: scenario.show, renderer: build.renderer,
      })}`);
      return await measure(page, { seconds, canvases: scenario.count, pids: { agent: agent.pid, browser: browserPid } });
    } finally {
      await page.close();
    }
  });
}

/** The benchmark page drawing frames it makes itself: this browser's own capacity. */
export async function runOwnFrames({ browser, browserPid, build, site, scenario, seconds }) {
  const page = await browser.context.newPage();
  try {
    await page.goto(`${site.url}bench/page.html?${pageQuery({
      mode: 'own', count: scenario.count, width: scenario.width, height: scenario.height,
      fps: ENGINE_FPS, show: scenario.show, renderer: build.renderer,
    })}`);
    return await measure(page, { seconds, canvases: scenario.count, pids: { browser: browserPid } });
  } finally {
    await page.close();
  }
}

/**
 * The demo page as a user drives it: join, then `count` simulated users whose engine makes
 * width x height video (the demo may ask for its tiles' size instead). Returns the measurement and
 * the tiles' size (CSS and device pixels), for the page-made baseline at that size.
 */
export function runDemo({ browser, browserPid, build, site, scenario, seconds }) {
  return withAgent(build, site, async (agent) => {
    const query = build.renderer ? `&renderer=${build.renderer}` : '';
    const { page } = await openPage(browser, site, agent, query);
    try {
      await initializeAndJoin(page, 'video-bench');
      await setFrameGeometry(page, { width: scenario.width, height: scenario.height, fps: ENGINE_FPS });
      for (let uid = 101; uid <= 100 + scenario.count; uid += 1) {
        await page.fill('#sim-uid', String(uid));
        await page.click('#sim-add');
        await page.waitForSelector(`.tile[data-uid="${uid}"]`);
      }
      const result = await measure(page, { seconds, canvases: scenario.count, pids: { agent: agent.pid, browser: browserPid } });
      const tile = await page.evaluate(() => {
        const box = document.querySelector('.tile .screen').getBoundingClientRect();
        const scale = window.devicePixelRatio || 1;
        return { show: `${Math.round(box.width)}x${Math.round(box.height)}`,
          width: Math.round(box.width * scale), height: Math.round(box.height * scale) };
      });
      return { ...result, tile };
    } finally {
      await page.close();
    }
  });
}
