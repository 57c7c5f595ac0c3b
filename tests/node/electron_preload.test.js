// quibshare/electron/preload on Linux Node: the packed file run in a context of its own with
// stand-ins for what Electron gives a sandboxed preload (contextBridge, ipcRenderer, webFrame).
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { test } = require('node:test');
const vm = require('node:vm');

const preloadSource = fs.readFileSync(require.resolve('quibshare/electron/preload'), 'utf8');
const pageSource = fs.readFileSync(require.resolve('quibshare/electron/page'), 'utf8');

// A Blob that counts its reads.
class CountedBlob extends Blob {
  static reads = 0;
  arrayBuffer() {
    CountedBlob.reads += 1;
    return super.arrayBuffer();
  }
}

/**
 * Runs the preload as a renderer would. `supported` is the main process's answer; `invoke`
 * answers quibshare:share. Returns what the preload did to Electron and to its own world.
 */
function runPreload({ supported, contextIsolated = true, active = true, invoke = async () => ({ outcome: 'completed' }) }) {
  const calls = [];
  const required = [];
  const exposed = {};
  const electron = {
    ipcRenderer: {
      sendSync: (...args) => {
        calls.push(['sendSync', ...args]);
        return supported;
      },
      invoke: (...args) => {
        calls.push(['invoke', ...args]);
        return invoke(...args);
      },
    },
    contextBridge: {
      exposeInMainWorld: (key, api) => {
        calls.push(['exposeInMainWorld', key]);
        exposed[key] = api;
      },
    },
    webFrame: {
      executeJavaScript: (code) => {
        calls.push(['executeJavaScript', code === pageSource ? 'the page script' : code]);
        return Promise.resolve();
      },
    },
  };
  const world = vm.createContext({
    require: (name) => {
      required.push(name);
      if (name !== 'electron') throw new Error(`a sandboxed preload cannot load ${name}`);
      return electron;
    },
    process: { contextIsolated },
    navigator: { userActivation: { isActive: active } },
    Blob,
  });
  vm.runInContext(preloadSource, world, { filename: 'preload.js', timeout: 10000 });
  return { calls, required, bridge: contextIsolated ? exposed.quibshareBridge : world.quibshareBridge, world };
}

test('the preload requires only electron and carries the page script word for word', () => {
  const requires = preloadSource.match(/\brequire\s*\([^)]*\)/g);
  assert.deepEqual(requires, ["require('electron')"]);
  assert.doesNotMatch(preloadSource, /\bimport\b|\bmodule\.exports\b/);
  const { required, calls } = runPreload({ supported: { fileTypes: 'web' } });
  assert.deepEqual(required, ['electron']);
  assert.deepEqual(calls.find(([what]) => what === 'executeJavaScript'), ['executeJavaScript', 'the page script']);
});

test('the preload asks the main process once and installs the bridge only where sharing is on', () => {
  const cases = [
    ['unsupported', { supported: false }, [['sendSync', 'quibshare:supported']], undefined],
    ['isolated', { supported: { fileTypes: 'web' } },
     [['sendSync', 'quibshare:supported'], ['exposeInMainWorld', 'quibshareBridge'], ['executeJavaScript', 'the page script']],
     'web'],
    ['any type', { supported: { fileTypes: 'any' } },
     [['sendSync', 'quibshare:supported'], ['exposeInMainWorld', 'quibshareBridge'], ['executeJavaScript', 'the page script']],
     'any'],
    // Without isolation the preload shares the page's world: the bridge is a plain global.
    ['not isolated', { supported: { fileTypes: 'elsewise' }, contextIsolated: false },
     [['sendSync', 'quibshare:supported'], ['executeJavaScript', 'the page script']], 'web'],
  ];
  for (const [name, options, calls, fileTypes] of cases) {
    const run = runPreload(options);
    assert.deepEqual(run.calls, calls, name);
    assert.equal(run.bridge?.fileTypes, fileTypes, name);
    if (options.contextIsolated !== false) assert.equal(run.world.quibshareBridge, undefined, name);
  }
});

test('the bridge checks the activation itself, counts before reading, and sends each file\'s bytes', async () => {
  const file = (name, bytes, type = 'text/plain') => ({ name, type, data: new CountedBlob([new Uint8Array(bytes)]) });
  const refused = (name, message) => ({ error: { name, message } });
  const cases = [
    ['no activation', { active: false }, { text: 'x' },
     refused('NotAllowedError', 'Must be handling a user gesture to perform a share request.'), []],
    ['not an object', {}, 'x', refused('TypeError', 'Invalid share data'), []],
    ['files not a list', {}, { files: { length: 1 } }, refused('TypeError', 'Invalid share data'), []],
    ['a file without a Blob', {}, { files: [{ name: 'a.txt', data: 'bytes' }] }, refused('TypeError', 'Invalid share data'), []],
    ['eleven files', {}, { files: Array.from({ length: 11 }, () => file('a.txt', [1])) }, refused('NotAllowedError', 'Permission denied'), []],
    ['over 50 MiB', {}, { files: [file('a.txt', 52428800), file('b.txt', [1])] }, refused('NotAllowedError', 'Permission denied'), []],
    ['shared', {}, { title: 'T', text: 'x', url: 'https://example.com/', files: [file('a.pdf', [0, 255], 'application/pdf'), file('b.txt', [7])] },
     { outcome: 'completed' },
     [['quibshare:share', { title: 'T', text: 'x', url: 'https://example.com/',
                            files: [{ name: 'a.pdf', type: 'application/pdf', data: [0, 255] }, { name: 'b.txt', type: 'text/plain', data: [7] }] }]]],
    ['no files', {}, { text: 'x' }, { outcome: 'completed' },
     [['quibshare:share', { title: undefined, text: 'x', url: undefined }]]],
    ['sharing turned off', { invoke: async () => { throw new Error("No handler registered for 'quibshare:share'"); } },
     { text: 'x' }, refused('DataError', 'Share failed'), [['quibshare:share', { title: undefined, text: 'x', url: undefined }]]],
  ];
  for (const [name, options, data, answer, invoked] of cases) {
    CountedBlob.reads = 0;
    const run = runPreload({ supported: { fileTypes: 'web' }, ...options });
    // Cloned: what the preload made belongs to its own context, which deepEqual tells apart.
    assert.deepEqual(structuredClone(await run.bridge.share(data)), answer, name);
    const sent = run.calls.filter(([what]) => what === 'invoke').map(([, channel, request]) => {
      const copy = structuredClone(request);
      if (copy.files) {
        assert.ok(copy.files.every((sentFile) => sentFile.data instanceof ArrayBuffer), name);
        copy.files = copy.files.map((sentFile) => ({ ...sentFile, data: Array.from(new Uint8Array(sentFile.data)) }));
      }
      return [channel, copy];
    });
    assert.deepEqual(sent, invoked, name);
    if (invoked.length === 0) assert.equal(CountedBlob.reads, 0, `${name}: read`);
  }
});
