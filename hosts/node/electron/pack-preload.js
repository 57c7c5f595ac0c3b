'use strict';
// Run when the package is packed: writes the preload with page.js's source in it, so that the
// shipped preload needs no other file. node pack-preload.js <preload.js> <page.js> <output>
const fs = require('node:fs');

const [preload, page, output] = process.argv.slice(2);
const source = fs.readFileSync(preload, 'utf8');
const line = /^const PageScript = '';$/m;
if (!line.test(source)) throw new Error(`${preload} has no line "const PageScript = '';"`);
const script = JSON.stringify(fs.readFileSync(page, 'utf8'));
fs.writeFileSync(output, source.replace(line, () => `const PageScript = ${script};`));
