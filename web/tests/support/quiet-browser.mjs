// Debian's Chromium driven over the DevTools protocol with network recording left off, for
// measuring video. Playwright switches network recording on for every page and worker, and then
// Chromium copies every WebSocket message, Base64-encoded, to the driver: a 1920x1080 stream at
// 30 frames per second drops to about 5 received frames per second under Playwright, while the
// same page without a driver receives all 30. The pages offer the few calls of Playwright's page
// that the demo helpers use: goto, evaluate, click, fill, waitForSelector, on('pageerror'), close.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromiumPath, waitFor } from './harness.mjs';

/** One DevTools protocol connection over the pipe that --remote-debugging-pipe opens (fds 3, 4). */
class Protocol {
  constructor(input, output) {
    this.input = input;
    this.nextId = 1;
    this.waiting = new Map();
    this.listeners = new Set();
    let pending = '';
    output.setEncoding('utf8');
    output.on('data', (chunk) => {
      const parts = (pending + chunk).split('\0');
      pending = parts.pop();
      for (const part of parts) this.receive(JSON.parse(part));
    });
  }

  receive(message) {
    const call = this.waiting.get(message.id);
    if (call === undefined) {
      for (const listener of this.listeners) listener(message);
      return;
    }
    this.waiting.delete(message.id);
    if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
    else call.resolve(message.result);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    this.input.write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject, method }));
  }
}

/** A page (one target) of the quiet browser. */
class QuietPage {
  constructor(protocol, targetId, sessionId) {
    this.protocol = protocol;
    this.targetId = targetId;
    this.sessionId = sessionId;
    this.errorListeners = [];
    this.loaded = null;
    this.listener = (message) => {
      if (message.sessionId !== sessionId) return;
      if (message.method === 'Page.loadEventFired') this.loaded?.();
      if (message.method === 'Runtime.exceptionThrown') {
        const details = message.params.exceptionDetails;
        const error = new Error(details.exception?.description ?? details.text);
        for (const listener of this.errorListeners) listener(error);
      }
    };
    protocol.listeners.add(this.listener);
  }

  send(method, params) {
    return this.protocol.send(method, params, this.sessionId);
  }

  on(name, listener) {
    if (name === 'pageerror') this.errorListeners.push(listener);
  }

  async goto(url) {
    const loaded = new Promise((done) => { this.loaded = done; });
    await this.send('Page.navigate', { url });
    await loaded;
  }

  /**
   * Runs fn(arg) in the page and returns its (awaited) value, as Playwright's evaluate does; a
   * string is evaluated as an expression.
   */
  async evaluate(fn, arg) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate', {
      expression: typeof fn === 'string' ? fn : `(${fn})(${arg === undefined ? '' : JSON.stringify(arg)})`,
      awaitPromise: true,
      returnByValue: true,
    });
    if (exceptionDetails) throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
    return result.value;
  }

  waitForSelector(selector) {
    return waitFor(selector, () => this.evaluate((s) => document.querySelector(s) !== null, selector),
      { timeoutMs: 30000 });
  }

  /** Clicks the element once it is there and enabled, as a user would. */
  async click(selector) {
    await waitFor(`${selector} to be enabled`, () => this.evaluate((s) => {
      const element = document.querySelector(s);
      if (!element || element.disabled || element.closest('fieldset:disabled')) return false;
      element.click();
      return true;
    }, selector), { timeoutMs: 30000 });
  }

  async fill(selector, value) {
    await this.evaluate(([s, v]) => {
      const element = document.querySelector(s);
      element.value = v;
      element.dispatchEvent(new Event('input', { bubbles: true }));
      element.dispatchEvent(new Event('change', { bubbles: true }));
    }, [selector, value]);
  }

  async close() {
    this.protocol.listeners.delete(this.listener);
    await this.protocol.send('Target.closeTarget', { targetId: this.targetId });
  }
}

/**
 * Launches Chromium headless with a fresh profile, 1280 x 900 like the Playwright pages; never
 * downloads a browser. Returns {context: {newPage, addInitScript}, pid, close}: pid is the
 * browser's main process, whose descendants are all of its processes.
 */
export async function launchQuietBrowser(extraArgs = []) {
  const profile = mkdtempSync(join(tmpdir(), 'kelvo-chromium-'));
  const child = spawn(chromiumPath, [
    '--headless', '--remote-debugging-pipe', `--user-data-dir=${profile}`, '--window-size=1280,900',
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--no-default-browser-check',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--mute-audio',
    // A page opened beside another must not be slowed down as a tab in the background would be.
    '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
    '--disable-backgrounding-occluded-windows',
    ...extraArgs, 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
  const exited = new Promise((done) => child.on('exit', done));
  for (const pipe of [child.stdio[3], child.stdio[4]]) pipe.on('error', () => {}); // the browser ended: seen at exit
  const protocol = new Protocol(child.stdio[3], child.stdio[4]);
  const initScripts = [];
  await protocol.send('Browser.getVersion');
  const context = {
    async newPage() {
      const { targetId } = await protocol.send('Target.createTarget', { url: 'about:blank' });
      const { sessionId } = await protocol.send('Target.attachToTarget', { targetId, flatten: true });
      const page = new QuietPage(protocol, targetId, sessionId);
      await Promise.all([page.send('Page.enable'), page.send('Runtime.enable')]);
      for (const source of initScripts) await page.send('Page.addScriptToEvaluateOnNewDocument', { source });
      return page;
    },
    /** Runs fn() in every page opened later, before the page's own scripts. */
    async addInitScript(fn) {
      initScripts.push(`(${fn})();`);
    },
  };
  return {
    context,
    pid: child.pid,
    async close() {
      protocol.send('Browser.close').catch(() => {});
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      await exited;
      clearTimeout(timer);
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
