// What the browser tests stand on: the real agent on free ports, a static server for the page,
// and Debian's Chromium driven through playwright-core.
import { spawn, spawnSync } from 'node:child_process';
import { createServer, connect as tcpConnect } from 'node:net';
import { createServer as createHttpServer } from 'node:http';
import {
  mkdtempSync, mkdirSync, readFileSync, existsSync, rmSync, copyFileSync, chmodSync, readdirSync, writeFileSync,
} from 'node:fs';
import { readFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, extname, normalize, dirname, resolve, basename } from 'node:path';
import { fileURLToPath } from 'node:url';

export const webRoot = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const repoRoot = resolve(webRoot, '..');
export const chromiumPath = process.env.KELVO_CHROMIUM ?? '/usr/bin/chromium';
export const agentPath = process.env.KELVO_AGENT_BIN ?? join(repoRoot, 'build', 'bin', 'kelvo_web_agent');
export const outputDir = process.env.KELVO_TEST_OUTPUT ?? join(repoRoot, 'build', 'test-output');

/** Polls check() until it returns a truthy value; fails with `what` after timeoutMs. */
export async function waitFor(what, check, { timeoutMs = 20000, intervalMs = 50 } = {}) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await check();
      if (value) return value;
    } catch (error) {
      last = error;
    }
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}${last ? `: ${last.message}` : ''}`);
    await new Promise((done) => setTimeout(done, intervalMs));
  }
}

export function freePort() {
  return new Promise((done, fail) => {
    const server = createServer();
    server.on('error', fail);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => done(port));
    });
  });
}

function portOpen(port) {
  return new Promise((done) => {
    const socket = tcpConnect({ host: '127.0.0.1', port });
    socket.on('connect', () => { socket.destroy(); done(true); });
    socket.on('error', () => done(false));
  });
}

/**
 * Copies the agent and its engine library into `folder` with a fresh self-signed certificate for
 * 127.0.0.1 beside them: the agent reads its TLS files from its own folder.
 */
function installWithCertificate(folder, built) {
  const program = join(folder, basename(built));
  copyFileSync(built, program);
  chmodSync(program, 0o755);
  for (const name of readdirSync(dirname(built)).filter((n) => /rizudada\.(so|dll)$/.test(n))) {
    copyFileSync(join(dirname(built), name), join(folder, name));
  }
  const made = spawnSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1',
    '-subj', '/CN=127.0.0.1', '-addext', 'subjectAltName=IP:127.0.0.1',
    '-keyout', join(folder, 'kelvo_key.pem'), '-out', join(folder, 'kelvo_cert_chain.pem')], { encoding: 'utf8' });
  if (made.status !== 0) throw new Error(`openssl could not make a certificate: ${made.stderr}`);
  return program;
}

/**
 * Starts the agent with the stand-in engine on two free ports; its engine log goes to a temp file,
 * its sites file to a folder of its own. With tls, a copy of the agent runs with a certificate and
 * the page's address is the TLS port. `prompt`: the path of the program that asks the user about
 * a site (none: an undecided site is refused); allow(origin) decides for a site as the user would
 * with the agent's -allow. `program`: another build of the agent (its engine library beside it).
 * end(how) ends it as a user or a crash would ('SIGKILL', 'SIGTERM', '-kill', '-kill-for-upgrade')
 * and restart() starts it again on the same ports with the same sites; stop() ends it for good.
 */
export async function startAgent({ tls = false, prompt = '', program: built = agentPath } = {}) {
  const folder = mkdtempSync(join(tmpdir(), 'kelvo-web-test-'));
  const tlsPort = await freePort();
  const plainPort = await freePort();
  const logPath = join(folder, 'rizudada.log');
  const program = tls ? installWithCertificate(folder, built) : built;
  const env = {
    ...process.env,
    KELVO_AGENT_TLS_PORT: String(tlsPort),
    KELVO_AGENT_PLAIN_PORT: String(plainPort),
    KELVO_AGENT_RUNTIME_DIR: folder,
    XDG_CONFIG_HOME: folder,
    KELVO_AGENT_PROMPT: prompt,
    DISPLAY: '',
    WAYLAND_DISPLAY: '',
    RIZUDADA_LOG: logPath,
  };
  let output = '';
  let child;
  let exited;
  let gone = null;
  const launch = async () => {
    gone = null;
    child = spawn(program, [], { env, stdio: ['ignore', 'pipe', 'pipe'] });
    child.stdout.on('data', (chunk) => { output += chunk; });
    child.stderr.on('data', (chunk) => { output += chunk; });
    exited = new Promise((done) => child.on('exit', (code, signal) => done({ code, signal })));
    exited.then((status) => { gone = status; });
    await waitFor('the agent to listen', async () => {
      if (gone) throw new Error(`the agent exited (${JSON.stringify(gone)}): ${output}`);
      return portOpen(plainPort);
    });
  };
  await launch();
  const runSwitch = (...words) => {
    const made = spawnSync(program, words, { env, encoding: 'utf8' });
    if (made.status !== 0) throw new Error(`${words.join(' ')} ended with ${made.status}: ${made.stderr}`);
  };
  return {
    url: tls ? `wss://127.0.0.1:${tlsPort}` : `ws://127.0.0.1:${plainPort}`,
    plainUrl: `ws://127.0.0.1:${plainPort}`,
    tlsUrl: `wss://127.0.0.1:${tlsPort}`,
    logPath,
    get pid() { return child.pid; },
    log: () => (existsSync(logPath) ? readFileSync(logPath, 'utf8') : ''),
    output: () => output,
    allow: (origin) => runSwitch('-allow', origin),
    block: (origin) => runSwitch('-block', origin),
    /** Ends the running agent: a signal, or one of its switches run as a second copy would. */
    async end(how) {
      if (how.startsWith('-')) runSwitch(how);
      else child.kill(how);
      return exited;
    },
    /** Starts it again, same ports, same sites; resolves once it listens. */
    restart: launch,
    async stop() {
      if (!gone) {
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
        await exited;
        clearTimeout(timer);
      }
      const status = await exited;
      rmSync(folder, { recursive: true, force: true });
      return status;
    },
  };
}

