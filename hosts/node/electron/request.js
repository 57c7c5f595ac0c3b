'use strict';
// What the main process makes of a page's share request, as pure functions: the checks it runs
// again on everything a page sends, the names the files are written under, and the answer a
// failed share gives the page.
const Rules = require('./rules.js').shareRules();

// Windows' limits: a path of at most 259 units unless long paths are on, a name of at most 255.
const MaxPathUnits = 259;
const MaxNameUnits = 255;
// Kept free in each name, so that " (NN)" still fits when names meet.
const NumberUnits = 5;
// Device names Windows opens instead of a file, whatever the extension.
const DeviceName = /^(CON|PRN|AUX|NUL|CONIN\$|CONOUT\$|COM[0-9¹²³]|LPT[0-9¹²³])(\..*)?$/i;

const refusal = (name, message) => ({ error: { name, message } });
const Denied = refusal('NotAllowedError', Rules.Texts.Denied);
const Invalid = refusal('TypeError', 'Invalid share data');
const Failed = refusal('AbortError', Rules.Texts.Failed);

/**
 * The share a page asked for, checked as if the page had run none of its own checks: `{ error }`
 * with the name the page rejects with, or the title, text, link and files with their bytes.
 * @param {unknown} request
 * @param {'web' | 'any'} fileTypes
 */
function checkRequest(request, fileTypes) {
  if (request === null || typeof request !== 'object') return Invalid;
  const texts = {};
  for (const name of ['title', 'text', 'url']) {
    const value = request[name];
    if (value === undefined) continue;
    // A command line ends a string at NUL.
    if (typeof value !== 'string' || value.includes('\0')) return Invalid;
    texts[name] = value;
  }
  const files = request.files === undefined ? [] : request.files;
  if (!Array.isArray(files)) return Invalid;
  const checked = [];
  for (const file of files) {
    if (file === null || typeof file !== 'object' || typeof file.name !== 'string' || file.name === '') return Invalid;
    const data = file.data;
    if (data instanceof ArrayBuffer) checked.push({ name: file.name, data: new Uint8Array(data) });
    else if (ArrayBuffer.isView(data)) checked.push({ name: file.name, data: new Uint8Array(data.buffer, data.byteOffset, data.byteLength) });
    else return Invalid;
  }
  if (texts.title === undefined && texts.text === undefined && texts.url === undefined && checked.length === 0) {
    return refusal('TypeError', Rules.Texts.Nothing);
  }
  if (texts.url !== undefined) {
    texts.url = webLink(texts.url);
    if (texts.url === null) return refusal('TypeError', Rules.Texts.BadUrl);
  }
  if (texts.title !== undefined) texts.title = Rules.cut(texts.title, Rules.MaxTitleUnits);
  if (checked.length > Rules.MaxFiles || byteCount(checked) > Rules.MaxFileBytes ||
      (texts.text ?? '').length > Rules.MaxTextUnits || (texts.url ?? '').length > Rules.MaxUrlUnits ||
      !Rules.textsFit(texts, checked.length > 0) ||
      (fileTypes !== 'any' && !checked.every((file) => Rules.WebExtensions.has(Rules.extension(file.name))))) {
    return Denied;
  }
  return { ...texts, files: checked };
}

const byteCount = (files) => files.reduce((sum, file) => sum + file.data.byteLength, 0);

// The link as an absolute http or https URL, or null. The page resolved it already; its base is
// the page's, which the main process does not know.
function webLink(text) {
  try {
    const url = new URL(text);
    return url.protocol === 'http:' || url.protocol === 'https:' ? url.href : null;
  } catch {
    return null;
  }
}

/**
 * Names for `names` that Windows takes as they are, each in the one folder of `folderUnits` units,
 * distinct without case: no folder parts, no device names, no characters Windows refuses, no
 * trailing dots or spaces, and short enough that every path stays within 259 units with " (NN)"
 * added. Throws where the folder leaves no room for a name.
 * @param {readonly string[]} names
 * @param {number} folderUnits
 * @returns {string[]}
 */
function windowsFileNames(names, folderUnits) {
  const budget = Math.min(MaxNameUnits, MaxPathUnits - folderUnits - 1) - NumberUnits;
  if (budget < 16) throw new Error(`the folder's path of ${folderUnits} units leaves no room for a file's name`);
  const taken = new Set();
  return names.map((given) => {
    const safe = safeName(given, budget);
    const dot = safe.lastIndexOf('.');
    const [stem, ext] = dot > 0 ? [safe.slice(0, dot), safe.slice(dot)] : [safe, ''];
    let name = safe;
    for (let n = 2; taken.has(name.toLowerCase()); ++n) name = `${stem} (${n})${ext}`;
    taken.add(name.toLowerCase());
    return name;
  });
}

// Windows drops trailing dots and spaces, and would write a sibling of the name given.
const withoutTrailing = (name) => name.replace(/[. ]+$/, '');

function safeName(given, budget) {
  let name = withoutTrailing(given.slice(Math.max(given.lastIndexOf('/'), given.lastIndexOf('\\')) + 1)
    .replace(/[<>:"|?*\u0000-\u001f]/g, '_'));
  if (name === '') name = 'file';
  if (DeviceName.test(name.replace(/ +(?=\.|$)/, ''))) name = `_${name}`;
  if (name.length > budget) {
    const dot = name.lastIndexOf('.');
    const ext = dot > 0 && name.length - dot <= 16 ? name.slice(dot) : '';
    name = (withoutTrailing(Rules.cut(name, budget - ext.length)) || 'file') + ext;
  }
  return name;
}

/**
 * The page's answer for a share that failed after the main side's checks: never the page's fault,
 * so Chromium's AbortError, with the details left to the main process's console.
 * @param {unknown} error
 * @param {(line: string) => void} log
 */
function failureAnswer(error, log) {
  log(`quibshare/electron: a page's share failed: ${error instanceof Error ? error.message : String(error)}`);
  return Failed;
}

module.exports = { Rules, refusal, checkRequest, byteCount, windowsFileNames, failureAnswer };
