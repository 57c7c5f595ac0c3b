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
const Denied = 'DOMException NotAllowedError: Permission denied';
const NoGesture = 'DOMException NotAllowedError: Must be handling a user gesture to perform a share request.';
const Busy = 'DOMException InvalidStateError: A earlier share had not yet completed.';
const Nothing = 'TypeError TypeError: Nothing to share: give a text, a url or files.';
const BadUrl = 'TypeError TypeError: Invalid URL';

// Answers with `bridgeAnswer` (a value, or a function for a promise the test settles) and keeps
// each call with what it saw: the activation, and every file's bytes.
const standInBridge = `
  globalThis.bridgeCalls = [];
  globalThis.bridgeAnswer = { outcome: 'completed' };
  globalThis.quibshareBridge = {
    fileTypes: 'web',
    share(data) {
      const call = { active: navigator.userActivation.isActive, data: { ...data } };
      bridgeCalls.push(call);
      if (data.files) {
        call.read = Promise.all(data.files.map(async ({ name, type, data: blob }) =>
          ({ name, type, isFile: blob instanceof File, bytes: Array.from(new Uint8Array(await blob.arrayBuffer())) })))
          .then((files) => { call.data.files = files; });
      }
      return typeof bridgeAnswer === 'function' ? bridgeAnswer() : bridgeAnswer;
    },
  };
  // What a case's share came to, in one comparable line.
  globalThis.attempt = async (data) => {
    try {
      return \`resolved \${await navigator.share(data)}\`;
    } catch (error) {
      return \`\${error.constructor.name} \${error.name}: \${error.message}\`;
    }
  };
  globalThis.files = (count, name, size = 1) =>
    Array.from({ length: count }, () => new File([new Uint8Array(size)], name));
`;

const html = `<!doctype html><base href="/docs/"><button id="share">Share</button>
<script>
  window.seenByPage = [typeof navigator.share, typeof navigator.canShare];
  window.results = [];
  document.getElementById('share').addEventListener('click', () => {
    navigator.share(window.nextData).then(() => results.push('resolved'), (e) => results.push(e.name));
    window.callsDuringClick = globalThis.bridgeCalls?.length;
  });
</script>`;

let server;
let origin;
let browser;
let profile;

before(async () => {
  server = http.createServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html' });
    response.end(html);
  });
  server.listen(0, '127.0.0.1');
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
  const bounded = (promise) => Promise.race([promise, new Promise((resolve) => setTimeout(resolve, 10000).unref())]);
  if (browser) {
    const process = browser.process();
    await bounded(browser.close().catch(() => {}));
    if (process && process.exitCode === null) process.kill('SIGKILL');
  }
  server?.closeAllConnections();
  await bounded(new Promise((resolve) => server ? server.close(resolve) : resolve()));
  if (profile) fs.rmSync(profile, { recursive: true, force: true, maxRetries: 3 });
});

// A new page at `/app/index.html` with `scripts` evaluated, in order, before its own.
async function openPage(scripts = [standInBridge, pageScript]) {
  const page = await browser.newPage();
  for (const script of scripts) await page.evaluateOnNewDocument(script);
  await page.goto(`${origin}/app/index.html`, { timeout: 30000 });
  return page;
}

