// The packed package on Linux Node: what the tarball holds, and what the package decides by
// itself (platform, Windows build, Electron's asar archive, arguments) without starting anything.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const quibshare = require('quibshare');

const installed = path.dirname(require.resolve('quibshare'));

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
                                   'index.js', 'package.json'].map((name) => `package/${name}`).sort());
  const packed = extract(tarball);
  const zipped = extract(process.env.QUIBSHARE_ZIP);
  const exe = fs.readFileSync(path.join(packed, 'package/bin/win32-x64/QuibShare.exe'));
  const [zipFolder] = fs.readdirSync(zipped);
  assert.ok(exe.equals(fs.readFileSync(path.join(zipped, zipFolder, 'QuibShare.exe'))), 'not the zip\'s executable');
  const { version } = JSON.parse(fs.readFileSync(path.join(packed, 'package/package.json'), 'utf8'));
  assert.equal(path.basename(tarball), `quibshare-${version}.tgz`);
  assert.equal(zipFolder, `QuibShare-${version}-win64`);
  assert.equal(versionResourceString(exe, 'ProductVersion'), version);
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

test('arguments that are not a path reject with a TypeError', async () => {
  for (const file of [undefined, null, 42, ['a.txt']]) await assert.rejects(quibshare.share(file), TypeError);
  await assert.rejects(quibshare.share('a.txt', { executablePath: 7 }), TypeError);
});

// The package's index.js loaded from `folder` (made under a temporary root), as Windows would see it.
function packageAt(folder, withExecutable = true) {
  const at = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-at-')), folder);
  fs.mkdirSync(path.join(at, 'bin', 'win32-x64'), { recursive: true });
  fs.copyFileSync(path.join(installed, 'index.js'), path.join(at, 'index.js'));
  if (withExecutable) fs.copyFileSync(path.join(installed, 'bin/win32-x64/QuibShare.exe'), path.join(at, 'bin/win32-x64/QuibShare.exe'));
  return { at, module: require(path.join(at, 'index.js')) };
}

test('isSupported wants Windows 10 build 19041 or later and the executable', (t) => {
  const platform = Object.getOwnPropertyDescriptor(process, 'platform');
  Object.defineProperty(process, 'platform', { value: 'win32' });
  t.after(() => Object.defineProperty(process, 'platform', platform));
  const release = t.mock.method(os, 'release');
  const { module: present } = packageAt('node_modules/quibshare');
  const { module: absent } = packageAt('node_modules/quibshare', false);
  const cases = [['10.0.19041', true], ['10.0.22631', true], ['10.0.19040', false], ['10.0.18362', false],
                 ['6.3.9600', false]];
  for (const [version, supported] of cases) {
    release.mock.mockImplementation(() => version);
    assert.equal(present.isSupported(), supported, version);
    assert.equal(absent.isSupported(), false, version);
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

test('ES modules import the API by name', async () => {
  const esm = await import('quibshare');
  assert.deepEqual(['share', 'isSupported', 'executablePath', 'QuibShareError'].map((name) => esm[name]),
                   [quibshare.share, quibshare.isSupported, quibshare.executablePath, quibshare.QuibShareError]);
});
