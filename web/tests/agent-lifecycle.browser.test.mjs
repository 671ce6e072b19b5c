// The page library in Debian's Chromium against the real agent: a session that survives the
// agent going away (killed and started again, restarted for an upgrade) and one that does not
// come back after the user quit the agent; and the advice for each way a page can fail to reach
// or use the agent, checked as the page's user and developer would read it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { writeFileSync, chmodSync } from 'node:fs';
import { join } from 'node:path';
import {
  startAgent, startLibrarySite, launchBrowser, stopAll, waitFor, freePort,
} from './support/harness.mjs';

const PAGE = '<!doctype html><meta charset="utf-8"><title>call</title>';
let agent;
let chromium;
let site;

before(async () => {
  agent = await startAgent();
  chromium = await launchBrowser();
  site = await startLibrarySite(PAGE);
  agent.allow(site.origin);
});

after(() => stopAll({ chromium, site, agent }));

/** A page of the site with the library loaded as window.kelvo and window.testing. */
async function openLibraryPage(browser = chromium, where = site) {
  const page = await browser.context.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(`${where.url}app/`);
  await page.evaluate(async () => {
    window.kelvo = await import('./kelvo-web-agent/kelvo-agent.js');
    window.testing = await import('./kelvo-web-agent/testing.js');
  });
  return { page, problems };
}

/**
 * In the page: a session at `url`, joined to 'room' with the camera on and every remote video
 * followed; each view records when it last drew (window.drawnAt[uid]) and the state changes go
 * to window.states.
 */
function startCall(page, url) {
  return page.evaluate(async (address) => {
    window.drawnAt = {};
    window.states = [];
    const view = (uid) => ({ draw: () => { window.drawnAt[uid] = Date.now(); } });
    const session = await window.kelvo.openSession({ url: address, appID: 'lifecycle' });
    window.stateAt = {};
    session.on('statechange', ({ state, reason }) => {
      window.states.push(reason ? `${state}:${reason}` : state);
      window.stateAt[state] = Date.now();
    });
    window.session = session;
    window.remote = session.followRemoteVideos(view);
    await session.join('room');
    window.camera = await session.openCamera(view(0));
    // The camera is also drawn into a canvas and fed into a track where the stream is read.
    window.shownAt = {};
    window.camera.on('shown', ({ kind }) => { window.shownAt[kind] = Date.now(); });
    window.camera.drawTo(document.body.appendChild(document.createElement('canvas')));
    const video = document.body.appendChild(document.createElement('video'));
    video.muted = true;
    video.srcObject = new MediaStream([window.camera.track]);
    video.play().catch(() => {});
    await window.testing.simulateUser(session, { uid: 5 });
    return session.uid;
  }, url);
}

const stateOf = (page) => page.evaluate(() => window.session.state);

/** Where the agent's log ends now: engineStopped() counts from there (a killed agent's engine
 * never logs its end). */
const logMark = () => agent.log().length;
function engineStopped(mark) {
  const count = (line) => agent.log().slice(mark).split(line).length - 1;
  return waitFor('the agent to stop the engine',
    () => count('[wa] Rtc Engine destroyed') === count('[wa] Rtc Engine initialized'));
}
const drawnSince = (page, uid, since) => page.evaluate(([u, t]) => (window.drawnAt[u] ?? 0) > t, [uid, since]);

test('a call survives the agent killed and restarted, and an upgrade\'s restart: the same tiles draw again', async (t) => {
  const { page, problems } = await openLibraryPage();
  const uid = await startCall(page, agent.url);
  await waitFor('both tiles to draw', async () => await drawnSince(page, 0, 0) && drawnSince(page, 5, 0));
  await waitFor('the camera\'s canvas and track to show', () => page.evaluate(() => window.shownAt.canvas > 0 && window.shownAt.track > 0));
  await page.evaluate(() => { window.firstStreams = [window.camera, window.remote.get(5)]; });
  let mark = logMark();

  for (const how of ['SIGKILL', '-kill-for-upgrade']) {
    await agent.end(how);
    await waitFor(`the page to notice (${how})`, async () => (await stateOf(page)) === 'reconnecting');
    assert.deepEqual(await page.evaluate(() => [window.camera.paused, window.remote.get(5)?.paused]), [true, true]);
    await agent.restart();
    const listening = Date.now();
    mark = logMark();
    await waitFor(`the page to rejoin (${how})`, async () => (await stateOf(page)) === 'joined');
    // The engine is new: the other person comes back as the network would bring them.
    await page.evaluate(() => window.testing.simulateUser(window.session, { uid: 5 }));
    await waitFor(`both tiles to draw again (${how})`, async () => await drawnSince(page, 0, listening) && drawnSince(page, 5, listening));
    await waitFor(`the camera's canvas and track to show again (${how})`, () => page.evaluate(
      (t) => window.shownAt.canvas > t && window.shownAt.track > t, listening));
    assert.equal(await page.evaluate(() => window.camera.track.readyState), 'live', how);
    const [camera, remote] = await page.evaluate(() => [window.drawnAt[0], window.drawnAt[5]]);
    const drawing = Math.max(camera, remote);
    const ready = await page.evaluate(() => window.stateAt.ready);
    t.diagnostic(`${how}: initialized again ${ready - listening} ms, the camera drew again ${camera - listening} ms, ` +
      `the remote user ${remote - listening} ms after the agent listened`);
    assert.ok(drawing - listening < 3000, `${how}: drawing again ${drawing - listening} ms after the agent listened`);
    assert.deepEqual(await page.evaluate(() => [window.session.uid, window.session.channel,
      window.camera === window.firstStreams[0], window.remote.get(5) === window.firstStreams[1],
      window.camera.endReason]), [uid, 'room', true, true, null], how);
  }
  assert.deepEqual(problems, []);
  await page.close();
  await engineStopped(mark);
});

