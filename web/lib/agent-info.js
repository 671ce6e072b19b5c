// What the agent says about itself ("getAgentInfo", answered on any connection and for any site,
// before the user has allowed it anything), and whether this library can work with it.
import { AgentError } from './agent-error.js';

/** The protocol this library speaks; an agent raises its number only for changes that break pages. */
export const PROTOCOL_VERSION = 1;

/** The words for an agent from before "getAgentInfo". */
const OUTDATED_NOTICE = 'This Kelvo Web Agent is older than the page library: it cannot say its ' +
  'version or which commands it knows. It still works with this page; install the current agent ' +
  'to be told.';

/**
 * Asks the agent about itself: {agentVersion, protocolVersion, commands, outdated, notice}.
 * An agent from before "getAgentInfo" answers it as an unknown command (code 2; 403 from a site
 * it has not allowed, as it answers every command but "getVersion" then). Such an agent speaks
 * protocol 1, but cannot list its commands: agentVersion and commands are null, outdated is true
 * and notice says so in words.
 */
export async function getAgentInfo(connection, { signal, timeoutMs } = {}) {
  try {
    const { agentVersion, protocolVersion, commands } = await connection.request('getAgentInfo', {}, { signal, timeoutMs });
    return { agentVersion, protocolVersion, commands, outdated: false, notice: null };
  } catch (error) {
    if (!(error instanceof AgentError) || (error.code !== 2 && error.code !== 403)) throw error;
    return { agentVersion: null, protocolVersion: 1, commands: null, outdated: true, notice: OUTDATED_NOTICE };
  }
}

/** Throws an AgentError with reason 'incompatible-agent' unless the agent speaks this protocol. */
export function checkCompatible(info) {
  if (info.protocolVersion === PROTOCOL_VERSION) return;
  throw new AgentError('getAgentInfo', null, info, { reason: 'incompatible-agent' });
}
