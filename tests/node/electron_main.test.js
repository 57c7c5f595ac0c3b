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

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-electron-'));
const record = path.join(folder, 'record.txt');
process.env.QUIBSHARE_SIM_LOG = record;
const refused = (name, message) => ({ error: { name, message } });
const Denied = refused('NotAllowedError', 'Permission denied');
const Invalid = refused('TypeError', 'Invalid share data');

function recorded(prefix) {
  const text = fs.existsSync(record) ? fs.readFileSync(record, 'utf8') : '';
  return text.split('\n').filter((line) => line.startsWith(prefix));
}

function shareFolders() {
  return fs.readdirSync(os.tmpdir()).filter((name) => name.startsWith('quibshare-web-')).sort();
}

async function until(condition, what) {
  for (let tries = 0; tries < 200 && !condition(); ++tries) await delay(25);
  assert.ok(condition(), what);
}

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

// A window whose content is at (100, 50), 400 by 300 DIPs, on a screen at 150 %.
function standInWindow() {
  return { isDestroyed: () => false, getContentBounds: () => ({ x: 100, y: 50, width: 400, height: 300 }) };
}

/**
 * Electron's main-process modules as enableWebShare uses them, checking that use, with the
 * renderer's side: sendSync and invoke from a sender (a webContents).
 * @param {'register' | 'list'} preloads Electron 35's registerPreloadScript, or the older list
 */
function standInElectron(preloads = 'register') {
  const listeners = new Map();
  const handlers = new Map();
  const calls = [];
  const ipcMain = {
    on(channel, listener) {
      listeners.set(channel, [...(listeners.get(channel) ?? []), listener]);
      return ipcMain;
    },
    handle(channel, handler) {
      if (handlers.has(channel)) throw new Error(`Attempted to register a second handler for '${channel}'`);
      handlers.set(channel, handler);
    },
    removeHandler(channel) {
      handlers.delete(channel);
    },
  };
  const registered = [];
  let list = ['C:\\app\\own-preload.js'];
  const defaultSession = preloads === 'register' ? {
    registerPreloadScript(script) {
      assert.ok(!registered.some(({ id }) => id === script.id), `${script.id} registered twice`);
      registered.push(script);
      return script.id;
    },
    getPreloadScripts: () => [...registered],
  } : {
    getPreloads: () => [...list],
    setPreloads: (paths) => {
      list = paths;
    },
  };
  const electron = {
    ipcMain,
    app: new EventEmitter(),
    session: { defaultSession },
    BrowserWindow: { fromWebContents: (contents) => contents.window },
    screen: {
      dipToScreenRect(window, rect) {
        calls.push(['dipToScreenRect', window, rect]);
        return { x: rect.x * 1.5, y: rect.y * 1.5, width: rect.width * 1.5, height: rect.height * 1.5 };
      },
    },
  };
  return {
    electron,
    calls,
    preloads: () => (preloads === 'register' ? registered : list),
    sendSync(sender, channel) {
      const event = { sender };
      const answering = listeners.get(channel) ?? [];
      assert.ok(answering.length > 0, `nobody answers ${channel}: the renderer would hang`);
      for (const listener of answering) listener(event);
      return event.returnValue;
    },
    async invoke(sender, channel, ...args) {
      const handler = handlers.get(channel);
      if (!handler) throw new Error(`No handler registered for '${channel}'`);
      return handler({ sender }, ...args);
    },
  };
}

const file = (name, text, type = 'text/plain') => ({ name, type, data: new TextEncoder().encode(text).buffer });

