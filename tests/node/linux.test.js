// The packed package on Linux Node: what the tarball holds, and what the package decides by
// itself (platform, Windows build and machine, Electron's asar archive, the command line, the
// outcome line) without starting anything.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const quibshare = require('quibshare');
const { outcomeLines } = require('./outcome_lines.js');

const installed = path.dirname(require.resolve('quibshare'));
// Not exported: the package's pure rules, loaded from its folder.
const { commandLine, parseOutcome } = require(path.join(installed, 'protocol.js'));

function extract(archive) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-extract-'));
  execFileSync('cmake', ['-E', 'tar', 'xf', archive], { cwd: folder, timeout: 60000 });
  return folder;
}

// The string a version resource holds under `key`, UTF-16 after its NUL and padding.
function versionResourceString(exe, key) {
  const at = exe.indexOf(Buffer.from(`${key}\0`, 'utf16le'));
  assert.notEqual(at, -1, `${key} not in the executable`);
  let start = at + (key.length + 1) * 2;
  while (exe.readUInt16LE(start) === 0) start += 2;
  const end = exe.indexOf(Buffer.from('\0\0'), start);
  return exe.subarray(start, end + ((end - start) % 2)).toString('utf16le');
}

test('the tarball holds the package files and the release executable, all at one version', () => {
  const tarball = process.env.QUIBSHARE_TARBALL;
  const listed = execFileSync('tar', ['tzf', tarball], { encoding: 'utf8', timeout: 60000 }).split('\n').filter(Boolean);
  assert.deepEqual(listed.sort(), ['LICENSE', 'README.md', 'bin/win32-x64/QuibShare.exe', 'cli.js', 'index.d.ts',
                                   'index.js', 'package.json', 'protocol.js', 'electron/main.js', 'electron/main.d.ts',
                                   'electron/request.js', 'electron/rules.js', 'electron/sender.js', 'electron/preload.js', 'electron/preload.d.ts',
                                   'electron/page.js', 'electron/page.d.ts'].map((name) => `package/${name}`).sort());
  const packed = extract(tarball);
  const zipped = extract(process.env.QUIBSHARE_ZIP);
  const exe = fs.readFileSync(path.join(packed, 'package/bin/win32-x64/QuibShare.exe'));
  const [zipFolder] = fs.readdirSync(zipped);
  assert.ok(exe.equals(fs.readFileSync(path.join(zipped, zipFolder, 'QuibShare.exe'))), 'not the zip\'s executable');
  const { version } = JSON.parse(fs.readFileSync(path.join(packed, 'package/package.json'), 'utf8'));
  assert.equal(path.basename(tarball), `quibshare-${version}.tgz`);
  assert.equal(zipFolder, `QuibShare-${version}-win64`);
  assert.equal(versionResourceString(exe, 'ProductVersion'), version);
  // The Rust crate's PAGE_SCRIPT, which it cannot pack itself, is this file byte for byte.
  const pageScript = fs.readFileSync(path.join(packed, 'package/electron/page.js'));
  assert.ok(pageScript.equals(fs.readFileSync('crate_page_script.js')), 'hosts/rust/src/web/page.js is not the packed ' +
    'page script: node hosts/node/electron/pack-preload.js hosts/node/electron/rules.js hosts/node/electron/page.js hosts/rust/src/web/page.js');
});

test('the package exports its API and types by name, and its package.json', async () => {
  const esm = await import('quibshare');
  assert.deepEqual(['share', 'isSupported', 'executablePath', 'QuibShareError'].map((name) => esm[name]),
                   [quibshare.share, quibshare.isSupported, quibshare.executablePath, quibshare.QuibShareError]);
  const manifest = require('quibshare/package.json');
  assert.deepEqual(manifest.exports, {
    '.': { types: './index.d.ts', default: './index.js' },
    './electron': { types: './electron/main.d.ts', default: './electron/main.js' },
    './electron/preload': { types: './electron/preload.d.ts', default: './electron/preload.js' },
    './electron/page': { types: './electron/page.d.ts', default: './electron/page.js' },
    './package.json': './package.json',
  });
  assert.throws(() => require('quibshare/protocol.js'), { code: 'ERR_PACKAGE_PATH_NOT_EXPORTED' });
  const repository = manifest.bugs.url.replace(/\/issues$/, '');
  assert.match(repository, /^https:\/\/\S+[^/]$/);
  assert.deepEqual([manifest.repository, manifest.bugs], [{ type: 'git', url: `git+${repository}.git` },
                                                          { url: `${repository}/issues` }]);
});