test('a call ends for good when the user quits the agent: the next agent is not rejoined and the camera stays off', async () => {
  for (const how of ['-kill', 'SIGTERM']) {
    const { page, problems } = await openLibraryPage();
    await startCall(page, agent.url);
    await waitFor('the camera to draw', () => drawnSince(page, 0, 0));
    const ended = await agent.end(how);
    assert.equal(ended.code, 0, how);
    await waitFor(`the session to close (${how})`, async () => (await stateOf(page)) === 'closed');
    assert.deepEqual(await page.evaluate(() => [window.session.closeReason, window.session.closeError.reason,
      window.session.closeError.closeCode, window.camera.endReason, window.states.includes('reconnecting')]),
    ['agent-quit', 'agent-quit', 1001, 'session-ended', false], how);
    assert.match(await page.evaluate(() => window.session.closeError.advice), /Start the Kelvo Web Agent/);
    await agent.restart();
    const initialized = agent.log().split('[wa] Rtc Engine initialized').length;
    await new Promise((done) => setTimeout(done, 2500)); // longer than the longest wait between tries
    assert.equal(await stateOf(page), 'closed', how);
    assert.equal(agent.log().split('[wa] Rtc Engine initialized').length, initialized, `${how}: the new agent was rejoined`);
    assert.deepEqual(problems, []);
    await page.close();
  }
});

/** In the page: opens a session at `url` (with `options`) and returns how it failed, and how fast. */
function failure(page, url, options = {}) {
  return page.evaluate(async ([address, extra]) => {
    const started = performance.now();
    try {
      const session = await window.kelvo.openSession({ url: address, appID: 'advice', reconnect: false, ...extra });
      session.close();
      return null;
    } catch (error) {
      return {
        reason: error.reason, code: error.code, message: error.message, advice: error.advice,
        hint: error.developerHint, ms: performance.now() - started,
      };
    }
  }, [url, options]);
}

/** What a Linux page's user must never be told. */
function checkUserWords(row, failed) {
  assert.ok(failed, `${row}: it connected`);
  assert.doesNotMatch(failed.advice, /\.\/run|tray|notification area|Start menu|Sites…/, `${row}: ${failed.advice}`);
}

test('the advice fits each way of failing to reach the agent, with the address in use', async (t) => {
  const { page, problems } = await openLibraryPage();
  const plainPort = new URL(agent.plainUrl).port;
  const tlsPort = new URL(agent.tlsUrl).port;
  const nothing = await freePort();
  const sitePort = new URL(site.url).port;

  await t.test('agent not running', async () => {
    const failed = await failure(page, `ws://127.0.0.1:${nothing}`);
    checkUserWords('not running', failed);
    assert.equal(failed.reason, 'not-running');
    assert.match(failed.advice, /Start the Kelvo Web Agent \(the program kelvo_web_agent\)/);
    assert.ok(failed.hint.includes(`ws://127.0.0.1:${nothing}`) && failed.hint.includes('./run'), failed.hint);
  });
  await t.test('another program on the port', async () => {
    const failed = await failure(page, `ws://127.0.0.1:${sitePort}`);
    checkUserWords('another program', failed);
    assert.equal(failed.reason, 'not-the-agent');
    assert.ok(failed.advice.includes(`(${sitePort})`), failed.advice);
  });
  await t.test('wss:// to the plain port, recognised within 2 s', async () => {
    const failed = await failure(page, `wss://127.0.0.1:${plainPort}`);
    checkUserWords('wss to plain', failed);
    assert.equal(failed.reason, 'wrong-scheme');
    assert.ok(failed.ms < 2000, `${failed.ms} ms`);
    assert.ok(failed.hint.includes(`Use ws://127.0.0.1:${plainPort}`), failed.hint);
  });
  await t.test('wss:// that the browser cannot use (no certificate, or none it trusts)', async () => {
    // The test's agent has no certificate pair the browser trusts: the TLS port fails, the plain one answers.
    const failed = await failure(page, `wss://127.0.0.1:${tlsPort}`, { plainUrl: agent.plainUrl });
    checkUserWords('no certificate', failed);
    assert.equal(failed.reason, 'certificate');
    assert.ok(failed.hint.includes('-make-certificate') && failed.hint.includes(agent.plainUrl), failed.hint);
  });
  await t.test('localhost as the agent\'s host', async () => {
    const failed = await failure(page, `ws://localhost:${plainPort}`);
    checkUserWords('localhost', failed);
    assert.equal(failed.reason, 'refused-host');
    assert.ok(failed.hint.includes(`ws://127.0.0.1:${plainPort}`), failed.hint);
  });
  await t.test('a second tab (code 19)', async () => {
    const mark = logMark();
    const first = await openLibraryPage();
    await first.page.evaluate((address) => window.kelvo.openSession({ url: address, appID: 'first' })
      .then((session) => { window.session = session; }), agent.url);
    const failed = await failure(page, agent.url);
    checkUserWords('second tab', failed);
    assert.deepEqual([failed.reason, failed.code], ['busy', 19]);
    assert.match(failed.advice, /Another tab or page already uses/);
    await first.page.close();
    await engineStopped(mark);
  });
  // The agent's answer to a plain HTTP request, which lets a page tell it from another program.
  const answer = await fetch(agent.plainUrl.replace('ws:', 'http:'));
  assert.deepEqual([answer.status, answer.headers.get('server'), answer.headers.get('access-control-allow-origin')],
    [426, 'Kelvo Web Agent', '*']);
  assert.deepEqual(problems, []);
  await page.close();
});