test('enableWebShare registers the preload once, answers supported, and when off answers false', () => {
  const preload = path.join(installed, 'electron', 'preload.js');
  const sender = { window: standInWindow() };
  const cases = [
    ['registered', 'register', {}, [{ type: 'frame', id: 'quibshare-web-share', filePath: preload }], { fileTypes: 'web' }],
    ['listed after the app\'s own', 'list', { fileTypes: 'any' }, ['C:\\app\\own-preload.js', preload], { fileTypes: 'any' }],
    ['loaded by the app', 'list', { preload: false }, ['C:\\app\\own-preload.js'], { fileTypes: 'web' }],
    ['no executable', 'register', { executablePath: path.join(folder, 'none', 'QuibShare.exe') },
     [{ type: 'frame', id: 'quibshare-web-share', filePath: preload }], false],
  ];
  for (const [name, kind, options, preloads, supported] of cases) {
    const stand = standInElectron(kind);
    const disable = enableWebShare({ ...options, electron: stand.electron });
    assert.deepEqual(stand.sendSync(sender, 'quibshare:supported'), supported, name);
    disable();
    assert.equal(stand.sendSync(sender, 'quibshare:supported'), false, name);
    disable();
    // On again: the newest answer wins, and the preload is not added twice.
    enableWebShare({ ...options, electron: stand.electron })();
    const again = enableWebShare({ ...options, electron: stand.electron });
    assert.deepEqual(stand.sendSync(sender, 'quibshare:supported'), supported, name);
    assert.throws(() => enableWebShare({ ...options, electron: stand.electron }), /second handler/, name);
    again();
    assert.deepEqual(stand.preloads(), preloads, name);
  }
  const stand = standInElectron();
  const options = [
    [{ fileTypes: 'pdf' }, "options.fileTypes must be 'web' or 'any'"],
    [{ keepFilesFor: -1 }, 'options.keepFilesFor must be a whole number of milliseconds from 0 to 3600000'],
    [{ keepFilesFor: 3600001 }, 'options.keepFilesFor must be a whole number of milliseconds from 0 to 3600000'],
    [{ keepFilesFor: 1.5 }, 'options.keepFilesFor must be a whole number of milliseconds from 0 to 3600000'],
    [{ executablePath: 7 }, 'options.executablePath must be a string'],
    [{ preload: 'yes' }, 'options.preload must be a boolean'],
  ];
  for (const [bad, message] of options) {
    assert.throws(() => enableWebShare({ ...bad, electron: stand.electron }), { name: 'TypeError', message });
  }
  assert.throws(() => stand.sendSync(sender, 'quibshare:supported'), /nobody answers/);
});

test('a page\'s files are written into one new folder, shared in order over its window, and removed', async () => {
  const cases = [
    // Kept a minute: still there after the share with the page's bytes, until the app quits.
    ['kept until quit', 60000],
    ['removed at once', 0],
  ];
  for (const [name, keepFilesFor] of cases) {
    const stand = standInElectron();
    const disable = enableWebShare({ keepFilesFor, electron: stand.electron });
    const window = standInWindow();
    const before = shareFolders();
    fs.rmSync(record, { force: true });
    const answer = await withVariables({ QUIBSHARE_SIM_TARGET: 'Contoso.Mail_8wekyb3d8bbwe!App' }, () =>
      stand.invoke({ window }, 'quibshare:share', {
        title: 'Figures', text: 'As promised', url: 'https://example.com/report?id=7',
        files: [file('zeta.txt', 'first file\n'), file('alpha — ü.pdf', '%PDF-1.7', 'application/pdf')],
      }));
    assert.deepEqual(answer, { outcome: 'completed' }, name);
    const [made] = shareFolders().filter((entry) => !before.includes(entry));
    assert.match(made ?? '', /^quibshare-web-\d+-/, name);
    const written = [path.join(os.tmpdir(), made, 'zeta.txt'), path.join(os.tmpdir(), made, 'alpha — ü.pdf')];
    assert.deepEqual([recorded('SetStorageItemsReadOnly'), recorded('title '), recorded('text '), recorded('weblink ')],
                     [[`SetStorageItemsReadOnly 1 ${written.join(' ')}`], ['title 1 Figures'], ['text 1 As promised'],
                      ['weblink 1 https://example.com/report?id=7']], name);
    // 150 % of the content bounds, and the sheet's owner at their centre.
    assert.deepEqual(stand.calls, [['dipToScreenRect', window, { x: 100, y: 50, width: 400, height: 300 }]], name);
    assert.match(recorded('window ')[0] ?? '', / at=450,300 /, name);
    if (keepFilesFor > 0) {
      assert.deepEqual(written.map((shared) => fs.readFileSync(shared, 'utf8')), ['first file\n', '%PDF-1.7'], name);
      await delay(100);
      assert.ok(fs.existsSync(written[0]), `${name}: removed early`);
      stand.electron.app.emit('quit');
    }
    await until(() => !fs.existsSync(path.join(os.tmpdir(), made)), `${name}: ${made} left`);
    disable();
  }
});

