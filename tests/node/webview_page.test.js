// The page script under Tauri and under any other WebView2 host, in Debian's headless Chromium driven
// by puppeteer-core: evaluated before a loopback page's own scripts, beside stand-ins of
// __TAURI_INTERNALS__ and chrome.webview that answer as the hosts do, and of the page's own
// navigator.share, which in WebView2 does not work.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const { after, before, test } = require('node:test');
const { setTimeout: delay } = require('node:timers/promises');
const puppeteer = require(process.env.QUIBSHARE_PUPPETEER);

const pageScript = fs.readFileSync(require.resolve('quibshare/electron/page'), 'utf8');
// The request the crate's tests share through QuibShare.exe: the page must send these bytes.
const sharedRequest = fs.readFileSync('share_request.json', 'utf8');
const [NoGesture, Busy, Canceled, Failed, Resolved] = [
  'DOMException NotAllowedError: Must be handling a user gesture to perform a share request.',
  'DOMException InvalidStateError: An earlier share has not yet completed.',
  'DOMException AbortError: Share canceled', 'DOMException AbortError: Share failed', 'resolved undefined'];

// WebView2's own share, as broken as it is there; and a page's helpers.
const brokenShare = `
  Navigator.prototype.share = function share() {
    return Promise.reject(new DOMException('An earlier share had not yet completed.', 'InvalidStateError'));
  };
  Navigator.prototype.canShare = function canShare() { return true; };
  globalThis.attempt = (data) => navigator.share(data).then((value) => \`resolved \${value}\`,
    (error) => \`\${error.constructor.name} \${error.name}: \${error.message}\`);
  globalThis.nextData = { title: 'Report \\u00dc', text: 'See the figures', url: 'https://example.com/q?a=1&b=2', files: [
    new File([new Uint8Array([0, 1, 254, 255])], 'report.PDF', { type: 'application/pdf' }),
    new File(['hi'], 'CON.txt', { type: 'text/plain' }), new File([], 'con.TXT')] };
`;
// A host's side: `sent` holds each request as the host got it, and `answer(n, value)` settles the
// n-th (from 1) as the host would. WebView2 has web messages under Tauri too, and they must stay unused.
const webView2 = `
  globalThis.sent = [];
  const pending = [];
  const webview = new EventTarget();
  // What WebMessageAsJson gives the host: the message converted to JSON.
  webview.postMessage = (message) => { sent.push(JSON.stringify(message)); pending.push(message.id); };
  globalThis.chrome = { webview };
  // PostWebMessageAsJson: the page gets the JSON parsed, as a message event of chrome.webview.
  globalThis.answer = (n, value, id = pending[n - 1]) =>
    webview.dispatchEvent(new MessageEvent('message', { data: { quibshare: 'answer', id, answer: value } }));
`;
const tauri = `${webView2}
  globalThis.sent = [];
  const settle = [];
  globalThis.__TAURI_INTERNALS__ = { invoke(command, args) {
    sent.push([command, args]);
    return new Promise((resolve, reject) => settle.push({ resolve, reject }));
  } };
  // The command returns quibshare::web::share's answer: JSON text.
  globalThis.answer = (n, value) => value instanceof Error ? settle[n - 1].reject(value) : settle[n - 1].resolve(JSON.stringify(value));
`;
const transports = {
  tauri: { host: tauri, request: (request) => [['quibshare_share', { request }]] },
  // The id is the one the page chose for its first share, a whole number.
  webview2: { host: webView2, request: (request, [sent]) => {
    const { id } = JSON.parse(sent);
    assert.ok(Number.isSafeInteger(id), sent.slice(0, 40));
    return [`{"quibshare":"share","id":${id},"request":${request}}`];
  } },
};
const html = `<!doctype html><button id="share" onclick="window.shared = attempt(nextData); window.sentDuringClick = sent.length">Share</button>`;

let server, origin, browser;
before(async () => {
  await new Promise((resolve) => { server = http.createServer((request, response) => response.end(html)).listen(0, '127.0.0.1', resolve); });
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, timeout: 60000, protocolTimeout: 60000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--disable-component-update'],
  });
});
after(async () => {
  // Bounded: a browser still there after 10 s is killed. Puppeteer removes the profile it made.
  const chromium = browser?.process();
  await Promise.race([browser?.close(), delay(10000, undefined, { ref: false })]).catch(() => {});
  chromium?.kill('SIGKILL');
  server.close();
});

