// Why a WebSocket to the agent failed. The browser's WebSocket error says nothing about it (on
// purpose: pages must not scan the network), but each cause leaves a trace a page may look at:
//
// - The browser's local-network protection (Chromium asks the user before a public site reaches
//   this computer, and never lets pages of http:// public sites through): the permission for the
//   loopback address is 'denied'.
// - A host name the agent does not accept (it answers only to 127.0.0.1 and its own loopback
//   name): the address says so.
// - Something answers a plain HTTP request at the address. The agent answers it with 426 and
//   its name, readable by any page: then the agent runs but refused this WebSocket (another OS
//   user's browser, or too many connections). Any other answer is another program on the port.
// - The port speaks the other protocol: a wss:// address whose port answers plain HTTP (the
//   agent's plain port), or a ws:// address whose port answers HTTPS (its TLS port).
// - An untrusted certificate: the TLS port fails like a closed one, but the agent answers on its
//   plain port (8922 beside the default 8921, or the plainUrl given).
// - Otherwise nothing answers: the agent is not running.
//
// The probes run only after a failure (and, for a wss:// address still opening after a moment,
// the one plain HTTP request that tells it is a plain port), so a page that connects makes none.

const ACCEPTED_HOSTS = new Set(['127.0.0.1', 'agent.kelvo.localhost']);
const AGENT_SERVER = 'Kelvo Web Agent';
const DEFAULT_TLS_PORT = '8921';
const DEFAULT_PLAIN_PORT = '8922';
const PROBE_TIMEOUT_MS = 1500;
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

/** The address as HTTP (`secure`: https) at the same host and port. */
function httpAddress(address, secure) {
  const http = new URL(address);
  http.protocol = secure ? 'https:' : 'http:';
  return http;
}

async function fetchWithin(url, mode) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), PROBE_TIMEOUT_MS);
  try {
    return await fetch(url, { mode, cache: 'no-store', credentials: 'omit', signal: controller.signal });
  } finally {
    clearTimeout(timer);
  }
}

/**
 * Who answers plain HTTP (or HTTPS) at the host and port: 'agent' (its 426 with its name),
 * 'other' (any other answer) or 'none'.
 */
export async function httpAnswerer(address, { secure = address.protocol === 'wss:' } = {}) {
  if (typeof fetch !== 'function') return 'none';
  const http = httpAddress(address, secure);
  try {
    const answer = await fetchWithin(http, 'cors');
    return answer.status === 426 && answer.headers.get('server') === AGENT_SERVER ? 'agent' : 'other';
  } catch {
    // Not readable by this page (no CORS: not the agent), or nothing answered.
  }
  try {
    await fetchWithin(http, 'no-cors');
    return 'other';
  } catch {
    return 'none';
  }
}

/** Whether a wss:// address's port answers plain HTTP: it is a plain port, not a TLS one. */
export async function isPlainPort(url) {
  return (await httpAnswerer(new URL(url), { secure: false })) !== 'none';
}

/** The agent's plain address beside a TLS address on the default port, else null. */
function defaultPlainUrl(address) {
  if (address.port !== DEFAULT_TLS_PORT) return null;
  return `ws://${address.hostname}:${DEFAULT_PLAIN_PORT}`;
}

/**
 * The reason a WebSocket to `url` failed: 'blocked-by-browser', 'refused-host',
 * 'refused-by-agent', 'not-the-agent', 'wrong-scheme', 'certificate' or 'not-running'.
 */
export async function whyUnreachable(url, { plainUrl } = {}) {
  const address = new URL(url);
  if (await browserBlocksLoopback()) return 'blocked-by-browser';
  if (!ACCEPTED_HOSTS.has(address.hostname)) return 'refused-host';
  const secure = address.protocol === 'wss:';
  const answerer = await httpAnswerer(address);
  if (answerer === 'agent') return 'refused-by-agent';
  if (answerer === 'other') return 'not-the-agent';
  // The same port over the other protocol: the agent's port of the other kind.
  if (await httpAnswerer(address, { secure: !secure }) !== 'none') return 'wrong-scheme';
  const plain = secure ? plainUrl ?? defaultPlainUrl(address) : null;
  if (plain && await httpAnswerer(new URL(plain)) !== 'none') return 'certificate';
  return 'not-running';
}
