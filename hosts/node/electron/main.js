'use strict';
// quibshare/electron: navigator.share for an Electron app's pages on Windows. Runs in the main
// process: registers the preload, checks who asks, answers the pages, writes what they share into
// a folder of its own and removes it again.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { share, isSupported, executablePath } = require('../index.js');
const { commandLine } = require('../protocol.js');
const { Rules, refusal, checkRequest, byteCount, windowsFileNames, failureAnswer } = require('./request.js');
const { senderRefusal } = require('./sender.js');

const PreloadPath = path.join(__dirname, 'preload.js');
const PreloadId = 'quibshare-web-share';
const FolderPrefix = 'quibshare-web-';
// A share ends within about 12 minutes and its files are kept at most an hour after, so a folder
// older than a day belongs to no running app.
const DayMs = 24 * 60 * 60 * 1000;
const MaxKeepMs = 60 * 60 * 1000;
// The bytes of all pages' shares held at once, written or about to be.
const MaxBytesInFlight = 2 * Rules.MaxFileBytes;
// A share needs the user's input this recently in its webContents, and uses it up.
const InputWindowMs = 5000;
const ActivatingInputs = new Set(['mouseDown', 'mouseUp', 'keyDown', 'rawKeyDown', 'char', 'touchEnd', 'gestureTap']);
const Denied = refusal('NotAllowedError', Rules.Texts.Denied);
const Busy = refusal('InvalidStateError', Rules.Texts.Busy);
const NoGesture = refusal('NotAllowedError', Rules.Texts.NoGesture);
const Failed = refusal('AbortError', Rules.Texts.Failed);
const log = (line) => console.warn(line);

// Per ipcMain: the one synchronous listener and quit handler, whatever enabling them again does.
const installations = new WeakMap();
// Per webContents: the time of its last activating input, and its frames' present documents.
const inputs = new WeakMap();
const watched = new WeakSet();
const documents = new WeakMap();
let documentCount = 0;

/**
 * Gives the app's pages navigator.share and navigator.canShare; returns the function that turns
 * sharing off again.
 * @param {import('./main').WebShareOptions} [options]
 * @returns {() => void}
 */
function enableWebShare(options = {}) {
  const settings = webShareSettings(options);
  const { ipcMain, session } = settings.electron;
  const state = { settings, busy: new Set(), bytes: 0 };
  // First: where another handler is there already, Electron throws before anything is changed.
  ipcMain.handle('quibshare:share', (event, request, document) => shareFromPage(installation, state, event, request, document));
  const installation = installationOf(settings.electron);
  const answer = isSupported({ executablePath: settings.executablePath }) && { fileTypes: settings.fileTypes };
  installation.current = { state, answer };
  if (settings.preload) registerPreload(session.defaultSession);
  removeLeftovers(os.tmpdir(), Date.now()).catch(() => {});
  return function disableWebShare() {
    if (installation.current?.state !== state) return;
    installation.current = null;
    ipcMain.removeHandler('quibshare:share');
  };
}

function installationOf({ ipcMain, app }) {
  let installation = installations.get(ipcMain);
  if (installation !== undefined) return installation;
  installation = { current: null, folders: new Set(), warned: false };
  installations.set(ipcMain, installation);
  // Answered even when off: a renderer waits for ever on a synchronous message nobody answers.
  ipcMain.on('quibshare:supported', (event, renderer) => {
    event.returnValue = pageAnswer(installation, event, renderer);
  });
  app.on('quit', () => {
    for (const folder of installation.folders) {
      try {
        fs.rmSync(folder, { recursive: true, force: true, maxRetries: 2 });
      } catch {
        // Still open in the app shared to: removed at a later start, once a day old.
      }
    }
  });
  return installation;
}

// What a preload learns as its document loads: false, or the file types and the document's token.
function pageAnswer(installation, event, renderer) {
  const answer = installation.current?.answer;
  if (!answer) return false;
  const contents = event.sender;
  const isolated = renderer !== null && typeof renderer === 'object' && renderer.contextIsolated === true &&
    contents?.getLastWebPreferences?.()?.contextIsolation !== false;
  if (!isolated) {
    if (!installation.warned) {
      installation.warned = true;
      log('quibshare/electron: navigator.share is not given to pages without context isolation: there a page ' +
          'can fake the user\'s gesture and the files it shares.');
    }
    return false;
  }
  const frame = event.senderFrame;
  if (!frame) return false;
  watchInput(contents);
  const document = `${++documentCount}`;
  if (!documents.has(contents)) documents.set(contents, new Map());
  documents.get(contents).set(frameKey(frame), document);
  return { ...answer, document };
}

const frameKey = (frame) => frame.frameTreeNodeId ?? `${frame.processId}:${frame.routingId}`;
const currentDocument = (contents, frame) => (frame ? documents.get(contents)?.get(frameKey(frame)) : undefined);