// Evaluates `expression` the way a page's own script runs it: without a user gesture.
async function evaluateWithoutGesture(page, expression) {
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

// What share() and canShare() make of `expression`'s data, with the user's activation fresh (a
// DevTools evaluate brings one).
function shareAndCanShare(page, expression) {
  return page.evaluate(async (source) => {
    const data = new Function(`return (${source});`)();
    let canShare;
    try {
      canShare = navigator.canShare(data);
    } catch (error) {
      canShare = `${error.constructor.name} ${error.name}: ${error.message}`;
    }
    return [await attempt(data), canShare];
  }, expression);
}

test('share and canShare appear only where the page has no share of its own and the bridge is there', async () => {
  const cases = [
    ['with the bridge', [standInBridge, pageScript], [['function', 'function'], 'share', 0, true]],
    ['a page with its own share', ['Navigator.prototype.share = function own() {};', standInBridge, pageScript],
     [['function', 'undefined'], 'own', 0, true]],
    ['without the bridge', [pageScript], [['undefined', 'undefined'], null, null, null]],
  ];
  for (const [name, scripts, expected] of cases) {
    const page = await openPage(scripts);
    try {
      const found = await page.evaluate(() => [window.seenByPage, navigator.share?.name, navigator.share?.length,
                                               Object.getOwnPropertyDescriptor(Navigator.prototype, 'share')?.enumerable]);
      assert.deepEqual(found, expected, name);
    } finally {
      await page.close();
    }
  }
});

test('without a user gesture share() refuses, before checking the data, and the bridge is not called', async () => {
  const page = await openPage();
  try {
    const refused = await evaluateWithoutGesture(page, `(async () => [
      navigator.userActivation.isActive, await attempt({ text: 'x' }), await attempt({}), await attempt({ url: 'ftp://x' }),
      await attempt(5), bridgeCalls.length])()`);
    assert.deepEqual(refused, [false, NoGesture, NoGesture, NoGesture,
      "TypeError TypeError: Failed to execute 'share' on 'Navigator': The provided value is not of type 'ShareData'.", 0]);
  } finally {
    await page.close();
  }
});

test('a click shares: the bridge is called during the gesture with the resolved link and the file\'s bytes', async () => {
  const page = await openPage();
  try {
    await evaluateWithoutGesture(page, `window.nextData = { title: 'Report', text: 42, url: '../report?id=7#top',
      files: [new File([new Uint8Array([0, 1, 254, 255])], 'report.PDF', { type: 'application/pdf' })] }`);
    await page.click('#share');
    await page.waitForFunction(() => results.length === 1, { timeout: 10000 });
    const call = await page.evaluate(async () => {
      await bridgeCalls[0].read;
      return [results, callsDuringClick, bridgeCalls.length, bridgeCalls[0].active, bridgeCalls[0].data];
    });
    assert.deepEqual(call, [['resolved'], 1, 1, true, {
      title: 'Report', text: '42', url: `${origin}/report?id=7#top`,
      files: [{ name: 'report.PDF', type: 'application/pdf', isFile: true, bytes: [0, 1, 254, 255] }],
    }]);
  } finally {
    await page.close();
  }
});

test('refusals come in Chromium\'s order, and canShare is true exactly when the data would be shared', async () => {
  const cases = [
    ['{ title: "Only a title" }', Nothing, false],
    ['{ text: "", url: "", files: [], title: "x" }', Nothing, false],
    ['undefined', Nothing, false],
    ['{ files: {} }', "TypeError TypeError: Failed to execute 'share' on 'Navigator': Failed to read the 'files' property " +
      "from 'ShareData': The provided value cannot be converted to a sequence.",
     "TypeError TypeError: Failed to execute 'canShare' on 'Navigator': Failed to read the 'files' property from " +
      "'ShareData': The provided value cannot be converted to a sequence."],
    ['{ files: ["a.txt"] }', "TypeError TypeError: Failed to execute 'share' on 'Navigator': Failed to read the 'files' " +
      "property from 'ShareData': Failed to convert value to 'File'.",
     "TypeError TypeError: Failed to execute 'canShare' on 'Navigator': Failed to read the 'files' property from " +
      "'ShareData': Failed to convert value to 'File'."],
    ['{ url: "http://[" }', BadUrl, false],
    ['{ url: "javascript:alert(1)" }', BadUrl, false],
    ['{ url: "mailto:a@example.com" }', BadUrl, false],
    // A bad link before too many files.
    ['{ url: "data:,x", files: files(11, "a.txt") }', BadUrl, false],
    ['{ files: files(11, "a.txt") }', Denied, false],
    ['{ files: files(10, "a.txt") }', 'resolved undefined', true],
    ['{ files: [...files(1, "a.txt", 52428800), ...files(1, "b.txt")] }', Denied, false],
    ['{ files: files(1, "a.txt", 52428800) }', 'resolved undefined', true],
    ['{ text: "x".repeat(16385) }', Denied, false],
    ['{ text: "x".repeat(16384) }', 'resolved undefined', true],
    // 2048 units once resolved against the base URL.
    ['{ url: "https://example.com/" + "x".repeat(2028) }', 'resolved undefined', true],
    ['{ url: "https://example.com/" + "x".repeat(2029) }', Denied, false],
    ['{ url: "x".repeat(2048 - location.origin.length - 6) }', 'resolved undefined', true],
    ['{ url: "x".repeat(2049 - location.origin.length - 6) }', Denied, false],
    ['{ files: files(1, "setup.exe") }', Denied, false],
    ['{ files: files(1, "README") }', Denied, false],
    ['{ files: files(1, "backup.tar.gz") }', Denied, false],
    ['{ files: [...files(1, "PHOTO.JPG"), ...files(1, "clip.webm"), ...files(1, "x.svgz"), ...files(1, "a.pdf")] }',
     'resolved undefined', true],
  ];
  const page = await openPage();
  try {
    for (const [expression, ...expected] of cases) {
      assert.deepEqual(await shareAndCanShare(page, expression), expected, expression);
    }
    // With fileTypes 'any', every extension passes; the limits hold.
    const any = await page.evaluate(async () => {
      quibshareBridge.fileTypes = 'any';
      return [await attempt({ files: files(1, 'setup.exe') }), navigator.canShare({ files: files(1, 'README') }),
              await attempt({ files: files(11, 'a.exe') })];
    });
    assert.deepEqual(any, ['resolved undefined', true, Denied]);
  } finally {
    await page.close();
  }
});

test('what reaches the bridge: strings as Web IDL makes them, empty ones dropped, the title cut whole', async () => {
  const cases = [
    ['{ title: "", text: "a", url: "" }', { text: 'a' }],
    ['{ text: null, url: 7, title: true }', { text: 'null', url: `${origin}/docs/7`, title: 'true' }],
    ['{ text: "\\uD800x\\uDC00" }', { text: '\uFFFDx\uFFFD' }],
    ['{ text: "t", title: "a".repeat(300) }', { text: 't', title: 'a'.repeat(256) }],
    ['{ text: "t", title: "a".repeat(255) + "\\u{1F600}" }', { text: 't', title: 'a'.repeat(255) }],
    ['{ text: "t", title: "a".repeat(254) + "\\u{1F600}" }', { text: 't', title: `${'a'.repeat(254)}\u{1F600}` }],
    ['{ url: "HTTPS://Example.COM:443/a/../b c" }', { url: 'https://example.com/b%20c' }],
  ];
  const page = await openPage();
  try {
    const reached = await page.evaluate(async (expressions) => {
      const calls = [];
      for (const expression of expressions) {
        await attempt(new Function(`return (${expression});`)());
        calls.push(bridgeCalls.pop().data);
      }
      return calls;
    }, cases.map(([expression]) => expression));
    reached.forEach((data, i) => assert.deepEqual(data, cases[i][1], cases[i][0]));
  } finally {
    await page.close();
  }
});

test('the bridge\'s answers settle the promise: outcomes resolve, canceled aborts, errors keep their names', async () => {
  const cases = [
    ['({ outcome: "completed" })', 'resolved undefined'],
    ['({ outcome: "ended" })', 'resolved undefined'],
    ['({ outcome: "handed" })', 'resolved undefined'],
    ['({ outcome: "canceled" })', 'DOMException AbortError: Share canceled'],
    ['({ error: { name: "TypeError", message: "Sharing could not start: text too long" } })',
     'TypeError TypeError: Sharing could not start: text too long'],
    ['({ error: { name: "NotAllowedError", message: "Sharing is not available" } })',
     'DOMException NotAllowedError: Sharing is not available'],
    ['({ error: { name: "DataError", message: "Sharing failed (error 0x80004005)." } })',
     'DOMException DataError: Sharing failed (error 0x80004005).'],
    ['() => Promise.reject(new Error("lost"))', 'DOMException DataError: Share failed'],
    ['() => { throw new Error("thrown"); }', 'DOMException DataError: Share failed'],
  ];
  const page = await openPage();
  try {
    const settled = await page.evaluate(async (answers) => {
      const results = [];
      for (const answer of answers) {
        bridgeAnswer = new Function(`return ${answer};`)();
        results.push(await attempt({ text: 'x' }));
      }
      return results;
    }, cases.map(([answer]) => answer));
    settled.forEach((result, i) => assert.equal(result, cases[i][1], cases[i][0]));
  } finally {
    await page.close();
  }
});

test('one share at a time: a second is refused before any other check until the first has settled', async () => {
  const page = await openPage();
  try {
    await page.evaluate(() => {
      bridgeAnswer = () => new Promise((resolve) => { window.finishShare = resolve; });
    });
    await page.click('#share');  // nextData is unset: refused
    await evaluateWithoutGesture(page, 'window.nextData = { text: "first" }');
    await page.click('#share');
    const during = await page.evaluate(async () => [await attempt({}), await attempt({ text: 'second' }), bridgeCalls.length]);
    assert.deepEqual(during, [Busy, Busy, 1]);
    // Once the activation has lapsed, a share is still refused first for the one running.
    // Asked without a gesture: puppeteer's own evaluations bring one.
    for (let tries = 0; tries < 75 && await evaluateWithoutGesture(page, 'navigator.userActivation.isActive'); ++tries) {
      await delay(200);
    }
    assert.deepEqual(await evaluateWithoutGesture(page, '(async () => [navigator.userActivation.isActive, await attempt({ text: "third" })])()'), [false, Busy]);
    const settled = await page.evaluate(async () => {
      window.finishShare({ outcome: 'completed' });
      bridgeAnswer = { outcome: 'ended' };
      await new Promise((resolve) => setTimeout(resolve, 0));
      return [results, await attempt({ text: 'after' }), bridgeCalls.length];
    });
    assert.deepEqual(settled, [['TypeError', 'resolved'], 'resolved undefined', 2]);
  } finally {
    await page.close();
  }
});
