// quibshare/electron/page in Debian's headless Chromium, driven by puppeteer-core: evaluated before
// a loopback page's own scripts, beside a stand-in bridge that records what reaches it.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { after, before, test } = require('node:test');
const { setTimeout: delay } = require('node:timers/promises');
const puppeteer = require(process.env.QUIBSHARE_PUPPETEER);

const pageScript = fs.readFileSync(require.resolve('quibshare/electron/page'), 'utf8');
const [Denied, NoGesture, Busy, Nothing, BadUrl] = ['DOMException NotAllowedError: Permission denied',
  'DOMException NotAllowedError: Must be handling a user gesture to perform a share request.',
  'DOMException InvalidStateError: A earlier share had not yet completed.',
  'TypeError TypeError: Nothing to share: give a text, a url or files.', 'TypeError TypeError: Invalid URL'];
const Resolved = 'resolved undefined';

// Answers with `bridgeAnswer` (or what that function returns) and keeps each call with the
// activation it saw and every file read back. `attempt` puts how a share settled in one line.
const standInBridge = `
  globalThis.bridgeCalls = [];
  globalThis.bridgeAnswer = { outcome: 'completed' };
  globalThis.quibshareBridge = { fileTypes: 'web', share(data) {
    const call = { active: navigator.userActivation.isActive, data: { ...data } };
    bridgeCalls.push(call);
    call.read = Promise.all((data.files || []).map(async ({ name, type, data: blob }) =>
      ({ name, type, isFile: blob instanceof File, bytes: Array.from(new Uint8Array(await blob.arrayBuffer())) })))
      .then((files) => { if (data.files) call.data.files = files; });
    return typeof bridgeAnswer === 'function' ? bridgeAnswer() : bridgeAnswer;
  } };
  globalThis.attempt = (data) => navigator.share(data).then((value) => \`resolved \${value}\`,
    (error) => \`\${error.constructor.name} \${error.name}: \${error.message}\`);
  globalThis.files = (count, name, size = 1) => Array.from({ length: count }, () => new File([new Uint8Array(size)], name));
`;
const html = `<!doctype html><base href="/docs/"><button id="share">Share</button><script>
  window.seenByPage = [typeof navigator.share, typeof navigator.canShare];
  window.results = [];
  document.getElementById('share').onclick = () => {
    navigator.share(window.nextData).then(() => results.push('resolved'), (e) => results.push(e.name));
    window.callsDuringClick = globalThis.bridgeCalls?.length;
  };
</script>`;

let server, origin, browser, profile;
before(async () => {
  server = http.createServer((request, response) => response.end(html)).listen(0, '127.0.0.1');
  await new Promise((resolve) => server.once('listening', resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-chromium-'));
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, timeout: 60000, protocolTimeout: 60000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
});
after(async () => {
  // Each step bounded, and each runs whatever the one before did.
  const bounded = (promise) => Promise.race([promise.catch(() => {}), delay(10000, undefined, { ref: false })]);
  const chromium = browser?.process();
  if (browser) await bounded(browser.close());
  if (chromium && chromium.exitCode === null) chromium.kill('SIGKILL');
  server.closeAllConnections();
  await bounded(new Promise((resolve) => server.close(resolve)));
  fs.rmSync(profile, { recursive: true, force: true, maxRetries: 3 });
});

// A new page at /app/index.html with `scripts` evaluated, in order, before its own; closed after `use`.
async function withPage(use, scripts = [standInBridge, pageScript]) {
  const page = await browser.newPage();
  try {
    for (const script of scripts) await page.evaluateOnNewDocument(script);
    await page.goto(`${origin}/app/index.html`, { timeout: 30000 });
    return await use(page);
  } finally {
    await page.close();
  }
}

// As a page's own script runs: a DevTools evaluate brings a user gesture unless told otherwise.
async function withoutGesture(page, expression) {
  const session = await page.createCDPSession();
  try {
    const { result, exceptionDetails } = await session.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true, userGesture: false });
    assert.equal(exceptionDetails, undefined, JSON.stringify(exceptionDetails));
    return result.value;
  } finally {
    await session.detach();
  }
}

