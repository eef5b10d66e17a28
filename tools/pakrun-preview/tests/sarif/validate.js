// Validates SARIF logs against the published SARIF 2.1.0 JSON schema (the copy the
// @microsoft/jest-sarif package ships), with ajv, the validator that package itself uses.
// Usage: node validate.js MODULES-DIR LOG...
// Each LOG must be valid; then a copy of the first with its version broken must not be, so
// that a validator that lets everything through fails here too. Exit 0 only when both hold.
'use strict';
const fs = require('fs');
const path = require('path');

const [given, ...logs] = process.argv.slice(2);
if (!given || logs.length === 0) {
  console.error('usage: node validate.js MODULES-DIR LOG...');
  process.exit(2);
}
const modules = path.resolve(given);
const Ajv = require(path.join(modules, 'ajv'));
const schema = require(path.join(modules, '@microsoft/jest-sarif/lib/schemas/sarif-2.1.0-rtm.5.json'));
const draft4 = require(path.join(modules, 'ajv/lib/refs/json-schema-draft-04.json'));

const ajv = new Ajv({ schemaId: 'auto', allErrors: true });
ajv.addMetaSchema(draft4);
const validate = ajv.compile(schema);

let failed = false;
for (const log of logs) {
  const value = JSON.parse(fs.readFileSync(log, 'utf8'));
  if (validate(value)) {
    console.log(`valid SARIF 2.1.0: ${log} (${value.runs[0].results.length} results)`);
  } else {
    failed = true;
    console.error(`not valid SARIF 2.1.0: ${log}`);
    for (const error of validate.errors) console.error(`  ${error.dataPath} ${error.message}`);
  }
}
const broken = JSON.parse(fs.readFileSync(logs[0], 'utf8'));
broken.version = '2.0.0';
if (validate(broken)) {
  failed = true;
  console.error('the validator took a log of version 2.0.0: it checks nothing');
}
process.exit(failed ? 1 : 0);
