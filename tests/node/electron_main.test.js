// quibshare/electron's main side from Windows Node, as an app's main process runs it: a stand-in
// for Electron's main-process modules, the real executable and the simulated sheet beside it.
'use strict';
const assert = require('node:assert/strict');
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { setTimeout: delay } = require('node:timers/promises');
const quibshare = require('quibshare');
const { enableWebShare } = require('quibshare/electron');

const installed = path.dirname(require.resolve('quibshare'));
// Not exported: the main side's pure rules, loaded from the package's folder.
const { windowsFileNames, failureAnswer } = require(path.join(installed, 'electron', 'request.js'));
const record = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-electron-')), 'record.txt');
process.env.QUIBSHARE_SIM_LOG = record;
const refused = (name, message) => ({ error: { name, message } });
const [Denied, Invalid] = [refused('NotAllowedError', 'Permission denied'), refused('TypeError', 'Invalid share data')];
const file = (name, text = name) => ({ name, type: 'text/plain', data: new TextEncoder().encode(text).buffer });

const recorded = (prefix) => (fs.existsSync(record) ? fs.readFileSync(record, 'utf8') : '').split('\n')
  .filter((line) => line.startsWith(prefix));
const shareFolders = () => fs.readdirSync(os.tmpdir()).filter((name) => name.startsWith('quibshare-web-'));
async function until(condition, what) {
  for (let tries = 0; tries < 200 && !condition(); ++tries) await delay(25);
  assert.ok(condition(), what);
}
// Read by QuibShare and the simulated sheet when a share starts.
async function withVariables(variables, action) {
  Object.assign(process.env, variables);
  return action().finally(() => Object.keys(variables).forEach((name) => delete process.env[name]));
}

/**
 * Electron's main-process modules as enableWebShare uses them, with a renderer's side: sendSync
 * and invoke from a sender (a webContents). Its window's content is at (100, 50), 400 by 300 DIPs,
 * on a screen at 150 %. `preloads`: Electron 35's registerPreloadScript, or the older list.
 */
function standInElectron(preloads = 'register') {
  const [listeners, handlers, anchored, registered] = [[], new Map(), [], []];
  let list = ['C:\\app\\own.js'];
  const electron = {
    ipcMain: {
      on: (channel, listener) => listeners.push([channel, listener]),
      handle(channel, handler) {
        if (handlers.has(channel)) throw new Error(`Attempted to register a second handler for '${channel}'`);
        handlers.set(channel, handler);
      },
      removeHandler: (channel) => handlers.delete(channel),
    },
    app: new EventEmitter(),
    session: { defaultSession: preloads === 'register'
      ? { registerPreloadScript: (script) => registered.push(script), getPreloadScripts: () => [...registered] }
      : { getPreloads: () => [...list], setPreloads: (paths) => { list = paths; } } },
    BrowserWindow: { fromWebContents: (contents) => contents.window },
    screen: { dipToScreenRect(window, { x, y, width, height }) {
      anchored.push([window, { x, y, width, height }]);
      return { x: x * 1.5, y: y * 1.5, width: width * 1.5, height: height * 1.5 };
    } },
  };
  const sender = () => ({ window: { isDestroyed: () => false, getContentBounds: () => ({ x: 100, y: 50, width: 400, height: 300 }) } });
  return {
    electron, anchored, sender,
    preloads: () => (preloads === 'register' ? registered : list),
    sendSync(channel) {
      const event = { sender: sender() };
      const answering = listeners.filter(([on]) => on === channel);
      assert.ok(answering.length > 0, `nobody answers ${channel}: the renderer would hang`);
      for (const [, listener] of answering) listener(event);
      return event.returnValue;
    },
    async invoke(from, channel, request) {
      if (!handlers.has(channel)) throw new Error(`No handler registered for '${channel}'`);
      return handlers.get(channel)({ sender: from }, request);
    },
  };
}

