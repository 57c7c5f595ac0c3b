// Declarations for quibshare/electron: navigator.share for an Electron app's pages on Windows.

/** The parts of Electron's main-process API that enableWebShare uses. */
export interface WebShareElectron {
  ipcMain: {
    on(channel: string, listener: (event: any, ...args: any[]) => void): unknown;
    handle(channel: string, listener: (event: any, ...args: any[]) => unknown): void;
    removeHandler(channel: string): void;
  };
  BrowserWindow: { fromWebContents(webContents: any): any };
  screen: { dipToScreenRect(window: any, rect: { x: number; y: number; width: number; height: number }): any };
  app: { on(event: 'quit', listener: (...args: any[]) => void): unknown };
  session: { defaultSession: any };
}

export interface WebShareOptions {
  /** 'web' (the default): only the file types Chromium shares; 'any': files of every type. */
  fileTypes?: 'web' | 'any' | undefined;
  /** How long the written files are kept after the share has ended, in ms (0 to 3600000; 60000 by default). */
  keepFilesFor?: number | undefined;
  /** Runs this QuibShare.exe instead of the bundled one. */
  executablePath?: string | undefined;
  /** false: the app's own preload loads quibshare/electron/preload; true (the default): the default session's. */
  preload?: boolean | undefined;
  /**
   * Whether `frame` (Electron's WebFrameMain) may share although it is a frame of another origin
   * than its window's top frame, or belongs to a <webview> guest; by default none may. Its origin
   * must still be a secure one.
   */
  allowFrame?: ((frame: any) => boolean) | undefined;
  /** Schemes the app registered with protocol.registerSchemesAsPrivileged as `secure`, e.g. ['app']. */
  secureSchemes?: readonly string[] | undefined;
  /** Electron's main-process modules; by default require('electron'). */
  electron?: WebShareElectron | undefined;
}

/**
 * Gives the app's pages navigator.share and navigator.canShare on Windows, where QuibShare runs.
 * Call it before the first window is created. Returns the function that turns sharing off.
 */
export declare function enableWebShare(options?: WebShareOptions): () => void;
