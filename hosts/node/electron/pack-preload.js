'use strict';
// Run when the package is packed: writes the page script and the preload with the rules' source in
// them, and the page script's in the preload, so that neither needs another file.
//   node pack-preload.js <rules.js> <page.js> <preload.js> <page output> <preload output>
// With the page script's output alone, writes just that: the Rust crate keeps the packed page
// script as hosts/rust/src/web/page.js, since it cannot run this.
//   node pack-preload.js <rules.js> <page.js> <page output>
const fs = require('node:fs');

const args = process.argv.slice(2);
const [rules, page, preload, pageOutput, preloadOutput] = args.length === 3 ? [args[0], args[1], null, args[2]] : args;
const { shareRules } = require(fs.realpathSync(rules));

function put(source, file, line, text) {
  if (!line.test(source)) throw new Error(`${file} has no line ${line}`);
  return source.replace(line, (whole, indent) => `${indent}${text}`);
}

const rulesLine = /^( *)const Rules = shareRules\(\);$/m;
const withRules = (file) => put(fs.readFileSync(file, 'utf8'), file, rulesLine, `const Rules = (${shareRules})();`);
const pageScript = withRules(page);
fs.writeFileSync(pageOutput, pageScript);
if (preload !== null) {
  fs.writeFileSync(preloadOutput, put(withRules(preload), preload, /^()const PageScript = '';$/m,
                                      `const PageScript = ${JSON.stringify(pageScript)};`));
}