test('enableWebShare registers the preload once, answers supported, and once off answers false', () => {
  const preload = path.join(installed, 'electron', 'preload.js');
  const registered = [{ type: 'frame', id: 'quibshare-web-share', filePath: preload }];
  const cases = [
    ['register', {}, registered, { fileTypes: 'web' }],
    ['list', { fileTypes: 'any' }, ['C:\\app\\own.js', preload], { fileTypes: 'any' }],
    ['list', { preload: false }, ['C:\\app\\own.js'], { fileTypes: 'web' }],
    ['register', { executablePath: path.join(os.tmpdir(), 'none', 'QuibShare.exe') }, registered, false],
  ];
  for (const [kind, options, preloads, supported] of cases) {
    const stand = standInElectron(kind);
    const disable = enableWebShare({ ...options, electron: stand.electron });
    assert.deepEqual(stand.sendSync('quibshare:supported'), supported);
    disable();
    assert.equal(stand.sendSync('quibshare:supported'), false);
    // On again: the newest answer counts, and the preload is not added twice.
    const again = enableWebShare({ ...options, electron: stand.electron });
    assert.deepEqual(stand.sendSync('quibshare:supported'), supported);
    assert.throws(() => enableWebShare({ electron: stand.electron }), /second handler/);
    again();
    assert.deepEqual(stand.preloads(), preloads, JSON.stringify(options));
  }
  assert.throws(() => enableWebShare({ keepFilesFor: 3600001, electron: standInElectron().electron }), { name: 'TypeError',
    message: 'options.keepFilesFor must be a whole number of milliseconds from 0 to 3600000' });
});

test('a page\'s files are written into one new folder, shared in order over its window, and removed', async () => {
  // Kept a minute, they are there after the share with the page's bytes until the app quits.
  for (const keepFilesFor of [60000, 0]) {
    const stand = standInElectron();
    const disable = enableWebShare({ keepFilesFor, electron: stand.electron });
    const [before, sender] = [shareFolders(), stand.sender()];
    fs.rmSync(record, { force: true });
    assert.deepEqual(await stand.invoke(sender, 'quibshare:share', { title: 'Figures', text: 'As promised',
      url: 'https://example.com/r?id=7', files: [file('zeta.txt', 'first\n'), file('alpha — ü.pdf', '%PDF-1.7')] }),
    { outcome: 'completed' });
    const made = path.join(os.tmpdir(), shareFolders().find((name) => !before.includes(name)));
    const written = [path.join(made, 'zeta.txt'), path.join(made, 'alpha — ü.pdf')];
    assert.deepEqual([recorded('SetStorageItemsReadOnly'), recorded('title '), recorded('text '), recorded('weblink ')],
                     [[`SetStorageItemsReadOnly 1 ${written.join(' ')}`], ['title 1 Figures'], ['text 1 As promised'],
                      ['weblink 1 https://example.com/r?id=7']]);
    // 150 % of the content bounds; the sheet's owner at their centre.
    assert.deepEqual(stand.anchored, [[sender.window, { x: 100, y: 50, width: 400, height: 300 }]]);
    assert.match(recorded('window ')[0], / at=450,300 /);
    if (keepFilesFor > 0) {
      await delay(100);
      assert.deepEqual(written.map((shared) => fs.readFileSync(shared, 'utf8')), ['first\n', '%PDF-1.7']);
      stand.electron.app.emit('quit');
    }
    await until(() => !fs.existsSync(made), `${made} left`);
    disable();
  }
});