// Each page expression's data through share() and canShare(), with a fresh gesture each.
async function eachShared(page, expressions) {
  const results = [];
  for (const source of expressions) {
    results.push(await page.evaluate(async (source) => {
      const data = new Function(`return (${source});`)();
      let can;
      try {
        can = navigator.canShare(data);
      } catch (error) {
        can = error.message;
      }
      return [await attempt(data), can, bridgeCalls.pop()?.data];
    }, source));
  }
  return results;
}

test('share and canShare appear only where the page has no share of its own and the bridge is there', async () => {
  const cases = [
    [[standInBridge, pageScript], [['function', 'function'], 'share', 0, true]],
    [['Navigator.prototype.share = function own() {};', standInBridge, pageScript], [['function', 'undefined'], 'own', 0, true]],
    [[pageScript], [['undefined', 'undefined'], null, null, null]],
  ];
  for (const [scripts, expected] of cases) {
    assert.deepEqual(await withPage((page) => page.evaluate(() => [window.seenByPage, navigator.share?.name, navigator.share?.length,
      Object.getOwnPropertyDescriptor(Navigator.prototype, 'share')?.enumerable]), scripts), expected, scripts[0].slice(0, 30));
  }
});

test('a click shares at once, with the link resolved and the file whole; without a gesture nothing reaches the bridge', () =>
  withPage(async (page) => {
    assert.deepEqual(await withoutGesture(page, `(async () => [navigator.userActivation.isActive, await attempt({ text: 'x' }),
      await attempt({}), await attempt(5), bridgeCalls.length])()`), [false, NoGesture, NoGesture,
      "TypeError TypeError: Failed to execute 'share' on 'Navigator': The provided value is not of type 'ShareData'.", 0]);
    await withoutGesture(page, `window.nextData = { title: 'Report', text: 42, url: '../report?id=7#top',
      files: [new File([new Uint8Array([0, 1, 254, 255])], 'report.PDF', { type: 'application/pdf' })] }`);
    await page.click('#share');
    await page.waitForFunction(() => results.length === 1, { timeout: 10000 });
    assert.deepEqual(await page.evaluate(async () => {
      await bridgeCalls[0].read;
      return [results, callsDuringClick, bridgeCalls.length, bridgeCalls[0].active, bridgeCalls[0].data];
    }), [['resolved'], 1, 1, true, { title: 'Report', text: '42', url: `${origin}/report?id=7#top`,
      files: [{ name: 'report.PDF', type: 'application/pdf', isFile: true, bytes: [0, 1, 254, 255] }] }]);
  }));

