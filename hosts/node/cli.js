#!/usr/bin/env node
'use strict';
// quibshare [--wait] [--title T] [--text T] [--url U] [<file>...]: shares the files, or with none
// the text and the link, and prints the outcome as one line of JSON, or QuibShare's message, and
// exits with QuibShare's exit code.
const { EOL } = require('node:os');
const { share } = require('./index.js');

const Usage = 'usage: quibshare [--wait] [--title T] [--text T] [--url U] [<file>...] (a file, --text or --url at least)';

/** The files and options on the command line, or null for a misuse. */
function parse(args) {
  const files = [];
  const options = {};
  for (let i = 0; i < args.length; ++i) {
    const arg = args[i];
    if (arg === '--') {
      files.push(...args.slice(i + 1));
      break;
    } else if (arg === '--wait') {
      options.wait = true;
    } else if (['--title', '--text', '--url'].includes(arg) && i + 1 < args.length) {
      options[arg.slice(2)] = args[++i];
    } else if (arg.startsWith('--')) {
      return null;
    } else {
      files.push(arg);
    }
  }
  const something = files.length > 0 || options.text !== undefined || options.url !== undefined;
  return something ? { files, options } : null;
}

const request = parse(process.argv.slice(2));
if (request === null) {
  process.stderr.write(`${Usage}${EOL}`);
  process.exitCode = 2;
} else {
  share(request.files, request.options).then(
    (result) => {
      process.stdout.write(`${JSON.stringify(result)}${EOL}`);
    },
    (error) => {
      process.stderr.write(`${error.message}${EOL}`);
      process.exitCode = typeof error.exitCode === 'number' ? error.exitCode : 1;
    });
}
