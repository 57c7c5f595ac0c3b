'use strict';
// quibshare: shares one file through the Windows share sheet by running the QuibShare.exe that
// ships in this package. QuibShare checks the path and writes the texts; this maps its exit code.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// Windows 10 2004: the first build whose share sheet QuibShare supports.
const MinimumWindowsBuild = 19041;
// QuibShare itself returns within about 35 s; past this it is stuck.
const WatchdogMs = 60000;
const CodeOfExit = { 1: 'FAILED', 2: 'INPUT_REJECTED', 3: 'UNAVAILABLE' };

class QuibShareError extends Error {
  /**
   * @param {string} code one of the codes in index.d.ts
   * @param {number | null} exitCode QuibShare's exit code, or null when it gave none
   * @param {string} message
   */
  constructor(code, exitCode, message) {
    super(message);
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

/** True on Windows 10 build 19041 or later with the executable present; starts nothing. */
function isSupported() {
  if (process.platform !== 'win32') return false;
  const [major, , build] = os.release().split('.').map(Number);
  const recentEnough = major > 10 || (major === 10 && build >= MinimumWindowsBuild);
  return recentEnough && fs.existsSync(executablePath());
}

/**
 * Opens the share sheet for `file`; resolves once the sheet has it.
 * @param {string} file passed to QuibShare unchanged, relative to the current directory
 * @param {{ executablePath?: string }} [options]
 * @returns {Promise<void>}
 */
async function share(file, options = {}) {
  if (typeof file !== 'string') throw new TypeError('The file to share must be a string');
  const executable = options.executablePath === undefined ? executablePath() : options.executablePath;
  if (typeof executable !== 'string') throw new TypeError('options.executablePath must be a string');
  if (process.platform !== 'win32') {
    throw new QuibShareError('UNSUPPORTED_PLATFORM', null, 'Sharing with QuibShare needs Windows.');
  }
  return run(executable, file);
}

function run(executable, file) {
  return new Promise((resolve, reject) => {
    /** @type {import('node:child_process').ChildProcess} */
    let child;
    try {
      // Detached: outside the job that kills the host's children when it quits, so a sheet
      // that is still open survives the host.
      child = spawn(executable, ['--input', file], { detached: true, stdio: ['ignore', 'ignore', 'pipe'] });
    } catch (error) {
      reject(spawnFailed(error));
      return;
    }
    const chunks = [];
    let timedOut = false;
    const onData = (chunk) => chunks.push(chunk);
    const settle = () => {
      clearTimeout(watchdog);
      child.stderr?.off('data', onData);
      child.off('error', onError);
      child.off('close', onClose);
    };
    const onError = (error) => {
      settle();
      child.stderr?.destroy();
      reject(timedOut ? watchdogFired() : spawnFailed(error));
    };
    const onClose = (exitCode) => {
      settle();
      if (timedOut) {
        reject(watchdogFired());
      } else if (exitCode === 0) {
        resolve();
      } else {
        const message = Buffer.concat(chunks).toString('latin1').replace(/\r\n$/, '');
        const code = CodeOfExit[exitCode] || 'ABNORMAL_EXIT';
        reject(new QuibShareError(code, exitCode, message || noReason(exitCode)));
      }
    };
    const watchdog = setTimeout(() => {
      timedOut = true;
      // Without the pipe, 'close' follows the kill even if a stray process still holds it.
      child.stderr?.destroy();
      child.kill();
    }, WatchdogMs);
    child.stderr?.on('data', onData);
    child.on('error', onError);
    child.on('close', onClose);
  });
}

// The package's own texts are the Rust crate's, word for word.
function noReason(exitCode) {
  // Exception codes read best in hex, small codes in decimal.
  const shown = exitCode > 0xffff ? `0x${exitCode.toString(16).toUpperCase().padStart(8, '0')}` : `${exitCode}`;
  return `QuibShare exited with code ${shown} and gave no reason.`;
}

function spawnFailed(error) {
  return new QuibShareError('SPAWN_FAILED', null, `QuibShare could not be started: ${error.message}`);
}

function watchdogFired() {
  return new QuibShareError('FAILED', null, `QuibShare did not exit within ${WatchdogMs / 1000} seconds and was stopped.`);
}

module.exports = { share, isSupported, executablePath, QuibShareError };
