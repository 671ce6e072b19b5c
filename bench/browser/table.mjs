// The browser video benchmark's one table: per scenario and build, the page-made frames (this
// browser's own drawing capacity at that size) and the agent's frames shown each way the build
// can, as figures and as a ratio; Chromium's processor time per frame drawn (or presented).

const COLUMNS = [
  ['scenario', (r) => r.scenario],
  ['build', (r) => r.build],
  ['frames', (r) => r.source],
  ['drawing', (r) => r.kind],
  ['size', (r) => r.size],
  ['drawn/s per canvas', (r) => fixed(r.drawn, 1)],
  ['of own', (r) => (r.ratio === undefined ? '' : fixed(r.ratio, 2))],
  ['delay p50 / p95 ms', (r) => `${fixed(r.p50, 0)} / ${fixed(r.p95, 0)}`],
  ['received/s per canvas', (r) => fixed(r.received, 1)],
  ['agent CPU %', (r) => fixed(r.agentCpu, 1)],
  ['agent ms per frame', (r) => fixed(r.agentMsPerFrame, 2)],
  ['Chromium CPU %', (r) => fixed(r.browserCpu, 0)],
  ['Chromium ms per drawn frame', (r) => fixed(r.browserMsPerDrawn, 1)],
];

function fixed(value, digits) {
  return value === undefined || Number.isNaN(value) ? '-' : value.toFixed(digits);
}

export function printTable(rows, { chromium, cores, seconds, load, builds }) {
  const lines = rows.flatMap(({ scenario, build, own, streamed }) => [
    { ...own, scenario, build, source: 'page-made', received: undefined },
    ...streamed.map((measured) => ({ ...measured, scenario: '', build, source: 'agent', ratio: measured.drawn / own.drawn })),
  ]);
  const cells = [COLUMNS.map(([title]) => title), ...lines.map((line) => COLUMNS.map(([, cell]) => cell(line)))];
  const widths = COLUMNS.map((_, i) => Math.max(...cells.map((row) => row[i].length)));
  const text = (row) => row.map((cell, i) => (i < 5 ? cell.padEnd(widths[i]) : cell.padStart(widths[i]))).join('  ');
  console.log(`Browser video: ${chromium}, ${cores} cores, ${seconds} s per run, load average ${load}`);
  for (const build of builds) {
    console.log(`  ${build.name}: ${build.agent} with ${build.web}${build.renderer ? `, drawing ${build.renderer}` : ''}`);
  }
  console.log(text(cells[0]));
  console.log(widths.map((w) => '-'.repeat(w)).join('  '));
  cells.slice(1).forEach((row) => console.log(text(row)));
  console.log('delay: frame header timestamp (agent wall clock at packing; page-made: when made) to the draw' +
    ' call (track: to the <video> element\'s frame callback); agent CPU includes the stand-in engine making' +
    ' every frame; agent ms per frame: per frame received; Chromium ms per drawn frame: all of its processes.');
}