test('hostile file names land inside the folder under names Windows takes, distinct without case', async () => {
  const names = [
    ['..\\..\\x.txt', 'x.txt'], ['../etc/y.txt', 'y.txt'], ['CON.txt', '_CON.txt'], ['Com1 .tar.gz', '_Com1 .tar.gz'],
    ['lpt²', '_lpt²'], ['CONSOLE.txt', 'CONSOLE.txt'], ['a<b>c:d"e|f?g*h\u0001.txt', 'a_b_c_d_e_f_g_h_.txt'],
    ['end.txt. . ', 'end.txt'], ['..', 'file'], ['dir/', 'file (2)'], ['a.txt', 'a.txt'], ['A.TXT', 'A (2).TXT'],
    ['a (2).txt', 'a (2) (2).txt'], [`${'n'.repeat(300)}.txt`, `${'n'.repeat(196)}.txt`],
  ];
  assert.deepEqual(windowsFileNames(names.map(([given]) => given)), names.map(([, safe]) => safe));
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, fileTypes: 'any', electron: stand.electron });
  fs.rmSync(record, { force: true });
  const hostile = ['..\\..\\x.txt', 'CON.txt', 'a.txt', 'A.TXT'];
  assert.deepEqual(await stand.invoke(stand.sender(), 'quibshare:share', { files: hostile.map((name) => file(name)) }),
                   { outcome: 'completed' });
  const shared = recorded('SetStorageItemsReadOnly')[0].replace(/^\S+ 1 /, '').split(/ (?=[A-Z]:\\)/);
  assert.deepEqual(shared.map((sharedPath) => path.basename(sharedPath)), ['x.txt', '_CON.txt', 'a.txt', 'A (2).TXT']);
  assert.deepEqual([...new Set(shared.map((sharedPath) => path.dirname(path.dirname(sharedPath))))], [os.tmpdir()]);
  assert.equal(new Set(shared.map((sharedPath) => path.dirname(sharedPath))).size, 1);
  disable();
});

test('what a hostile page sends is refused with its name, and nothing is written or started', async () => {
  const cases = [
    [null, Invalid], [{ text: 7 }, Invalid], [{ text: 'a\0b' }, Invalid], [{ files: 'a.txt' }, Invalid],
    [{ files: [{ name: 'C:\\secret.txt', path: 'C:\\secret.txt' }] }, Invalid], [{ files: [{ name: '', data: new ArrayBuffer(1) }] }, Invalid],
    [{ title: 'Only a title', text: '' }, refused('TypeError', 'Nothing to share: give a text, a url or files.')],
    [{ url: 'report?id=7' }, refused('TypeError', 'Invalid URL')],
    [{ url: 'file:///C:/Windows/win.ini', files: Array(11).fill(file('a.txt')) }, refused('TypeError', 'Invalid URL')],
    [{ files: Array(11).fill(file('a.txt')) }, Denied],
    [{ files: [{ name: 'big.txt', data: new ArrayBuffer(50 * 1024 * 1024 + 1) }] }, Denied],
    [{ text: 'x'.repeat(16385) }, Denied], [{ url: `https://example.com/${'x'.repeat(2029)}` }, Denied],
    [{ files: [file('notes.txt'), file('run.bat')] }, Denied],
  ];
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  fs.rmSync(record, { force: true });
  const before = shareFolders();
  for (const [request, answer] of cases) {
    assert.deepEqual(await stand.invoke(stand.sender(), 'quibshare:share', request), answer, JSON.stringify(request)?.slice(0, 80));
  }
  assert.deepEqual([shareFolders(), fs.existsSync(record)], [before, false]);
  disable();
});

test('one share at a time from a window: a second is refused while the first runs, another window\'s goes on', async () => {
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  const [first, second] = [stand.sender(), stand.sender()];
  await withVariables({ QUIBSHARE_SIM_END_AFTER: '1500' }, async () => {
    const shares = [stand.invoke(first, 'quibshare:share', { files: [file('a.txt')] }),
                    stand.invoke(second, 'quibshare:share', { files: [file('b.txt')] })];
    await delay(200);
    assert.deepEqual(await stand.invoke(first, 'quibshare:share', { title: 'x' }),
                     refused('InvalidStateError', 'A earlier share had not yet completed.'));
    assert.deepEqual(await Promise.all(shares), [{ outcome: 'completed' }, { outcome: 'completed' }]);
  });
  assert.deepEqual(await stand.invoke(first, 'quibshare:share', { files: [file('c.txt')] }), { outcome: 'completed' });
  disable();
});

