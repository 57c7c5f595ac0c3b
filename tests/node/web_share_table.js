// The table of page requests every main side answers alike, from web_share.json (the tests' runner
// copies it beside this file; its "about" says how strings and files are written).
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const table = JSON.parse(fs.readFileSync(path.join(__dirname, 'web_share.json'), 'utf8'));

/** A string written as a list of parts, made whole; any other value as it is. */
function text(value) {
  if (!Array.isArray(value)) return value;
  return value.map((part) => (typeof part === 'string' ? part : part.repeat.repeat(part.count))).join('');
}

/** A request as a preload sends it: texts made whole, files with their bytes. */
function request(written) {
  if (written === null || typeof written !== 'object') return written;
  const made = {};
  for (const [key, value] of Object.entries(written)) made[key] = key === 'files' && Array.isArray(value) ? value.flatMap(file) : text(value);
  return made;
}

function file({ times = 1, text: content, size, ...rest }) {
  const bytes = content !== undefined ? new TextEncoder().encode(content) : size !== undefined ? new Uint8Array(size) : undefined;
  return Array.from({ length: times }, () => (bytes === undefined ? rest : { ...rest, type: 'text/plain', data: bytes.slice().buffer }));
}

module.exports = {
  limits: table.limits,
  answers: table.answers,
  refused: () => table.refused.map((row) => ({ request: request(row.request), answer: table.answers[row.answer], row })),
  // Requests that pass, and the texts and files (name, then bytes as UTF-8) QuibShare gets for them.
  shared: () => table.shared.map((row) => ({ request: request(row.request), gets: {
    ...Object.fromEntries(['title', 'text', 'url'].filter((name) => row.gets[name] !== undefined).map((name) => [name, text(row.gets[name])])),
    files: (row.gets.files ?? []).map(([name, bytes]) => [text(name), text(bytes)]) } })),
  names: () => table.names.map((group) => ({ folderUnits: group.folder_units, given: group.given.map(text), safe: group.safe.map(text) })),
};