test('off Windows sharing rejects with UNSUPPORTED_PLATFORM and isSupported is false', async () => {
  assert.equal(quibshare.isSupported(), false);
  await assert.rejects(quibshare.share('report.pdf'), (error) => {
    assert.ok(error instanceof quibshare.QuibShareError && error instanceof Error);
    assert.deepEqual([error.name, error.code, error.exitCode], ['QuibShareError', 'UNSUPPORTED_PLATFORM', null]);
    assert.equal(error.message, 'Sharing with QuibShare needs Windows.');
    return true;
  });
});

test('files and options become QuibShare\'s arguments; what no command line carries is a TypeError', async () => {
  const anchor = (x, y, width, height) => ({ x, y, width, height });
  const nothing = { name: 'TypeError', message: 'Nothing to share: give files, options.text or options.url' };
  const cases = [
    ['report.pdf', {}, ['--input', 'report.pdf']],
    [['a.txt', 'b c.txt', '--title'], {}, ['--input', 'a.txt', '--input', 'b c.txt', '--input', '--title']],
    [[], { url: 'https://example.com/' }, ['--url', 'https://example.com/']],
    [[], { text: 'Hello', title: 'Greeting', wait: true }, ['--title', 'Greeting', '--text', 'Hello', '--wait']],
    [[], { text: '' }, ['--text', '']],
    [[], {}, nothing],
    [[], { title: 'T', anchor: anchor(1, 2, 3, 4), wait: true }, nothing],
    [[], { text: undefined, url: undefined }, nothing],
    [[], { title: 5 }, TypeError],
    ['a.txt', { wait: true, url: 'https://example.com/?q=1', text: 'see "this"', title: '' },
     ['--input', 'a.txt', '--title', '', '--text', 'see "this"', '--url', 'https://example.com/?q=1', '--wait']],
    ['a.txt', { wait: false, title: undefined, anchor: undefined }, ['--input', 'a.txt']],
    ['a.txt', { anchor: anchor(10.4, -20.6, 99.5, 0.49) }, ['--input', 'a.txt', '--anchor', '10,-21,100,0']],
    ['a.txt', { anchor: anchor(-2.5, -0.4, 1, 2) }, ['--input', 'a.txt', '--anchor', '-2,0,1,2']],
    ['a.txt', { anchor: { height: 4, width: 3, y: 2, x: 1, left: 9 } }, ['--input', 'a.txt', '--anchor', '1,2,3,4']],
    [undefined, {}, TypeError],
    [null, {}, TypeError],
    [42, {}, TypeError],
    [['a.txt', 42], {}, TypeError],
    ['a\0b.txt', {}, TypeError],
    ['a.txt', { title: 5 }, TypeError],
    ['a.txt', { text: null }, TypeError],
    ['a.txt', { url: new URL('https://example.com/') }, TypeError],
    ['a.txt', { url: 'https://example.com/\0' }, TypeError],
    ['a.txt', { anchor: anchor(1, 2, 3) }, TypeError],
    ['a.txt', { anchor: anchor(1, 2, 3, '4') }, TypeError],
    ['a.txt', { anchor: anchor(NaN, 2, 3, 4) }, TypeError],
    ['a.txt', { anchor: anchor(1, 2, Infinity, 4) }, TypeError],
    ['a.txt', { anchor: null }, TypeError],
    ['a.txt', { wait: 'yes' }, TypeError],
  ];
  for (const [files, options, expected] of cases) {
    const name = `${JSON.stringify(files)} ${JSON.stringify(options)}`;
    if (expected === TypeError || expected === nothing) {
      assert.throws(() => commandLine(files, options), expected, name);
      // share() checks the same way, before it looks at the platform.
      await assert.rejects(quibshare.share(files, options), expected, name);
    } else {
      assert.deepEqual(commandLine(files, options), expected, name);
    }
  }
  for (const options of [null, 'wait', { executablePath: 7 }, { executablePath: 'C:\\Quib\0Share.exe' }]) {
    await assert.rejects(quibshare.share('a.txt', options), TypeError, JSON.stringify(options));
  }
});

