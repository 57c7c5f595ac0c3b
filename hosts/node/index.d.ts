// Declarations for quibshare: share files, a text or a link through the Windows share sheet.

/** What went wrong, one per QuibShare exit code or failure of the package's own. */
export type QuibShareErrorCode =
  | 'INPUT_REJECTED'        // exit code 2: a file or an option was rejected
  | 'UNAVAILABLE'           // exit code 3: this system cannot share
  | 'FAILED'                // exit code 1, or QuibShare did not end in time (60 s; 725 s with `wait`)
  | 'ABNORMAL_EXIT'         // any other exit code
  | 'UNSUPPORTED_PLATFORM'  // not Windows
  | 'SPAWN_FAILED';         // the executable could not be started; `cause` is the system's error

export declare class QuibShareError extends Error {
  readonly name: 'QuibShareError';
  readonly code: QuibShareErrorCode;
  /** QuibShare's exit code, or null when it gave none. */
  readonly exitCode: number | null;
  constructor(code: QuibShareErrorCode, exitCode: number | null, message: string, options?: { cause?: unknown });
}

/**
 * How a share ended. 'handed': the sheet has the files (without `wait`). With `wait`:
 * 'completed' (the user shared to `target`), 'canceled' (the user dismissed the sheet) or 'ended'
 * (anything else: the sheet went away, reported nothing, or the share reached its 10-minute bound).
 */
export type ShareOutcome = 'handed' | 'completed' | 'canceled' | 'ended';

export interface ShareResult {
  readonly outcome: ShareOutcome;
  /** The AppUserModelId of the app shared to, when the sheet tells it. */
  readonly target?: string;
  /** The name of the app chosen in the sheet, when the sheet tells it. */
  readonly app?: string;
}

/** A rectangle in physical screen pixels; fractions are rounded. */
export interface ShareAnchor {
  x: number;
  y: number;
  width: number;
  height: number;
}

export interface ShareOptions {
  /**
   * The sheet's title (at most 256 UTF-16 units); by default the file name, or "N files"; with no
   * file, the link's host name, else the text's first line that holds more than spaces (trimmed,
   * at most 64 UTF-16 units), else "Shared text".
   */
  title?: string | undefined;
  /** Text shared with the files, or alone (at most 16384 UTF-16 units). */
  text?: string | undefined;
  /** An absolute http(s) link shared with the files, or alone (at most 2048 UTF-16 units). */
  url?: string | undefined;
  /** Where the sheet should appear from, for example the share button. */
  anchor?: ShareAnchor | undefined;
  /** Resolve once the share has ended (within about 11 minutes) rather than once the sheet has the files. */
  wait?: boolean | undefined;
  /** Runs this QuibShare.exe instead of the bundled one. */
  executablePath?: string | undefined;
}

/**
 * Opens the share sheet for `files` (one path or up to 100, each relative to the current directory
 * or absolute), or, with an empty array, for `options.text` and `options.url` alone. Resolves with
 * `{ outcome: 'handed' }` once the sheet has them, or with `wait` with the share's outcome once it
 * has ended; otherwise rejects with a QuibShareError, or with a TypeError, before anything starts,
 * for arguments of the wrong type, a NUL character, or nothing to share (no file, text or url).
 */
export declare function share(files: string | readonly string[], options?: ShareOptions): Promise<ShareResult>;

/**
 * True on Windows 10 build 19041 or later on a machine that runs the x64 executable (not 32-bit
 * Windows, nor Windows 10 on ARM64), with the executable present: the bundled one, or
 * `options.executablePath`. Starts nothing.
 */
export declare function isSupported(options?: { executablePath?: string | undefined }): boolean;

/** The bundled QuibShare.exe, in app.asar.unpacked when the package sits inside app.asar. */
export declare function executablePath(): string;
