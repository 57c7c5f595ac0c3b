// What the npm package adds to a share: share() against a bare spawn of the same executable,
// interleaved in one run, medians of 21 of each. Run from Windows Node in an app that has the package
// installed, with the simulated share platform beside its executable (bench/run does that).
'use strict';
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { share, executablePath } = require('quibshare');

const Runs = 21;
const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'quibshare-bench-')), 'report.txt');
fs.writeFileSync(file, 'benchmark\n');

function bareSpawn() {
  return new Promise((resolve, reject) => {
    const child = spawn(executablePath(), ['--input', file], { stdio: ['ignore', 'ignore', 'pipe'] });
    child.stderr.resume();
    child.on('error', reject);
    child.on('close', (code) => (code === 0 ? resolve() : reject(new Error(`exit code ${code}`))));
  });
}

const { timed, median } = require('./measure');

(async () => {
  await share(file);  // warm the file cache and the loader
  const packaged = [];
  const bare = [];
  for (let i = 0; i < Runs; ++i) {
    packaged.push(await timed(() => share(file)));
    bare.push(await timed(bareSpawn));
  }
  const [p, b] = [median(packaged), median(bare)];
  console.log(`share() through the package: median ${p.toFixed(1)} ms of ${Runs}`);
  console.log(`bare spawn of QuibShare.exe: median ${b.toFixed(1)} ms of ${Runs} (the floor)`);
  console.log(`package / bare: ${(p / b).toFixed(3)} (aim: 1.10 or less)`);
})();
