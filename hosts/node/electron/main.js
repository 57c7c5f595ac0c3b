'use strict';
// quibshare/electron: navigator.share for an Electron app's pages on Windows. Runs in the main
// process: registers the preload, answers the pages, writes what they share into a folder of its
// own and removes it again.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { share, isSupported } = require('../index.js');
const { checkRequest, windowsFileNames, failureAnswer } = require('./request.js');

const PreloadPath = path.join(__dirname, 'preload.js');
const PreloadId = 'quibshare-web-share';
const FolderPrefix = 'quibshare-web-';
const DayMs = 24 * 60 * 60 * 1000;
// A share ends within about 12 minutes and its files are kept at most this long after, so a folder
// older than a day belongs to no running app.
const MaxKeepMs = 60 * 60 * 1000;

/**
 * Gives the app's pages navigator.share and navigator.canShare; returns the function that turns
 * sharing off again.
 * @param {import('./main').WebShareOptions} [options]
 * @returns {() => void}
 */
function enableWebShare(options = {}) {
  const settings = webShareSettings(options);
  const { ipcMain, app, session } = settings.electron;
  const state = { folders: new Set(), busy: new WeakSet() };
  // First: where another handler is there already, Electron throws before anything is changed.
  ipcMain.handle('quibshare:share', (event, request) => shareFromPage(settings, state, event, request));
  const answer = isSupported({ executablePath: settings.executablePath }) && { fileTypes: settings.fileTypes };
  let enabled = true;
  // Answered even when off: a renderer waits for ever on a synchronous message nobody answers.
  ipcMain.on('quibshare:supported', (event) => {
    event.returnValue = enabled && answer;
  });
  app.on('quit', () => {
    for (const folder of state.folders) {
      try {
        fs.rmSync(folder, { recursive: true, force: true, maxRetries: 2 });
      } catch {
        // Still open in the app shared to: removed at a later start, once a day old.
      }
    }
  });
  if (settings.preload) registerPreload(session.defaultSession);
  removeLeftovers(os.tmpdir(), Date.now()).catch(() => {});
  return function disableWebShare() {
    if (!enabled) return;
    enabled = false;
    ipcMain.removeHandler('quibshare:share');
  };
}

function webShareSettings(options) {
  if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
  const { fileTypes = 'web', keepFilesFor = 60000, executablePath, preload = true } = options;
  if (fileTypes !== 'web' && fileTypes !== 'any') throw new TypeError("options.fileTypes must be 'web' or 'any'");
  if (!Number.isInteger(keepFilesFor) || keepFilesFor < 0 || keepFilesFor > MaxKeepMs) {
    throw new TypeError(`options.keepFilesFor must be a whole number of milliseconds from 0 to ${MaxKeepMs}`);
  }
  if (executablePath !== undefined && typeof executablePath !== 'string') {
    throw new TypeError('options.executablePath must be a string');
  }
  if (typeof preload !== 'boolean') throw new TypeError('options.preload must be a boolean');
  const electron = options.electron === undefined ? require('electron') : options.electron;
  return { fileTypes, keepFilesFor, executablePath, preload, electron };
}

// Electron 35 and later register preloads by id; before, a session keeps a list of paths.
function registerPreload(session) {
  if (typeof session.registerPreloadScript === 'function') {
    if (!session.getPreloadScripts().some((script) => script.id === PreloadId)) {
      session.registerPreloadScript({ type: 'frame', id: PreloadId, filePath: PreloadPath });
    }
  } else {
    const preloads = session.getPreloads();
    if (!preloads.includes(PreloadPath)) session.setPreloads([...preloads, PreloadPath]);
  }
}

async function shareFromPage(settings, state, event, request) {
  const sender = event.sender;
  if (state.busy.has(sender)) {
    return { error: { name: 'InvalidStateError', message: 'A earlier share had not yet completed.' } };
  }
  const checked = checkRequest(request, settings.fileTypes);
  if (checked.error) return checked;
  state.busy.add(sender);
  let folder;
  try {
    let paths = [];
    if (checked.files.length > 0) {
      folder = await fs.promises.mkdtemp(path.join(os.tmpdir(), `${FolderPrefix}${Date.now()}-`));
      state.folders.add(folder);
      const names = windowsFileNames(checked.files.map((file) => file.name));
      paths = names.map((name) => path.join(folder, name));
      await Promise.all(checked.files.map((file, i) => fs.promises.writeFile(paths[i], file.data, { flag: 'wx' })));
    }
    const { title, text, url } = checked;
    const anchor = anchorOf(settings.electron, sender);
    const { outcome } = await share(paths, { title, text, url, anchor, wait: true, executablePath: settings.executablePath });
    return { outcome };
  } catch (error) {
    return failureAnswer(error);
  } finally {
    state.busy.delete(sender);
    if (folder !== undefined) removeLater(state.folders, folder, settings.keepFilesFor);
  }
}

// The sender's window in physical pixels, or none where it has gone or has no area.
function anchorOf({ BrowserWindow, screen }, sender) {
  const window = BrowserWindow.fromWebContents(sender);
  if (!window || window.isDestroyed()) return undefined;
  const bounds = screen.dipToScreenRect(window, window.getContentBounds());
  return bounds.width >= 1 && bounds.height >= 1 ? bounds : undefined;
}

// The share has ended, but the app it went to may still be reading the files.
function removeLater(folders, folder, keepMs) {
  setTimeout(() => {
    fs.promises.rm(folder, { recursive: true, force: true, maxRetries: 2 })
      .then(() => folders.delete(folder), () => {});
  }, keepMs).unref();
}

// What a crash or a kill left behind: folders made more than a day ago and unchanged since.
async function removeLeftovers(temporary, now) {
  const made = new RegExp(`^${FolderPrefix}(\\d+)-`);
  for (const name of await fs.promises.readdir(temporary)) {
    const time = made.exec(name);
    if (!time || now - Number(time[1]) <= DayMs) continue;
    const folder = path.join(temporary, name);
    try {
      if (now - (await fs.promises.stat(folder)).mtimeMs > DayMs) await fs.promises.rm(folder, { recursive: true, force: true });
    } catch {
      // Gone already, or still held open: the next start tries again.
    }
  }
}

module.exports = { enableWebShare };
