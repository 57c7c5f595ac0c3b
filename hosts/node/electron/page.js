// navigator.share and navigator.canShare for an Electron page on Windows: a plain script that the
// preload evaluates in the page's world before the page's own scripts run. It checks what Chromium
// checks, in Chromium's order, and hands what passes to quibshareBridge within the calling task.
(function () {
  'use strict';
  const bridge = globalThis.quibshareBridge;
  // A browser with its own Web Share keeps it; without the bridge nothing could share.
  if (typeof navigator === 'undefined' || 'share' in navigator || typeof bridge !== 'object' || bridge === null) return;

  // Taken now: a page's later changes to these globals must not change the checks.
  const { DOMException, File, TypeError, URL, Promise } = globalThis;
  const MaxFiles = 10;
  const MaxFileBytes = 50 * 1024 * 1024;
  const MaxTitleUnits = 256;
  const MaxTextUnits = 16384;
  const MaxUrlUnits = 2048;
  // Chromium's permitted file types, by extension.
  const WebExtensions = new Set([
    'pdf',
    'flac', 'm4a', 'mp3', 'oga', 'ogg', 'opus', 'wav', 'weba',
    'avif', 'bmp', 'gif', 'ico', 'jfif', 'jpeg', 'jpg', 'pjp', 'pjpeg', 'png', 'svg', 'svgz', 'tif', 'tiff',
    'webp', 'xbm',
    'css', 'csv', 'ehtml', 'htm', 'html', 'shtm', 'shtml', 'text', 'txt',
    'm4v', 'mp4', 'mpeg', 'mpg', 'ogm', 'ogv', 'webm',
  ]);
  const Busy = 'A earlier share had not yet completed.';  // Chromium's words, as pages may know them
  const NoGesture = 'Must be handling a user gesture to perform a share request.';
  const Nothing = 'Nothing to share: give a text, a url or files.';
  const BadUrl = 'Invalid URL';
  const Denied = 'Permission denied';
  let running = false;

  // A lone surrogate becomes U+FFFD, as for a USVString.
  function usv(value) {
    return String(value).replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, '\uFFFD');
  }

  // ShareData as Web IDL converts it: members read in name order, empty ones dropped.
  function shareData(data, method) {
    const failed = `Failed to execute '${method}' on 'Navigator': `;
    if (data === undefined || data === null) return {};
    if (typeof data !== 'object' && typeof data !== 'function') {
      throw new TypeError(`${failed}The provided value is not of type 'ShareData'.`);
    }
    const converted = {};
    const files = data.files;
    if (files !== undefined) {
      if ((typeof files !== 'object' && typeof files !== 'function') || files === null ||
          typeof files[Symbol.iterator] !== 'function') {
        throw new TypeError(`${failed}Failed to read the 'files' property from 'ShareData': The provided value cannot be converted to a sequence.`);
      }
      const list = Array.from(files);
      if (!list.every((file) => file instanceof File)) {
        throw new TypeError(`${failed}Failed to read the 'files' property from 'ShareData': Failed to convert value to 'File'.`);
      }
      if (list.length > 0) converted.files = list;
    }
    for (const name of ['text', 'title', 'url']) {
      const value = data[name];
      if (value === undefined) continue;
      const text = usv(value);
      if (text !== '') converted[name] = text;
    }
    return converted;
  }

  // What the bridge gets for `data`, or the error that share() rejects with (canShare: false).
  function checked(data) {
    if (data.text === undefined && data.url === undefined && data.files === undefined) return { error: new TypeError(Nothing) };
    const request = {};
    if (data.url !== undefined) {
      let url;
      try {
        url = new URL(data.url, document.baseURI);
      } catch {
        return { error: new TypeError(BadUrl) };
      }
      // Chromium also takes the page's own scheme; QuibShare shares web links only.
      if (url.protocol !== 'http:' && url.protocol !== 'https:') return { error: new TypeError(BadUrl) };
      request.url = url.href;
    }
    const files = data.files || [];
    const bytes = files.reduce((sum, file) => sum + file.size, 0);
    const anyType = bridge.fileTypes === 'any';
    if (files.length > MaxFiles || bytes > MaxFileBytes ||
        (data.text !== undefined && data.text.length > MaxTextUnits) ||
        (request.url !== undefined && request.url.length > MaxUrlUnits) ||
        (!anyType && !files.every((file) => WebExtensions.has(extension(file.name))))) {
      return { error: new DOMException(Denied, 'NotAllowedError') };
    }
    if (data.title !== undefined) request.title = cut(data.title, MaxTitleUnits);
    if (data.text !== undefined) request.text = data.text;
    if (files.length > 0) request.files = files.map((file) => ({ name: file.name, type: file.type, data: file }));
    return { request };
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

  function settled(answer) {
    if (answer !== null && typeof answer === 'object' && typeof answer.error === 'object' && answer.error !== null) {
      const { name, message } = answer.error;
      throw name === 'TypeError' ? new TypeError(String(message)) : new DOMException(String(message), String(name));
    }
    if (answer !== null && typeof answer === 'object' && answer.outcome === 'canceled') {
      throw new DOMException('Share canceled', 'AbortError');
    }
  }

  // Defaults keep the length 0 that Web IDL gives an optional dictionary argument.
  const methods = {
    share(data = undefined) {
      let converted;
      try {
        converted = shareData(data, 'share');
      } catch (error) {
        return Promise.reject(error);
      }
      if (running) return Promise.reject(new DOMException(Busy, 'InvalidStateError'));
      // Chromium also consumes the activation here; a page's script cannot.
      if (!navigator.userActivation.isActive) return Promise.reject(new DOMException(NoGesture, 'NotAllowedError'));
      const { request, error } = checked(converted);
      if (error) return Promise.reject(error);
      running = true;
      let answer;
      try {
        // Called now, in this task, while the bridge can still see the user's activation.
        answer = Promise.resolve(globalThis.quibshareBridge.share(request));
      } catch (thrown) {
        answer = Promise.reject(thrown);
      }
      return answer.then((value) => {
        running = false;
        return settled(value);
      }, () => {
        running = false;
        throw new DOMException('Share failed', 'DataError');
      });
    },
    canShare(data = undefined) {
      return !checked(shareData(data, 'canShare')).error;
    },
  };
  for (const name of ['share', 'canShare']) {
    Object.defineProperty(Navigator.prototype, name,
                          { value: methods[name], writable: true, enumerable: true, configurable: true });
  }
})();
