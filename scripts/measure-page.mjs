// Measures a page of `tessamire view` in the test browser (headless chromium, WebGL in
// software): the time from opening the file to the first drawn frame, and the frames drawn per
// second while it plays every frame in turn. A measurement, not a test:
//   node scripts/measure-page.mjs out/view.html [SECONDS]
import fs from 'node:fs';
import path from 'node:path';
import { launchChromium } from '../tests/web/browser.mjs';

const file = path.resolve(process.argv[2] || 'out/view.html');
const seconds = Number(process.argv[3] || 10);
const { browser, close } = await launchChromium();
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 720 });
  await page.goto(`file://${file}`);
  const firstFrame = await page.evaluate(async () => {
    await window.tessamire.ready;
    return window.tessamire.stats.firstFrameMs;
  });
  const inputs = await page.evaluate(() => window.tessamire.inputs());
  // The first round through the frames decodes each; later rounds show what is kept.
  const frames = await page.evaluate(() => window.tessamire.timeline().length);
  const playback = await page.evaluate((s) => window.tessamire.measurePlayback(s), seconds);
  console.log(`${path.basename(file)}: ${(fs.statSync(file).size / 1e6).toFixed(1)} MB, ` +
              `${inputs.map((i) => `${i.name} (${i.points} points, ${i.frames.length} frames)`).join(', ')}`);
  console.log(`first drawn frame: ${firstFrame.toFixed(0)} ms after opening`);
  console.log(`playback: ${playback.fps.toFixed(1)} frames per second (${playback.frames} frames of ` +
              `${frames} in ${playback.seconds.toFixed(1)} s)`);
} finally {
  await close();
}