test('every line of the shared table reads as it says, and none takes long', () => {
  for (const { name, output, expected } of outcomeLines()) {
    const started = performance.now();
    assert.deepEqual(parseOutcome(output), expected, name);
    const tookMs = performance.now() - started;
    assert.ok(tookMs < 1000, `${name} took ${tookMs} ms`);
  }
});

// The package's files loaded from `folder` (made under a temporary root), as Windows would see it.
function packageAt(folder, withExecutable = true) {
  const at = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-at-')), folder);
  fs.mkdirSync(path.join(at, 'bin', 'win32-x64'), { recursive: true });
  for (const file of ['index.js', 'protocol.js']) fs.copyFileSync(path.join(installed, file), path.join(at, file));
  if (withExecutable) fs.copyFileSync(path.join(installed, 'bin/win32-x64/QuibShare.exe'), path.join(at, 'bin/win32-x64/QuibShare.exe'));
  return { at, module: require(path.join(at, 'index.js')) };
}

// Windows 10 on ARM64 emulates only x86, Windows 11 on ARM64 also x64; 32-bit Node learns the
// machine from PROCESSOR_ARCHITEW6432, unset on 32-bit Windows.
test('isSupported wants build 19041 or later, a machine that runs x64 programs, and the executable present', (t) => {
  const saved = ['platform', 'arch'].map((name) => [name, Object.getOwnPropertyDescriptor(process, name)]);
  const savedWow64 = process.env.PROCESSOR_ARCHITEW6432;
  t.after(() => {
    for (const [name, descriptor] of saved) Object.defineProperty(process, name, descriptor);
    if (savedWow64 === undefined) delete process.env.PROCESSOR_ARCHITEW6432;
    else process.env.PROCESSOR_ARCHITEW6432 = savedWow64;
  });
  Object.defineProperty(process, 'platform', { value: 'win32' });
  const release = t.mock.method(os, 'release');
  const { module: present } = packageAt('node_modules/quibshare');
  const { module: absent } = packageAt('node_modules/quibshare', false);
  const cases = [
    ['10.0.19041', 'x64', undefined, true],
    ['10.0.22631', 'x64', undefined, true],
    ['10.0.19040', 'x64', undefined, false],
    ['10.0.18362', 'x64', undefined, false],
    ['6.3.9600', 'x64', undefined, false],
    ['10.0.19045', 'ia32', 'AMD64', true],
    ['10.0.19045', 'ia32', undefined, false],
    ['10.0.19045', 'ia32', 'ARM64', false],
    ['10.0.22000', 'ia32', 'ARM64', true],
    ['10.0.18362', 'ia32', 'AMD64', false],
    ['10.0.19045', 'arm64', undefined, false],
    ['10.0.21999', 'arm64', undefined, false],
    ['10.0.22000', 'arm64', undefined, true],
    ['10.0.26100', 'arm64', undefined, true],
    ['10.0.26100', 'arm', undefined, false],
  ];
  for (const [version, arch, wow64, supported] of cases) {
    release.mock.mockImplementation(() => version);
    Object.defineProperty(process, 'arch', { value: arch });
    if (wow64 === undefined) delete process.env.PROCESSOR_ARCHITEW6432;
    else process.env.PROCESSOR_ARCHITEW6432 = wow64;
    const name = `${version} ${arch} ${wow64}`;
    assert.equal(present.isSupported(), supported, name);
    assert.equal(absent.isSupported(), false, name);
    assert.equal(absent.isSupported({ executablePath: present.executablePath() }), supported, name);
    assert.equal(present.isSupported({ executablePath: `${present.executablePath()}.absent` }), false, name);
  }
});

test('executablePath leaves Electron\'s app.asar for app.asar.unpacked', () => {
  const exe = path.join('bin', 'win32-x64', 'QuibShare.exe');
  const cases = [
    ['resources/app.asar/node_modules/quibshare', 'resources/app.asar.unpacked/node_modules/quibshare'],
    ['resources/app.asar.unpacked/node_modules/quibshare', 'resources/app.asar.unpacked/node_modules/quibshare'],
    ['resources/myapp.asar/node_modules/quibshare', 'resources/myapp.asar/node_modules/quibshare'],
  ];
  for (const [folder, expected] of cases) {
    const { at, module } = packageAt(folder);
    const base = at.slice(0, -folder.length);
    assert.equal(module.executablePath(), path.join(base, expected, exe), folder);
  }
});
