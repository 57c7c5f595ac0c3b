'use strict';
// What the npm benchmarks share: one action's time, and the median of many.

async function timed(action) {
  const start = process.hrtime.bigint();
  await action();
  return Number(process.hrtime.bigint() - start) / 1e6;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

module.exports = { timed, median };
