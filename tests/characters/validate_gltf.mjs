// Runs the Khronos glTF validator on each file named on the command line and prints its issues;
// exits 1 when any file has an error (or cannot be read), 0 otherwise.
import { readFile } from 'node:fs/promises';
import { validateBytes } from 'gltf-validator';

const severities = ['error', 'warning', 'information', 'hint'];
let failed = false;
for (const path of process.argv.slice(2)) {
  try {
    const report = await validateBytes(new Uint8Array(await readFile(path)), { maxIssues: 100 });
    const issues = report.issues;
    for (const m of issues.messages)
      console.log(`${path}: ${severities[m.severity]} ${m.code} at ${m.pointer ?? '-'}: ${m.message}`);
    console.log(`${path}: ${issues.numErrors} errors, ${issues.numWarnings} warnings`);
    failed ||= issues.numErrors > 0;
  } catch (error) {
    console.log(`${path}: cannot be validated: ${error}`);
    failed = true;
  }
}
process.exit(failed ? 1 : 0);
