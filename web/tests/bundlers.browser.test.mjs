// The package under the bundlers web developers use: the same page bundled by esbuild (with the
// stream worker as an entry point of its own, as the README says) and by Vite (which finds the
// worker by itself) reads its video in the worker; a bundle without the worker's file says so
// once on the console and reads video on the page, with no other noise.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, rmSync, symlinkSync, writeFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  startAgent, startStaticServer, launchBrowser, stopAll, waitFor, webRoot,
} from './support/harness.mjs';
import { waitForEngineStopped } from './support/demo-page.mjs';

/** The page: a session that shows the camera and counts the frames drawn. */
const PAGE_SCRIPT = `
import { openSession } from 'kelvo-web-agent';

async function call() {
  const agent = new URLSearchParams(location.search).get('agent');
  const session = await openSession({ url: agent, appID: 'bundled', reconnect: false });
  window.session = session;
  await session.join('room');
  window.frames = 0;
  await session.openCamera(() => { window.frames += 1; });
}
call().catch((error) => { window.failed = String(error); });
`;

/** The page around it (with an icon of its own: no request for /favicon.ico). */
const PAGE = '<!doctype html><meta charset="utf-8"><title>bundled</title><link rel="icon" href="data:,">' +
  '<script type="module" src="./main.js"></script>';

let agent;
let chromium;
let project;

before(async () => {
  agent = await startAgent();
  chromium = await launchBrowser();
  project = mkdtempSync(join(tmpdir(), 'kelvo-bundled-'));
  mkdirSync(join(project, 'node_modules'));
  symlinkSync(webRoot, join(project, 'node_modules', 'kelvo-web-agent'));
  writeFileSync(join(project, 'main.js'), PAGE_SCRIPT);
  writeFileSync(join(project, 'index.html'), PAGE);
});

after(async () => {
  if (project) rmSync(project, { recursive: true, force: true });
  await stopAll({ chromium, agent });
});

/** Serves `dist`, allows its origin, opens its page; returns what the page did. */
async function runBundle(dist) {
  const site = await startStaticServer({ routes: { '/': dist } });
  agent.allow(site.origin);
  const page = await chromium.context.newPage();
  const console = [];
  const failedRequests = [];
  page.on('console', (message) => console.push({ type: message.type(), text: message.text() }));
  page.on('requestfailed', (request) => failedRequests.push(request.url()));
  page.on('response', (response) => { if (response.status() >= 400) failedRequests.push(`${response.status()} ${response.url()}`); });
  try {
    await page.goto(`${site.url}index.html?agent=${encodeURIComponent(agent.url)}`);
    await waitFor('video to be drawn', async () => {
      const failed = await page.evaluate(() => window.failed);
      if (failed) throw new Error(failed);
      return (await page.evaluate(() => window.frames ?? 0)) > 5;
    });
    const workers = page.workers().map((worker) => worker.url());
    return { workers, console, failedRequests };
  } finally {
    await page.close();
    await site.stop();
    await waitForEngineStopped(agent);
  }
}

test('bundled by esbuild with the worker as its own entry point: video is read in the worker', async () => {
  const { build } = await import('esbuild');
  const dist = join(project, 'dist-esbuild');
  await build({
    absWorkingDir: project,
    entryPoints: ['main.js', 'kelvo-web-agent/stream-worker', 'kelvo-web-agent/drawing-worker'],
    bundle: true,
    format: 'esm',
    entryNames: '[name]',
    outdir: dist,
    logLevel: 'silent',
  });
  writeFileSync(join(dist, 'index.html'), PAGE);
  const ran = await runBundle(dist);
  assert.ok(ran.workers.some((url) => url.endsWith('/stream-worker.js')), `workers: ${ran.workers}`);
  assert.deepEqual(ran.failedRequests, []);
  assert.deepEqual(ran.console.filter((m) => m.type === 'warning' || m.type === 'error'), []);
});

test('bundled by Vite, which finds the worker by itself: video is read in the worker', async () => {
  const { build } = await import('vite');
  const dist = join(project, 'dist-vite');
  await build({ root: project, logLevel: 'silent', build: { outDir: dist, emptyOutDir: true }, configFile: false });
  assert.ok(readdirSync(join(dist, 'assets')).some((name) => /stream-worker/.test(name)), 'Vite emitted no worker');
  const ran = await runBundle(dist);
  assert.ok(ran.workers.some((url) => /stream-worker/.test(url)), `workers: ${ran.workers}`);
  assert.deepEqual(ran.failedRequests, []);
  assert.deepEqual(ran.console.filter((m) => m.type === 'warning' || m.type === 'error'), []);
});

test('a bundle without the worker\'s file: one warning, video read on the page, no probe of the agent', async () => {
  const { build } = await import('esbuild');
  const dist = join(project, 'dist-no-worker');
  await build({
    absWorkingDir: project, entryPoints: ['main.js'], bundle: true, format: 'esm', outdir: dist, logLevel: 'silent',
  });
  writeFileSync(join(dist, 'index.html'), PAGE);
  const ran = await runBundle(dist);
  const warnings = ran.console.filter((m) => m.type === 'warning');
  assert.equal(warnings.length, 1, JSON.stringify(ran.console));
  assert.match(warnings[0].text, /stream worker could not be loaded.*read on the page's main thread.*workerUrl/);
  // The agent was never probed as if it had failed.
  assert.ok(!ran.failedRequests.some((url) => url.includes(new URL(agent.url).port)), `${ran.failedRequests}`);
  assert.ok(!ran.console.some((m) => /426/.test(m.text)), JSON.stringify(ran.console));
});
