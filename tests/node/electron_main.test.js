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
const table = require('./web_share_table.js');

const installed = path.dirname(require.resolve('quibshare'));
// Not exported: the main side's pure rules, loaded from the package's folder.
const { windowsFileNames, checkRequest, Rules } = require(path.join(installed, 'electron', 'request.js'));
const { senderRefusal } = require(path.join(installed, 'electron', 'sender.js'));
const { newRecord } = require('./share_support.js');
const records = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-electron-'));
const { answers } = table;
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
 * modules; `load` puts a document in a window as Electron would, its preload asking whether the app
 * shares, and gives it `invoke`, which sends a share after a click (`input: false`, without one). A
 * window's content is at (100, 50), 400 by 300 DIPs, on a screen at 150 %. `register`: Electron 35's
 * registerPreloadScript, else the older list of paths. QUIBSHARE_SIM_* `variables` tell the sheet how
 * to end. What the main side says on the console is kept in `logged`.
 */
async function withWebShare({ register = true, ...options }, use, variables = {}) {
  const [handlers, preloads, logged] = [new Map(), register ? [] : ['C:\\app\\own.js'], []];
  const ipcMain = Object.assign(new EventEmitter(), { handle: (channel, handler) => handlers.set(channel, handler),
                                                      removeHandler: (channel) => handlers.delete(channel) });
  const electron = {
    ipcMain,
    app: new EventEmitter(),
    session: { defaultSession: register
      ? { registerPreloadScript: (script) => preloads.push(script), getPreloadScripts: () => [...preloads] }
      : { getPreloads: () => [...preloads], setPreloads: (paths) => preloads.splice(0, Infinity, ...paths) } },
    BrowserWindow: { fromWebContents: (contents) => contents.window },
    screen: { dipToScreenRect: (window, { x, y, width, height }) => ({ x: x * 1.5, y: y * 1.5, width: width * 1.5, height: height * 1.5 }) },
  };
  let frames = 0;
  const window = (type = 'window') => Object.assign(new EventEmitter(), { getType: () => type,
    window: { isDestroyed: () => false, getContentBounds: () => ({ x: 100, y: 50, width: 400, height: 300 }) } });
  // `parent`: a page whose window the frame is in; `key`: the frame a new document replaces.
  function load({ origin = 'https://app.example', parent, contents = parent?.contents ?? window(), isolated = true,
                  key = ++frames } = {}) {
    const frame = { origin, url: `${origin}/page.html`, parent: parent?.frame ?? null, frameTreeNodeId: key };
    frame.top = parent ? parent.frame.top : frame;
    const page = { frame, contents, gone: false };
    // Electron's senderFrame is null once the frame has navigated.
    const event = { sender: contents, get senderFrame() { return page.gone ? null : frame; } };
    ipcMain.emit('quibshare:supported', event, { contextIsolated: isolated });
    page.answer = event.returnValue;
    page.invoke = async (request, { input = true, document = page.answer?.document } = {}) => {
      if (input) contents.emit('input-event', {}, { type: 'mouseDown' });
      return handlers.get('quibshare:share')(event, request, document);
    };
    page.reload = () => {
      page.gone = true;
      return load({ origin, contents, key });
    };
    return page;
  }
  const warn = console.warn;
  console.warn = (line) => logged.push(line);
  const disable = enableWebShare({ keepFilesFor: 0, ...options, electron });
  const earlier = Object.fromEntries(Object.keys(variables).map((name) => [name, process.env[name]]));
  Object.assign(process.env, variables);
  try {
    return await use({ electron, preloads, load, window, logged }, disable);
  } finally {
    for (const [name, value] of Object.entries(earlier)) {
      if (value === undefined) delete process.env[name];
      else process.env[name] = value;
    }
    disable();
    console.warn = warn;
  }
}

test('enableWebShare adds its preload to the app\'s own and answers supported, false once off or without isolation', async () => {
  const preload = path.join(installed, 'electron', 'preload.js');
  const registered = [{ type: 'frame', id: 'quibshare-web-share', filePath: preload }];
  const cases = [
    [{}, registered, 'web'],
    [{ register: false, fileTypes: 'any' }, ['C:\\app\\own.js', preload], 'any'],
    [{ executablePath: path.join(os.tmpdir(), 'none', 'QuibShare.exe') }, registered, undefined],
  ];
  for (const [options, preloads, fileTypes] of cases) {
    await withWebShare(options, (stand, disable) => {
      const { answer } = stand.load();
      assert.deepEqual(answer && [answer.fileTypes, typeof answer.document], fileTypes ? [fileTypes, 'string'] : false);
      disable();
      assert.deepEqual([stand.load().answer, stand.preloads], [false, preloads]);
      // Enabled again: still one listener and one quit handler.
      enableWebShare({ ...options, electron: stand.electron })();
      assert.deepEqual([stand.electron.ipcMain.listenerCount('quibshare:supported'), stand.electron.app.listenerCount('quit')], [1, 1]);
    });
  }
  await withWebShare({}, (stand) => {
    assert.deepEqual([stand.load({ isolated: false }).answer, stand.load({ isolated: false }).answer], [false, false]);
    assert.equal(stand.logged.length, 1);
    assert.match(stand.logged[0], /without context isolation/);
  });
});

