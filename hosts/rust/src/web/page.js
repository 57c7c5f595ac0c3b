// navigator.share and navigator.canShare for a page on Windows, in Electron (the preload evaluates it
// in the page's world) and in WebView2 (Tauri, or any host that injects it before the page's own
// scripts). It checks what Chromium checks, in Chromium's order, and hands what passes to the host
// within the calling task: Electron's quibshareBridge, Tauri's invoke, or WebView2's web messages.
(function () {
  'use strict';
  // Taken now: a page's later changes to these globals must not change the checks.
  const { DOMException, File, Blob, FileReader, TypeError, URL, Promise, Reflect, JSON, Math, Object: { getOwnPropertyDescriptor } } = globalThis;
  const transport = hostTransport();
  // As Chromium's, both are defined only in a secure context.
  if (transport === null || globalThis.isSecureContext !== true) return;

  const ownNavigator = navigator;
  const ownDocument = document;
  const ownWindow = window;
  const policy = ownDocument.featurePolicy;
  const fileName = getOwnPropertyDescriptor(File.prototype, 'name').get;
  const blobSize = getOwnPropertyDescriptor(Blob.prototype, 'size').get;
  const blobType = getOwnPropertyDescriptor(Blob.prototype, 'type').get;
  const Rules = (function shareRules() {
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
})();
  let running = false;

  // The host's way to share: `send(request)` settles with the host's answer. In Electron a browser
  // with its own Web Share keeps it; in WebView2 the page's own navigator.share does not work, so
  // it is replaced. Without a host nothing could share.
  function hostTransport() {
    if (typeof navigator === 'undefined') return null;
    const bridge = globalThis.quibshareBridge;
    if (typeof bridge === 'object' && bridge !== null) {
      if ('share' in navigator) return null;
      return { anyType: () => bridge.fileTypes === 'any', send: (request) => bridge.share(request) };
    }
    // Tauri's window also has WebView2's messages, so its invoke is looked for first.
    const tauri = globalThis.__TAURI_INTERNALS__;
    if (typeof tauri === 'object' && tauri !== null && typeof tauri.invoke === 'function') {
      return { anyType: () => false, send: async (request) => {
        const requestJson = JSON.stringify(await encoded(request));
        return JSON.parse(await tauri.invoke('quibshare_share', { request: requestJson }));
      } };
    }
    const webview = globalThis.chrome?.webview;
    if (typeof webview === 'object' && webview !== null && typeof webview.postMessage === 'function' &&
        typeof webview.addEventListener === 'function') {
      // A late answer to a document that has gone may reach the next one: its ids start elsewhere.
      let lastId = Math.floor(Math.random() * 2 ** 31);
      return { anyType: () => false, send: async (request) => {
        const message = { quibshare: 'share', id: ++lastId, request: await encoded(request) };
        return new Promise((resolve) => {
          // Only the answer to this share settles it; any other message is the page's own.
          const listener = ({ data }) => {
            if (data === null || typeof data !== 'object' || data.quibshare !== 'answer' || data.id !== message.id) return;
            webview.removeEventListener('message', listener);
            resolve(data.answer);
          };
          webview.addEventListener('message', listener);
          webview.postMessage(message);
        });
      } };
    }
    return null;
  }

  // The request as WebView2 hosts get it, in one order: the texts given, then each file with its
  // bytes in base64, since a web message carries no Blob.
  async function encoded({ title, text, url, files }) {
    const request = {};
    if (title !== undefined) request.title = title;
    if (text !== undefined) request.text = text;
    if (url !== undefined) request.url = url;
    if (files !== undefined) {
      request.files = await Promise.all(files.map(async ({ name, type, data }) => ({ name, type, data: await base64(data) })));
    }
    return request;
  }

  function base64(blob) {
    return new Promise((resolve, reject) => {
      const reader = new FileReader();
      reader.onload = () => {
        const url = reader.result;
        const comma = url.indexOf(',');
        resolve(comma < 0 ? '' : url.slice(comma + 1));
      };
      reader.onerror = () => reject(reader.error);
      reader.readAsDataURL(blob);
    });
  }

  // A lone surrogate becomes U+FFFD, as for a USVString.
  function usv(value) {
    return String(value).replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, '\uFFFD');
  }

  // ShareData as Web IDL converts it: members read in name order; each file's name, size and type
  // read once through File's own getters, which refuse anything that is not a File.
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
      converted.files = Array.from(files, (file) => {
        try {
          return { file, name: Reflect.apply(fileName, file, []), size: Reflect.apply(blobSize, file, []), type: Reflect.apply(blobType, file, []) };
        } catch {
          throw new TypeError(`${failed}Failed to read the 'files' property from 'ShareData': Failed to convert value to 'File'.`);
        }
      });
    }
    for (const name of ['text', 'title', 'url']) {
      const value = data[name];
      if (value !== undefined) converted[name] = usv(value);
    }
    return converted;
  }

  // Gone from its window (a removed iframe's document, say): Chromium's context is no longer valid.
  const fullyActive = () => ownDocument.defaultView === ownWindow;

  // The permissions policy's answer for "web-share"; where this Chromium does not know the feature,
  // its default, "self": allowed in the top frame and in frames of its origin.
  function webShareAllowed() {
    if (policy && typeof policy.features === 'function' && policy.features().includes('web-share')) {
      return policy.allowsFeature('web-share');
    }
    try {
      for (let frame = ownWindow; frame !== frame.parent; frame = frame.parent) {
        if (frame.parent.location.origin !== ownWindow.location.origin) return false;
      }
      return true;
    } catch {
      return false;
    }
  }

  // What the bridge gets for `data`, or the error that share() rejects with (canShare: false).
  function checked(data) {
    const files = data.files || [];
    if (data.title === undefined && data.text === undefined && data.url === undefined && files.length === 0) {
      return { error: new TypeError(Rules.Texts.Nothing) };
    }
    const request = {};
    if (data.url !== undefined) {
      let url;
      try {
        // An empty link is the document's own address, resolved as any other.
        url = new URL(data.url, ownDocument.baseURI);
      } catch {
        return { error: new TypeError(Rules.Texts.BadUrl) };
      }
      // Chromium also takes the page's own scheme; QuibShare shares web links only.
      if (url.protocol !== 'http:' && url.protocol !== 'https:') return { error: new TypeError(Rules.Texts.BadUrl) };
      request.url = url.href;
    }
    if (data.title !== undefined) request.title = Rules.cut(data.title, Rules.MaxTitleUnits);
    if (data.text !== undefined) request.text = data.text;
    const bytes = files.reduce((sum, file) => sum + file.size, 0);
    const anyType = transport.anyType();
    if (files.length > Rules.MaxFiles || bytes > Rules.MaxFileBytes ||
        (request.text !== undefined && request.text.length > Rules.MaxTextUnits) ||
        (request.url !== undefined && request.url.length > Rules.MaxUrlUnits) ||
        !Rules.textsFit(request, files.length > 0) ||
        (!anyType && !files.every((file) => Rules.WebExtensions.has(Rules.extension(file.name))))) {
      return { error: new DOMException(Rules.Texts.Denied, 'NotAllowedError') };
    }
    if (files.length > 0) request.files = files.map((file) => ({ name: file.name, type: file.type, data: file.file }));
    return { request };
  }

  function settled(answer) {
    if (answer !== null && typeof answer === 'object' && typeof answer.error === 'object' && answer.error !== null) {
      const { name, message } = answer.error;
      throw name === 'TypeError' ? new TypeError(String(message)) : new DOMException(String(message), String(name));
    }
    if (answer !== null && typeof answer === 'object' && answer.outcome === 'canceled') {
      throw new DOMException(Rules.Texts.Canceled, 'AbortError');
    }
  }

  // Defaults keep the length 0 that Web IDL gives an optional dictionary argument.
  const methods = {
    share(data = undefined) {
      let converted;
      try {
        if (this !== ownNavigator) throw new TypeError(Rules.Texts.IllegalInvocation);
        converted = shareData(data, 'share');
      } catch (error) {
        return Promise.reject(error);
      }
      if (!fullyActive()) return Promise.reject(new DOMException(Rules.Texts.Detached, 'InvalidStateError'));
      if (!webShareAllowed()) return Promise.reject(new DOMException(Rules.Texts.Denied, 'NotAllowedError'));
      if (running) return Promise.reject(new DOMException(Rules.Texts.Busy, 'InvalidStateError'));
      // Chromium also consumes the activation here; a page's script cannot, the main process does.
      if (!ownNavigator.userActivation.isActive) {
        return Promise.reject(new DOMException(Rules.Texts.NoGesture, 'NotAllowedError'));
      }
      const { request, error } = checked(converted);
      if (error) return Promise.reject(error);
      running = true;
      let answer;
      try {
        // Called now, in this task, while Electron's bridge can still see the user's activation.
        answer = Promise.resolve(transport.send(request));
      } catch (thrown) {
        answer = Promise.reject(thrown);
      }
      return answer.then((value) => {
        running = false;
        return settled(value);
      }, () => {
        running = false;
        throw new DOMException(Rules.Texts.Failed, 'AbortError');
      });
    },
    canShare(data = undefined) {
      if (this !== ownNavigator) throw new TypeError(Rules.Texts.IllegalInvocation);
      const converted = shareData(data, 'canShare');
      return fullyActive() && webShareAllowed() && !checked(converted).error;
    },
  };
  for (const name of ['share', 'canShare']) {
    Object.defineProperty(Navigator.prototype, name,
                          { value: methods[name], writable: true, enumerable: true, configurable: true });
  }
})();
