// The installed package driven from Windows Node as an app would: against the simulated share
// platform beside its executable (the tests' runner copies it there), and against the stand-in
// (stand_in.exe in the app's folder) where QuibShare has to misbehave.
'use strict';
const assert = require('node:assert/strict');
const { ChildProcess, spawnSync } = require('node:child_process');
const diagnosticsChannel = require('node:diagnostics_channel');
const { once } = require('node:events');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
// Taken before any test mocks the timers.
const { setTimeout: delay } = require('node:timers/promises');
const quibshare = require('quibshare');
const { share, QuibShareError } = quibshare;
const { outcomeLine } = require('./outcome_lines.js');
const { newRecord, retried } = require('./share_support.js');

const NotAvailable =
  'Sharing is not available on this system: the Windows share interface is missing or disabled.';
const standIn = path.resolve('stand_in.exe');
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-node-'));
// Shares whose record no test reads write here.
newRecord(folder);

// The package keeps its child to itself; the stand-in tests need its pid.
const children = [];
diagnosticsChannel.subscribe('child_process', ({ process: child }) => children.push(child));
const lastChild = () => children[children.length - 1];

function writeFile(name) {
  const file = path.join(folder, name);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, 'shared by a test\n');
  return file;
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

// How a share settled, in a form deepEqual compares; taken at once, so no rejection goes unhandled.
function settled(promise) {
  return promise.then((result) => ({ result }),
                      (error) => ({ error: { code: error.code, exitCode: error.exitCode, message: error.message } }));
}
const failure = (code, exitCode, message) => ({ error: { code, exitCode, message } });

// The stand-in's mode that prints the shared table's row `name` (a million `[` fit no variable).
function printing(name) {
  const file = path.join(folder, `${name}.out`);
  fs.writeFileSync(file, outcomeLine(name).output);
  return `stdout-file:${file}`;
}

// What `pending` settles to, failing the test if it has not settled within `ms` of real time:
// a share left running must fail in seconds, not at the test's own timeout.
async function settledWithin(ms, pending, name) {
  const timer = new AbortController();
  const late = delay(ms, 'late', { signal: timer.signal }).catch(() => 'aborted');
  const first = await Promise.race([pending, late]);
  timer.abort();
  assert.notEqual(first, 'late', `${name}: not settled within ${ms / 1000} seconds`);
  return first;
}

function activeResources() {
  return process.getActiveResourcesInfo().sort();
}

// What is active with no child running: a child's process handle closes a moment after its 'close'.
async function idleResources() {
  for (let tries = 0; tries < 100 && activeResources().includes('ProcessWrap'); ++tries) await delay(20);
  return activeResources();
}

// Node closes a failed child's handles a moment after its 'error': allow for that, not for a leak.
async function expectNothingLeftBut(before) {
  for (let tries = 0; tries < 100 && String(activeResources()) !== String(before); ++tries) await delay(20);
  assert.deepEqual(activeResources(), before);
}

// Runs `action` with these environment variables set (for QuibShare, the stand-in, the simulated sheet).
async function withVariables(variables, action) {
  const saved = Object.fromEntries(Object.keys(variables).map((name) => [name, process.env[name]]));
  Object.assign(process.env, variables);
  try {
    return await action();
  } finally {
    for (const [name, value] of Object.entries(saved)) {
      if (value === undefined) delete process.env[name];
      else process.env[name] = value;
    }
  }
}

// The pids the stand-in's hanging copies wrote to `file`, once there are `count` of them.
async function hangingPids(file, count) {
  const read = () => (fs.existsSync(file) ? fs.readFileSync(file, 'latin1').split('\r\n').filter(Boolean).map(Number) : []);
  for (let tries = 0; tries < 500 && read().length < count; ++tries) await delay(20);
  assert.equal(read().length, count, `pids in ${file}`);
  return read();
}

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch (error) {
    if (error.code !== 'ESRCH') throw error;
    return false;
  }
}

// What a test of hanging stand-ins cleans up after itself: the shares still to settle (a failed
// row must not leave one to settle in the next test, under its mocked timers), and the stand-ins
// left hanging, ended by the file they watch rather than by their ids, which another test's
// process may have been given since.
function hangerCleanup(t, name) {
  const shares = [];
  const release = path.join(folder, `${name}-release`);
  t.after(() => {
    fs.writeFileSync(release, '');
    return Promise.all(shares);
  });
  return { shares, release };
}