test('a page\'s share goes over its window, its files under safe names in one new folder, marked as downloaded, removed at quit', () =>
  withWebShare({ keepFilesFor: 60000 }, async (stand) => {
    const before = folders();
    const [names, safe] = [['zeta.txt', '..\\..\\alpha — ü.pdf', 'CON.txt', 'a.txt', 'A.TXT'],
                           ['zeta.txt', 'alpha — ü.pdf', '_CON.txt', 'a.txt', 'A (2).TXT']];
    const cases = [
      [{ title: 'Figures', text: 'As promised', url: 'https://example.com/r?id=7', files: names.map((name) => file(name)) },
       ['title 1 Figures', 'text 1 As promised', 'weblink 1 https://example.com/r?id=7', `SetStorageItemsReadOnly 1 ${safe.join(' ')}`]],
      [{ title: 'Read', url: 'https://example.com/a b' }, ['title 1 Read', 'weblink 1 https://example.com/a%20b']],
      [{ text: 'Just words' }, ['title 1 Just words', 'text 1 Just words']],
      // A title alone shares, as its text too; an empty text counts as none.
      [{ title: 'Only a title', text: '' }, ['title 1 Only a title', 'text 1 Only a title']],
    ];
    const page = stand.load();
    for (const [request, shared] of cases) {
      const record = newRecord(records);
      assert.deepEqual(await page.invoke(request), Completed);
      const [window, ...lines] = await given(record);
      // 150 % of the content bounds, the sheet's owner at their centre.
      assert.match(window, / at=450,300 /);
      const made = folders().filter((name) => !before.includes(name)).map((name) => path.join(os.tmpdir(), name));
      assert.deepEqual([made.length, lines.map((line) => line.replaceAll(`${made[0]}\\`, ''))], [request.files ? 1 : 0, shared]);
      if (made.length === 0) continue;
      await delay(100);
      assert.deepEqual(safe.map((name) => fs.readFileSync(path.join(made[0], name), 'utf8')), names);
      assert.equal(fs.readFileSync(path.join(made[0], `${safe[0]}:Zone.Identifier`), 'utf8'),
                   '[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://app.example/page.html\r\n');
      stand.electron.app.emit('quit');
      await until(() => !fs.existsSync(made[0]), `${made[0]} left`);
    }
  }));

test('names Windows takes: no folder parts, device names, refused characters or trailing dots; distinct without case; paths within 259 with " (NN)"', () => {
  for (const { folderUnits, given, safe } of table.names()) {
    const names = windowsFileNames(given, folderUnits);
    assert.deepEqual(names, safe);
    assert.ok(names.every((name) => folderUnits + 1 + name.length + (/ \(\d+\)/.test(name) ? 0 : 5) <= 259), `${folderUnits}`);
  }
  assert.throws(() => windowsFileNames(['a.txt'], 240), /no room/);
});

test('a request that passes gives QuibShare the texts as the table says, a title alone as the text too, and each file\'s bytes', () => {
  for (const { request, gets } of table.shared()) {
    const checked = checkRequest(request, 'web');
    const files = (checked.files ?? []).map((each) => [each.name, Buffer.from(each.data).toString('utf8')]);
    assert.deepEqual({ ...Rules.commandTexts(checked, files.length > 0), files }, gets, JSON.stringify(request).slice(0, 80));
  }
});

test('who may share besides a top frame of https: a frame of its origin or one allowFrame allows; loopback, file, wss, the app\'s schemes', () => {
  const top = { origin: 'https://app.example', parent: null };
  top.top = top;
  const frame = (origin, parent = null) => ({ origin, parent, top: parent ? top : undefined });
  const ask = ([asking, given]) => senderRefusal({ frame: asking, contents: {}, document: '7', current: '7', allowFrame: () => false,
                                                   secureSchemes: [], ...given });
  const allowed = [[frame('https://app.example', top)], [frame('https://docs.example', top), { allowFrame: (f) => f.origin === 'https://docs.example' }],
    ...['http://127.0.0.1:8080', 'http://localhost:3000', 'http://a.localhost', 'http://[::1]', 'file://', 'wss://a.example'].map((origin) => [frame(origin)]),
    [frame('app://bundle'), { secureSchemes: ['app'] }]];
  const refused = [[frame('app://bundle')], [frame('null')], [null], [{ ...top, detached: true }]];
  assert.deepEqual([allowed.map(ask), refused.map((row) => typeof ask(row))], [allowed.map(() => null), refused.map(() => 'string')]);
});

