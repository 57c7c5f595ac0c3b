// What quibshare/electron's main side adds to a page's share of one 1 MB file (write it into its
// folder, share it waited, remove it) against a waited share() of the same file already on disk,
// interleaved in one run, medians of 21 of each. Run from Windows Node in an app that has the
// package installed, with the simulated share platform beside its executable (bench/run does that).
'use strict';
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { share } = require('quibshare');
const { enableWebShare } = require('quibshare/electron');

const Runs = 21;
const bytes = Buffer.alloc(1024 * 1024, 'quibshare ');
const onDisk = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-bench-')), 'report.pdf');
fs.writeFileSync(onDisk, bytes);
// The page's folders go here alone, so that "removed" is "this folder is empty".
const temporary = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-bench-temp-'));
process.env.TEMP = temporary;
process.env.TMP = temporary;

// Electron's main-process modules, as little as enableWebShare needs.
const handlers = new Map();
const electron = {
  ipcMain: { on: (channel, listener) => handlers.set(channel, listener), handle: (channel, handler) => handlers.set(channel, handler),
             removeHandler() {} },
  app: new EventEmitter(),
  session: { defaultSession: { registerPreloadScript() {}, getPreloadScripts: () => [] } },
  BrowserWindow: { fromWebContents: () => ({ isDestroyed: () => false, getContentBounds: () => anchor }) },
  screen: { dipToScreenRect: (window, rect) => rect },
};
enableWebShare({ keepFilesFor: 0, electron });
const pageShare = handlers.get('quibshare:share');
// One document of a secure origin in a window's top frame; its preload asks first, as Electron's does.
const frame = { origin: 'https://app.example', url: 'https://app.example/', parent: null, frameTreeNodeId: 1 };
frame.top = frame;
const event = { sender: {}, senderFrame: frame };
handlers.get('quibshare:supported')(event, { contextIsolated: true });
const { document } = event.returnValue;
// The window's bounds as the main side anchors the sheet; share() gets the same, for like with like.
const anchor = { x: 0, y: 0, width: 800, height: 600 };

async function fromPage() {
  const answer = await pageShare(event, { files: [{ name: 'report.pdf', type: 'application/pdf', data: bytes.buffer.slice(0) }] }, document);
  if (answer.outcome !== 'completed') throw new Error(JSON.stringify(answer));
  while (fs.readdirSync(temporary).length > 0) await new Promise((resolve) => setImmediate(resolve));
}

const { timed, median } = require('./measure');

(async () => {
  await fromPage();  // warm the file cache and the loader
  const page = [];
  const plain = [];
  for (let i = 0; i < Runs; ++i) {
    page.push(await timed(fromPage));
    plain.push(await timed(() => share(onDisk, { wait: true, anchor })));
  }
  const [p, s] = [median(page), median(plain)];
  console.log(`a page's share of 1 MB through quibshare/electron (write, share waited, remove): median ${p.toFixed(1)} ms of ${Runs}`);
  console.log(`waited share() of the same file on disk: median ${s.toFixed(1)} ms of ${Runs}`);
  console.log(`page / share(): ${(p / s).toFixed(3)} (aim: 1.30 or less)`);
  fs.rmSync(path.dirname(onDisk), { recursive: true, force: true });
  fs.rmSync(temporary, { recursive: true, force: true });
})();
