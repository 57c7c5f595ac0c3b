'use strict';
// Who may share, as pure functions the main side runs before it reads a request: the frame that
// sent it, its place in its window, its origin, and whether it is still the document that asked.

/**
 * Why `frame` may not share, or null where it may. `frame` is the event's senderFrame (null once the
 * frame navigated or went), `contents` its webContents, `document` the token the request carries and
 * `current` the token of the frame's present document.
 * @param {{ frame: any, contents: any, document: unknown, current: unknown,
 *           allowFrame: (frame: any) => boolean, secureSchemes: readonly string[] }} sender
 * @returns {string | null}
 */
function senderRefusal({ frame, contents, document, current, allowFrame, secureSchemes }) {
  if (frame === null || frame === undefined || frame.detached === true ||
      (typeof frame.isDestroyed === 'function' && frame.isDestroyed())) {
    return 'the frame that asked has gone';
  }
  if (document === undefined || document !== current) return 'the document that asked has gone';
  const top = frame.top ?? frame;
  const guest = typeof contents?.getType === 'function' && contents.getType() === 'webview';
  const framed = frame.parent !== null && frame.parent !== undefined && frame.origin !== top.origin;
  if ((guest || framed) && !allowFrame(frame)) {
    return `${guest ? 'a <webview> guest' : 'a frame of another origin than its window'} asked (${frame.origin}); allowFrame did not allow it`;
  }
  if (!trustworthy(frame.origin, secureSchemes)) return `${frame.origin} is not a secure origin`;
  return null;
}

/**
 * Whether a serialized origin is potentially trustworthy: https, wss, file, loopback, or a scheme
 * the app registered as secure. An opaque origin ("null") is not.
 * @param {unknown} origin
 * @param {readonly string[]} secureSchemes
 */
function trustworthy(origin, secureSchemes) {
  if (typeof origin !== 'string' || origin === 'null') return false;
  let url;
  try {
    url = new URL(origin);
  } catch {
    return false;
  }
  const scheme = url.protocol.slice(0, -1);
  if (['https', 'wss', 'file'].includes(scheme) || secureSchemes.includes(scheme)) return true;
  if (scheme !== 'http' && scheme !== 'ws') return false;
  const host = url.hostname;
  return host === 'localhost' || host.endsWith('.localhost') || host === '[::1]' || /^127(\.\d{1,3}){3}$/.test(host);
}

module.exports = { senderRefusal, trustworthy };