const MIME = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
};

/** The file that `routes` serves for a URL path: the longest matching prefix wins, else null. */
function routeFile(routes, path) {
  const prefix = Object.keys(routes).filter((p) => path.startsWith(p)).sort((a, b) => b.length - a.length)[0];
  if (prefix === undefined) return null;
  const target = resolve(routes[prefix]);
  if (!prefix.endsWith('/')) return path === prefix ? target : null;
  const file = join(target, path.slice(prefix.length) || 'index.html');
  return file.startsWith(target) ? file : null;
}

/**
 * Serves web/ on 127.0.0.1 (the agent only talks to pages whose host is the loopback address).
 * `routes` maps URL paths to folders (a path ending in /) or files, e.g. another build's pages.
 */
export async function startStaticServer({ routes = { '/': webRoot } } = {}) {
  const server = createHttpServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = routeFile(routes, path);
    if (file === null || !MIME[extname(file)]) {
      response.writeHead(404).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'content-type': MIME[extname(file)], 'cache-control': 'no-store' }).end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    origin: `http://127.0.0.1:${server.address().port}`,
    // Chromium keeps connections it opened ahead of need, which never send a request; close()
    // alone would wait minutes for them.
    stop: () => new Promise((done) => { server.close(done); server.closeAllConnections(); }),
  };
}

/**
 * A site of its own for a page that uses the library as a web developer's would: `indexHtml` at
 * /app/ (other files written with write(name, text)), the library at /app/kelvo-web-agent/.
 */
export async function startLibrarySite(indexHtml) {
  const folder = mkdtempSync(join(tmpdir(), 'kelvo-site-'));
  writeFileSync(join(folder, 'index.html'), indexHtml);
  const site = await startStaticServer({ routes: { '/app/': folder, '/app/kelvo-web-agent/': webRoot } });
  return {
    ...site,
    folder,
    write: (name, text) => writeFileSync(join(folder, name), text),
    async stop() {
      await site.stop();
      rmSync(folder, { recursive: true, force: true });
    },
  };
}

/** Ends what a test file started (any may be missing); the agent must end cleanly. */
export async function stopAll({ chromium, site, agent }) {
  await chromium?.close();
  await site?.stop();
  if (agent) {
    const status = await agent.stop();
    if (status.code !== 0) throw new Error(`the agent ended badly: ${JSON.stringify(status)}\n${agent.output()}`);
  }
}

/** Launches Debian's Chromium headless with a fresh profile folder; never downloads a browser. */
export async function launchBrowser(extraArgs = []) {
  const { chromium } = await import('playwright-core');
  const profile = mkdtempSync(join(tmpdir(), 'kelvo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 1280, height: 900 },
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      ...extraArgs,
    ],
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

export function ensureOutputDir() {
  mkdirSync(outputDir, { recursive: true });
  return outputDir;
}
