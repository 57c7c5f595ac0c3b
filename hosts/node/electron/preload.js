'use strict';
// QuibShare's preload, run in each renderer before the page: gives the page navigator.share through
// a bridge to the main process. It requires nothing but electron, so that it also runs sandboxed.

// Packing puts the rules' source and the page script's here.
const Rules = shareRules();
const PageScript = '';

/**
 * Asks the main process once whether this app shares; if it does, and this renderer isolates the
 * preload from the page, exposes the bridge to the page and evaluates the page script in the page's
 * world. Returns whether it did.
 * @param {{ contextBridge: any, ipcRenderer: any, webFrame: any }} electron
 * @param {boolean} contextIsolated
 * @param {any} world this preload's global object
 */
function installWebShare({ contextBridge, ipcRenderer, webFrame }, contextIsolated, world) {
  // Asked even without isolation, so that the main process can say why nothing is installed.
  const answer = ipcRenderer.sendSync('quibshare:supported', { contextIsolated });
  // Without isolation the page could fake the gesture the bridge checks and the files it reads.
  if (!answer || !contextIsolated) return false;
  const bridge = shareBridge(ipcRenderer, world, answer.fileTypes === 'any' ? 'any' : 'web', answer.document);
  contextBridge.exposeInMainWorld('quibshareBridge', bridge);
  webFrame.executeJavaScript(PageScript);
  return true;
}

/**
 * The page's way to the main process. It trusts the page no more than the main process does: the
 * activation is the frame's, so it sees the same one the page script saw; one share of this
 * document is in flight at a time, and its files are counted before a byte is read.
 * @param {any} ipcRenderer
 * @param {any} world
 * @param {'web' | 'any'} fileTypes
 * @param {string} document the main process's token for this document
 */
function shareBridge(ipcRenderer, world, fileTypes, document) {
  const refused = (name, message) => ({ error: { name, message } });
  let running = false;
  async function share(data) {
    if (running) return refused('InvalidStateError', Rules.Texts.Busy);
    if (!world.navigator.userActivation.isActive) return refused('NotAllowedError', Rules.Texts.NoGesture);
    if (data === null || typeof data !== 'object') return refused('TypeError', 'Invalid share data');
    // Each member read once: what is counted is what is read.
    const given = data.files === undefined ? [] : data.files;
    if (!Array.isArray(given)) return refused('TypeError', 'Invalid share data');
    const files = given.map((file) => (file !== null && typeof file === 'object'
      ? { name: file.name, type: file.type, data: file.data } : null));
    if (!files.every((file) => file !== null && file.data instanceof world.Blob)) {
      return refused('TypeError', 'Invalid share data');
    }
    if (files.length > Rules.MaxFiles || files.reduce((sum, file) => sum + file.data.size, 0) > Rules.MaxFileBytes) {
      return refused('NotAllowedError', Rules.Texts.Denied);
    }
    const request = {};
    for (const name of ['title', 'text', 'url']) if (typeof data[name] === 'string') request[name] = data[name];
    running = true;
    try {
      if (files.length > 0) {
        request.files = await Promise.all(files.map(async (file) => ({
          name: file.name, type: file.type, data: await file.data.arrayBuffer(),
        })));
      }
      return await ipcRenderer.invoke('quibshare:share', request, document);
    } catch {
      // The files could not be read, or sharing was turned off since the page loaded.
      return refused('AbortError', Rules.Texts.Failed);
    } finally {
      running = false;
    }
  }
  return { fileTypes, share };
}

// Only Electron runs this line; the rest runs under test with stand-ins.
installWebShare(require('electron'), process.contextIsolated === true, globalThis);
