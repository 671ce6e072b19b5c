// The package README's snippets: each follows its `<!-- snippet: NAME[; follows OTHER] -->`
// marker. The browser test runs them as written (TypeScript made into JavaScript by esbuild,
// types stripped and nothing else); `typeCheckSnippets` checks them with tsc --strict.
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { spawnSync } from 'node:child_process';
import { join } from 'node:path';
import assert from 'node:assert/strict';
import { webRoot } from './harness.mjs';

/** The README's snippets by name: {language, code, follows}. */
export function readSnippets(readme = join(webRoot, 'README.md')) {
  const snippets = new Map();
  const marked = /<!-- snippet: ([\w.-]+)(?:; follows ([\w.-]+))? -->\n```(\w+)\n([\s\S]*?)\n```/g;
  for (const [, name, follows, language, code] of readFileSync(readme, 'utf8').matchAll(marked)) {
    snippets.set(name, { language, code, follows: follows ?? null });
  }
  return snippets;
}

/** A snippet's code after the code of those it follows. */
export function script(snippets, name) {
  const snippet = snippets.get(name);
  assert.ok(snippet, `the README has no snippet ${name}`);
  return [...(snippet.follows ? [script(snippets, snippet.follows)] : []), snippet.code].join('\n');
}

/** A TypeScript snippet (with those it follows) as the JavaScript a page runs. */
export async function pageScript(snippets, name) {
  const { transform } = await import('esbuild');
  const { code } = await transform(script(snippets, name), { loader: 'ts', format: 'esm', target: 'es2022' });
  return code;
}

/**
 * Type-checks every TypeScript snippet, with those it follows, as a module of its own against the
 * package's declarations, under --strict and exactOptionalPropertyTypes. Returns tsc's result.
 */
export function typeCheckSnippets(snippets = readSnippets()) {
  const folder = mkdtempSync(join(webRoot, 'tests', '.readme-types-'));
  try {
    const files = [];
    for (const [name, { language }] of snippets) {
      if (language !== 'ts') continue;
      writeFileSync(join(folder, `${name}.ts`), `${script(snippets, name)}\nexport {};\n`);
      files.push(`${name}.ts`);
    }
    writeFileSync(join(folder, 'tsconfig.json'), JSON.stringify({
      compilerOptions: {
        target: 'ES2022', module: 'ESNext', moduleResolution: 'bundler', lib: ['ES2022', 'DOM', 'DOM.Iterable'],
        types: [], strict: true, noEmit: true, exactOptionalPropertyTypes: true,
      },
      files,
    }));
    return spawnSync(join(webRoot, 'node_modules', '.bin', 'tsc'), ['-p', folder], { encoding: 'utf8' });
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

// As a program (run-node-tests types): check the snippets and say so.
if (process.argv[1] === new URL(import.meta.url).pathname) {
  const checked = typeCheckSnippets();
  process.stdout.write(checked.stdout);
  process.stderr.write(checked.stderr);
  if (checked.status === 0) console.log(`the README's TypeScript snippets type-check under --strict`);
  process.exit(checked.status ?? 1);
}
