'use strict';
// quibshare: shares files, a text or a link through the Windows share sheet by running the
// QuibShare.exe that ships in this package. QuibShare checks the request and writes the texts; this maps its exit code.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { systemSupported, commandLine, parseOutcome } = require('./protocol.js');

// QuibShare returns within about 35 s, or with `wait` within 35 s + the 600 s bound on a share
// + 30 s; past these (plus a margin) it is stuck.
const WatchdogMs = 60000;
const WaitedWatchdogMs = 725000;
// Once QuibShare has exited, what it wrote is already in the pipes; a process it left behind may
// hold them open for ever, so they get this long to close.
const PipeGraceMs = 2000;
const CodeOfExit = { 1: 'FAILED', 2: 'INPUT_REJECTED', 3: 'UNAVAILABLE' };

class QuibShareError extends Error {
  /**
   * @param {string} code one of the codes in index.d.ts
   * @param {number | null} exitCode QuibShare's exit code, or null when it gave none
   * @param {string} message
   * @param {{ cause?: unknown }} [options]
   */
  constructor(code, exitCode, message, options) {
    super(message, options);
    this.name = 'QuibShareError';
    this.code = code;
    this.exitCode = exitCode;
  }
}

/** The bundled QuibShare.exe, outside Electron's asar archive (a program inside it cannot start). */
function executablePath() {
  return path.join(__dirname, 'bin', 'win32-x64', 'QuibShare.exe')
    .replace(/([\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

/**
 * True where the executable (the bundled one, or `options.executablePath`) is present and this
 * system runs it and can share; starts nothing.
 * @param {{ executablePath?: string }} [options]
 */
function isSupported(options = {}) {
  const executable = options.executablePath === undefined ? executablePath() : options.executablePath;
  return process.platform === 'win32' &&
    systemSupported(os.release(), process.arch, process.env.PROCESSOR_ARCHITEW6432) &&
    fs.existsSync(executable);
}

/**
 * Opens the share sheet for `files`, or with none for `options.text` and `options.url`; resolves
 * once the sheet has them, or with `wait` once the share has ended.
 * @param {string | readonly string[]} files passed to QuibShare unchanged
 * @param {import('./index').ShareOptions} [options]
 * @returns {Promise<import('./index').ShareResult>}
 */
async function share(files, options = {}) {
  if (typeof options !== 'object' || options === null) throw new TypeError('options must be an object');
  const args = commandLine(files, options);
  const executable = options.executablePath === undefined ? executablePath() : options.executablePath;
  if (typeof executable !== 'string' || executable.includes('\0')) {
    throw new TypeError('options.executablePath must be a string without NUL characters');
  }
  if (process.platform !== 'win32') {
    throw new QuibShareError('UNSUPPORTED_PLATFORM', null, 'Sharing with QuibShare needs Windows.');
  }
  return run(executable, args, options.wait === true);
}

function run(executable, args, wait) {
  return new Promise((resolve, reject) => {
    /** @type {import('node:child_process').ChildProcess} */
    let child;
    try {
      // Detached: outside the job that kills the host's children when it quits, so a sheet
      // that is still open survives the host.
      child = spawn(executable, args, { detached: true, stdio: ['ignore', wait ? 'pipe' : 'ignore', 'pipe'] });
    } catch (error) {
      reject(spawnFailed(executable, error));
      return;
    }
    const limitMs = wait ? WaitedWatchdogMs : WatchdogMs;
    const output = [];
    const errors = [];
    /** @type {number | null | undefined} */
    let exitCode;
    let stopped = false;
    /** @type {NodeJS.Timeout | undefined} */
    let grace;
    const onOutput = (chunk) => output.push(chunk);
    const onErrors = (chunk) => errors.push(chunk);
    function release() {
      clearTimeout(watchdog);
      clearTimeout(grace);
      child.off('error', onError);
      child.off('exit', onExit);
      child.off('close', finish);
      for (const [pipe, onData] of [[child.stdout, onOutput], [child.stderr, onErrors]]) {
        pipe?.off('data', onData);
        pipe?.destroy();
      }
      child.unref();
    }
    function finish() {
      release();
      if (stopped) {
        reject(watchdogFired(limitMs));
      } else if (exitCode === 0) {
        resolve(wait ? parseOutcome(Buffer.concat(output)) : { outcome: 'handed' });
      } else {
        const message = Buffer.concat(errors).toString('latin1').replace(/\r\n$/, '');
        const code = CodeOfExit[exitCode] || 'ABNORMAL_EXIT';
        reject(new QuibShareError(code, exitCode, message || noReason(exitCode)));
      }
    }
    function onError(error) {
      release();
      reject(stopped ? watchdogFired(limitMs) : spawnFailed(executable, error));
    }
    function onExit(code) {
      exitCode = code;
      if (stopped) finish();
      else grace = setTimeout(finish, PipeGraceMs);
    }
    const watchdog = setTimeout(() => {
      // An exit within the grace still has its code: settle from that, not from the watchdog.
      if (exitCode !== undefined) {
        finish();
        return;
      }
      stopped = true;
      // Set before the kill: a kill that fails emits 'error' at once, which clears it; and a
      // kill that does not take still settles.
      grace = setTimeout(finish, PipeGraceMs);
      child.kill();
    }, limitMs);
    child.stdout?.on('data', onOutput);
    child.stderr?.on('data', onErrors);
    child.on('error', onError);
    child.on('exit', onExit);
    child.on('close', finish);
  });
}

// The package's own texts are the Rust crate's, word for word.
function noReason(exitCode) {
  // Exception codes read best in hex, small codes in decimal.
  const shown = exitCode > 0xffff ? `0x${exitCode.toString(16).toUpperCase().padStart(8, '0')}` : `${exitCode}`;
  return `QuibShare exited with code ${shown} and gave no reason.`;
}

function spawnFailed(executable, error) {
  return new QuibShareError('SPAWN_FAILED', null, `QuibShare could not be started from ${executable}.`, { cause: error });
}

function watchdogFired(limitMs) {
  return new QuibShareError('FAILED', null, `QuibShare did not exit within ${limitMs / 1000} seconds and was stopped.`);
}

module.exports = { share, isSupported, executablePath, QuibShareError };