test('over TLS: ws:// to the TLS port says to use wss://; an untrusted certificate is told apart', async () => {
  const secure = await startAgent({ tls: true });
  secure.allow(site.origin);
  const trusting = await launchBrowser(['--ignore-certificate-errors']);
  try {
    const tlsPort = new URL(secure.tlsUrl).port;
    const trusted = await openLibraryPage(trusting);
    const wrong = await failure(trusted.page, `ws://127.0.0.1:${tlsPort}`);
    checkUserWords('ws to TLS', wrong);
    assert.equal(wrong.reason, 'wrong-scheme');
    assert.ok(wrong.ms < 2000, `${wrong.ms} ms`);
    assert.ok(wrong.hint.includes(`Use wss://127.0.0.1:${tlsPort}`), wrong.hint);
    await trusted.page.close();

    const untrusting = await openLibraryPage();
    const failed = await failure(untrusting.page, secure.tlsUrl, { plainUrl: secure.plainUrl });
    checkUserWords('untrusted', failed);
    assert.equal(failed.reason, 'certificate');
    assert.match(failed.message, /does not trust its certificate/);
    await untrusting.page.close();
  } finally {
    await trusting.close();
    await secure.stop();
  }
});

/** A question program that answers every question with `exitCode` (0 allow, 1 block, 2 dismissed). */
function questionProgram(exitCode) {
  const path = join(site.folder, `answer-${exitCode}.sh`);
  writeFileSync(path, `#!/bin/sh\nexit ${exitCode}\n`);
  chmodSync(path, 0o755);
  return path;
}

test('refusals: blocked, not asked yet, dismissed, no way to ask; a block while in a call ends it', async () => {
  const dismissing = await startAgent({ prompt: questionProgram(2) });
  const other = await startLibrarySite(PAGE);
  try {
    const { page, problems } = await openLibraryPage(chromium, other);
    const origin = other.origin;
    // Before any "initialize": the site is not asked about yet (one that could not be asked is
    // refused with that reason for a while afterwards).
    const notAsked = await page.evaluate(async (address) => {
      const connection = await window.kelvo.connect(address);
      try {
        await connection.request('getDevices');
        return null;
      } catch (error) {
        return { reason: error.reason, advice: error.advice };
      } finally {
        connection.close();
      }
    }, agent.url);
    assert.equal(notAsked.reason, 'not-asked-yet');
    assert.match(notAsked.advice, /Reload the page/);

    const probe = await failure(page, agent.url); // undecided, and the test's agent cannot ask
    checkUserWords('cannot ask', probe);
    assert.equal(probe.reason, 'cannot-ask');
    assert.ok(probe.advice.includes(`kelvo_web_agent -allow ${origin}`), probe.advice);

    const dismissed = await failure(page, dismissing.url);
    checkUserWords('dismissed', dismissed);
    assert.equal(dismissed.reason, 'dismissed');
    assert.match(dismissed.advice, /ten minutes/);

    agent.block(origin);
    const blocked = await failure(page, agent.url);
    checkUserWords('blocked', blocked);
    assert.equal(blocked.reason, 'blocked');
    assert.ok(blocked.advice.includes(`You blocked ${origin}`) && blocked.advice.includes(`kelvo_web_agent -allow ${origin}`), blocked.advice);
    assert.doesNotMatch(blocked.advice, /choose Allow when the agent asks/);
    assert.deepEqual(problems, []);
    await page.close();

    // A block while the site is in a call ends the session, for good.
    const inCall = await openLibraryPage();
    await startCall(inCall.page, agent.url);
    agent.block(site.origin);
    await waitFor('the session to close', async () => (await stateOf(inCall.page)) === 'closed');
    assert.deepEqual(await inCall.page.evaluate(() => [window.session.closeReason, window.session.closeError.closeCode]),
      ['site-blocked', 4003]);
    await inCall.page.close();
  } finally {
    agent.allow(site.origin);
    await other.stop();
    await dismissing.stop();
  }
});
