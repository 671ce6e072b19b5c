// The demo page over the agent's TLS port (wss://), with a certificate the browser is told to accept.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startAgent, startStaticServer, launchBrowser } from './support/harness.mjs';
import { waitForNewerPicture, openPage, initializeAndJoin } from './support/demo-page.mjs';

let agent;
let site;
let chromium;

before(async () => {
  agent = await startAgent({ tls: true });
  site = await startStaticServer();
  agent.allow(site.origin);
  // The certificate is made for this run; a user would trust it instead.
  chromium = await launchBrowser(['--ignore-certificate-errors']);
});

after(async () => {
  await chromium?.close();
  await site?.stop();
  if (agent) {
    const status = await agent.stop();
    assert.equal(status.code, 0, `the agent ended badly: ${JSON.stringify(status)}\n${agent.output()}`);
  }
});

test('over wss the page starts the engine, joins and draws a remote user', async () => {
  assert.match(agent.url, /^wss:\/\/127\.0\.0\.1:\d+$/);
  const { page, problems } = await openPage(chromium, site, agent);
  await initializeAndJoin(page, 'secure-room');
  await page.fill('#sim-uid', '5');
  await page.click('#sim-add');
  const first = await waitForNewerPicture(page, 5);
  await waitForNewerPicture(page, 5, first);
  await page.click('#disconnect');
  assert.deepEqual(problems, []);
  await page.close();
});