function watchInput(contents) {
  if (watched.has(contents) || typeof contents?.on !== 'function') return;
  watched.add(contents);
  contents.on('input-event', (event, input) => {
    if (ActivatingInputs.has(input?.type)) inputs.set(contents, Date.now());
  });
}

// True where the webContents had an activating input lately, which this share now uses up; true
// also where Electron tells nothing of input.
function consumeInput(contents) {
  if (!watched.has(contents)) return true;
  const at = inputs.get(contents);
  inputs.delete(contents);
  return at !== undefined && Date.now() - at <= InputWindowMs;
}

function webShareSettings(options) {
  if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
  const { fileTypes = 'web', keepFilesFor = 60000, executablePath, preload = true, allowFrame = () => false,
          secureSchemes = [] } = options;
  if (fileTypes !== 'web' && fileTypes !== 'any') throw new TypeError("options.fileTypes must be 'web' or 'any'");
  if (!Number.isInteger(keepFilesFor) || keepFilesFor < 0 || keepFilesFor > MaxKeepMs) {
    throw new TypeError(`options.keepFilesFor must be a whole number of milliseconds from 0 to ${MaxKeepMs}`);
  }
  if (executablePath !== undefined && typeof executablePath !== 'string') {
    throw new TypeError('options.executablePath must be a string');
  }
  if (typeof preload !== 'boolean') throw new TypeError('options.preload must be a boolean');
  if (typeof allowFrame !== 'function') throw new TypeError('options.allowFrame must be a function');
  if (!Array.isArray(secureSchemes) || !secureSchemes.every((scheme) => typeof scheme === 'string')) {
    throw new TypeError('options.secureSchemes must be an array of scheme names');
  }
  const electron = options.electron === undefined ? require('electron') : options.electron;
  return { fileTypes, keepFilesFor, executablePath, preload, allowFrame, secureSchemes: [...secureSchemes], electron };
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

async function shareFromPage(installation, state, event, request, document) {
  const { settings } = state;
  const contents = event.sender;
  const frame = event.senderFrame;
  const refused = senderRefusal({ frame, contents, document, current: currentDocument(contents, frame),
                                  allowFrame: settings.allowFrame, secureSchemes: settings.secureSchemes });
  if (refused !== null) {
    log(`quibshare/electron: a share was refused: ${refused}`);
    return Denied;
  }
  // Chromium's order: the gesture is used up before the data is looked at.
  if (state.busy.has(document)) return Busy;
  if (!consumeInput(contents)) return NoGesture;
  const checked = checkRequest(request, settings.fileTypes);
  if (checked.error) return checked;
  const bytes = byteCount(checked.files);
  if (state.bytes + bytes > MaxBytesInFlight) {
    log(`quibshare/electron: a share was refused: ${state.bytes} bytes of other shares are still held`);
    return Failed;
  }
  state.busy.add(document);
  state.bytes += bytes;
  let folder;
  let answer;
  try {
    let paths = [];
    const executable = settings.executablePath ?? executablePath();
    if (checked.files.length > 0) {
      folder = await fs.promises.mkdtemp(path.join(os.tmpdir(), `${FolderPrefix}${Date.now()}-`));
      installation.folders.add(folder);
      const names = windowsFileNames(checked.files.map((file) => file.name), folder.length);
      paths = names.map((name) => path.join(folder, name));
    }
    const texts = Rules.commandTexts(checked, paths.length > 0);
    if (paths.length === 0 && texts.text === undefined && texts.url === undefined) {
      throw new Error('nothing is left to share once the empty texts are left out');
    }
    const options = { ...texts, anchor: anchorOf(settings.electron, contents), wait: true, executablePath: settings.executablePath };
    const units = commandLine(paths, options).reduce((sum, arg) => sum + Rules.argumentUnits(arg), Rules.argumentUnits(executable) - 1);
    if (units > Rules.MaxCommandUnits) throw new Error(`the command line would take ${units} units`);
    const hostUrl = typeof frame.url === 'string' && !/[\r\n]/.test(frame.url) ? frame.url : 'about:internet';
    await Promise.all(checked.files.map((file, i) => writeDownloaded(paths[i], file.data, hostUrl)));
    const { outcome } = await share(paths, options);
    answer = { outcome };
  } catch (error) {
    answer = failureAnswer(error, log);
  } finally {
    state.busy.delete(document);
    state.bytes -= bytes;
    if (folder !== undefined) removeLater(installation.folders, folder, settings.keepFilesFor);
  }
  // Chromium's share service is one per document: a document that has gone gets no answer.
  if (currentDocument(contents, event.senderFrame) !== document) {
    log('quibshare/electron: a share ended after its document had gone; its answer is dropped');
    return undefined;
  }
  return answer;
}

// The file, marked as a browser marks a download from the internet zone. The mark is best effort:
// a file system without named streams takes the file alone.
async function writeDownloaded(file, data, hostUrl) {
  await fs.promises.writeFile(file, data, { flag: 'wx' });
  await fs.promises.writeFile(`${file}:Zone.Identifier`, `[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=${hostUrl}\r\n`)
    .catch(() => {});
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
