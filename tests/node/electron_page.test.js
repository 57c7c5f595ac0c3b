// quibshare/electron/page in Debian's headless Chromium, driven by puppeteer-core: evaluated before
// a loopback page's own scripts, beside a stand-in bridge that records what reaches it.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const { after, before, test } = require('node:test');
const { setTimeout: delay } = require('node:timers/promises');
const puppeteer = require(process.env.QUIBSHARE_PUPPETEER);

const pageScript = fs.readFileSync(require.resolve('quibshare/electron/page'), 'utf8');
const [Denied, NoGesture, Busy, Nothing, BadUrl, Resolved] = ['DOMException NotAllowedError: Permission denied',
  'DOMException NotAllowedError: Must be handling a user gesture to perform a share request.',
  'DOMException InvalidStateError: An earlier share has not yet completed.',
  'TypeError TypeError: No known share data fields supplied. If using only new fields (other than title, text and url), ' +
  'you must feature-detect them first.', 'TypeError TypeError: Invalid URL', 'resolved undefined'];
const NotAFile = "Failed to read the 'files' property from 'ShareData': Failed to convert value to 'File'.";

// Answers with `bridgeAnswer` (or what that function returns) and keeps each call with the
// activation it saw and its files read back. `attempt` puts how a share settled in one line.
const standInBridge = `
  globalThis.bridgeCalls = [];
  globalThis.bridgeAnswer = { outcome: 'completed' };
  globalThis.quibshareBridge = { fileTypes: 'web', share(data) {
    bridgeCalls.push({ active: navigator.userActivation.isActive, data: { ...data }, files: Promise.all((data.files || []).map(
      async (file) => ({ ...file, isFile: file.data instanceof File, data: Array.from(new Uint8Array(await file.data.arrayBuffer())) }))) });
    return typeof bridgeAnswer === 'function' ? bridgeAnswer() : bridgeAnswer;
  } };
  globalThis.settledAs = (promise) => promise.then((value) => \`resolved \${value}\`,
    (error) => \`\${error.constructor.name} \${error.name}: \${error.message}\`);
  globalThis.attempt = (data) => settledAs(navigator.share(data));
  globalThis.files = (count, name, size = 1) => Array.from({ length: count }, () => new File([new Uint8Array(size)], name));
`;
const html = `<!doctype html><base href="/docs/"><script>window.seenByPage = [typeof navigator.share, typeof navigator.canShare];</script>
  <button id="share" onclick="window.shared = attempt(nextData); window.callsDuringClick = bridgeCalls.length">Share</button>`;
// A frame gets the scripts inline, as its own first script: a frame of another site runs in a
// process of its own, which a script added for the page's documents does not reach.
const frameHtml = () => `<!doctype html><script>${standInBridge}\n${pageScript}</script>`;

let server, origin, browser;
before(async () => {
  const serve = (request, response) => response.end(request.url.startsWith('/frame') ? frameHtml() : html);
  await new Promise((resolve) => { server = http.createServer(serve).listen(0, '127.0.0.1', resolve); });
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, timeout: 60000, protocolTimeout: 60000,
    // intranet.test: a host that is not loopback by its name, served from here.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--disable-component-update',
           '--host-resolver-rules=MAP intranet.test 127.0.0.1'],
  });
});
after(async () => {
  // Bounded: a browser still there after 10 s is killed. Puppeteer removes the profile it made.
  const chromium = browser?.process();
  await Promise.race([browser?.close(), delay(10000, undefined, { ref: false })]).catch(() => {});
  chromium?.kill('SIGKILL');
  server.close();
});

// A new page at /app/index.html (of `at`, by default the loopback origin) with `scripts` evaluated,
// in order, before its own. `quiet` runs an expression as a page's own script runs: a DevTools
// evaluate brings a user gesture unless told not to.
async function withPage(use, scripts = [standInBridge, pageScript], at = origin) {
  const page = await browser.newPage();
  try {
    for (const script of scripts) await page.evaluateOnNewDocument(script);
    await page.goto(`${at}/app/index.html`, { timeout: 30000 });
    const session = await page.createCDPSession();
    return await use(page, async (expression) => {
      const answer = await session.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true, userGesture: false });
      return answer.exceptionDetails ? assert.fail(JSON.stringify(answer.exceptionDetails)) : answer.result.value;
    });
  } finally {
    await page.close();
  }
}

