// The simulated sheet's record for the Windows Node tests: a fresh file for each share, so that
// the worker of an earlier share, which goes on after the package's promise has settled, never
// writes into what a later share reads.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
// Taken before any test mocks the timers.
const { setTimeout: delay } = require('node:timers/promises');

let records = 0;

/**
 * Points the simulated sheet at a new record in `folder`, for the shares started from now on.
 * `lines(prefix)`: what it holds now; `ended(workers, prefix)`: the same once `workers` workers have
 * ended (each writes "exit" last, as it unloads the sheet), failing after 20 s.
 */
function newRecord(folder) {
  const file = path.join(folder, `record-${++records}.txt`);
  process.env.QUIBSHARE_SIM_LOG = file;
  const text = () => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '');
  const lines = (prefix = '') => text().split('\n').filter((line) => line !== '' && line.startsWith(prefix));
  async function ended(workers = 1, prefix = '') {
    for (let tries = 0; tries < 400; ++tries) {
      if (lines('exit ').length >= workers) return lines(prefix);
      await delay(50);
    }
    throw new Error(`${lines('exit ').length} of ${workers} workers ended within 20 s:\n${text()}`);
  }
  return { file, lines, ended };
}

module.exports = { newRecord };
