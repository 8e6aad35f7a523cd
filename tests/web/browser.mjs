// Debian's chromium as the page's tests and measurements start it: headless, WebGL 2 drawn in
// software (SwiftShader, through ANGLE), with a fresh profile and everything that would reach
// the network on its own turned off (this machine has none). puppeteer-core never downloads a
// browser.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const chromiumPath = process.env.TESSAMIRE_CHROMIUM || '/usr/bin/chromium';

// Answers { browser, close }: close() ends the browser and removes its profile.
export async function launchChromium(profileParent = os.tmpdir()) {
  // scripts/install-deps.sh installs chromium: without it the tests fail, they never skip.
  if (!fs.existsSync(chromiumPath)) throw new Error(`${chromiumPath} is missing: run scripts/install-deps.sh`);
  const profile = fs.mkdtempSync(path.join(profileParent, 'chromium-profile-'));
  const browser = await puppeteer.launch({
    executablePath: chromiumPath, headless: true, userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--disable-quic',
           '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  return {
    browser,
    close: async () => {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}
