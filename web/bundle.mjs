// Bundles the page's modules with three.js into one minified ES module: node bundle.mjs OUT.js
import { build } from 'esbuild';
import { fileURLToPath } from 'node:url';

const result = await build({
  entryPoints: [fileURLToPath(new URL('./main.js', import.meta.url))],
  outfile: process.argv[2],
  bundle: true,
  minify: true,
  format: 'esm',
  target: 'es2020',
  logLevel: 'warning',
});
// A warning (an import that is not there, say) fails the build rather than the page.
if (result.warnings.length > 0) process.exit(1);
