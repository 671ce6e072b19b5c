// What a failure means and what to do about it, in two voices: `advice` for the person in front of
// the page (no commands of a source folder, no menu that their system does not have), and
// `developerHint` for the page's developer (addresses, switches, environment variables). Both name
// the address and the page's origin actually in use, never the defaults.

/** 'windows', 'mac', 'linux' or 'other': the system the page runs on, as the browser tells it. */
export function pagePlatform(navigatorLike = globalThis.navigator) {
  const name = String(navigatorLike?.userAgentData?.platform ?? navigatorLike?.platform ?? '').toLowerCase();
  if (name.startsWith('win')) return 'windows';
  if (name.startsWith('mac')) return 'mac';
  if (name.includes('linux') || name.includes('x11') || name.includes('cros')) return 'linux';
  return 'other';
}

/** The page's origin, or 'this site' where there is none (node, workers of opaque origins). */
function originOf(context) {
  const origin = context.origin ?? globalThis.location?.origin;
  return origin && origin !== 'null' ? origin : 'this site';
}

/** host:port of a WebSocket address, and the same address over the other scheme. */
function addressParts(url) {
  try {
    const address = new URL(url);
    const other = new URL(url);
    other.protocol = address.protocol === 'wss:' ? 'ws:' : 'wss:';
    const loopback = new URL(url);
    loopback.hostname = '127.0.0.1';
    const clean = (u) => u.href.replace(/\/$/, '');
    return { hostPort: address.host, port: address.port, otherScheme: clean(other), loopback: clean(loopback) };
  } catch {
    return { hostPort: url ?? 'the agent\'s address', port: '', otherScheme: '', loopback: '' };
  }
}

const AGENT = 'the Kelvo Web Agent';
const THE_AGENT = 'The Kelvo Web Agent';

/** How the user starts the agent on their system. */
function startTheAgent(platform) {
  if (platform === 'windows') return 'Start the Kelvo Web Agent from the Start menu, then try again.';
  if (platform === 'linux') return 'Start the Kelvo Web Agent (the program kelvo_web_agent), then try again.';
  return 'Start the Kelvo Web Agent, then try again.';
}

/** How the user allows a site that is blocked or was never answered for. */
function allowTheSite(platform, origin) {
  if (platform === 'windows') {
    return `Open the menu of the agent's icon in the notification area, choose Sites…, forget ${origin}, ` +
      'then reload this page and choose Allow when the agent asks.';
  }
  return `Allow it by running: kelvo_web_agent -allow ${origin} — then reload this page.`;
}

const PORT_VARIABLES = 'the agent\'s ports are 8922 (ws://) and 8921 (wss://) unless KELVO_AGENT_PLAIN_PORT or ' +
  'KELVO_AGENT_TLS_PORT say otherwise';

/**
 * The words for each reason: [what happened, advice, developer hint], each a function of the
 * context {url, origin, platform, plainUrl, closeCode, closeReason}.
 */
