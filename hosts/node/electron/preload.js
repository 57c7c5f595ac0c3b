'use strict';
// QuibShare's preload, run in each renderer before the page: gives the page navigator.share through
// a bridge to the main process. It requires nothing but electron, so that it also runs sandboxed.

// The page script's source; packing puts page.js here.
const PageScript = '';
const MaxFiles = 10;
const MaxFileBytes = 50 * 1024 * 1024;

/**
 * Asks the main process once whether this app shares; if it does, exposes the bridge to the page
 * and evaluates the page script in the page's world. Returns whether it did.
 * @param {{ contextBridge: any, ipcRenderer: any, webFrame: any }} electron
 * @param {boolean} contextIsolated
 * @param {any} world this preload's global object
 */
function installWebShare({ contextBridge, ipcRenderer, webFrame }, contextIsolated, world) {
  const answer = ipcRenderer.sendSync('quibshare:supported');
  if (!answer) return false;
  const bridge = shareBridge(ipcRenderer, world, answer.fileTypes === 'any' ? 'any' : 'web');
  if (contextIsolated) contextBridge.exposeInMainWorld('quibshareBridge', bridge);
  else world.quibshareBridge = bridge;
  webFrame.executeJavaScript(PageScript);
  return true;
}

/**
 * The page's way to the main process. It trusts the page no more than the main process does: the
 * activation is the frame's, so it sees the same one the page script saw.
 * @param {any} ipcRenderer
 * @param {any} world
 * @param {'web' | 'any'} fileTypes
 */
function shareBridge(ipcRenderer, world, fileTypes) {
  const refused = (name, message) => ({ error: { name, message } });
  async function share(data) {
    if (!world.navigator.userActivation.isActive) {
      return refused('NotAllowedError', 'Must be handling a user gesture to perform a share request.');
    }
    if (data === null || typeof data !== 'object') return refused('TypeError', 'Invalid share data');
    const files = data.files === undefined ? [] : data.files;
    if (!Array.isArray(files) ||
        !files.every((file) => file !== null && typeof file === 'object' && file.data instanceof world.Blob)) {
      return refused('TypeError', 'Invalid share data');
    }
    // Counted before anything is read, so a page cannot make the renderer read more.
    if (files.length > MaxFiles || files.reduce((sum, file) => sum + file.data.size, 0) > MaxFileBytes) {
      return refused('NotAllowedError', 'Permission denied');
    }
    const request = { title: data.title, text: data.text, url: data.url };
    try {
      if (data.files !== undefined) {
        request.files = await Promise.all(files.map(async (file) => ({
          name: file.name, type: file.type, data: await file.data.arrayBuffer(),
        })));
      }
      return await ipcRenderer.invoke('quibshare:share', request);
    } catch {
      // The files could not be read, or sharing was turned off since the page loaded.
      return refused('DataError', 'Share failed');
    }
  }
  return { fileTypes, share };
}

// Only Electron runs this line; the rest runs under test with stand-ins.
installWebShare(require('electron'), process.contextIsolated === true, globalThis);
