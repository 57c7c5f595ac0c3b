// What base64 costs a page under Tauri or WebView2: the page script reads each file with
// FileReader.readAsDataURL before it sends it. In Debian's headless Chromium, medians of 15 reads
// of a 1 MB file and one of 50 MiB, the most a share may carry. Run with Linux Node (bench/run).
'use strict';
const puppeteer = require(process.env.QUIBSHARE_PUPPETEER);
const { setTimeout: delay } = require('node:timers/promises');

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, timeout: 60000, protocolTimeout: 120000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-component-update'],
  });
  try {
    const page = await browser.newPage();
    const [small, large] = await page.evaluate(async () => {
      const read = (blob) => new Promise((resolve, reject) => {
        const reader = new FileReader();
        reader.onload = () => resolve(reader.result.length);
        reader.onerror = () => reject(reader.error);
        reader.readAsDataURL(blob);
      });
      const median = async (bytes, runs) => {
        const file = new File([crypto.getRandomValues(new Uint8Array(Math.min(bytes, 65536)))], 'a.pdf');
        const blob = new Blob(Array.from({ length: Math.ceil(bytes / file.size) }, () => file)).slice(0, bytes);
        const times = [];
        for (let i = 0; i < runs; ++i) {
          const start = performance.now();
          await read(blob);
          times.push(performance.now() - start);
        }
        return times.sort((a, b) => a - b)[Math.floor(runs / 2)];
      };
      return [await median(1024 * 1024, 15), await median(50 * 1024 * 1024, 3)];
    });
    console.log(`page side: base64 of a 1 MB file with FileReader: median ${small.toFixed(1)} ms of 15; ` +
                `of 50 MiB: median ${large.toFixed(0)} ms of 3`);
  } finally {
    const chromium = browser.process();
    await Promise.race([browser.close(), delay(10000, undefined, { ref: false })]).catch(() => {});
    chromium?.kill('SIGKILL');
  }
})();