const WORDS = {
  timeout: [
    (c) => (c.url ? `no connection to ${c.url} within the time allowed` : 'the agent did not answer in time'),
    () => 'Try again in a moment.',
    (c) => (c.url
      ? `Opening ${c.url} took longer than timeoutMs; the agent may be starting or overloaded.`
      : 'No reply within timeoutMs (RequestOptions). The stand-in engine\'s log (RIZUDADA_LOG) has the agent\'s lines.'),
  ],
  closed: [
    () => 'the connection to the agent closed',
    () => 'Reload the page to connect again.',
    (c) => `The connection closed with code ${c.closeCode ?? 'unknown'}${c.closeReason ? ` ("${c.closeReason}")` : ''}.`,
  ],
  'not-running': [
    (c) => `nothing answers at ${addressParts(c.url).hostPort}; the agent is not running there`,
    (c) => startTheAgent(c.platform),
    (c) => `Nothing listens at ${c.url}. Start the agent (from its source folder: ./run); ${PORT_VARIABLES}, ` +
      'and openSession({url}) must name the port it uses.',
  ],
  'not-the-agent': [
    (c) => `another program answers at ${addressParts(c.url).hostPort}, not ${AGENT}`,
    (c) => `Another program uses the port ${AGENT} needs (${addressParts(c.url).port}). Quit that program, ` +
      'then start the agent again.',
    (c) => `${c.url} is served by an HTTP server that is not the agent (the agent answers a plain HTTP request ` +
      `with 426 and "Server: Kelvo Web Agent"). Check the port: ${PORT_VARIABLES}.`,
  ],
  'wrong-scheme': [
    (c) => `${addressParts(c.url).hostPort} is the agent's ${c.url?.startsWith('wss:') ? 'plain (ws://)' : 'TLS (wss://)'} port`,
    () => `This page uses a wrong address for ${AGENT}; tell the site's developer.`,
    (c) => `Use ${addressParts(c.url).otherScheme}: the port of ${c.url} speaks the other protocol ` +
      '(the plain port takes ws://, the TLS port wss://).',
  ],
  certificate: [
    () => 'the agent runs, but this browser does not trust its certificate',
    (c) => (c.platform === 'windows'
      ? `Install ${AGENT} again with its installer, which makes the browser trust it, then reload.`
      : `This browser does not trust the certificate of ${AGENT}; tell the site's developer.`),
    (c) => `${c.url} failed while the agent answers at ${c.plainUrl ?? 'its plain port'}: the browser does not ` +
      'trust the certificate, or the agent has none (kelvo_web_agent -make-certificate makes it; the Windows ' +
      `installer trusts it). Use ${c.plainUrl ?? 'the plain ws:// address'} meanwhile.`,
  ],
  'refused-host': [
    () => 'the agent answers only to the host names 127.0.0.1 and agent.kelvo.localhost',
    () => `This page uses a wrong address for ${AGENT}; tell the site's developer.`,
    (c) => `Connect to ${addressParts(c.url).loopback} instead of ${c.url}: the agent refuses other host names ` +
      '(localhost included). The page itself may be served from any origin the user allows.',
  ],
  'blocked-by-browser': [
    () => 'the browser does not let this page reach programs on this computer',
    (c) => `Allow ${originOf(c)} to reach apps and services on this device (the icon at the left of the ` +
      'address bar), then reload.',
    (c) => `Chromium's local network protection refused ${c.url} for ${originOf(c)}; it never lets pages of ` +
      'public http:// sites through: serve the page over https:// (or from a loopback address).',
  ],
  'refused-by-agent': [
    () => 'the agent refused the connection',
    () => `${THE_AGENT} serves only programs of the user it runs as, and a limited number of connections: ` +
      'use the browser as that user and close other pages that use it.',
    (c) => `${c.url} answered HTTP as the agent but refused the WebSocket: another OS user's browser, or 256 ` +
      'connections open on that port.',
  ],
  blocked: [
    (c) => `${originOf(c)} is blocked from using the agent`,
    (c) => `You blocked ${originOf(c)} from using ${AGENT}. ${allowTheSite(c.platform, originOf(c))}`,
    (c) => `The user's decision for ${originOf(c)} is "blocked"; the agent never asks again until the user ` +
      'forgets or allows it.',
  ],
  'not-asked-yet': [
    (c) => `${originOf(c)} is not allowed to use the agent yet`,
    () => 'Reload the page: the agent asks whether this site may use it when the page starts.',
    () => 'Only "initialize" asks the user (openSession sends it); the site is undecided, so every other command is refused.',
  ],
  dismissed: [
    (c) => `the question whether ${originOf(c)} may use the agent was closed without an answer`,
    (c) => (c.platform === 'windows'
      ? 'Wait ten minutes, reload the page and choose Allow when the agent asks.'
      : `Wait ten minutes, reload the page and choose Allow when the agent asks, or run: kelvo_web_agent -allow ${originOf(c)}`),
    () => 'A dismissed question is not asked again for 10 minutes; every "initialize" meanwhile is refused.',
  ],
  'question-timeout': [
    (c) => `nobody answered whether ${originOf(c)} may use the agent`,
    (c) => (c.platform === 'windows'
      ? 'Reload the page in ten minutes and answer the agent\'s question.'
      : `Reload the page in ten minutes and answer the agent's question, or run: kelvo_web_agent -allow ${originOf(c)}`),
    () => 'The question went unanswered for 60 s; the agent does not ask again for 10 minutes.',
  ],
  'too-many-questions': [
    () => 'too many sites are waiting for the user\'s answer',
    () => 'Answer the questions of the agent that are open, then reload the page.',
    () => 'The agent keeps 16 sites waiting at most (code 429).',
  ],
  'cannot-ask': [
    (c) => `the agent cannot ask whether ${originOf(c)} may use it`,
    (c) => `${THE_AGENT} has no way to ask you here. To allow this site, run: kelvo_web_agent -allow ${originOf(c)} — then reload.`,
    () => 'The agent found no question program (KELVO_AGENT_PROMPT, zenity or kdialog) or no display.',
  ],
  'null-origin': [
    () => 'this page has no web address the agent could ask about',
    () => `${THE_AGENT} does not serve pages opened from a file or in a sandboxed frame; tell the site's developer.`,
    () => 'The page\'s origin is "null" (file://, sandboxed iframe): serve it over http(s):// from any origin.',
  ],
  'sites-unreadable': [
    () => 'the agent cannot read its list of allowed sites, so it refuses every site',
    (c) => (c.platform === 'windows'
      ? 'Check that your user can read %APPDATA%\\Kelvo Web Agent\\sites.json, then restart the agent.'
      : 'Check that your user can read ~/.config/kelvo-web-agent/sites.json, then restart the agent.'),
    () => 'The agent\'s sites file is unreadable (XDG_CONFIG_HOME on Linux, APPDATA on Windows).',
  ],
  'other-site': [
    () => 'another site is using the agent',
    () => `Another site is using ${AGENT} right now; close it, then try again.`,
    () => '"preview", "subscribe" and "videoStat" are served only to the origin of the running session.',
  ],
  'refused-by-user': [
    (c) => `${originOf(c)} is not allowed to use the agent`,
    (c) => `Reload the page and choose Allow when ${AGENT} asks. ${allowTheSite(c.platform, originOf(c))}`,
    () => 'The agent answered 403 without saying why (an older agent).',
  ],
  'agent-quit': [
    () => 'the agent was quit',
    (c) => startTheAgent(c.platform).replace('then try again', 'then reload the page'),
    () => 'The agent closed with 1001 "the agent is quitting": the user ended it, so the session does not reconnect.',
  ],
  'site-blocked': [
    (c) => `${originOf(c)} was blocked while it used the agent`,
    (c) => `${THE_AGENT} stopped serving ${originOf(c)}. ${allowTheSite(c.platform, originOf(c))}`,
    () => 'The agent closed with 4003 "the user blocked this site"; the session does not reconnect.',
  ],
  'agent-lost': [
    () => 'the connection to the agent was lost',
    () => 'Reload the page.',
    (c) => `The control connection closed with code ${c.closeCode ?? 1006} and the session does not reconnect ` +
      '(reconnect: false, or it gave up).',
  ],
  'connection-lost': [
    () => 'the engine lost its connection to the service',
    () => 'Check the network, then join again.',
    () => 'Code 111, from the engine.',
  ],
  'incompatible-agent': [
    () => 'the agent speaks another version of the protocol than this page library',
    () => 'Install the current Kelvo Web Agent.',
    () => 'getAgentInfo().protocolVersion differs from PROTOCOL_VERSION: use the page library of the agent\'s release.',
  ],
  busy: [
    () => 'the engine is already in use by another page',
    () => `Another tab or page already uses ${AGENT}: close it, or use that tab, then try again.`,
    () => 'Code 19: the agent runs one session at a time (one control connection that initialized).',
  ],
  'not-ready': [
    () => 'the engine is not running (initialize first), or you are not in a channel',
    () => 'Try again.',
    () => 'Code 3: initialize (openSession) and join before this command.',
  ],
  'wrong-connection': [
    () => 'this command is not allowed on this connection',
    () => 'Reload the page.',
    () => 'Code 5: send it on the control connection (the one that initialized).',
  ],
  'engine-unavailable': [
    () => 'the engine library is not available',
    () => `Install ${AGENT} again: its engine library is missing.`,
    () => 'Code 7: the engine library beside the agent could not be loaded.',
  ],
  'invalid-request': [
    () => 'the request was not understood (unknown command, missing or invalid value)',
    () => 'Reload the page.',
    () => 'Codes 2 and 101: check the command\'s name and members (an empty appID is 101).',
  ],
  'nothing-found': [
    () => 'nothing was found',
    () => 'Connect a device and try again.',
    () => 'Code 1: the device or window list is empty.',
  ],
  'too-many-videos': [
    () => 'too many videos are open at once',
    () => 'Close a video before opening another.',
    () => 'Code 429: the agent keeps 64 videos at most.',
  ],
  'join-failed': [
    () => 'joining the channel failed',
    () => 'Check the network, then join again.',
    () => 'Codes 10 and 112: check the channel name and key.',
  ],
  engine: [
    () => 'the engine reported an error',
    () => 'Try again.',
    () => 'Any other code is the engine\'s own: the engine\'s documentation says what it means.',
  ],
};

/** The page's context for the words: its origin and platform, with what the failure carries. */
export function adviceContext(details = {}) {
  return { platform: pagePlatform(), ...details };
}

/** What happened, in plain words. */
export function describeReason(reason, context = adviceContext()) {
  return WORDS[reason]?.[0](context) ?? String(reason);
}

/** {advice, developerHint} for a reason in a context (adviceContext()). */
export function adviceFor(reason, context = adviceContext()) {
  const words = WORDS[reason];
  if (!words) return { advice: '', developerHint: '' };
  return { advice: words[1](context), developerHint: words[2](context) };
}