test('the sheet gets the title and one read-only item, and nothing is left running', async () => {
  assert.equal(quibshare.isSupported(), true);
  const file = writeFile('report.final.pdf');
  const record = newRecord(folder);
  const before = await idleResources();
  assert.deepEqual(await retried(() => share(file)), { outcome: 'handed' });
  await expectNothingLeftBut(before);
  // The broker ends at the handover, before its worker has finished the share.
  await record.ended();
  assert.deepEqual(record.lines('title'), ['title 1 report.final.pdf']);
  assert.deepEqual(record.lines('SetStorageItemsReadOnly'), [`SetStorageItemsReadOnly 1 ${file}`]);
  assert.deepEqual(record.lines('unexpected'), []);
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
    const record = newRecord(folder);
    await retried(() => share(argument));
    assert.deepEqual(await record.ended(1, 'SetStorageItemsReadOnly'), [`SetStorageItemsReadOnly 1 ${shared}`], argument);
  }
});

test('several files with a title, text and link reach the sheet in order, and its outcome comes back', async () => {
  const files = [writeFile('first.txt'), writeFile('second — ü.txt'), writeFile(path.join('sub', 'third.pdf'))];
  const [title, text, url] = ['Quarterly figures', 'The figures, as promised', 'https://example.com/report?id=7'];
  const outcome = { outcome: 'completed', target: 'Contoso.Mail_8wekyb3d8bbwe!App', app: 'Contoso Mail' };
  const cli = path.join(path.dirname(require.resolve('quibshare')), 'cli.js');
  const cases = [
    ['share()', () => retried(() => share(files, { title, text, url, anchor: { x: 10.4, y: -20.6, width: 32, height: 32 }, wait: true }))],
    ['the command', () => {
      const result = spawnSync(process.execPath, [cli, '--wait', '--title', title, '--text', text, '--url', url, ...files],
                               { timeout: 120000, encoding: 'utf8' });
      assert.deepEqual([result.status, result.stderr], [0, '']);
      assert.equal(result.stdout, `${JSON.stringify(outcome)}\r\n`);
      return JSON.parse(result.stdout);
    }],
  ];
  await withVariables({ QUIBSHARE_SIM_TARGET: outcome.target, QUIBSHARE_SIM_APP: outcome.app }, async () => {
    for (const [how, run] of cases) {
      const record = newRecord(folder);
      assert.deepEqual(await run(), outcome, how);
      // Waited, the share has ended before the call returns.
      assert.equal(record.lines('remove ShareCompleted').length, 1, how);
      assert.deepEqual([record.lines('title '), record.lines('text '), record.lines('weblink '), record.lines('SetStorageItemsReadOnly')],
                       [[`title 1 ${title}`], [`text 1 ${text}`], [`weblink 1 ${url}`],
                        [`SetStorageItemsReadOnly 1 ${files.join(' ')}`]], how);
    }
  });
});

test('a link or a text alone reaches the sheet with its title and no storage items', async () => {
  const cases = [
    [{ url: 'https://example.com/a', wait: true }, { outcome: 'canceled' },
     [['title 1 example.com'], [], ['weblink 1 https://example.com/a']]],
    [{ text: ' See you at noon ' }, { outcome: 'handed' }, [['title 1 See you at noon'], ['text 1  See you at noon '], []]],
    [{ text: 'See you', title: 'Lunch' }, { outcome: 'handed' }, [['title 1 Lunch'], ['text 1 See you'], []]],
  ];
  await withVariables({ QUIBSHARE_SIM_END: 'cancel' }, async () => {
    for (const [options, result, [title, text, weblink]] of cases) {
      const how = JSON.stringify(options);
      const record = newRecord(folder);
      assert.deepEqual(await retried(() => share([], options)), result, how);
      await record.ended();
      assert.deepEqual([record.lines('title '), record.lines('text '), record.lines('weblink '), record.lines('SetStorageItems')],
                       [title, text, weblink, []], how);
      assert.deepEqual(record.lines('factory').filter((line) => line.endsWith('StorageFile')), [], how);
    }
  });
});