// A new page with `scripts` evaluated, in order, before its own. `quiet` runs an expression as a
// page's own script runs, without the user gesture a DevTools evaluate brings.
async function withPage(scripts, use) {
  const page = await browser.newPage();
  try {
    for (const script of scripts) await page.evaluateOnNewDocument(script);
    await page.goto(`${origin}/app/index.html`, { timeout: 30000 });
    const session = await page.createCDPSession();
    return await use(page, async (expression) => {
      const answer = await session.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true, userGesture: false });
      return answer.exceptionDetails ? assert.fail(JSON.stringify(answer.exceptionDetails)) : answer.result.value;
    });
  } finally {
    await page.close();
  }
}

for (const [name, { host, request }] of Object.entries(transports)) {
  test(`${name}: the page's own share replaced, a click sends the documented bytes, one share at a time, the answer settles it`, () =>
    withPage([brokenShare, host, pageScript], async (page, quiet) => {
      assert.deepEqual(await quiet(`(async () => [navigator.canShare({}), navigator.canShare({ text: 'x' }),
        await attempt({ text: 'x' }), sent.length])()`), [false, true, NoGesture, 0]);
      await page.click('#share');
      // Refused in the page while the first is in flight, with a gesture or without.
      assert.equal(await page.evaluate(() => attempt({ text: 'second' })), Busy);
      await page.waitForFunction(() => sent.length === 1, { timeout: 10000 });
      // WebView2's host sees every message of the page: one for another share settles nothing.
      const seen = await page.evaluate(async () => {
        if (!globalThis.__TAURI_INTERNALS__) answer(1, { outcome: 'completed' }, pending[0] - 1);
        const early = await Promise.race([shared, new Promise((resolve) => setTimeout(resolve, 200, 'pending'))]);
        answer(1, { outcome: 'canceled' });
        return [sentDuringClick, early, await shared, sent];
      });
      assert.deepEqual(seen, [0, 'pending', Canceled, request(sharedRequest, seen[3])]);
      // Each of the host's other answers settles the next share as it should.
      const answers = [[{ outcome: 'completed' }, Resolved], [{ outcome: 'ended' }, Resolved],
        [{ error: { name: 'NotAllowedError', message: 'Permission denied' } }, 'DOMException NotAllowedError: Permission denied'],
        [{ error: { name: 'TypeError', message: 'Invalid share data' } }, 'TypeError TypeError: Invalid share data'],
        ...(name === 'tauri' ? [['the command is not registered', Failed]] : [])];
      assert.deepEqual(await page.evaluate(async (answers) => {
        const settled = [];
        for (const [n, [value]] of answers.entries()) {
          const asked = attempt({ text: `share ${n}` });
          while (sent.length < 2 + n) await new Promise((resolve) => setTimeout(resolve, 10));
          answer(2 + n, typeof value === 'string' ? new Error(value) : value);
          settled.push(await asked);
        }
        return settled;
      }, answers), answers.map(([, settled]) => settled));
    }));
}

test('webview2: a new document numbers its shares apart from the old one\'s, whose late answer settles none of them', () =>
  withPage([brokenShare, webView2, pageScript], async (page) => {
    const firstId = async () => {
      await page.evaluate(() => { window.asked = attempt({ text: 'x' }); });
      await page.waitForFunction(() => sent.length === 1, { timeout: 10000 });
      return page.evaluate(() => JSON.parse(sent[0]).id);
    };
    const old = await firstId();
    await page.reload({ timeout: 30000 });
    const now = await firstId();
    assert.notEqual(now, old);
    assert.equal(await page.evaluate((old) => {
      answer(1, { outcome: 'completed' }, old);
      return Promise.race([asked, new Promise((resolve) => setTimeout(resolve, 200, 'pending'))]);
    }, old), 'pending');
  }));

test('without a host to share through, the page keeps its own share', async () => {
  const kept = (page) => page.evaluate(() => navigator.share.toString().includes('An earlier share had not'));
  assert.equal(await withPage([brokenShare, pageScript], kept), true);
});