test('every outcome and failure reaches the page with its name, and the folder goes whatever the end', async () => {
  const alone = path.join(path.dirname(record), 'alone', 'QuibShare.exe');
  fs.mkdirSync(path.dirname(alone));
  fs.copyFileSync(quibshare.executablePath(), alone);
  const cases = [
    [{ QUIBSHARE_SIM_END: 'cancel' }, {}, { outcome: 'canceled' }],
    [{ QUIBSHARE_SIM_END: 'destroy-window' }, {}, { outcome: 'ended' }],
    [{ QUIBSHARE_SIM_FAIL: 'getforwindow:80004005' }, {}, refused('DataError', 'Sharing could not be opened (error 0x80004005).')],
    [{}, { executablePath: alone }, refused('NotAllowedError',
      'Sharing is not available on this system: the Windows share interface is missing or disabled.')],
  ];
  for (const [variables, options, expected] of cases) {
    const stand = standInElectron();
    const disable = enableWebShare({ keepFilesFor: 0, ...options, electron: stand.electron });
    const before = shareFolders();
    assert.deepEqual(await withVariables(variables, () => stand.invoke(stand.sender(), 'quibshare:share',
                                                                       { files: [file('a.txt')] })), expected);
    await until(() => shareFolders().every((name) => before.includes(name)), `${JSON.stringify(expected)}: folder left`);
    disable();
  }
  const { QuibShareError } = quibshare;
  const failures = [
    [new QuibShareError('INPUT_REJECTED', 2, 'Too many.'), refused('TypeError', 'Too many.')],
    [new QuibShareError('ABNORMAL_EXIT', 42, 'Gave up.'), refused('DataError', 'Gave up.')],
    [new Error('ENOSPC: no space left on device'), refused('DataError', 'ENOSPC: no space left on device')],
  ];
  for (const [error, answer] of failures) assert.deepEqual(failureAnswer(error), answer);
});

test('a link or a text alone is shared without a folder', async () => {
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  const before = shareFolders();
  const cases = [
    [{ title: 'Read', url: 'https://example.com/a b' }, ['weblink 1 https://example.com/a%20b'], []],
    [{ text: 'Just words' }, [], ['text 1 Just words']],
  ];
  for (const [request, links, texts] of cases) {
    fs.rmSync(record, { force: true });
    assert.deepEqual(await stand.invoke(stand.sender(), 'quibshare:share', request), { outcome: 'completed' });
    assert.deepEqual([recorded('weblink '), recorded('text '), recorded('SetStorageItemsReadOnly'), shareFolders()],
                     [links, texts, [], before]);
  }
  disable();
});

test('at the start, folders left over for more than a day are removed, and no other', async () => {
  const [now, day] = [Date.now(), 24 * 60 * 60 * 1000];
  const make = (name, ageMs) => {
    const made = path.join(os.tmpdir(), name);
    fs.mkdirSync(made);
    fs.writeFileSync(path.join(made, 'a.txt'), 'x');
    fs.utimesSync(made, new Date(now - ageMs), new Date(now - ageMs));
    return made;
  };
  // Old and unchanged; old by its name but changed lately; made lately; not ours.
  const made = [make(`quibshare-web-${now - 2 * day}-aaaaaa`, 2 * day), make(`quibshare-web-${now - 2 * day}-bbbbbb`, 1000),
                make(`quibshare-web-${now - 1000}-cccccc`, 2 * day), make(`quibshare-webby-${now - 2 * day}-dddddd`, 2 * day)];
  try {
    enableWebShare({ electron: standInElectron().electron })();
    await until(() => !fs.existsSync(made[0]), `${made[0]} left`);
    await delay(200);
    assert.deepEqual(made.map((folder) => fs.existsSync(folder)), [false, true, true, true]);
  } finally {
    for (const folder of made) fs.rmSync(folder, { recursive: true, force: true });
  }
});