test('failures reject with their code and QuibShare\'s text', async () => {
  const before = await idleResources();
  await expectRejected(share(path.join(folder, 'missing.txt')), 'INPUT_REJECTED', 2,
                       'Sharing could not start: input file does not exist or is inaccessible');
  await expectRejected(share(folder), 'INPUT_REJECTED', 2,
                       'Sharing could not start: input must be a regular file, not a directory');
  await expectRejected(share(''), 'INPUT_REJECTED', 2, 'Sharing could not start: input path cannot be empty');
  await expectRejected(share('https://example.com/x'), 'INPUT_REJECTED', 2,
                       'Sharing could not start: input is a link, not a file: give it with --url');

  const alone = path.join(folder, 'alone', 'QuibShare.exe');
  fs.mkdirSync(path.dirname(alone));
  fs.copyFileSync(quibshare.executablePath(), alone);
  await expectRejected(share(writeFile('a.txt'), { executablePath: alone }), 'UNAVAILABLE', 3, NotAvailable);

  // A failure straight after the owner window appears: the quickest the simulated sheet has.
  await withVariables({ QUIBSHARE_SIM_FAIL: 'getforwindow:80004005' }, () =>
    expectRejected(share(writeFile('b.txt')), 'FAILED', 1, 'Sharing could not be opened (error 0x80004005).'));

  const missing = path.join(folder, 'nowhere', 'QuibShare.exe');
  const error = await rejection(share(writeFile('c.txt'), { executablePath: missing }), 'SPAWN_FAILED');
  assert.deepEqual([error.code, error.exitCode, error.message],
                   ['SPAWN_FAILED', null, `QuibShare could not be started from ${missing}.`]);
  assert.ok(error.cause instanceof Error, String(error.cause));
  assert.equal(error.cause.code, 'ENOENT');
  await expectNothingLeftBut(before);
});

// The stand-in's probe reports what it was given and exits with 1, so its line is the message.
// A child spawned without `detached` sits in libuv's kill-on-close job: job=yes.
test('QuibShare gets the arguments in order, no standard input, and standard output only to wait', async () => {
  const cases = [
    ['a b.txt', {}, 'stdin=char stdout=char stderr=pipe job=no args: [--input] [a b.txt]'],
    [[], { url: 'https://example.com/' }, 'stdin=char stdout=char stderr=pipe job=no args: [--url] [https://example.com/]'],
    [['x.txt', 'say "hi".txt', 'C:\\My Files\\'],
     { wait: true, anchor: { x: -10.5, y: 20.4, width: 300, height: 39.6 }, url: 'https://example.com/?a=1&b=2',
       text: 'two  words', title: '--wait' },
     'stdin=char stdout=pipe stderr=pipe job=no args: [--input] [x.txt] [--input] [say "hi".txt] ' +
     '[--input] [C:\\My Files\\] [--title] [--wait] [--text] [two  words] [--url] [https://example.com/?a=1&b=2] ' +
     '[--anchor] [-10,20,300,40] [--wait]'],
    ['a.txt', { wait: false, title: '' }, 'stdin=char stdout=char stderr=pipe job=no args: [--input] [a.txt] [--title] []'],
  ];
  // What no command line carries, or a share of nothing, is refused before anything starts.
  const refused = [
    [[], {}, 'Nothing to share: give files, options.text or options.url'],
    [[], { title: 'T', anchor: { x: 1, y: 2, width: 3, height: 4 }, wait: true },
     'Nothing to share: give files, options.text or options.url'],
    ['a\0b.txt', {}, 'Each file to share must be a string without NUL characters'],
    [[], { url: 'https://example.com/\0' }, 'options.url must be a string without NUL characters'],
  ];
  const started = children.length;
  await withVariables({ QUIBSHARE_STAND_IN: 'probe' }, async () => {
    for (const [files, options, probed] of cases) {
      await expectRejected(share(files, { ...options, executablePath: standIn }), 'FAILED', 1, probed);
    }
    assert.equal(children.length, started + cases.length);
    for (const [files, options, message] of refused) {
      await assert.rejects(share(files, { ...options, executablePath: standIn }), { name: 'TypeError', message });
    }
  });
  assert.equal(children.length, started + cases.length, 'a refused share started QuibShare');
});

