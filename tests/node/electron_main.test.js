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
const { newRecord } = require('./share_support.js');
const records = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-electron-'));
const refused = (name, message) => ({ error: { name, message } });
const [Denied, Invalid] = [refused('NotAllowedError', 'Permission denied'), refused('TypeError', 'Invalid share data')];
const file = (name, text = name) => ({ name, type: 'text/plain', data: new TextEncoder().encode(text).buffer });
const Completed = { outcome: 'completed' };

// What the simulated sheet was given in `record`, once its worker has ended.
async function given(record) {
  return (await record.ended()).filter((line) => /^(title|text|weblink|SetStorageItemsReadOnly|window) /.test(line));
}
const folders = () => fs.readdirSync(os.tmpdir()).filter((name) => name.startsWith('quibshare-web-'));
async function until(condition, what) {
  for (let tries = 0; tries < 200 && !condition(); ++tries) await delay(25);
  assert.ok(condition(), what);
}

/**
 * Sharing turned on with `options` while `use` runs, given stand-ins for Electron's main-process
 * modules and for a renderer's sendSync and invoke. A sender's window content is at (100, 50), 400
 * by 300 DIPs, on a screen at 150 %. `register`: Electron 35's registerPreloadScript, else the older
 * list of paths. QUIBSHARE_SIM_* `variables` tell the sheet how to end.
 */
async function withWebShare({ register = true, ...options }, use, variables = {}) {
  const [handlers, preloads] = [new Map(), register ? [] : ['C:\\app\\own.js']];
  const sender = () => ({ window: { isDestroyed: () => false, getContentBounds: () => ({ x: 100, y: 50, width: 400, height: 300 }) } });
  const electron = {
    ipcMain: { on: (channel, listener) => handlers.set(channel, listener), handle: (channel, handler) => handlers.set(channel, handler),
               removeHandler: (channel) => handlers.delete(channel) },
    app: new EventEmitter(),
    session: { defaultSession: register
      ? { registerPreloadScript: (script) => preloads.push(script), getPreloadScripts: () => [...preloads] }
      : { getPreloads: () => [...preloads], setPreloads: (paths) => preloads.splice(0, Infinity, ...paths) } },
    BrowserWindow: { fromWebContents: (contents) => contents.window },
    screen: { dipToScreenRect: (window, { x, y, width, height }) => ({ x: x * 1.5, y: y * 1.5, width: width * 1.5, height: height * 1.5 }) },
  };
  const disable = enableWebShare({ keepFilesFor: 0, ...options, electron });
  Object.assign(process.env, variables);
  try {
    return await use({ electron, preloads, sender, sendSync: (channel, event = {}) => (handlers.get(channel)(event), event.returnValue),
                       invoke: async (request, from = sender()) => handlers.get('quibshare:share')({ sender: from }, request) }, disable);
  } finally {
    Object.keys(variables).forEach((name) => delete process.env[name]);
    disable();
  }
}

test('enableWebShare adds its preload to the app\'s own and answers supported, false once off', async () => {
  const preload = path.join(installed, 'electron', 'preload.js');
  const registered = [{ type: 'frame', id: 'quibshare-web-share', filePath: preload }];
  const cases = [
    [{}, registered, { fileTypes: 'web' }],
    [{ register: false, fileTypes: 'any' }, ['C:\\app\\own.js', preload], { fileTypes: 'any' }],
    [{ executablePath: path.join(os.tmpdir(), 'none', 'QuibShare.exe') }, registered, false],
  ];
  for (const [options, preloads, supported] of cases) {
    await withWebShare(options, (stand, disable) => {
      assert.deepEqual(stand.sendSync('quibshare:supported'), supported);
      disable();
      assert.deepEqual([stand.sendSync('quibshare:supported'), stand.preloads], [false, preloads]);
    });
  }
});

test('a page\'s share goes over its window, its files under safe names in one new folder, removed at quit', () =>
  withWebShare({ keepFilesFor: 60000 }, async (stand) => {
    const before = folders();
    const [names, safe] = [['zeta.txt', '..\\..\\alpha — ü.pdf', 'CON.txt', 'a.txt', 'A.TXT'],
                           ['zeta.txt', 'alpha — ü.pdf', '_CON.txt', 'a.txt', 'A (2).TXT']];
    const cases = [
      [{ title: 'Figures', text: 'As promised', url: 'https://example.com/r?id=7', files: names.map((name) => file(name)) },
       ['title 1 Figures', 'text 1 As promised', 'weblink 1 https://example.com/r?id=7', `SetStorageItemsReadOnly 1 ${safe.join(' ')}`]],
      [{ title: 'Read', url: 'https://example.com/a b' }, ['title 1 Read', 'weblink 1 https://example.com/a%20b']],
      [{ text: 'Just words' }, ['title 1 Just words', 'text 1 Just words']],
    ];
    for (const [request, shared] of cases) {
      const record = newRecord(records);
      assert.deepEqual(await stand.invoke(request), Completed);
      const [window, ...lines] = await given(record);
      // 150 % of the content bounds, the sheet's owner at their centre.
      assert.match(window, / at=450,300 /);
      const made = folders().filter((name) => !before.includes(name)).map((name) => path.join(os.tmpdir(), name));
      assert.deepEqual([made.length, lines.map((line) => line.replaceAll(`${made[0]}\\`, ''))], [request.files ? 1 : 0, shared]);
      if (made.length === 0) continue;
      await delay(100);
      assert.deepEqual(safe.map((name) => fs.readFileSync(path.join(made[0], name), 'utf8')), names);
      stand.electron.app.emit('quit');
      await until(() => !fs.existsSync(made[0]), `${made[0]} left`);
    }
  }));

