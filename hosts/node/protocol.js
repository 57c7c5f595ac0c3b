'use strict';
// What the package knows of QuibShare.exe without starting it, as pure functions: which systems
// run the bundled x64 executable, the command line of a share, and the line a waited share prints.

// Windows 10 2004: the first build whose share sheet QuibShare supports.
const MinimumWindowsBuild = 19041;
// Windows 11 on ARM64 emulates x64; Windows 10 on ARM64 emulates only x86.
const ArmEmulatesX64Build = 22000;
// PROCESSOR_ARCHITEW6432, which WOW64 sets for 32-bit programs, names the real machine.
const MachineOfWow64 = { AMD64: 'x64', ARM64: 'arm64' };
const OutcomeWords = ['completed', 'canceled', 'ended'];

/**
 * True where the bundled executable runs: Windows `release` (os.release()) of build 19041 or
 * later on a machine that runs x64 programs, as told by Node's `arch` (process.arch) and, for
 * 32-bit Node, `wow64Machine` (PROCESSOR_ARCHITEW6432; unset on 32-bit Windows).
 * @param {string} release
 * @param {string} arch
 * @param {string | undefined} wow64Machine
 */
function systemSupported(release, arch, wow64Machine) {
  const [major, , build] = release.split('.').map(Number);
  if (!(major > 10 || (major === 10 && build >= MinimumWindowsBuild))) return false;
  const machine = arch === 'ia32' ? MachineOfWow64[wow64Machine ?? ''] : arch;
  return machine === 'x64' || (machine === 'arm64' && build >= ArmEmulatesX64Build);
}

/**
 * QuibShare's arguments for a share. Throws a TypeError for what no command line can carry, and
 * for a share of nothing (no file, no text, no link); leaves every other check, and its wording,
 * to QuibShare.
 * @param {string | readonly string[]} files
 * @param {{ title?: string, text?: string, url?: string,
 *           anchor?: { x: number, y: number, width: number, height: number }, wait?: boolean }} options
 * @returns {string[]}
 */
function commandLine(files, options) {
  const paths = typeof files === 'string' ? [files] : files;
  if (!Array.isArray(paths)) throw new TypeError('The files to share must be a path or an array of paths');
  const args = paths.flatMap((file) => ['--input', argument(file, 'Each file to share')]);
  for (const name of ['title', 'text', 'url']) {
    if (options[name] !== undefined) args.push(`--${name}`, argument(options[name], `options.${name}`));
  }
  if (options.anchor !== undefined) args.push('--anchor', anchorArgument(options.anchor));
  if (options.wait !== undefined && typeof options.wait !== 'boolean') {
    throw new TypeError('options.wait must be a boolean');
  }
  if (options.wait) args.push('--wait');
  if (paths.length === 0 && options.text === undefined && options.url === undefined) {
    throw new TypeError('Nothing to share: give files, options.text or options.url');
  }
  return args;
}

/** @param {unknown} value @param {string} what */
function argument(value, what) {
  // Windows command lines end a string at NUL, so such a string would arrive cut short.
  if (typeof value !== 'string' || value.includes('\0')) {
    throw new TypeError(`${what} must be a string without NUL characters`);
  }
  return value;
}

/** @param {unknown} anchor */
function anchorArgument(anchor) {
  const values = ['x', 'y', 'width', 'height'].map((key) => Object(anchor)[key]);
  if (!values.every(Number.isFinite)) {
    throw new TypeError('options.anchor must have finite numbers x, y, width and height');
  }
  return values.map(Math.round).join(',');
}

// The deepest nesting a line may have, the outer object being level 1.
const MaximumDepth = 32;
// A surrogate that is not half of a pair: JSON.parse lets an escaped one through.
const LoneSurrogate = /[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/;

/**
 * The outcome of a waited share from what QuibShare printed on exit code 0, its first line. A
 * line QuibShare never writes (not UTF-8, not one well-formed JSON object, a lone surrogate in any
 * string, nesting deeper than 32 levels) reads as 'ended' and nothing else. Otherwise keys this
 * version does not know are ignored, an unknown or missing word reads as 'ended', a value that is
 * no string or is empty is absent, and of duplicate keys the last counts.
 * @param {Uint8Array} output
 * @returns {{ outcome: string, target?: string, app?: string }}
 */
function parseOutcome(output) {
  const end = output.indexOf(0x0a);
  let line;
  try {
    // Fatal, and keeping a byte order mark, which JSON.parse then refuses.
    const text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true })
      .decode(output.subarray(0, end === -1 ? output.length : end));
    line = withinLimits(text) ? JSON.parse(text) : null;
  } catch {
    line = null;
  }
  if (typeof line !== 'object' || line === null || Array.isArray(line)) return { outcome: 'ended' };
  const word = member(line, 'outcome');
  const result = { outcome: OutcomeWords.includes(word) ? word : 'ended' };
  for (const key of ['target', 'app']) {
    const value = member(line, key);
    if (value !== undefined) result[key] = value;
  }
  return result;
}

/**
 * False if `text` nests deeper than MaximumDepth or holds a string with a lone surrogate. Run
 * before JSON.parse, which keeps only the last of duplicate keys and would build a million
 * nested arrays; where `text` is malformed the answer does not matter, since JSON.parse refuses it.
 * @param {string} text
 */
function withinLimits(text) {
  let level = 0;
  for (let at = 0; at < text.length; ++at) {
    const c = text[at];
    if (c === '{' || c === '[') {
      if (++level > MaximumDepth) return false;
    } else if (c === '}' || c === ']') {
      --level;
    } else if (c === '"') {
      const start = at;
      for (++at; at < text.length && text[at] !== '"'; ++at) if (text[at] === '\\') ++at;
      if (LoneSurrogate.test(JSON.parse(text.slice(start, at + 1)))) return false;
    }
  }
  return true;
}

/** @param {object} line @param {string} key @returns {string | undefined} */
function member(line, key) {
  const value = Object.hasOwn(line, key) ? line[key] : undefined;
  return typeof value === 'string' && value !== '' ? value : undefined;
}

module.exports = { systemSupported, commandLine, parseOutcome };