test('exit codes and the outcome line read through a real pipe map to results and errors', async () => {
  const result = (outcome) => ({ result: outcome });
  const completed = '{"outcome":"completed","target":"Contoso.Mail_8wekyb3d8bbwe!App","app":"Ünï — Mail \\u0001\\"\\\\"}';
  const cases = [
    ['exit:0', false, result({ outcome: 'handed' })],
    [`stdout:${completed}`, false, result({ outcome: 'handed' })],
    [`stdout:${completed}`, true,
     result({ outcome: 'completed', target: 'Contoso.Mail_8wekyb3d8bbwe!App', app: 'Ünï — Mail \u0001"\\' })],
    ['stdout:{"outcome":"canceled","since":"0.3"}', true, result({ outcome: 'canceled' })],
    ['stdout:{"outcome":"forwarded"}', true, result({ outcome: 'ended' })],
    ['stdout:{"outcome":"completed"', true, result({ outcome: 'ended' })],
    ['exit:0', true, result({ outcome: 'ended' })],
    // Lines QuibShare never writes, from the shared table.
    ...['a-million-open-arrays', 'lone-high-surrogate', 'raw-ff-in-app', 'empty-app-is-absent']
      .map((name) => [printing(name), true, result(outcomeLine(name).expected)]),
    ['exit:1:Sharing failed (error 0x80004005).', false, failure('FAILED', 1, 'Sharing failed (error 0x80004005).')],
    ['exit:2:Sharing could not start: too many files', true,
     failure('INPUT_REJECTED', 2, 'Sharing could not start: too many files')],
    ['exit:3', false, failure('UNAVAILABLE', 3, 'QuibShare exited with code 3 and gave no reason.')],
    ['exit:3221225477', true, failure('ABNORMAL_EXIT', 3221225477, 'QuibShare exited with code 0xC0000005 and gave no reason.')],
    ['exit:42:The worker gave up.', false, failure('ABNORMAL_EXIT', 42, 'The worker gave up.')],
  ];
  const before = await idleResources();
  for (const [mode, wait, expected] of cases) {
    const outcome = await withVariables({ QUIBSHARE_STAND_IN: mode }, () => settled(share('a.txt', { executablePath: standIn, wait })));
    assert.deepEqual(outcome, expected, `${mode} ${wait}`);
  }
  // Node itself ends with 9 on an option it does not know.
  await expectRejected(share('a.txt', { executablePath: process.execPath }), 'ABNORMAL_EXIT', 9,
                       `${process.execPath}: bad option: --input`);
  await expectNothingLeftBut(before);
});

// Mocked timers: the watchdog fires when the test says. ChildProcess#kill is watched, not changed.
test('the watchdog stops a QuibShare that does not end, even with a leftover process on its pipes',
     { timeout: 120000 }, async (t) => {
  const pids = [];
  const { shares, release } = hangerCleanup(t, 'watchdog');
  const kill = t.mock.method(ChildProcess.prototype, 'kill');
  t.mock.timers.enable({ apis: ['setTimeout'] });
  const cases = [['hang', false, 1], ['hang-with-child', false, 2], ['hang-with-child', true, 2]];
  for (const [i, [mode, wait, count]] of cases.entries()) {
    const name = `${mode} ${wait}`;
    const limitMs = wait ? 725000 : 60000;
    const pidFile = path.join(folder, `watchdog-${i}.txt`);
    const before = await idleResources();
    const kills = kill.mock.callCount();
    await withVariables({ QUIBSHARE_STAND_IN: mode, QUIBSHARE_STAND_IN_PIDS: pidFile, QUIBSHARE_STAND_IN_RELEASE: release },
                        async () => {
      const pending = settled(share('a.txt', { executablePath: standIn, wait }));
      shares.push(pending);
      const child = lastChild();
      pids.push(...await hangingPids(pidFile, count));
      assert.ok(pids.includes(child.pid), name);
      t.mock.timers.tick(limitMs - 1);
      assert.equal(kill.mock.callCount(), kills, `${name}: stopped early`);
      t.mock.timers.tick(1);
      assert.deepEqual(await settledWithin(10000, pending, name),
                       failure('FAILED', null, `QuibShare did not exit within ${limitMs / 1000} seconds and was stopped.`), name);
      assert.equal(alive(child.pid), false, `${name}: still running`);
    });
    await expectNothingLeftBut(before);
  }
});

