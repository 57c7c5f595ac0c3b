'use strict';
// The rules of a share from a page, in one place: the limits, the permitted file types, the cut of
// a title, how long the texts may make QuibShare's command line, and Chromium's own texts. The main
// side requires this file; packing writes shareRules' source into the preload and the page script,
// so it may use nothing but the language itself.

/** The rules, made afresh in whatever world calls it. */
function shareRules() {
  'use strict';
  const MaxFiles = 10;
  const MaxFileBytes = 50 * 1024 * 1024;
  const MaxTitleUnits = 256;
  const MaxTextUnits = 16384;
  const MaxUrlUnits = 2048;
  // Windows' limit on a command line is 32767 units with its NUL; what the executable's path, up
  // to ten file paths of at most 259 units and the flags take stays well inside the rest.
  const MaxCommandUnits = 32766;
  const TextArgumentUnits = MaxCommandUnits - 8192;
  // Chromium's permitted file types, by extension.
  const WebExtensions = new Set([
    'pdf',
    'flac', 'm4a', 'mp3', 'oga', 'ogg', 'opus', 'wav', 'weba',
    'avif', 'bmp', 'gif', 'ico', 'jfif', 'jpeg', 'jpg', 'pjp', 'pjpeg', 'png', 'svg', 'svgz', 'tif', 'tiff',
    'webp', 'xbm',
    'css', 'csv', 'ehtml', 'htm', 'html', 'shtm', 'shtml', 'text', 'txt',
    'm4v', 'mp4', 'mpeg', 'mpg', 'ogm', 'ogv', 'webm',
  ]);
  // Chromium's words, as pages may know them.
  const Texts = Object.freeze({
    Busy: 'An earlier share has not yet completed.',
    NoGesture: 'Must be handling a user gesture to perform a share request.',
    Nothing: 'No known share data fields supplied. If using only new fields (other than title, text and url), ' +
      'you must feature-detect them first.',
    BadUrl: 'Invalid URL',
    Denied: 'Permission denied',
    Failed: 'Share failed',
    Canceled: 'Share canceled',
    Detached: 'Internal error: window frame is missing (the navigator may be detached).',
    IllegalInvocation: 'Illegal invocation',
  });

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

  // The texts as QuibShare gets them: empty ones left out (it refuses them), and a title alone
  // given as the text too, since a sheet with nothing but a title shows nothing to share.
  function commandTexts({ title, text, url }, hasFiles) {
    const texts = {};
    if (title) texts.title = title;
    if (text) texts.text = text;
    if (url) texts.url = url;
    if (texts.title !== undefined && texts.text === undefined && texts.url === undefined && !hasFiles) {
      texts.text = texts.title;
    }
    return texts;
  }

  // One argument's units on the command line, quoted as Node (libuv) quotes it on Windows, with the
  // space before it.
  function argumentUnits(value) {
    if (value === '') return 3;
    if (!/[ \t"]/.test(value)) return value.length + 1;
    let units = value.length + 3;
    let slashes = 0;
    for (const c of value) {
      if (c === '\\') {
        ++slashes;
        continue;
      }
      if (c === '"') units += slashes + 1;
      slashes = 0;
    }
    return units + slashes;
  }

  // Whether the texts, with their option names, leave room on the command line for the rest.
  function textsFit(texts, hasFiles) {
    const given = commandTexts(texts, hasFiles);
    let units = 0;
    for (const name of ['title', 'text', 'url']) {
      if (given[name] !== undefined) units += name.length + 3 + argumentUnits(given[name]);
    }
    return units <= TextArgumentUnits;
  }

  return Object.freeze({
    MaxFiles, MaxFileBytes, MaxTitleUnits, MaxTextUnits, MaxUrlUnits, MaxCommandUnits, WebExtensions, Texts,
    extension, cut, commandTexts, argumentUnits, textsFit,
  });
}

module.exports = { shareRules };