test('share and canShare appear only where the page has no share of its own and the bridge is there', async () => {
  const cases = [
    [[standInBridge, pageScript], [['function', 'function'], 'share']],
    [['Navigator.prototype.share = function own() {};', standInBridge, pageScript], [['function', 'undefined'], 'own']],
    [[pageScript], [['undefined', 'undefined'], null]],
    // Not a secure context: http from a host that is not loopback.
    [[standInBridge, pageScript], [['undefined', 'undefined'], null], () => origin.replace('127.0.0.1', 'intranet.test')],
  ];
  const seen = (page) => page.evaluate(() => [window.seenByPage, navigator.share?.name]);
  for (const [scripts, expected, at = () => origin] of cases) assert.deepEqual(await withPage(seen, scripts, at()), expected);
});

test('a click shares at once, the link resolved and the file whole, one share at a time; without a gesture, none', () =>
  withPage(async (page, quiet) => {
    assert.deepEqual(await quiet(`(async () => [navigator.userActivation.isActive, await attempt({ text: 'x' }),
      await attempt({}), await attempt(5), bridgeCalls.length])()`), [false, NoGesture, NoGesture,
      "TypeError TypeError: Failed to execute 'share' on 'Navigator': The provided value is not of type 'ShareData'.", 0]);
    await quiet(`bridgeAnswer = () => new Promise((resolve) => { window.finishShare = resolve; });
      nextData = { title: 'Report', text: 42, url: '../report?id=7#top',
                   files: [new File([new Uint8Array([0, 1, 254, 255])], 'report.PDF', { type: 'application/pdf' })] }`);
    await page.click('#share');
    // Refused while the first runs, before any other check: asked with a gesture, then once the click's has lapsed.
    assert.equal(await page.evaluate(() => attempt({})), Busy);
    for (let tries = 0; tries < 75 && await quiet('navigator.userActivation.isActive'); ++tries) await delay(200);
    assert.equal(await quiet('attempt({ text: "second" })'), Busy);
    assert.deepEqual(await page.evaluate(async () => {
      finishShare({ outcome: 'completed' });
      bridgeAnswer = { outcome: 'ended' };
      const [{ active, data, files }] = bridgeCalls;
      return [await shared, callsDuringClick, active, { ...data, files: await files }, await attempt({ text: 'after' }), bridgeCalls.length];
    }), [Resolved, 1, true, { title: 'Report', text: '42', url: `${origin}/report?id=7#top`,
      files: [{ name: 'report.PDF', type: 'application/pdf', isFile: true, data: [0, 1, 254, 255] }] }, Resolved, 2]);
  }));

