// An Electron app's use of quibshare/electron, compiled under tsc --strict against the shipped
// declarations, with a stand-in where Electron's own modules would be.
import { enableWebShare, type WebShareElectron, type WebShareOptions } from 'quibshare/electron';
import 'quibshare/electron/preload';

type Page = typeof import('quibshare/electron/page');
const page: Page = {};

declare const electron: WebShareElectron;
const options: WebShareOptions = { fileTypes: 'any', keepFilesFor: 0, executablePath: 'C:\\App\\QuibShare.exe', preload: false, electron };
const disable: () => void = enableWebShare(options);
disable();
enableWebShare();
enableWebShare({ fileTypes: 'web', keepFilesFor: undefined, allowFrame: (frame) => frame.origin === 'https://docs.example.com', secureSchemes: ['app'] });
void page;
