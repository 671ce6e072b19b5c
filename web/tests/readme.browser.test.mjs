// The package README's snippets, run as written in Debian's Chromium against the real agent
// with the stand-in engine: the page is the README's page.html, its call.js the snippets, the
// library the web/ folder under the name the page's import map gives it. Only the agent's address
// is led elsewhere (the product's port to the test agent's free one), by wrapping the page's
// WebSocket and fetch before its scripts run. The test plays the other people in the call through
// the page's own control connection, with the stand-in engine's "sim." keys.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  startAgent, startLibrarySite, launchBrowser, stopAll, waitFor, freePort,
} from './support/harness.mjs';
import { pageScript, readSnippets } from './support/readme-snippets.mjs';
import { waitForEngineStopped } from './support/demo-page.mjs';

/** Runs in the page before its scripts: the product's agent address leads to `to`. */
function leadAgentAddress({ from, to }) {
  const lead = (address) => (String(address).includes(from) ? String(address).replace(from, to) : address);
  const NativeWebSocket = WebSocket;
  window.agentSockets = [];
  window.agentMessages = [];
  window.WebSocket = class extends NativeWebSocket {
    constructor(address, protocols) {
      super(lead(address), protocols);
      window.agentSockets.push(this);
      this.addEventListener('message', ({ data }) => window.agentMessages.push(data));
    }
  };
  const nativeFetch = window.fetch;
  window.fetch = (resource, options) => nativeFetch(typeof resource === 'string' || resource instanceof URL
    ? lead(resource) : resource, options);
}

const snippets = readSnippets();
let agent;
let chromium;
let site;

before(async () => {
  agent = await startAgent();
  chromium = await launchBrowser();
  assert.equal(snippets.get('page.html')?.language, 'html');
  site = await startLibrarySite(snippets.get('page.html').code);
  agent.allow(site.origin);
});

after(() => stopAll({ chromium, site, agent }));

/** Opens the README's page with `call.js` made of the snippet `name`, its agent at `agentUrl`. */
async function openReadmePage(name, agentUrl) {
  site.write('call.js', await pageScript(snippets, name));
  const page = await chromium.context.newPage();
  const problems = [];
  const logged = [];
  page.on('pageerror', (error) => problems.push(error.message));
  page.on('console', (message) => logged.push(message.text()));
  await page.addInitScript(leadAgentAddress, { from: '127.0.0.1:8922', to: new URL(agentUrl).host });
  await page.goto(`${site.url}app/`);
  return { page, problems, logged };
}

/** Plays the stand-in engine's other people through the page's control connection. */
function simulate(page, parameters) {
  return page.evaluate((text) => window.agentSockets[0].send(JSON.stringify({ command: 'setParameters', parameters: text })),
    JSON.stringify(parameters));
}

/** Sends a command on the page's control connection, as another part of the page might. */
function send(page, message) {
  return page.evaluate((text) => window.agentSockets[0].send(text), JSON.stringify(message));
}

/** The canvases in #videos: their titles and sizes (a canvas takes its frame's size once drawn). */
function canvases(page) {
  return page.$$eval('#videos canvas', (all) => all.map((c) => ({ title: c.title, width: c.width, marked: c.dataset.marked === 'yes' })));
}

function waitForDrawn(page, title) {
  return waitFor(`a picture of ${title}`, async () => (await canvases(page))
    .find((c) => c.title === title && c.width === 320)); // the stand-in's frames are 320 wide
}

test('the README\'s call: remote videos through mute, unmute and leaving users, the camera, events, leaving', async () => {
  const { page, problems, logged } = await openReadmePage('leave', agent.url);
  await waitFor('the call', async () => /^In the call as user \d+$/.test(await page.textContent('#status')));
  await waitForDrawn(page, 'You');

  await simulate(page, { 'sim.peer.add': { uid: 501, video: true } });
  await waitForDrawn(page, 'User 501');
  await page.$eval('#videos canvas[title="User 501"]', (canvas) => { canvas.dataset.marked = 'yes'; });
  await send(page, { command: 'disableVideo', streamID: 501 });
  await send(page, { command: 'enableVideo', streamID: 501 });
  await simulate(page, { 'sim.peer.mute_video': { uid: 501, muted: true } });
  await waitFor('the mute event', () => logged.includes('user 501 paused their video'));
  await simulate(page, { 'sim.peer.mute_video': { uid: 501, muted: false } });
  await waitFor('the unmute event', () => logged.includes('user 501 resumed their video'));
  await waitFor('the resumed video announced again', () => page.evaluate(() => window.agentMessages
    .filter((text) => text === '{"command":"onAddVideoStream","uid":501}').length === 2));
  const users = (await canvases(page)).filter((c) => c.title === 'User 501');
  assert.deepEqual(users.map((c) => c.marked), [true], 'one canvas for the user, the same one');
  assert.equal(agent.log().split('[wa] setup video channel for user 501').length - 1, 1, 'one stream for the user');

  await simulate(page, { 'sim.peer.remove': 501 });
  await waitFor('the canvas of the user who left to go', async () => !(await canvases(page)).some((c) => c.title === 'User 501'));
  await simulate(page, { 'sim.peer.add': { uid: 502, video: true } });
  await waitForDrawn(page, 'User 502');
  // The media snippet muted and unmuted everything with the typed helpers.
  const sent = await page.evaluate(() => window.agentMessages.filter((text) => /"command":"(muteLocal|unmuteLocal|enableLocalVideo|disableVideo|enableVideo)"/.test(text)));
  for (const command of ['muteLocal', 'unmuteLocal', 'disableVideo', 'enableVideo']) {
    assert.ok(sent.includes(`{"command":"${command}","code":true}`), `${command} answered: ${sent}`);
  }

  await page.click('#leave');
  await waitFor('leaving', async () => (await page.textContent('#status')) === 'You left the call');
  assert.deepEqual(await canvases(page), []);
  await waitForEngineStopped(agent);
  assert.deepEqual(problems, []);
  await page.close();
});

test('the README\'s error handling tells the user what to do', async () => {
  const { page, problems } = await openReadmePage('errors', `ws://127.0.0.1:${await freePort()}`);
  await waitFor('the error', async () => (await page.textContent('#status')) !== '');
  assert.match(await page.textContent('#status'),
    /^Cannot connect to ws:\/\/127\.0\.0\.1:\d+\/?: nothing answers .*\. Start the Kelvo Web Agent/);
  assert.deepEqual(problems, []);
  await page.close();
});

test('the README\'s simulated users come and go with the typed helpers', async () => {
  const { page, problems } = await openReadmePage('testing', agent.url);
  const told = (text) => page.evaluate((wanted) => window.agentMessages.includes(wanted), text);
  await waitFor('the simulated user to join and leave', async () => await told('{"command":"onAddVideoStream","uid":501}')
    && await told('{"event":"onUserMuteVideo","uid":501,"muted":true}') && await told('{"command":"onPeerLeave","uid":501,"reason":0}'));
  await waitFor('their canvas to go', async () => !(await canvases(page)).some((c) => c.title === 'User 501'));
  assert.deepEqual(problems, []);
  await page.close();
  await waitForEngineStopped(agent);
});

test('the README\'s connection and stream underneath the session', async () => {
  const { page, problems } = await openReadmePage('connection', agent.url);
  await waitFor('the versions', async () => /^Agent \d+\.\d+\.\d+, engine \S+$/.test(await page.textContent('#status')));
  await waitForEngineStopped(agent);
  assert.deepEqual(problems, []);
  await page.close();
});