// QuibShare has exited (here: was killed, so 1) but a process it left holds the pipes: the call
// settles from the exit code after a short grace, or when the watchdog fires first.
test('a leftover process on the pipes does not keep a share from settling on its exit code',
     { timeout: 120000 }, async (t) => {
  const pids = [];
  const { shares, release } = hangerCleanup(t, 'leftover');
  t.mock.timers.enable({ apis: ['setTimeout'] });
  // At the watchdog: it fires (at 60 s) 1 s after the exit, before the grace ends.
  const cases = [['after a grace', true, 0], ['at the watchdog', false, 59000]];
  for (const [i, [name, wait, beforeExitMs]] of cases.entries()) {
    const pidFile = path.join(folder, `leftover-${i}.txt`);
    const before = await idleResources();
    await withVariables({ QUIBSHARE_STAND_IN: 'hang-with-child', QUIBSHARE_STAND_IN_PIDS: pidFile,
                          QUIBSHARE_STAND_IN_RELEASE: release }, async () => {
      const pending = settled(share('a.txt', { executablePath: standIn, wait }));
      shares.push(pending);
      const child = lastChild();
      pids.push(...await hangingPids(pidFile, 2));
      assert.ok(pids.includes(child.pid), name);
      t.mock.timers.tick(beforeExitMs);
      const exited = once(child, 'exit');
      process.kill(child.pid);  // still running, so the id is its own
      await exited;
      t.mock.timers.tick(10000);
      assert.deepEqual(await pending, failure('FAILED', 1, 'QuibShare exited with code 1 and gave no reason.'), name);
    });
    await expectNothingLeftBut(before);
  }
});

test('twenty shares at once each get their own outcome', async () => {
  // One record for the twenty, which only they write.
  const record = newRecord(folder);
  const files = Array.from({ length: 20 }, (_, i) => (i % 2 ? path.join(folder, `absent ${i}.txt`) : writeFile(`many ${i}.txt`)));
  const outcomes = await Promise.allSettled(files.map((file) => retried(() => share(file))));
  outcomes.forEach((outcome, i) => {
    if (i % 2) {
      assert.equal(outcome.status, 'rejected', files[i]);
      assert.equal(outcome.reason.message, 'Sharing could not start: input file does not exist or is inaccessible');
    } else {
      assert.deepEqual(outcome, { status: 'fulfilled', value: { outcome: 'handed' } }, files[i]);
    }
  });
  assert.equal((await record.ended(10, 'remove ShareCompleted')).length, 10);
  assert.deepEqual(record.lines('SetStorageItemsReadOnly').map((line) => line.replace(/^\S+ \d+ /, '')).sort(),
                   files.filter((_, i) => i % 2 === 0).sort());
});

test('executablePath leaves Electron\'s app.asar for app.asar.unpacked in Windows paths', () => {
  const installed = path.dirname(require.resolve('quibshare'));
  const exe = path.join('bin', 'win32-x64', 'QuibShare.exe');
  const cases = [
    ['resources\\app.asar\\node_modules\\quibshare', 'resources\\app.asar.unpacked\\node_modules\\quibshare'],
    ['resources\\app.asar.unpacked\\node_modules\\quibshare', 'resources\\app.asar.unpacked\\node_modules\\quibshare'],
    ['resources\\myapp.asar\\node_modules\\quibshare', 'resources\\myapp.asar\\node_modules\\quibshare'],
  ];
  for (const [i, [inside, expected]] of cases.entries()) {
    const base = path.join(folder, `asar-${i}`);
    fs.mkdirSync(path.join(base, inside), { recursive: true });
    for (const file of ['index.js', 'protocol.js']) fs.copyFileSync(path.join(installed, file), path.join(base, inside, file));
    assert.equal(require(path.join(base, inside, 'index.js')).executablePath(), path.join(base, expected, exe), inside);
  }
});

test('the quibshare command prints the outcome, or QuibShare\'s message, and exits with its code', () => {
  const cli = path.join(path.dirname(require.resolve('quibshare')), 'cli.js');
  const usage = 'usage: quibshare [--wait] [--title T] [--text T] [--url U] [<file>...] (a file, --text or --url at least)\r\n';
  const file = writeFile('f.txt');
  const cases = [
    [[file], [0, '{"outcome":"handed"}\r\n', '']],
    [[folder], [2, '', 'Sharing could not start: input must be a regular file, not a directory\r\n']],
    [['--', '--absent.txt'], [2, '', 'Sharing could not start: input file does not exist or is inaccessible\r\n']],
    [[], [2, '', usage]],
    [['--title', 'T', '--wait'], [2, '', usage]],
    [['--url', 'https://example.com/'], [0, '{"outcome":"handed"}\r\n', '']],
    [[file, '--title'], [2, '', usage]],
    [['--anchor', '1,2,3,4', file], [2, '', usage]],
  ];
  for (const [args, expected] of cases) {
    const result = spawnSync(process.execPath, [cli, ...args], { timeout: 60000, encoding: 'latin1' });
    assert.deepEqual([result.status, result.stdout, result.stderr], expected, args.join(' '));
  }
});