test('refusals come in Chromium\'s order, canShare is true exactly when the data would be shared, and what is shared reaches the bridge', () => withPage(async (page) => {
  const cases = [
    ['{ title: "Only a title", text: "", url: "", files: [] }', Nothing, false],
    ['{ files: ["a.txt"] }', "TypeError TypeError: Failed to execute 'share' on 'Navigator': Failed to read the 'files' " +
      "property from 'ShareData': Failed to convert value to 'File'.", "Failed to execute 'canShare' on 'Navigator': Failed " +
      "to read the 'files' property from 'ShareData': Failed to convert value to 'File'."],
    ['{ url: "http://[" }', BadUrl, false],
    ['{ url: "javascript:alert(1)" }', BadUrl, false],
    ['{ url: "data:,x", files: files(11, "a.txt") }', BadUrl, false],
    ['{ files: files(11, "a.txt") }', Denied, false],
    ['{ files: files(10, "a.txt") }', Resolved, true],
    ['{ files: [...files(1, "a.txt", 52428800), ...files(1, "b.txt")] }', Denied, false],
    ['{ files: files(1, "a.txt", 52428800) }', Resolved, true],
    ['{ text: "x".repeat(16385) }', Denied, false],
    ['{ text: "x".repeat(16384) }', Resolved, true],
    // 2048 units once resolved against the base URL, /docs/.
    ['{ url: "x".repeat(2042 - location.origin.length) }', Resolved, true],
    ['{ url: "x".repeat(2043 - location.origin.length) }', Denied, false],
    ['{ files: files(1, "setup.exe") }', Denied, false],
    ['{ files: files(1, "backup.tar.gz") }', Denied, false],
    ['{ files: [...files(1, "PHOTO.JPG"), ...files(1, "clip.webm"), ...files(1, "x.svgz")] }', Resolved, true],
  ];
  // What reaches the bridge: strings as Web IDL makes them, empty ones dropped, the title cut whole.
  const reaching = [
    ['{ title: "", text: null, url: 7 }', Resolved, true, { text: 'null', url: `${origin}/docs/7` }],
    ['{ text: "\\uD800x\\uDC00", title: "a".repeat(300) }', Resolved, true, { text: '\uFFFDx\uFFFD', title: 'a'.repeat(256) }],
    ['{ text: "t", title: "a".repeat(255) + "\\u{1F600}" }', Resolved, true, { text: 't', title: 'a'.repeat(255) }],
    ['{ text: "t", title: "a".repeat(254) + "\\u{1F600}" }', Resolved, true, { text: 't', title: `${'a'.repeat(254)}\u{1F600}` }],
  ];
  const all = [...cases, ...reaching];
  const results = await eachShared(page, all.map(([source]) => source));
  results.forEach(([shared, can, data], i) => assert.deepEqual([shared, can, ...(all[i][3] ? [data] : [])], all[i].slice(1), all[i][0]));
  // With fileTypes 'any' every extension passes; the limits hold.
  await page.evaluate(() => { quibshareBridge.fileTypes = 'any'; });
  assert.deepEqual((await eachShared(page, ['{ files: files(1, "setup.exe") }', '{ files: files(11, "a.exe") }']))
    .map(([shared, can]) => [shared, can]), [[Resolved, true], [Denied, false]]);
}));

test('the bridge\'s answers settle the promise: outcomes resolve, canceled aborts, errors keep their names', () => withPage(async (page) => {
  const cases = [
    ['({ outcome: "completed" })', Resolved], ['({ outcome: "ended" })', Resolved], ['({ outcome: "handed" })', Resolved],
    ['({ outcome: "canceled" })', 'DOMException AbortError: Share canceled'],
    ['({ error: { name: "TypeError", message: "too long" } })', 'TypeError TypeError: too long'],
    ['({ error: { name: "DataError", message: "Sharing failed." } })', 'DOMException DataError: Sharing failed.'],
    ['() => Promise.reject(new Error("lost"))', 'DOMException DataError: Share failed'],
  ];
  for (const [answer, expected] of cases) {
    assert.equal(await page.evaluate((source) => {
      bridgeAnswer = new Function(`return ${source};`)();
      return attempt({ text: 'x' });
    }, answer), expected, answer);
  }
}));

test('one share at a time: a second is refused before any other check until the first has settled', () => withPage(async (page) => {
  await page.evaluate(() => { bridgeAnswer = () => new Promise((resolve) => { window.finishShare = resolve; }); });
  await withoutGesture(page, 'window.nextData = { text: "first" }');
  await page.click('#share');
  assert.deepEqual(await page.evaluate(async () => [await attempt({}), bridgeCalls.length]), [Busy, 1]);
  // Asked without a gesture: puppeteer's own evaluations bring one.
  for (let tries = 0; tries < 75 && await withoutGesture(page, 'navigator.userActivation.isActive'); ++tries) await delay(200);
  assert.equal(await withoutGesture(page, 'attempt({ text: "second" })'), Busy);
  assert.deepEqual(await page.evaluate(async () => {
    window.finishShare({ outcome: 'completed' });
    bridgeAnswer = { outcome: 'ended' };
    await new Promise((resolve) => setTimeout(resolve, 0));
    return [results, await attempt({ text: 'after' }), bridgeCalls.length];
  }), [['resolved'], Resolved, 2]);
}));