test('refusals come in Chromium\'s order, canShare is true exactly when a share goes, the bridge\'s answer settles it', () =>
  withPage(async (page) => {
    const cases = [
      ['{ files: [] }', Nothing, false],
      ...['["a.txt"]', '[Object.create(File.prototype)]'].map((files) => [`{ files: ${files} }`,
        `TypeError TypeError: Failed to execute 'share' on 'Navigator': ${NotAFile}`, `Failed to execute 'canShare' on 'Navigator': ${NotAFile}`]),
      ['{ url: "http://[" }', BadUrl, false], ['{ url: "javascript:alert(1)" }', BadUrl, false],
      ['{ url: "data:,x", files: files(11, "a.txt") }', BadUrl, false],
      ['{ files: files(11, "a.txt") }', Denied, false], ['{ files: files(10, "a.txt") }', Resolved, true],
      ['{ files: [...files(1, "a.txt", 52428800), ...files(1, "b.txt")] }', Denied, false], ['{ files: files(1, "a.txt", 52428800) }', Resolved, true],
      ['{ text: "x".repeat(16385) }', Denied, false], ['{ text: "x".repeat(16384) }', Resolved, true],
      // Quoted for the command line, 16384 quotes would not fit on it.
      ['{ text: \'"\'.repeat(16384) }', Denied, false],
      // 2048 units once resolved against the base URL, /docs/.
      ['{ url: "x".repeat(2042 - origin.length) }', Resolved, true], ['{ url: "x".repeat(2043 - origin.length) }', Denied, false],
      ['{ files: files(1, "setup.exe") }', Denied, false], ['{ files: files(1, "backup.tar.gz") }', Denied, false],
      ['{ files: [...files(1, "PHOTO.JPG"), ...files(1, "clip.webm"), ...files(1, "x.svgz")] }', Resolved, true],
      ['(quibshareBridge.fileTypes = "any", { files: files(1, "setup.exe") })', Resolved, true],
      ['(quibshareBridge.fileTypes = "any", { files: files(11, "a.exe") })', Denied, false],
      // What reaches the bridge: strings as Web IDL makes them, empty ones kept, the title cut whole;
      // a title alone shares, and an empty link is the document's own (its base) address.
      ['{ title: "", text: null, url: 7 }', Resolved, true, { title: '', text: 'null', url: `${origin}/docs/7` }],
      ['{ title: "Only a title", text: "", url: "", files: [] }', Resolved, true, { title: 'Only a title', text: '', url: `${origin}/docs/` }],
      ['{ title: "T" }', Resolved, true, { title: 'T' }], ['{ text: "" }', Resolved, true, { text: '' }],
      ['{ text: "\\uD800x\\uDC00", title: "a".repeat(300) }', Resolved, true, { text: '\uFFFDx\uFFFD', title: 'a'.repeat(256) }],
      ['{ text: "t", title: "a".repeat(255) + "\\u{1F600}" }', Resolved, true, { text: 't', title: 'a'.repeat(255) }],
      ['{ text: "t", title: "a".repeat(254) + "\\u{1F600}" }', Resolved, true, { text: 't', title: `${'a'.repeat(254)}\u{1F600}` }],
      // The bridge's answers: outcomes resolve, canceled aborts, errors keep their names.
      ...[['{ outcome: "ended" }', Resolved], ['{ outcome: "handed" }', Resolved], ['{ outcome: "canceled" }', 'DOMException AbortError: Share canceled'],
        ['{ error: { name: "TypeError", message: "too long" } }', 'TypeError TypeError: too long'],
        ['{ error: { name: "DataError", message: "Sharing failed." } }', 'DOMException DataError: Sharing failed.'],
        ['() => Promise.reject(new Error("lost"))', 'DOMException AbortError: Share failed'],
      ].map(([answer, shared]) => [`(bridgeAnswer = ${answer}, { text: "x" })`, shared, true]),
    ];
    for (const [source, shared, can, reaching] of cases) {
      const [got, couldShare, data] = await page.evaluate(async (source) => {
        [bridgeAnswer, quibshareBridge.fileTypes] = [{ outcome: 'completed' }, 'web'];
        const data = new Function(`return (${source});`)();
        const can = (() => { try { return navigator.canShare(data); } catch (error) { return error.message; } })();
        return [await attempt(data), can, bridgeCalls.pop()?.data];
      }, source);
      assert.deepEqual([got, couldShare, reaching && data], [shared, can, reaching], source);
    }
  }));

test('where Chromium says no: another navigator as this, a frame of another origin, a removed frame', () =>
  withPage(async (page) => {
    assert.deepEqual(await page.evaluate(async () => [await settledAs(Navigator.prototype.share.call(Object.create(Navigator.prototype))),
      (() => { try { return navigator.canShare.call({}); } catch (error) { return error.message; } })(), bridgeCalls.length]),
    ['TypeError TypeError: Illegal invocation', 'Illegal invocation', 0]);
    await page.evaluate((other) => new Promise((resolve) => {
      document.body.insertAdjacentHTML('beforeend', `<iframe src="/frame"></iframe><iframe src="${other}/frame"></iframe><iframe id="gone" src="/frame">`);
      let loaded = 0;
      for (const frame of document.querySelectorAll('iframe')) frame.onload = () => ++loaded === 3 && resolve();
    }), origin.replace('127.0.0.1', 'localhost'));
    const asked = async () => [navigator.canShare({ text: 'x' }), await settledAs(navigator.share({ text: 'x' }))];
    const [same, other] = ['127.0.0.1', 'localhost'].map((host) => page.frames().find((frame) => frame !== page.mainFrame() && frame.url().includes(host)));
    assert.deepEqual([await same.evaluate(asked), await other.evaluate(asked)], [[true, Resolved], [false, Denied]]);
    assert.deepEqual(await page.evaluate(async () => {
      const { navigator: gone } = document.getElementById('gone').contentWindow;
      document.getElementById('gone').remove();
      return [gone.canShare({ text: 'x' }), await settledAs(gone.share({ text: 'x' }))];
    }), [false, 'DOMException InvalidStateError: Internal error: window frame is missing (the navigator may be detached).']);
  }));