test('what a hostile page sends, or a frame that may not share, is refused with its name; nothing is written or started', () =>
  withWebShare({}, async (stand) => {
    const top = stand.load();
    const stale = stand.load({ origin: 'https://app.example' });
    stale.reload();
    const cases = [
      ...table.refused().map(({ request, answer }) => [top, request, answer]),
      [stand.load({ origin: 'https://ads.example', parent: top }), { text: 'x' }, answers.denied],
      [stand.load({ origin: 'http://intranet.example' }), { text: 'x' }, answers.denied],
      [stand.load({ contents: stand.window('webview') }), { text: 'x' }, answers.denied],
      // The document that asked has gone, or the request names one this frame never had.
      [stale, { text: 'x' }, answers.denied], [{ invoke: (request) => top.invoke(request, { document: 'forged' }) }, { text: 'x' }, answers.denied],
      // A window with no click yet; and one whose click a share has used.
      [{ invoke: (request) => stand.load().invoke(request, { input: false }) }, { text: 'x' }, answers['no-gesture']],
      [{ invoke: (request) => top.invoke({}).then(() => top.invoke(request, { input: false })) }, { text: 'x' }, answers['no-gesture']],
    ];
    const before = folders();
    const record = newRecord(records);
    for (const [page, request, answer] of cases) assert.deepEqual(await page.invoke(request), answer, JSON.stringify(request)?.slice(0, 80));
    assert.deepEqual([folders(), fs.existsSync(record.file)], [before, false]);
    assert.equal(stand.logged.filter((line) => line.startsWith('quibshare/electron: a share was refused: ')).length, 5);
  }));

test('every end reaches the page with its name and removes the folder, no path or system text in it; one share at a time from a document', async () => {
  const alone = path.join(records, 'alone', 'QuibShare.exe');
  const missing = path.join(records, 'missing', 'QuibShare.exe');
  fs.cpSync(quibshare.executablePath(), alone);
  // There as the page loads, gone when it shares.
  const lose = () => fs.cpSync(quibshare.executablePath(), missing);
  const cases = [
    [{ QUIBSHARE_SIM_END: 'cancel' }, {}, { outcome: 'canceled' }],
    [{ QUIBSHARE_SIM_END: 'destroy-window' }, {}, { outcome: 'ended' }],
    [{ QUIBSHARE_SIM_FAIL: 'getforwindow:80004005' }, {}, answers.failed, /Sharing could not be opened \(error 0x80004005\)\./],
    [{}, { executablePath: alone }, answers.failed, /Sharing is not available on this system/],
    [{}, { executablePath: missing }, answers.failed, /could not be started from .*missing\\QuibShare\.exe/, lose],
    [{}, {}, Completed],
  ];
  for (const [variables, options, expected, logged, prepare] of cases) {
    newRecord(records);
    const before = folders();
    prepare?.();
    // A second share from the same document, asked while the first runs, is refused.
    const [answer, second, lines] = await withWebShare(options, async ({ load, logged }) => {
      const page = load();
      if (prepare) fs.rmSync(missing);
      return [...await Promise.all([page.invoke({ files: [file('a.txt')] }), page.invoke({ text: 'x' })]), logged];
    }, variables);
    assert.deepEqual([answer, second], [expected, answers.busy]);
    assert.ok(logged === undefined ? lines.length === 0 : logged.test(lines.join('\n')), lines.join('\n'));
    await until(() => folders().every((name) => before.includes(name)), `${JSON.stringify(expected)}: folder left`);
  }
  // A name of 240 units, in a temporary folder deeper than most, shares under one that keeps its
  // path within 259 units, with room for " (NN)".
  const deeper = path.join(records, 'a temporary folder deeper than most');
  fs.mkdirSync(deeper);
  await withWebShare({}, async ({ load }) => {
    const record = newRecord(records);
    assert.deepEqual(await load().invoke({ files: [file(`${'n'.repeat(240)}.txt`)] }), Completed);
    const [shared] = (await given(record)).filter((line) => line.startsWith('SetStorageItemsReadOnly '));
    const sharedPath = shared.slice('SetStorageItemsReadOnly 1 '.length);
    assert.deepEqual([sharedPath.length, sharedPath.startsWith(deeper), sharedPath.endsWith('n.txt')], [259 - 5, true, true]);
  }, { TEMP: deeper, TMP: deeper });
});

// The shares overlap, so they write a record of their own.
const ownRecord = path.join(records, 'overlapping.txt');
test('a new document shares at once while its frame\'s old one still has the sheet open; the old answer is dropped; bytes in flight are capped', () =>
  withWebShare({}, async ({ load }) => {
    const old = load();
    const [big, other] = [{ files: [{ name: 'a.pdf', data: new ArrayBuffer(table.limits.file_bytes) }] }, load()];
    const first = old.invoke(big);
    await until(() => fs.existsSync(ownRecord), 'the first sheet never opened');
    const shares = [first, old.reload().invoke(big)];
    // Two full shares are held: a third, of one byte, waits for none of them.
    shares.push(other.invoke({ files: [file('b.txt', 'b')] }));
    assert.deepEqual(await Promise.all(shares), [undefined, Completed, answers.failed]);
  }, { QUIBSHARE_SIM_END_AFTER: '1500', QUIBSHARE_SIM_LOG: ownRecord }));

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
