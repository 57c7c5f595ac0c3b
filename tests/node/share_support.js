// What the Windows Node tests that share through the simulated sheet have in common: a fresh
// record for each share, so that the worker of an earlier share, which goes on after the
// package's promise has settled, never writes into what a later share reads; and a share tried
// once more when Wine failed a process start on its way.
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

/**
 * Runs `share`, and once more if Wine failed a process start on the way (about one in 800): ours
 * (an UNKNOWN spawn error) or the broker's of its worker (exit 1, nothing said). The retry is said
 * on standard error and in the file QUIBSHARE_RETRY_LOG names, which scripts/soak counts.
 */
async function retried(share) {
  try {
    return await share();
  } catch (error) {
    const failedStart = (error.code === 'SPAWN_FAILED' && error.cause?.code === 'UNKNOWN') ||
      (error.exitCode === 1 && error.message === 'QuibShare exited with code 1 and gave no reason.');
    if (!failedStart) throw error;
    const line = `retried a process start that Wine failed: ${error.message}\n`;
    process.stderr.write(line);
    if (process.env.QUIBSHARE_RETRY_LOG) fs.appendFileSync(process.env.QUIBSHARE_RETRY_LOG, line);
    return share();
  }
}

module.exports = { newRecord, retried };