test('names Windows takes: no folder parts, device names, refused characters or trailing dots; distinct without case', () => {
  const names = [
    ['..\\..\\x.txt', 'x.txt'], ['../etc/y.txt', 'y.txt'], ['CON.txt', '_CON.txt'], ['Com1 .tar.gz', '_Com1 .tar.gz'], ['lpt²', '_lpt²'],
    ['CONSOLE.txt', 'CONSOLE.txt'], ['a<b>c:d"e|f?g*h\u0001.txt', 'a_b_c_d_e_f_g_h_.txt'], ['end.txt. . ', 'end.txt'], ['..', 'file'],
    ['dir/', 'file (2)'], ['a.txt', 'a.txt'], ['A.TXT', 'A (2).TXT'], ['a (2).txt', 'a (2) (2).txt'], [`${'n'.repeat(300)}.txt`, `${'n'.repeat(196)}.txt`],
  ];
  assert.deepEqual(windowsFileNames(names.map(([given]) => given)), names.map(([, safe]) => safe));
  assert.deepEqual(failureAnswer(new quibshare.QuibShareError('INPUT_REJECTED', 2, 'Too many.')), refused('TypeError', 'Too many.'));
});

test('what a hostile page sends is refused with its name, and nothing is written or started', () =>
  withWebShare({}, async (stand) => {
    const cases = [
      [null, Invalid], [{ text: 7 }, Invalid], [{ text: 'a\0b' }, Invalid], [{ files: 'a.txt' }, Invalid],
      [{ files: [{ name: 'C:\\secret.txt', path: 'C:\\secret.txt' }] }, Invalid], [{ files: [{ name: '', data: new ArrayBuffer(1) }] }, Invalid],
      [{ title: 'Only a title', text: '' }, refused('TypeError', 'Nothing to share: give a text, a url or files.')],
      [{ url: 'report?id=7' }, refused('TypeError', 'Invalid URL')],
      [{ url: 'file:///C:/Windows/win.ini', files: Array(11).fill(file('a.txt')) }, refused('TypeError', 'Invalid URL')],
      [{ files: Array(11).fill(file('a.txt')) }, Denied], [{ files: [{ name: 'big.txt', data: new ArrayBuffer(52428801) }] }, Denied],
      [{ text: 'x'.repeat(16385) }, Denied], [{ url: `https://example.com/${'x'.repeat(2029)}` }, Denied],
      [{ files: [file('notes.txt'), file('run.bat')] }, Denied],
    ];
    const before = folders();
    const record = newRecord(records);
    for (const [request, answer] of cases) assert.deepEqual(await stand.invoke(request), answer, JSON.stringify(request)?.slice(0, 80));
    assert.deepEqual([folders(), fs.existsSync(record.file)], [before, false]);
  }));

test('every end reaches the page with its name and removes the folder; one share at a time from a window', async () => {
  const alone = path.join(records, 'alone', 'QuibShare.exe');
  fs.cpSync(quibshare.executablePath(), alone);
  const cases = [
    [{ QUIBSHARE_SIM_END: 'cancel' }, {}, { outcome: 'canceled' }],
    [{ QUIBSHARE_SIM_END: 'destroy-window' }, {}, { outcome: 'ended' }],
    [{ QUIBSHARE_SIM_FAIL: 'getforwindow:80004005' }, {}, refused('DataError', 'Sharing could not be opened (error 0x80004005).')],
    [{}, { executablePath: alone }, refused('NotAllowedError',
      'Sharing is not available on this system: the Windows share interface is missing or disabled.')],
    [{}, {}, Completed],
  ];
  for (const [variables, options, expected] of cases) {
    newRecord(records);
    const before = folders();
    // A second share from the same window, asked while the first runs, is refused.
    assert.deepEqual(await withWebShare(options, ({ invoke, sender }, disable, from = sender()) =>
      Promise.all([invoke({ files: [file('a.txt')] }, from), invoke({ text: 'x' }, from)]), variables),
    [expected, refused('InvalidStateError', 'A earlier share had not yet completed.')]);
    await until(() => folders().every((name) => before.includes(name)), `${JSON.stringify(expected)}: folder left`);
  }
});

test('at the start, folders left over for more than a day are removed, and no other', async () => {
  const [now, day] = [Date.now(), 24 * 60 * 60 * 1000];
  // Old and unchanged; old by its name but changed lately; made lately; not ours.
  const made = [[`quibshare-web-${now - 2 * day}-aaaaaa`, 2 * day], [`quibshare-web-${now - 2 * day}-bbbbbb`, 1000],
                [`quibshare-web-${now - 1000}-cccccc`, 2 * day], [`quibshare-webby-${now - 2 * day}-dddddd`, 2 * day]]
    .map(([name, ageMs]) => {
      const folder = path.join(os.tmpdir(), name);
      fs.mkdirSync(path.join(folder, 'inside'), { recursive: true });
      fs.utimesSync(folder, new Date(now - ageMs), new Date(now - ageMs));
      return folder;
    });
  try {
    await withWebShare({}, () => until(() => !fs.existsSync(made[0]), `${made[0]} left`));
    await delay(200);
    assert.deepEqual(made.map((folder) => fs.existsSync(folder)), [false, true, true, true]);
  } finally {
    for (const folder of made) fs.rmSync(folder, { recursive: true, force: true });
  }
});
