'use strict';
// Run when the package is packed: writes the page script and the preload with the rules' source in
// them, and the page script's in the preload, so that neither needs another file.
//   node pack-preload.js <rules.js> <page.js> <preload.js> <page output> <preload output>
const fs = require('node:fs');

const [rules, page, preload, pageOutput, preloadOutput] = process.argv.slice(2);
const { shareRules } = require(fs.realpathSync(rules));

function put(source, file, line, text) {
  if (!line.test(source)) throw new Error(`${file} has no line ${line}`);
  return source.replace(line, (whole, indent) => `${indent}${text}`);
}

const rulesLine = /^( *)const Rules = shareRules\(\);$/m;
const withRules = (file) => put(fs.readFileSync(file, 'utf8'), file, rulesLine, `const Rules = (${shareRules})();`);
const pageScript = withRules(page);
fs.writeFileSync(pageOutput, pageScript);
fs.writeFileSync(preloadOutput, put(withRules(preload), preload, /^()const PageScript = '';$/m,
                                    `const PageScript = ${JSON.stringify(pageScript)};`));
