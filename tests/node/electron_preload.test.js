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

// A Blob that counts its reads.
class CountedBlob extends Blob {
  static reads = 0;
  arrayBuffer() {
    CountedBlob.reads += 1;
    return super.arrayBuffer();
  }
}

// Runs the preload as a renderer would, given the main process's answers; returns what it did.
function runPreload({ supported = { fileTypes: 'web' }, contextIsolated = true, active = true,
                      invoke = async () => ({ outcome: 'completed' }) } = {}) {
  const [calls, required, exposed] = [[], [], {}];
  const electron = {
    ipcRenderer: {
      sendSync: (...args) => calls.push(['sendSync', ...args]) && supported,
      invoke: (...args) => calls.push(['invoke', ...args]) && invoke(),
    },
    contextBridge: { exposeInMainWorld: (key, api) => calls.push(['exposeInMainWorld', key]) && (exposed[key] = api) },
    webFrame: { executeJavaScript: async (code) => calls.push(['executeJavaScript', code === pageSource ? 'the page script' : code]) },
  };
  const world = vm.createContext({
    require: (name) => required.push(name) && (name === 'electron' ? electron : assert.fail(`a sandboxed preload cannot load ${name}`)),
    process: { contextIsolated },
    navigator: { userActivation: { isActive: active } },
    Blob,
  });
  vm.runInContext(preloadSource, world, { filename: 'preload.js', timeout: 10000 });
  return { calls, required, bridge: contextIsolated ? exposed.quibshareBridge : world.quibshareBridge, world };
}

test('the preload requires only electron, asks once, and installs the bridge and the page script only where sharing is on', () => {
  assert.deepEqual(preloadSource.match(/\brequire\s*\([^)]*\)/g), ["require('electron')"]);
  assert.doesNotMatch(preloadSource, /\bimport\b|\bmodule\.exports\b/);
  const installed = [['sendSync', 'quibshare:supported'], ['exposeInMainWorld', 'quibshareBridge'], ['executeJavaScript', 'the page script']];
  const cases = [
    [{ supported: false }, [['sendSync', 'quibshare:supported']], undefined],
    [{}, installed, 'web'],
    [{ supported: { fileTypes: 'any' } }, installed, 'any'],
    // Without isolation the preload shares the page's world: the bridge is a plain global.
    [{ supported: { fileTypes: 'other' }, contextIsolated: false }, [installed[0], installed[2]], 'web'],
  ];
  for (const [options, calls, fileTypes] of cases) {
    const run = runPreload(options);
    assert.deepEqual([run.required, run.calls, run.bridge?.fileTypes], [['electron'], calls, fileTypes], JSON.stringify(options));
    if (options.contextIsolated !== false) assert.equal(run.world.quibshareBridge, undefined);
  }
});

test('the bridge checks the activation itself, counts before reading, and sends each file\'s bytes', async () => {
  const file = (name, bytes) => ({ name, type: 'text/plain', data: new CountedBlob([new Uint8Array(bytes)]) });
  const cases = [
    [{ active: false }, { text: 'x' }, refused('NotAllowedError', 'Must be handling a user gesture to perform a share request.'), []],
    [{}, { files: [{ name: 'a.txt', data: 'bytes' }] }, refused('TypeError', 'Invalid share data'), []],
    [{}, { files: Array.from({ length: 11 }, () => file('a.txt', [1])) }, refused('NotAllowedError', 'Permission denied'), []],
    [{}, { files: [file('a.txt', 52428800), file('b.txt', [1])] }, refused('NotAllowedError', 'Permission denied'), []],
    [{}, { title: 'T', url: 'https://example.com/', files: [file('a.pdf', [0, 255]), file('b.txt', [7])] }, { outcome: 'completed' },
     [{ title: 'T', text: undefined, url: 'https://example.com/',
        files: [{ name: 'a.pdf', type: 'text/plain', data: [0, 255] }, { name: 'b.txt', type: 'text/plain', data: [7] }] }]],
    // Sharing turned off since the page loaded.
    [{ invoke: async () => { throw new Error("No handler registered for 'quibshare:share'"); } }, { text: 'x' },
     refused('DataError', 'Share failed'), [{ title: undefined, text: 'x', url: undefined }]],
  ];
  for (const [options, data, answer, sent] of cases) {
    CountedBlob.reads = 0;
    const run = runPreload(options);
    // Cloned: what the preload made belongs to its own context, which deepEqual tells apart.
    assert.deepEqual(structuredClone(await run.bridge.share(data)), answer);
    const requests = run.calls.filter(([what, channel]) => what === 'invoke' && channel === 'quibshare:share')
      .map(([, , request]) => structuredClone(request));
    for (const request of requests.filter(({ files }) => files)) {
      assert.ok(request.files.every(({ data: bytes }) => bytes instanceof ArrayBuffer));
      request.files = request.files.map((sentFile) => ({ ...sentFile, data: Array.from(new Uint8Array(sentFile.data)) }));
    }
    assert.deepEqual([requests, CountedBlob.reads], [sent, sent[0]?.files?.length ?? 0], JSON.stringify(answer));
  }
});
