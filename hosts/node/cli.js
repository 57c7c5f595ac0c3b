#!/usr/bin/env node
'use strict';
// quibshare <file>: shares one file, prints QuibShare's message and exits with its exit code.
const { EOL } = require('node:os');
const { share } = require('./index.js');

const args = process.argv.slice(2);
if (args.length !== 1) {
  process.stderr.write(`usage: quibshare <file>${EOL}`);
  process.exitCode = 2;
} else {
  share(args[0]).then(
    () => { process.exitCode = 0; },
    (error) => {
      process.stderr.write(`${error.message}${EOL}`);
      process.exitCode = typeof error.exitCode === 'number' ? error.exitCode : 1;
    });
}
