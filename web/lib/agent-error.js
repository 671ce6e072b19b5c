// One error type for everything that can go wrong between a page and the agent. A page branches
// on `reason`, a stable word; `code` is the agent's numeric reply or event code where there is
// one; the message says what happened in plain words and `advice` what the user can do.

/** Codes the agent itself produces, and the engine codes the agent sends for it. */
const CODE_TEXT = {
  1: 'nothing was found',
  2: 'the request was not understood (unknown command, missing or invalid value)',
  3: 'the engine is not running (initialize first), or you are not in a channel',
  5: 'this command is not allowed on this connection',
  7: 'the engine library is not available',
  10: 'joining the channel failed',
  19: 'the engine is already in use by another page',
  101: 'the application id is empty',
  111: 'the connection to the service was lost',
  112: 'joining the channel failed',
  403: 'the user has not allowed this site to use the agent (the agent asks once per site; the ' +
    'user can change the decision in the tray menu\'s Sites… or with kelvo_web_agent -allow ORIGIN)',
  429: 'too many videos are open at once (close a stream first)',
};

/** The engine's own results that the agent passes on (with their sign in deferred replies). */
const ENGINE_TEXT = {
  [-1]: 'the engine could not do it',
  [-2]: 'the engine refused a value as invalid',
};

const CODE_REASON = {
  1: 'nothing-found',
  2: 'invalid-request',
  3: 'not-ready',
  5: 'wrong-connection',
  7: 'engine-unavailable',
  10: 'join-failed',
  19: 'busy',
  101: 'invalid-request',
  111: 'connection-lost',
  112: 'join-failed',
  403: 'refused-by-user',
  429: 'too-many-videos',
};

const START_AGENT = 'Start the Kelvo Web Agent (installed: from the start menu, or log in again; ' +
  'from its source folder: ./run) and try again.';

/** What happened and what to do, for each reason. */
const REASONS = {
  timeout: ['the agent did not answer in time',
    'Try again. If it keeps happening, quit the agent and start it again.'],
  closed: ['the connection to the agent closed', 'Connect again.'],
  'not-running': ['nothing answers there; the agent is not running', START_AGENT],
  certificate: ['the agent runs, but this browser does not trust its certificate',
    'Install the agent with its installer, which makes the browser trust it (Firefox: set ' +
    'security.enterprise_roots.enabled), or connect to the plain address ws://127.0.0.1:8922.'],
  'refused-host': ['the agent answers only to the host names 127.0.0.1 and agent.kelvo.localhost',
    'Connect to ws://127.0.0.1:8922 (or wss://127.0.0.1:8921), not to localhost or another name.'],
  'blocked-by-browser': ['the browser does not let this page reach programs on this computer',
    'Allow this site to access other apps and services on this device (the icon at the left of ' +
    'the address bar), then reload. Chromium never lets pages of http:// sites reach them: serve ' +
    'the page over https:// or from 127.0.0.1.'],
  'refused-by-agent': ['the agent refused the connection',
    'The agent serves only programs of the user it runs as, and 256 connections at most: run the ' +
    'browser as that user and close other pages that use the agent.'],
  'refused-by-user': ['the user has not allowed this site to use the agent',
    'Reload and choose Allow when the agent asks about this site, or run kelvo_web_agent -allow ' +
    'with the site\'s address; the tray menu\'s Sites… lists the decisions.'],
  'incompatible-agent': ['the agent speaks another version of the protocol than this page library',
    'Install the current Kelvo Web Agent and the page library of the same release.'],
  busy: [CODE_TEXT[19], 'Close the other page that uses the agent, or use that page.'],
  'not-ready': [CODE_TEXT[3], 'Initialize the engine and join a channel first.'],
  'wrong-connection': [CODE_TEXT[5], 'Send it on the control connection (the one that initialized).'],
  'engine-unavailable': [CODE_TEXT[7], 'Install the agent again: its engine library is missing.'],
  'invalid-request': [CODE_TEXT[2], 'Check the command\'s name and values.'],
  'nothing-found': [CODE_TEXT[1], 'Connect a device and ask again.'],
  'too-many-videos': [CODE_TEXT[429], 'Close a video before opening another.'],
  'join-failed': [CODE_TEXT[10], 'Check the channel name and key, and the network, then join again.'],
  'connection-lost': [CODE_TEXT[111], 'Check the network; join again.'],
  engine: ['the engine reported an error', 'The engine\'s documentation says what its code means.'],
};

/** Plain words for a reply or event code (or a reason). */
export function describeCode(code) {
  if (typeof code !== 'number') return REASONS[code]?.[0] ?? String(code);
  return CODE_TEXT[code] ?? ENGINE_TEXT[code] ?? `the engine reported error ${code} (its own code; ` +
    'the engine\'s documentation says what it means)';
}

/** The stable reason word of a reply or event code. */
export function reasonOfCode(code) {
  return CODE_REASON[code] ?? 'engine';
}

/** What the user can do about a reason. */
export function adviceFor(reason) {
  return REASONS[reason]?.[1] ?? '';
}

/**
 * A failure: a command the agent answered with a code other than true, or a connection that
 * could not be made or was lost. new AgentError(command, code, reply) for an answer;
 * new AgentError(command, null, null, {reason, url}) for the rest.
 */
export class AgentError extends Error {
  constructor(command, code, reply = null, {
    reason, url = null, closeCode = null, closeReason = '', cause,
  } = {}) {
    // Earlier versions passed 'timeout' and 'closed' as the code.
    const numeric = typeof code === 'number' ? code : null;
    const why = reason ?? (numeric === null ? code : reasonOfCode(numeric));
    const words = numeric === null ? describeCode(why) : `${describeCode(numeric)} (code ${numeric})`;
    const subject = command ? `${command}: ` : url === null ? '' : `Cannot connect to ${url}: `;
    super(`${subject}${words}`, cause === undefined ? undefined : { cause });
    this.name = 'AgentError';
    this.command = command ?? null;
    this.code = numeric;
    this.reason = why;
    this.reply = reply;
    this.url = url;
    this.closeCode = closeCode;
    this.closeReason = closeReason;
    this.advice = adviceFor(why);
  }
}
