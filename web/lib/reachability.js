// Why a WebSocket to the agent failed. The browser's WebSocket error says nothing about it (on
// purpose: pages must not scan the network), but each cause leaves a trace a page may look at:
//
// - The browser's local-network protection (Chromium asks the user before a public site reaches
//   this computer, and never lets pages of http:// public sites through): the permission for the
//   loopback address is 'denied'.
// - A host name the agent does not accept (it answers only to 127.0.0.1 and its own loopback
//   name): the address says so.
// - The agent runs but refused this WebSocket (another OS user's browser, or too many
//   connections): its port still answers a plain HTTP request, which fetch() in no-cors mode sees
//   as an opaque answer, whatever the status.
// - An untrusted certificate: the TLS port fails like a closed one, but the agent answers on its
//   plain port (8922 beside the default 8921, or the plainUrl given).
// - Otherwise nothing answers: the agent is not running.

const ACCEPTED_HOSTS = new Set(['127.0.0.1', 'agent.kelvo.localhost']);
const DEFAULT_TLS_PORT = '8921';
const DEFAULT_PLAIN_PORT = '8922';
const PROBE_TIMEOUT_MS = 3000;
/** Chromium's permission for reaching the loopback address; its earlier name covered all local
 * addresses. Browsers without it throw on the query. */
const LOOPBACK_PERMISSIONS = ['loopback-network', 'local-network-access'];

async function browserBlocksLoopback() {
  const permissions = globalThis.navigator?.permissions;
  if (!permissions) return false;
  for (const name of LOOPBACK_PERMISSIONS) {
    try {
      return (await permissions.query({ name })).state === 'denied';
    } catch {
      // not a permission of this browser: try the next name
    }
  }
  return false;
}

/** Whether anything at the WebSocket address's host and port answers an HTTP request. */
async function answersHttp(address) {
  if (typeof fetch !== 'function') return false;
  const http = new URL(address);
  http.protocol = http.protocol === 'wss:' ? 'https:' : 'http:';
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), PROBE_TIMEOUT_MS);
  try {
    await fetch(http, { mode: 'no-cors', cache: 'no-store', credentials: 'omit', signal: controller.signal });
    return true;
  } catch {
    return false;
  } finally {
    clearTimeout(timer);
  }
}

/** The agent's plain address beside a TLS address on the default port, else null. */
function defaultPlainUrl(address) {
  if (address.port !== DEFAULT_TLS_PORT) return null;
  return `ws://${address.hostname}:${DEFAULT_PLAIN_PORT}`;
}

/**
 * The reason a WebSocket to `url` failed: 'blocked-by-browser', 'refused-host',
 * 'refused-by-agent', 'certificate' or 'not-running'.
 */
export async function whyUnreachable(url, { plainUrl } = {}) {
  const address = new URL(url);
  if (await browserBlocksLoopback()) return 'blocked-by-browser';
  if (!ACCEPTED_HOSTS.has(address.hostname)) return 'refused-host';
  if (await answersHttp(address)) return 'refused-by-agent';
  const plain = address.protocol === 'wss:' ? plainUrl ?? defaultPlainUrl(address) : null;
  if (plain && await answersHttp(new URL(plain))) return 'certificate';
  return 'not-running';
}