test('hostile file names land inside the folder under names Windows takes, distinct without case', async () => {
  const names = [
    ['..\\..\\x.txt', 'x.txt'],
    ['../../etc/y.txt', 'y.txt'],
    ['C:\\Windows\\z.txt', 'z.txt'],
    ['CON.txt', '_CON.txt'],
    ['nul', '_nul'],
    ['Com1 .tar.gz', '_Com1 .tar.gz'],
    ['lpt²', '_lpt²'],
    ['CONSOLE.txt', 'CONSOLE.txt'],
    ['a<b>c:d"e|f?g*h\u0001.txt', 'a_b_c_d_e_f_g_h_.txt'],
    ['stream.txt:hidden', 'stream.txt_hidden'],
    ['trailing.txt. . ', 'trailing.txt'],
    ['..', 'file'],
    ['dir/', 'file (2)'],
    ['report.txt', 'report.txt'],
    ['REPORT.TXT', 'REPORT (2).TXT'],
    ['report (2).txt', 'report (2) (2).txt'],
    ['Report.txt', 'Report (3).txt'],
    [`${'n'.repeat(300)}.txt`, `${'n'.repeat(196)}.txt`],
  ];
  assert.deepEqual(windowsFileNames(names.map(([given]) => given)), names.map(([, safe]) => safe));
  // End to end: where they are written and shared.
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, fileTypes: 'any', electron: stand.electron });
  fs.rmSync(record, { force: true });
  const hostile = ['..\\..\\x.txt', 'CON.txt', 'a.txt', 'A.TXT'];
  const answer = await stand.invoke({ window: standInWindow() }, 'quibshare:share', { files: hostile.map((name) => file(name, name)) });
  assert.deepEqual(answer, { outcome: 'completed' });
  const [line] = recorded('SetStorageItemsReadOnly');
  const shared = line.replace(/^SetStorageItemsReadOnly 1 /, '').split(/ (?=[A-Z]:\\)/);
  assert.deepEqual(shared.map((sharedPath) => path.basename(sharedPath)), ['x.txt', '_CON.txt', 'a.txt', 'A (2).TXT']);
  assert.equal(new Set(shared.map((sharedPath) => path.dirname(sharedPath))).size, 1);
  assert.equal(path.dirname(path.dirname(shared[0])), path.resolve(os.tmpdir()));
  disable();
});

test('what a hostile page sends is refused with its name, and nothing is written or started', async () => {
  const big = new Uint8Array(50 * 1024 * 1024 + 1);
  const cases = [
    [null, Invalid],
    ['text', Invalid],
    [{ text: 7 }, Invalid],
    [{ title: { toString: () => 'x' }, text: 'x' }, Invalid],
    [{ text: 'a\0b' }, Invalid],
    [{ files: 'a.txt' }, Invalid],
    [{ files: [{ name: 'a.txt', data: 'bytes' }] }, Invalid],
    [{ files: [{ name: '', data: new ArrayBuffer(1) }] }, Invalid],
    [{ files: [{ name: 'C:\\secret.txt', path: 'C:\\secret.txt' }] }, Invalid],
    [{ title: 'Only a title' }, refused('TypeError', 'Nothing to share: give a text, a url or files.')],
    [{ text: '', url: '', files: [] }, refused('TypeError', 'Nothing to share: give a text, a url or files.')],
    [{ url: 'report?id=7' }, refused('TypeError', 'Invalid URL')],
    [{ url: 'file:///C:/Windows/win.ini' }, refused('TypeError', 'Invalid URL')],
    [{ url: 'javascript:alert(1)', files: Array.from({ length: 11 }, () => file('a.txt', 'x')) }, refused('TypeError', 'Invalid URL')],
    [{ files: Array.from({ length: 11 }, () => file('a.txt', 'x')) }, Denied],
    [{ files: [{ name: 'big.txt', data: big.buffer }] }, Denied],
    [{ text: 'x'.repeat(16385) }, Denied],
    [{ url: `https://example.com/${'x'.repeat(2029)}` }, Denied],
    [{ files: [file('setup.exe', 'MZ')] }, Denied],
    [{ files: [file('notes.txt', 'x'), file('run.bat', 'x')] }, Denied],
  ];
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  fs.rmSync(record, { force: true });
  const before = shareFolders();
  for (const [request, answer] of cases) {
    assert.deepEqual(await stand.invoke({ window: standInWindow() }, 'quibshare:share', request), answer,
                     JSON.stringify(request)?.slice(0, 100));
  }
  assert.deepEqual([shareFolders(), fs.existsSync(record)], [before, false]);
  disable();
});

test('one share at a time from a window: a second is refused while the first runs, another window\'s goes on', async () => {
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  const [first, second] = [{ window: standInWindow() }, { window: standInWindow() }];
  await withVariables({ QUIBSHARE_SIM_END_AFTER: '1500' }, async () => {
    const running = stand.invoke(first, 'quibshare:share', { files: [file('a.txt', 'a')] });
    const other = stand.invoke(second, 'quibshare:share', { files: [file('b.txt', 'b')] });
    await delay(200);
    assert.deepEqual(await stand.invoke(first, 'quibshare:share', { title: 'x' }),
                     refused('InvalidStateError', 'A earlier share had not yet completed.'));
    assert.deepEqual(await Promise.all([running, other]), [{ outcome: 'completed' }, { outcome: 'completed' }]);
  });
  assert.deepEqual(await stand.invoke(first, 'quibshare:share', { files: [file('c.txt', 'c')] }), { outcome: 'completed' });
  disable();
});

