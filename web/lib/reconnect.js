// Coming back after the agent went away, but never against the user's choice.
//
// A control connection that closes without the page closing it is read by its close code:
// 1001 "the agent is quitting" (the user quit the agent: tray Quit, -kill, a stop signal) and
// 4003 (the user blocked the site) end the session for good, so that a camera the user switched
// off by quitting does not switch on again when the agent next starts; so does 3000/3001
// "invalid request", the agent refusing what the page sent. Anything else (a crash or a
// lost connection: 1006; a restart for an upgrade: 1012 "service restart"; a failed send: 1001
// without a reason) makes the session try again: after 100 ms, then twice as long each time up
// to 1 s (a try costs a refused connection on the loopback address, nothing more), until the agent answers, or until the agent answers but will not take the session
// (the user blocked the site meanwhile, another page took the engine), which ends it.
import { AgentError } from './agent-error.js';
import { checkCompatible, getAgentInfo } from './agent-info.js';
import { connect } from './connection.js';

const QUITTING = 'the agent is quitting';
const INVALID = 'invalid request';
/** How long one try may take to connect; the agent, once listening, answers at once. */
const ATTEMPT_TIMEOUT_MS = 5000;

/** Reasons of a try that failed because the agent, back, will not take the session. */
const FINAL_REASONS = new Set([
  'blocked', 'not-asked-yet', 'dismissed', 'question-timeout', 'too-many-questions', 'cannot-ask',
  'null-origin', 'sites-unreadable', 'other-site', 'refused-by-user', 'busy', 'incompatible-agent',
  'invalid-request', 'engine-unavailable',
]);

/**
 * The reconnect option as a policy: null when off (false), else the delays and the limit of
 * tries. `true` or an object ({initialDelayMs, maxDelayMs, maxAttempts, peerWaitMs}) turn it on.
 */
export function reconnectPolicy(option = true) {
  if (option === false) return null;
  const given = typeof option === 'object' && option !== null ? option : {};
  return {
    initialDelayMs: given.initialDelayMs ?? 100,
    maxDelayMs: given.maxDelayMs ?? 1000,
    maxAttempts: given.maxAttempts ?? Infinity,
    // How long after the rejoin a remote user's paused video waits for the user to come back.
    peerWaitMs: given.peerWaitMs ?? 10000,
  };
}

/**
 * What a closed control connection means: the reason the session ends ('closed-by-page',
 * 'agent-quit', 'site-blocked'), or null when the session may come back.
 */
export function finalCloseReason({ code, reason, byPage }) {
  if (byPage) return 'closed-by-page';
  if (code === 1001 && reason === QUITTING) return 'agent-quit';
  if (code === 4003) return 'site-blocked';
  // The agent refused a message of this page: sending it again would not go better.
  if ((code === 3000 || code === 3001) && reason === INVALID) return 'invalid-request';
  return null;
}

/** The wait before try number `attempt` (0 first). */
export function retryDelay(policy, attempt) {
  return Math.min(policy.maxDelayMs, policy.initialDelayMs * 2 ** attempt);
}

function sleep(ms, signal) {
  return new Promise((done) => {
    const timer = setTimeout(done, ms);
    signal.addEventListener('abort', () => {
      clearTimeout(timer);
      done();
    }, { once: true });
  });
}

/**
 * Tries until the agent takes the session again: connects, checks the protocol and initializes
 * with the session's own application id or key, then hands the connection to
 * session.resumeOn(). Ends the session where the agent will not take it, or after the policy's
 * last try. Stops as soon as `signal` aborts (the page closed the session).
 */
export async function reconnectSession(session, policy, signal) {
  for (let attempt = 0; ; attempt += 1) {
    if (attempt >= policy.maxAttempts) {
      session.finish('agent-lost');
      return;
    }
    await sleep(retryDelay(policy, attempt), signal);
    if (signal.aborted) return;
    let connection = null;
    let info;
    try {
      connection = await connect(session.url, { timeoutMs: ATTEMPT_TIMEOUT_MS, signal, diagnose: false });
      info = await getAgentInfo(connection, { signal });
      checkCompatible(info);
      await connection.request('initialize', session.initializeMembers(), { signal });
    } catch (error) {
      connection?.close();
      if (signal.aborted) return;
      if (error instanceof AgentError && FINAL_REASONS.has(error.reason)) {
        session.finish(error.reason, error);
        return;
      }
      continue;
    }
    if (signal.aborted) {
      connection.close();
      return;
    }
    await session.resumeOn(connection, info);
    return;
  }
}
