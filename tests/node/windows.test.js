// The installed package driven from Windows Node as an app would, against the simulated share
// platform beside its executable (the tests' runner copies it there).
'use strict';
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const quibshare = require('quibshare');
const { share, QuibShareError } = quibshare;

const NotAvailable =
  'Sharing is not available on this system: the Windows share interface is missing or disabled.';
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-node-'));
const record = path.join(folder, 'record.txt');
process.env.QUIBSHARE_SIM_LOG = record;

function writeFile(name) {
  const file = path.join(folder, name);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, 'shared by a test\n');
  return file;
}

function recorded(prefix) {
  const text = fs.existsSync(record) ? fs.readFileSync(record, 'utf8') : '';
  return text.split('\n').filter((line) => line.startsWith(prefix));
}

// The broker may end before the worker has finished the share: wait for the sheet to end it.
async function waitForRecorded(prefix, count) {
  for (let tries = 0; tries < 300 && recorded(prefix).length < count; ++tries) {
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return recorded(prefix);
}

async function rejection(promise, expected) {
  try {
    await promise;
  } catch (error) {
    return error;
  }
  assert.fail(`resolved where ${expected} was expected`);
}

async function expectRejected(promise, code, exitCode, message) {
  const error = await rejection(promise, code);
  assert.ok(error instanceof QuibShareError, String(error));
  assert.deepEqual({ code: error.code, exitCode: error.exitCode, message: error.message },
                   { code, exitCode, message });
}

function activeResources() {
  return process.getActiveResourcesInfo().sort();
}

// Node closes a failed child's handles a moment after its 'error': allow for that, not for a leak.
async function expectNothingLeftBut(before) {
  for (let tries = 0; tries < 100 && String(activeResources()) !== String(before); ++tries) {
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  assert.deepEqual(activeResources(), before);
}

test('the sheet gets the title and one read-only item, and nothing is left running', async () => {
  assert.equal(quibshare.isSupported(), true);
  const file = writeFile('report.final.pdf');
  fs.rmSync(record, { force: true });
  const before = activeResources();
  await share(file);
  await expectNothingLeftBut(before);
  await waitForRecorded('remove ShareCompleted', 1);
  assert.deepEqual(recorded('title'), ['title 1 report.final.pdf']);
  assert.deepEqual(recorded('SetStorageItemsReadOnly'), [`SetStorageItemsReadOnly 1 ${file}`]);
  assert.deepEqual(recorded('unexpected'), []);
});

test('relative, forward-slash, non-ASCII and long paths reach the sheet fully qualified', async () => {
  const plain = writeFile('plain.txt');
  const unusual = writeFile('Ünïcødé — rapport & co.txt');
  let long = 'x.txt';
  while (path.join(folder, long).length <= 259) long = path.join('n'.repeat(50), long);
  const longFile = writeFile(long);
  const cases = [
    [path.relative(process.cwd(), plain), plain],
    [plain.replaceAll('\\', '/'), plain],
    [unusual, unusual],
    [longFile, longFile],
  ];
  for (const [argument, shared] of cases) {
    fs.rmSync(record, { force: true });
    await share(argument);
    await waitForRecorded('remove ShareCompleted', 1);
    assert.deepEqual(recorded('SetStorageItemsReadOnly'), [`SetStorageItemsReadOnly 1 ${shared}`], argument);
  }
});

test('failures reject with their code and QuibShare\'s text', async () => {
  const before = activeResources();
  await expectRejected(share(path.join(folder, 'missing.txt')), 'INPUT_REJECTED', 2,
                       'Sharing could not start: input file does not exist or is inaccessible');
  await expectRejected(share(folder), 'INPUT_REJECTED', 2,
                       'Sharing could not start: input must be a regular file, not a directory');
  await expectRejected(share(''), 'INPUT_REJECTED', 2, 'Sharing could not start: input path cannot be empty');

  const alone = path.join(folder, 'alone', 'QuibShare.exe');
  fs.mkdirSync(path.dirname(alone));
  fs.copyFileSync(quibshare.executablePath(), alone);
  await expectRejected(share(writeFile('a.txt'), { executablePath: alone }), 'UNAVAILABLE', 3, NotAvailable);

  // A failure straight after the owner window appears: the quickest the simulated sheet has.
  process.env.QUIBSHARE_SIM_FAIL = 'getforwindow:80004005';
  try {
    await expectRejected(share(writeFile('b.txt')), 'FAILED', 1, 'Sharing could not be opened (error 0x80004005).');
  } finally {
    delete process.env.QUIBSHARE_SIM_FAIL;
  }

  const missing = path.join(folder, 'nowhere', 'QuibShare.exe');
  const error = await rejection(share(writeFile('c.txt'), { executablePath: missing }), 'SPAWN_FAILED');
  assert.deepEqual([error.code, error.exitCode], ['SPAWN_FAILED', null]);
  assert.match(error.message, /^QuibShare could not be started: .*ENOENT/);
  await expectNothingLeftBut(before);
});

test('twenty shares at once each get their own outcome', async () => {
  fs.rmSync(record, { force: true });
  const files = Array.from({ length: 20 }, (_, i) => (i % 2 ? path.join(folder, `absent ${i}.txt`) : writeFile(`many ${i}.txt`)));
  const outcomes = await Promise.allSettled(files.map((file) => share(file)));
  outcomes.forEach((outcome, i) => {
    if (i % 2) {
      assert.equal(outcome.status, 'rejected', files[i]);
      assert.equal(outcome.reason.message, 'Sharing could not start: input file does not exist or is inaccessible');
    } else {
      assert.equal(outcome.status, 'fulfilled', `${files[i]}: ${outcome.reason}`);
    }
  });
  const shared = await waitForRecorded('remove ShareCompleted', 10);
  assert.equal(shared.length, 10);
  assert.deepEqual(recorded('SetStorageItemsReadOnly').map((line) => line.replace(/^\S+ \d+ /, '')).sort(),
                   files.filter((_, i) => i % 2 === 0).sort());
});

test('the watchdog kills a QuibShare that never ends and rejects with FAILED', async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout'] });
  // Notepad never ends by itself: a stand-in for a stuck QuibShare.exe.
  const notepad = path.join(process.env.SystemRoot, 'system32', 'notepad.exe');
  const pending = share(writeFile('d.txt'), { executablePath: notepad });
  t.mock.timers.tick(60000);
  await expectRejected(pending, 'FAILED', null, 'QuibShare did not exit within 60 seconds and was stopped.');
});

test('the quibshare command prints QuibShare\'s message and exits with its code', () => {
  const cli = path.join(path.dirname(require.resolve('quibshare')), 'cli.js');
  const run = (...args) => {
    const result = spawnSync(process.execPath, [cli, ...args], { timeout: 60000, encoding: 'latin1' });
    return [result.status, result.stdout, result.stderr];
  };
  assert.deepEqual(run(writeFile('f.txt')), [0, '', '']);
  assert.deepEqual(run(folder), [2, '', 'Sharing could not start: input must be a regular file, not a directory\r\n']);
  assert.deepEqual(run(), [2, '', 'usage: quibshare <file>\r\n']);
});
