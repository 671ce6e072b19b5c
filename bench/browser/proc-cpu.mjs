// Processor time of process trees, read from /proc: what the agent and the browser cost while a
// benchmark runs. Linux only.
import { readdirSync, readFileSync } from 'node:fs';
import { execFileSync } from 'node:child_process';

const TICKS_PER_SECOND = Number(execFileSync('getconf', ['CLK_TCK'], { encoding: 'utf8' }).trim()) || 100;

/** Every live process: pid -> {parent, ticks} (user + system time, in clock ticks). */
function processTable() {
  const table = new Map();
  for (const name of readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = readFileSync(`/proc/${name}/stat`, 'utf8');
    } catch {
      continue; // ended meanwhile
    }
    // The command name may hold blanks and parentheses: the fields start after the last ')'.
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    table.set(Number(name), { parent: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
  }
  return table;
}

/** The pids of `root` and all its descendants. */
function tree(table, root) {
  const pids = new Set([root]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, { parent }] of table) {
      if (pids.has(parent) && !pids.has(pid)) {
        pids.add(pid);
        grew = true;
      }
    }
  }
  return pids;
}

/** Ticks of `root`'s whole tree so far, per pid. */
function treeTicks(table, root) {
  return new Map([...tree(table, root)].map((pid) => [pid, table.get(pid)?.ticks ?? 0]));
}

/**
 * Starts measuring: returns stop(), which gives the processor use since then in percent of one
 * core for each named process tree (name -> root pid). Processes that end in between are not
 * counted; processes started in between count from their start.
 */
export function startCpuMeter(roots) {
  const started = Date.now();
  const table = processTable();
  const before = Object.fromEntries(Object.entries(roots).map(([name, root]) => [name, treeTicks(table, root)]));
  return () => {
    const seconds = (Date.now() - started) / 1000;
    const now = processTable();
    return Object.fromEntries(Object.entries(roots).map(([name, root]) => {
      let ticks = 0;
      for (const [pid, total] of treeTicks(now, root)) ticks += total - (before[name].get(pid) ?? 0);
      return [name, (100 * ticks) / TICKS_PER_SECOND / seconds];
    }));
  };
}
