// One error type for everything that can go wrong between a page and the agent. A page branches
// on `reason`, a stable word; `code` is the agent's numeric reply or event code where there is
// one; the message says what happened in plain words, `advice` what the user can do and
// `developerHint` what the page's developer can (both from advice.js, naming the address and the
// origin in use).
import { adviceContext, adviceFor, describeReason } from './advice.js';

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
  111: 'the engine lost its connection to the service',
  112: 'joining the channel failed',
  403: 'the site is not allowed to use the agent',
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

/** What the agent's "reason" member of a 403 or 429 reply says, as the error's reason. */
const REFUSAL_REASON = {
  blocked: 'blocked',
  'not-asked-yet': 'not-asked-yet',
  dismissed: 'dismissed',
  timeout: 'question-timeout', // 'timeout' alone is a request that was not answered
  'too-many-questions': 'too-many-questions',
  'cannot-ask': 'cannot-ask',
  'null-origin': 'null-origin',
  'sites-unreadable': 'sites-unreadable',
  'other-site': 'other-site',
};

/** Plain words for a reply or event code (or a reason). */
export function describeCode(code) {
  if (typeof code !== 'number') return describeReason(code);
  return CODE_TEXT[code] ?? ENGINE_TEXT[code] ?? `the engine reported error ${code} (its own code; ` +
    'the engine\'s documentation says what it means)';
}

/** The stable reason word of a reply or event code, and of the reply's own "reason" where it has one. */
export function reasonOfCode(code, reply = null) {
  if ((code === 403 || code === 429) && typeof reply?.reason === 'string') {
    return REFUSAL_REASON[reply.reason] ?? CODE_REASON[code];
  }
  return CODE_REASON[code] ?? 'engine';
}

/**
 * A failure: a command the agent answered with a code other than true, or a connection that
 * could not be made or was lost. new AgentError(command, code, reply) for an answer;
 * new AgentError(command, null, null, {reason, url}) for the rest.
 */
export class AgentError extends Error {
  constructor(command, code, reply = null, {
    reason, url = null, plainUrl = null, closeCode = null, closeReason = '', cause,
  } = {}) {
    // Earlier versions passed 'timeout' and 'closed' as the code.
    const numeric = typeof code === 'number' ? code : null;
    const why = reason ?? (numeric === null ? code : reasonOfCode(numeric, reply));
    const context = adviceContext({ url, plainUrl, closeCode, closeReason });
    const refusal = numeric === 403 || numeric === 429;
    const words = numeric === null || refusal ? describeReason(why, context) : describeCode(numeric);
    const coded = numeric === null ? words : `${words} (code ${numeric})`;
    const subject = command ? `${command}: ` : url === null ? '' : `Cannot connect to ${url}: `;
    super(`${subject}${coded}`, cause === undefined ? undefined : { cause });
    this.name = 'AgentError';
    this.command = command ?? null;
    this.code = numeric;
    this.reason = why;
    this.reply = reply;
    this.url = url;
    this.closeCode = closeCode;
    this.closeReason = closeReason;
    const { advice, developerHint } = adviceFor(why, context);
    this.advice = advice;
    this.developerHint = developerHint;
  }
}
