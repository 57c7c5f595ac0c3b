// The outcome lines both host packages' tests read, from outcome_lines.tsv (the tests' runner
// copies it beside this file; its header says what the columns hold).
'use strict';
const fs = require('node:fs');
const path = require('node:path');

/** @returns {{ name: string, output: Buffer, expected: { outcome: string, target?: string, app?: string } }[]} */
function outcomeLines() {
  const table = fs.readFileSync(path.join(__dirname, 'outcome_lines.tsv'), 'utf8');
  return table.split('\n').filter((line) => line !== '' && !line.startsWith('#')).map((line) => {
    const cells = line.split('\t');
    if (cells.length !== 5) throw new Error(`not five cells: ${line}`);
    const [name, output, outcome, target, app] = cells;
    const expected = { outcome };
    for (const [key, cell] of [['target', target], ['app', app]]) {
      if (cell !== '-') expected[key] = cell.startsWith('hex:') ? Buffer.from(cell.slice(4), 'hex').toString('utf8') : cell;
    }
    return { name, output: outputOf(output), expected };
  });
}

function outputOf(cell) {
  const [, form, rest] = /^([a-z]+):(.*)$/s.exec(cell) ?? [];
  if (form === 'hex') return Buffer.from(rest, 'hex');
  const count = Number(rest);
  const head = '{"outcome":"completed","v":';
  const text = {
    line: () => rest,
    open: () => head + '['.repeat(count),
    arrays: () => `${head}${'['.repeat(count)}${']'.repeat(count)}}`,
    objects: () => `${head}${'{"v":'.repeat(count)}1${'}'.repeat(count)}}`,
  }[form];
  if (text === undefined) throw new Error(`unknown output ${cell}`);
  return Buffer.from(`${text()}\r\n`, 'utf8');
}

/** The row called `name`. */
function outcomeLine(name) {
  const row = outcomeLines().find((line) => line.name === name);
  if (row === undefined) throw new Error(`no row ${name}`);
  return row;
}

module.exports = { outcomeLines, outcomeLine };
