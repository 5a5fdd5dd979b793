// Runs the glTF validator over glb files and folders of them; see validate-gltf.sh.
// The validator package's folder comes in V2BSP_GLTF_VALIDATOR.
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

const require = createRequire(import.meta.url);
const validator = require(process.env.V2BSP_GLTF_VALIDATOR);
const severities = ['error', 'warning', 'info', 'hint'];

// The files an argument stands for: itself, or the .glb files directly in a folder.
function filesOf(argument) {
  if (!statSync(argument).isDirectory()) return [argument];
  const files = readdirSync(argument)
    .filter((name) => name.toLowerCase().endsWith('.glb'))
    .sort()
    .map((name) => path.join(argument, name));
  if (files.length === 0) throw new Error('no .glb file in this folder');
  return files;
}

let failed = false;
for (const argument of process.argv.slice(2)) {
  let files;
  try {
    files = filesOf(argument);
  } catch (error) {
    console.log(`${argument}: ${error.message}`);
    failed = true;
    continue;
  }
  for (const file of files) {
    let report;
    try {
      report = await validator.validateBytes(new Uint8Array(readFileSync(file)), {
        uri: path.basename(file),
        format: 'glb',
        maxIssues: 0,
        writeTimestamp: false,
      });
    } catch (error) {
      console.log(`${file}: not validated: ${error}`);
      failed = true;
      continue;
    }
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                `${issues.numInfos} infos, ${issues.numHints} hints`);
    for (const message of issues.messages) {
      const where = message.pointer ?? (message.offset !== undefined ? `byte ${message.offset}` : '');
      console.log(`  ${severities[message.severity]} ${message.code}${where ? ` at ${where}` : ''}: ${message.message}`);
    }
    if (issues.numErrors > 0 || issues.numWarnings > 0) failed = true;
  }
}
process.exit(failed ? 1 : 0);
