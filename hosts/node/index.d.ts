// Declarations for quibshare: share one file through the Windows share sheet.

/** What went wrong, one per QuibShare exit code or failure of the package's own. */
export type QuibShareErrorCode =
  | 'INPUT_REJECTED'        // exit code 2: the path was rejected
  | 'UNAVAILABLE'           // exit code 3: this system cannot share
  | 'FAILED'                // exit code 1, or QuibShare did not end within 60 s
  | 'ABNORMAL_EXIT'         // any other exit code
  | 'UNSUPPORTED_PLATFORM'  // not Windows
  | 'SPAWN_FAILED';         // the executable could not be started

export declare class QuibShareError extends Error {
  readonly name: 'QuibShareError';
  readonly code: QuibShareErrorCode;
  /** QuibShare's exit code, or null when it gave none. */
  readonly exitCode: number | null;
  constructor(code: QuibShareErrorCode, exitCode: number | null, message: string);
}

export interface ShareOptions {
  /** Runs this QuibShare.exe instead of the bundled one. */
  executablePath?: string;
}

/**
 * Opens the share sheet for `file` (relative to the current directory or absolute) and resolves
 * once the sheet has it; otherwise rejects with a QuibShareError.
 */
export declare function share(file: string, options?: ShareOptions): Promise<void>;

/** True on Windows 10 build 19041 or later with the executable present. Starts nothing. */
export declare function isSupported(): boolean;

/** The bundled QuibShare.exe, in app.asar.unpacked when the package sits inside app.asar. */
export declare function executablePath(): string;