test('every outcome and failure reaches the page with its name, and the folder goes whatever the end', async () => {
  const alone = path.join(folder, 'alone', 'QuibShare.exe');
  fs.mkdirSync(path.dirname(alone));
  fs.copyFileSync(quibshare.executablePath(), alone);
  const cases = [
    ['canceled', { QUIBSHARE_SIM_END: 'cancel' }, {}, { outcome: 'canceled' }],
    ['ended', { QUIBSHARE_SIM_END: 'destroy-window' }, {}, { outcome: 'ended' }],
    ['failed', { QUIBSHARE_SIM_FAIL: 'getforwindow:80004005' }, {},
     refused('DataError', 'Sharing could not be opened (error 0x80004005).')],
    ['unavailable', {}, { executablePath: alone }, refused('NotAllowedError',
      'Sharing is not available on this system: the Windows share interface is missing or disabled.')],
  ];
  for (const [name, variables, options, expected] of cases) {
    const stand = standInElectron();
    const disable = enableWebShare({ keepFilesFor: 0, ...options, electron: stand.electron });
    const before = shareFolders();
    const answer = await withVariables(variables, () =>
      stand.invoke({ window: standInWindow() }, 'quibshare:share', { files: [file('a.txt', 'a')] }));
    assert.deepEqual(answer, expected, name);
    await until(() => shareFolders().every((entry) => before.includes(entry)), `${name}: folder left`);
    disable();
  }
  // The rest of the mapping, from errors made here.
  const { QuibShareError } = quibshare;
  const failures = [
    [new QuibShareError('INPUT_REJECTED', 2, 'Sharing could not start: too many files'),
     refused('TypeError', 'Sharing could not start: too many files')],
    [new QuibShareError('UNAVAILABLE', 3, 'Not here.'), refused('NotAllowedError', 'Not here.')],
    [new QuibShareError('ABNORMAL_EXIT', 42, 'The worker gave up.'), refused('DataError', 'The worker gave up.')],
    [new QuibShareError('SPAWN_FAILED', null, 'QuibShare could not be started from C:\\x.'),
     refused('DataError', 'QuibShare could not be started from C:\\x.')],
    [new Error('ENOSPC: no space left on device'), refused('DataError', 'ENOSPC: no space left on device')],
  ];
  for (const [error, answer] of failures) assert.deepEqual(failureAnswer(error), answer, error.message);
});

test('a link or a text alone is shared without a folder', async () => {
  const stand = standInElectron();
  const disable = enableWebShare({ keepFilesFor: 0, electron: stand.electron });
  const before = shareFolders();
  fs.rmSync(record, { force: true });
  const answer = await stand.invoke({ window: standInWindow() }, 'quibshare:share',
                                    { title: 'Read this', url: 'https://example.com/a b' });
  assert.deepEqual(answer, { outcome: 'completed' });
  assert.deepEqual([recorded('weblink '), recorded('title '), shareFolders()],
                   [['weblink 1 https://example.com/a%20b'], ['title 1 Read this'], before]);
  disable();
});

test('at the start, folders left over for more than a day are removed, and no other', async () => {
  const now = Date.now();
  const day = 24 * 60 * 60 * 1000;
  const make = (name, ageMs) => {
    const made = path.join(os.tmpdir(), name);
    fs.mkdirSync(made);
    fs.writeFileSync(path.join(made, 'a.txt'), 'x');
    const time = new Date(now - ageMs);
    fs.utimesSync(made, time, time);
    return made;
  };
  const old = make(`quibshare-web-${now - 2 * day}-aaaaaa`, 2 * day);
  const kept = [
    make(`quibshare-web-${now - 2 * day}-bbbbbb`, 1000),     // old by its name, but changed lately
    make(`quibshare-web-${now - 1000}-cccccc`, 2 * day),     // made lately
    make(`quibshare-webby-${now - 2 * day}-dddddd`, 2 * day), // not ours
  ];
  try {
    const disable = enableWebShare({ electron: standInElectron().electron });
    await until(() => !fs.existsSync(old), `${old} left`);
    await delay(200);
    assert.deepEqual(kept.map((made) => fs.existsSync(made)), [true, true, true]);
    disable();
  } finally {
    for (const made of [old, ...kept]) fs.rmSync(made, { recursive: true, force: true });
  }
});
