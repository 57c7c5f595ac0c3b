'use strict';
// What the main process makes of a page's share request, as pure functions: the checks it runs
// again on everything a page sends, the names the files are written under, and the answer a
// failed share gives the page.
const { QuibShareError } = require('../index.js');

const MaxFiles = 10;
const MaxFileBytes = 50 * 1024 * 1024;
const MaxTitleUnits = 256;
const MaxTextUnits = 16384;
const MaxUrlUnits = 2048;
// Windows' limit on one name, kept clear of so that " (N)" still fits.
const MaxNameUnits = 200;
const WebExtensions = new Set([
  'pdf',
  'flac', 'm4a', 'mp3', 'oga', 'ogg', 'opus', 'wav', 'weba',
  'avif', 'bmp', 'gif', 'ico', 'jfif', 'jpeg', 'jpg', 'pjp', 'pjpeg', 'png', 'svg', 'svgz', 'tif', 'tiff',
  'webp', 'xbm',
  'css', 'csv', 'ehtml', 'htm', 'html', 'shtm', 'shtml', 'text', 'txt',
  'm4v', 'mp4', 'mpeg', 'mpg', 'ogm', 'ogv', 'webm',
]);
// Device names Windows opens instead of a file, whatever the extension.
const DeviceName = /^(CON|PRN|AUX|NUL|CONIN\$|CONOUT\$|COM[0-9¹²³]|LPT[0-9¹²³])(\..*)?$/i;

const refusal = (name, message) => ({ error: { name, message } });
const Denied = refusal('NotAllowedError', 'Permission denied');
const Invalid = refusal('TypeError', 'Invalid share data');

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
    if (value === undefined || value === '') continue;
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
  if (texts.text === undefined && texts.url === undefined && checked.length === 0) {
    return refusal('TypeError', 'Nothing to share: give a text, a url or files.');
  }
  if (texts.url !== undefined) {
    texts.url = webLink(texts.url);
    if (texts.url === null) return refusal('TypeError', 'Invalid URL');
  }
  if (checked.length > MaxFiles || checked.reduce((sum, file) => sum + file.data.byteLength, 0) > MaxFileBytes ||
      (texts.text ?? '').length > MaxTextUnits || (texts.url ?? '').length > MaxUrlUnits ||
      (fileTypes !== 'any' && !checked.every((file) => WebExtensions.has(extension(file.name))))) {
    return Denied;
  }
  if (texts.title !== undefined) texts.title = cut(texts.title, MaxTitleUnits);
  return { ...texts, files: checked };
}

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

function extension(name) {
  const dot = name.lastIndexOf('.');
  return dot < 0 ? '' : name.slice(dot + 1).toLowerCase();
}

// At most `units` UTF-16 units, one fewer where the cut would split a surrogate pair.
function cut(text, units) {
  if (text.length <= units) return text;
  const code = text.charCodeAt(units - 1);
  return text.slice(0, code >= 0xd800 && code <= 0xdbff ? units - 1 : units);
}

/**
 * Names for `names` that Windows takes as they are, each in the one folder, distinct without case:
 * no folder parts, no device names, no characters Windows refuses, no trailing dots or spaces.
 * @param {readonly string[]} names
 * @returns {string[]}
 */
function windowsFileNames(names) {
  const taken = new Set();
  return names.map((given) => {
    const safe = safeName(given);
    const dot = safe.lastIndexOf('.');
    const [stem, ext] = dot > 0 ? [safe.slice(0, dot), safe.slice(dot)] : [safe, ''];
    let name = safe;
    for (let n = 2; taken.has(name.toLowerCase()); ++n) name = `${stem} (${n})${ext}`;
    taken.add(name.toLowerCase());
    return name;
  });
}

function safeName(given) {
  let name = given.slice(Math.max(given.lastIndexOf('/'), given.lastIndexOf('\\')) + 1)
    .replace(/[<>:"|?*\u0000-\u001f]/g, '_')
    .replace(/[. ]+$/, '');
  if (name === '') name = 'file';
  if (DeviceName.test(name.replace(/ +(?=\.|$)/, ''))) name = `_${name}`;
  if (name.length > MaxNameUnits) {
    const dot = name.lastIndexOf('.');
    const ext = dot > 0 && name.length - dot <= 16 ? name.slice(dot) : '';
    name = cut(name, MaxNameUnits - ext.length) + ext;
  }
  return name;
}

/**
 * The page's answer for a share that failed: QuibShare's rejections keep the names the page's
 * own checks use; anything else failed the transfer.
 * @param {unknown} error
 */
function failureAnswer(error) {
  const message = error instanceof Error ? error.message : String(error);
  if (error instanceof QuibShareError && error.exitCode === 2) return refusal('TypeError', message);
  if (error instanceof QuibShareError && error.exitCode === 3) return refusal('NotAllowedError', message);
  return refusal('DataError', message);
}

module.exports = { checkRequest, windowsFileNames, failureAnswer };
