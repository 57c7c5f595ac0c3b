// quibshare/electron/preload on Linux Node: the packed file run in a context of its own with
// stand-ins for what Electron gives a sandboxed preload (contextBridge, ipcRenderer, webFrame).
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { test } = require('node:test');
const vm = require('node:vm');

const preloadSource = fs.readFileSync(require.resolve('quibshare/electron/preload'), 'utf8');
const pageSource = fs.readFileSync(require.resolve('quibshare/electron/page'), 'utf8');
const refused = (name, message) => ({ error: { name, message } });

// Runs the preload as a renderer would, given the main process's answers; returns its calls to
// Electron (requests cloned out of the preload's context) and the bridge it exposed.
function runPreload({ supported = { fileTypes: 'web', document: '7' }, contextIsolated = true, active = true,
                      invoke = async () => ({ outcome: 'completed' }) } = {}) {
  const [calls, exposed] = [[], {}];
  const electron = {
    ipcRenderer: { sendSync: (channel, renderer) => calls.push(['sendSync', channel, structuredClone(renderer)]) && supported,
                   invoke: (channel, ...args) => calls.push(['invoke', channel, ...structuredClone(args)]) && invoke() },
    contextBridge: { exposeInMainWorld: (key, api) => calls.push(['exposeInMainWorld', key]) && (exposed[key] = api) },
    webFrame: { executeJavaScript: async (code) => calls.push(['executeJavaScript', code === pageSource ? 'the page script' : code]) },
  };
  const world = vm.createContext({ require: () => electron, process: { contextIsolated }, navigator: { userActivation: { isActive: active } }, Blob });
  vm.runInContext(preloadSource, world, { timeout: 10000 });
  return { calls, bridge: exposed.quibshareBridge ?? world.quibshareBridge };
}

test('the preload requires only electron, asks once, and installs the bridge and the page script only where sharing is on', () => {
  assert.deepEqual(preloadSource.match(/\brequire\s*\([^)]*\)|\bimport\b|\bmodule\.exports\b/g), ["require('electron')"]);
  const [asked, exposed, evaluated] = [['sendSync', 'quibshare:supported', { contextIsolated: true }],
                                       ['exposeInMainWorld', 'quibshareBridge'], ['executeJavaScript', 'the page script']];
  const cases = [
    [{ supported: false }, [asked], undefined],
    [{}, [asked, exposed, evaluated], 'web'],
    [{ supported: { fileTypes: 'any' } }, [asked, exposed, evaluated], 'any'],
    [{ supported: { fileTypes: 'other' } }, [asked, exposed, evaluated], 'web'],
    // Without isolation the page could fake the gesture and the files: nothing at all, and the main
    // process is told why.
    [{ contextIsolated: false }, [['sendSync', 'quibshare:supported', { contextIsolated: false }]], undefined],
  ];
  for (const [options, calls, fileTypes] of cases) {
    const run = runPreload(options);
    assert.deepEqual([run.calls, run.bridge?.fileTypes], [calls, fileTypes], JSON.stringify(options));
  }
});

test('the bridge checks the activation itself, counts before reading, and sends each file\'s bytes', async () => {
  let reads = 0;
  const file = (name, bytes) => {
    const data = Object.assign(new Blob([new Uint8Array(bytes)]), { arrayBuffer: () => ++reads && Blob.prototype.arrayBuffer.call(data) });
    return { name, type: 'text/plain', data };
  };
  const sent = (name, ...bytes) => ({ name, type: 'text/plain', data: new Uint8Array(bytes).buffer });
  const Denied = refused('NotAllowedError', 'Permission denied');
  // A getter that hands the count one Blob and the read another.
  const [small, other] = [file('a.txt', [1]).data, file('b.txt', [9, 9]).data];
  let gets = 0;
  const switching = { name: 'a.txt', type: 'text/plain', get data() { return ++gets === 1 ? small : other; } };
  const cases = [
    [{ active: false }, { text: 'x' }, refused('NotAllowedError', 'Must be handling a user gesture to perform a share request.'), []],
    [{}, { files: [{ name: 'a.txt', data: 'bytes' }] }, refused('TypeError', 'Invalid share data'), []],
    [{}, { files: Array.from({ length: 11 }, () => file('a.txt', [1])) }, Denied, []],
    [{}, { files: [file('a.txt', 52428800), file('b.txt', [1])] }, Denied, []],
    [{}, { title: 'T', url: 'https://example.com/', files: [file('a.pdf', [0, 255]), file('b.txt', [7])] }, { outcome: 'completed' },
     [{ title: 'T', url: 'https://example.com/', files: [sent('a.pdf', 0, 255), sent('b.txt', 7)] }]],
    [{}, { text: 'x', files: [switching] }, { outcome: 'completed' }, [{ text: 'x', files: [sent('a.txt', 1)] }]],
    // Sharing turned off since the page loaded.
    [{ invoke: async () => { throw new Error("No handler registered for 'quibshare:share'"); } }, { text: 'x', url: 7 },
     refused('AbortError', 'Share failed'), [{ text: 'x' }]],
  ];
  for (const [options, data, answer, requests] of cases) {
    reads = 0;
    const run = runPreload(options);
    assert.deepEqual(structuredClone(await run.bridge.share(data)), answer);
    assert.deepEqual([run.calls.filter(([what]) => what === 'invoke'), reads],
                     [requests.map((request) => ['invoke', 'quibshare:share', request, '7']), requests[0]?.files?.length ?? 0]);
  }
});

test('one click, twenty calls with 50 MiB each: one request reaches the main process, the rest are refused unread', async () => {
  let reads = 0;
  let finish;
  // The first share waits for the test; any later one ends at once.
  const run = runPreload({ invoke: () => (finish ? Promise.resolve({ outcome: 'completed' }) : new Promise((resolve) => { finish = resolve; })) });
  const blob = Object.assign(new Blob([new Uint8Array(52428800)]), { arrayBuffer: async () => ++reads && new ArrayBuffer(1) });
  const answers = Array.from({ length: 20 }, () => run.bridge.share({ files: [{ name: 'a.txt', type: 'text/plain', data: blob }] }));
  await new Promise((resolve) => setImmediate(resolve));
  finish({ outcome: 'completed' });
  assert.deepEqual([(await Promise.all(answers)).map((answer) => answer.outcome ?? answer.error.message), reads,
                    run.calls.filter(([what]) => what === 'invoke').length],
                   [['completed', ...Array(19).fill('An earlier share has not yet completed.')], 1, 1]);
  // Once it has ended, the frame may share again.
  assert.deepEqual(await run.bridge.share({ text: 'again' }), { outcome: 'completed' });
});
