// The page of `tessamire view` in a real browser: Debian's chromium, headless, drawing WebGL 2 in
// software (SwiftShader), driven through the DevTools protocol by puppeteer-core. The program
// (TESSAMIRE_CLI) writes pages of small meshes made here; the tests read back what the page
// decoded and what it drew. Screenshots go to TESSAMIRE_WEB_OUT (in the build folder).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { launchChromium } from './browser.mjs';

const cli = process.env.TESSAMIRE_CLI;
const out = process.env.TESSAMIRE_WEB_OUT;
if (!cli || !out) throw new Error('set TESSAMIRE_CLI and TESSAMIRE_WEB_OUT (CTest does)');

// A bumpy sphere of 24 x 12 quads (triangles at the poles) stretched along y by `stretch` and
// moved along x by `shift`: its point i is the same point at every frame.
function sphere(stretch, shift) {
  const rings = 12, segments = 24, points = [], polygons = [];
  points.push([shift, -stretch, 0]);
  for (let r = 1; r < rings; ++r) {
    const phi = (Math.PI * r) / rings;
    for (let s = 0; s < segments; ++s) {
      const theta = (2 * Math.PI * s) / segments;
      const radius = 1 + 0.06 * Math.sin(6 * theta) * Math.sin(4 * phi);
      points.push([shift + radius * Math.sin(phi) * Math.cos(theta), -stretch * radius * Math.cos(phi),
                   radius * Math.sin(phi) * Math.sin(theta)]);
    }
  }
  points.push([shift, stretch, 0]);
  const at = (r, s) => 1 + (r - 1) * segments + (s % segments);
  for (let s = 0; s < segments; ++s) polygons.push([0, at(1, s + 1), at(1, s), at(1, s)]);
  for (let r = 1; r < rings - 1; ++r)
    for (let s = 0; s < segments; ++s) polygons.push([at(r, s), at(r, s + 1), at(r + 1, s + 1), at(r + 1, s)]);
  const top = points.length - 1;
  for (let s = 0; s < segments; ++s) polygons.push([top, at(rings - 1, s), at(rings - 1, s + 1), at(rings - 1, s + 1)]);
  return { points, polygons };
}

function writeObj(file, { points, polygons }) {
  const face = (p) => (p[2] === p[3] ? p.slice(0, 3) : p).map((i) => i + 1).join(' ');
  fs.writeFileSync(file, points.map((p) => `v ${p.join(' ')}`).concat(polygons.map((p) => `f ${face(p)}`)).join('\n') + '\n');
}

function readObj(file) {
  return fs.readFileSync(file, 'utf8').split('\n').filter((l) => l.startsWith('v ')).map((l) => l.split(/\s+/).slice(1).map(Number));
}

const dir = path.join(out, 'view');
let browser, closeBrowser;
const problems = [];  // console errors, page errors and requests that left the file

async function open(page, file) {
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('request', (r) => { if (!r.url().startsWith('file:')) problems.push(`request: ${r.url().slice(0, 100)}`); });
  await page.setViewport({ width: 1000, height: 560 });
  await page.goto(`file://${file}`);
  await page.evaluate(() => window.tessamire.ready);
}

// The canvas as drawn, and which of its pixels the meshes cover (the background is transparent).
async function pixels(page) {
  const { width, height, rgba } = await page.evaluate(() => window.tessamire.pixels());
  return { width, height, data: Buffer.from(rgba, 'base64') };
}
const covered = (img, x, y) => img.data[4 * (y * img.width + x) + 3] > 0;

// Mean colour and count of the covered pixels inside a box.
function meshColour(img, box) {
  let n = 0; const sum = [0, 0, 0];
  for (let y = Math.max(0, Math.floor(box.y)); y < Math.min(img.height, Math.ceil(box.y + box.height)); ++y)
    for (let x = Math.max(0, Math.floor(box.x)); x < Math.min(img.width, Math.ceil(box.x + box.width)); ++x) {
      if (!covered(img, x, y)) continue;
      ++n;
      for (let c = 0; c < 3; ++c) sum[c] += img.data[4 * (y * img.width + x) + c];
    }
  return { n, mean: sum.map((s) => s / Math.max(n, 1)) };
}

function differingPixels(a, b) {
  let n = 0;
  for (let i = 0; i < a.data.length; i += 4)
    if (Math.abs(a.data[i] - b.data[i]) + Math.abs(a.data[i + 1] - b.data[i + 1]) + Math.abs(a.data[i + 2] - b.data[i + 2]) + Math.abs(a.data[i + 3] - b.data[i + 3]) > 24) ++n;
  return n;
}

const select = (page, id, value) => page.select(`#${id}`, value);
const slide = (page, value) => page.$eval('#slider', (el, v) => { el.value = v; el.dispatchEvent(new Event('input')); }, value);

let page;
before(async () => {
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  for (let f = 1; f <= 3; ++f) {
    writeObj(path.join(dir, `a.${String(f).padStart(4, '0')}.obj`), sphere(1 + 0.4 * (f - 1), 0));
    writeObj(path.join(dir, `b.${String(f).padStart(4, '0')}.obj`), sphere(1 + 0.25 * (f - 1), 0.1 * f));
  }
  writeObj(path.join(dir, 'rest.obj'), sphere(1, 0));
  const count = sphere(1, 0).points.length;
  // Weight 1 on the upper half, 0 below.
  fs.writeFileSync(path.join(dir, 'upper.txt'), sphere(1, 0).points.map((p) => (p[1] > 0 ? '1' : '0')).join('\n') + '\n');
  assert.equal(count, 2 + 11 * 24);
  execFileSync(cli, ['view', '--quiet', '--frames', '1:3', '--rest', 'rest.obj', '--weights', 'upper.txt',
                     'a.####.obj', 'b.####.obj', '--out', 'page.html'], { cwd: dir });
  ({ browser, close: closeBrowser } = await launchChromium(out));
  page = await browser.newPage();
  await open(page, path.join(dir, 'page.html'));
});

after(async () => {
  if (closeBrowser) await closeBrowser();
});

test('the page opens from a file with no console error and no network request', async () => {
  const inputs = await page.evaluate(() => window.tessamire.inputs());
  assert.deepEqual(inputs.map((i) => i.name), ['a.####.obj', 'b.####.obj']);
  assert.deepEqual(await page.evaluate(() => window.tessamire.timeline()), [1, 2, 3]);
  await page.screenshot({ path: path.join(out, 'view-shaded.png') });
  assert.deepEqual(problems, []);
});

test('the positions the page decodes equal the inputs within the quantisation bound', async () => {
  for (const [input, name] of [[0, 'a'], [1, 'b']])
    for (const s of [0, 2]) {
      const expected = readObj(path.join(dir, `${name}.000${s + 1}.obj`));
      const decoded = await page.evaluate((i, f) => window.tessamire.positions(i, f), input, s);
      const bound = await page.evaluate((i, f) => window.tessamire.bound(i, f), input, s);
      assert.equal(decoded.length, 3 * expected.length);
      let worst = 0;
      expected.forEach((p, k) => p.forEach((x, c) => {
        const error = Math.abs(decoded[3 * k + c] - x);
        assert.ok(error <= bound[c] * (1 + 1e-9) + 1e-15, `${name} frame ${s}: point ${k} axis ${c} off by ${error}`);
        worst = Math.max(worst, error);
      }));
      assert.ok(worst > 0 && Math.max(...bound) < 1e-4);  // quantised, and finely
    }
});

test('each panel draws its mesh where the mesh is, in the surface colour', async () => {
  const img = await pixels(page);
  const boxes = await page.evaluate(() => window.tessamire.projectedBounds());
  assert.equal(boxes.length, 2);
  for (const box of boxes) {
    const { n, mean } = meshColour(img, box);
    assert.ok(n > 0.4 * box.width * box.height, `input ${box.input}: ${n} pixels in ${box.width} x ${box.height}`);
    assert.ok(box.x >= box.panel.x && box.x + box.width <= box.panel.x + box.panel.width);
    assert.ok(mean[0] > mean[2] + 15, `the surface is warm, not ${mean}`);
  }
  // Nothing is drawn outside the boxes (a pixel of margin for smoothing).
  let outside = 0;
  for (let y = 0; y < img.height; ++y)
    for (let x = 0; x < img.width; ++x)
      if (covered(img, x, y) && !boxes.some((b) => x >= b.x - 2 && x <= b.x + b.width + 2 && y >= b.y - 2 && y <= b.y + b.height + 2)) ++outside;
  assert.equal(outside, 0);
});

test('moving the slider to another frame changes what is drawn', async () => {
  const first = await pixels(page);
  const tall = (await page.evaluate(() => window.tessamire.projectedBounds()))[0].height;
  await slide(page, 2);
  assert.equal(await page.$eval('#frame', (el) => el.textContent), 'frame 3');
  const last = await pixels(page);
  assert.ok(differingPixels(first, last) > 2000);
  // Input a stretches along y from frame 1 to 3.
  assert.ok((await page.evaluate(() => window.tessamire.projectedBounds()))[0].height > 1.3 * tall);
  await page.screenshot({ path: path.join(out, 'view-frame3.png') });
  await slide(page, 0);
});

test('the colour modes and the up axis change what is drawn', async () => {
  const boxes = await page.evaluate(() => window.tessamire.projectedBounds());
  const shaded = await pixels(page);
  const seen = {};
  for (const mode of ['kept', 'distance', 'weights']) {
    await select(page, 'mode', mode);
    const img = await pixels(page);
    assert.ok(differingPixels(shaded, img) > 2000, mode);
    seen[mode] = img;
    await page.screenshot({ path: path.join(out, `view-${mode}.png`) });
  }
  // Detail kept at frame 1 against the rest: input a is the rest itself, blue as at rest.
  const kept = meshColour(seen.kept, boxes[0]).mean;
  assert.ok(kept[2] > kept[0] + 40, `kept as at rest is blue, not ${kept}`);
  assert.ok(!(await page.$eval('#legend', (el) => el.hidden)));
  // Weights: 1 above (yellow), 0 below (dark).
  const box = boxes[0];
  const upper = meshColour(seen.weights, { ...box, height: box.height / 3 }).mean;
  const lower = meshColour(seen.weights, { ...box, y: box.y + (2 * box.height) / 3, height: box.height / 3 }).mean;
  assert.ok(upper[0] + upper[1] > lower[0] + lower[1] + 150, `upper ${upper}, lower ${lower}`);

  await select(page, 'mode', 'shaded');
  await select(page, 'up', 'z');
  const turned = await pixels(page);
  assert.ok(differingPixels(shaded, turned) > 2000);
  await page.screenshot({ path: path.join(out, 'view-z-up.png') });
  await select(page, 'up', 'y');
  assert.deepEqual(problems, []);
});

test('overlaid, keys 1..9 show one input at a time', async () => {
  await select(page, 'layout', 'overlay');
  await page.keyboard.press('2');
  let boxes = await page.evaluate(() => window.tessamire.projectedBounds());
  assert.deepEqual(boxes.map((b) => b.input), [1]);
  const second = await pixels(page);
  await page.keyboard.press('1');
  boxes = await page.evaluate(() => window.tessamire.projectedBounds());
  assert.deepEqual(boxes.map((b) => b.input), [0]);
  assert.ok(differingPixels(second, await pixels(page)) > 500);
  await select(page, 'layout', 'side');
});

test("the main job's page shows rest, skinned and corrected with the detail kept", async () => {
  execFileSync(cli, ['run', '--quiet', '--points', '2000', '--frames', '3', '--out', path.join(dir, 'run')]);
  const runPage = await browser.newPage();
  await open(runPage, path.join(dir, 'run', 'view.html'));
  const inputs = await runPage.evaluate(() => window.tessamire.inputs());
  assert.deepEqual(inputs.map((i) => i.name), ['rest', 'skinned', 'corrected']);
  assert.deepEqual(inputs.map((i) => i.frames.length), [1, 3, 3]);
  assert.ok(await runPage.$eval('#mode', (el) => [...el.options].some((o) => o.value === 'kept')));
  await select(runPage, 'mode', 'kept');
  await slide(runPage, 2);
  const img = await pixels(runPage);
  for (const box of await runPage.evaluate(() => window.tessamire.projectedBounds()))
    assert.ok(meshColour(img, box).n > 0.1 * box.width * box.height);
  await runPage.screenshot({ path: path.join(out, 'view-main-job.png') });
  await runPage.close();
  assert.deepEqual(problems, []);
});

test('a page opened at an address starts in its state, and the address follows the user', async () => {
  const linked = await browser.newPage();
  await open(linked, `${path.join(dir, 'page.html')}#frame=2&colour=weights&up=z&input=2`);
  assert.deepEqual(await linked.evaluate(() => window.tessamire.shown()), { frame: 2, colour: 'weights', up: 'z', input: 2 });
  assert.equal(await linked.$eval('#frame', (el) => el.textContent), 'frame 2');
  assert.equal(await linked.$eval('#mode', (el) => el.value), 'weights');
  await slide(linked, 2);
  await select(linked, 'mode', 'kept');
  await select(linked, 'up', 'y');
  await linked.keyboard.press('1');
  assert.deepEqual(await linked.evaluate(() => window.tessamire.state()), { frame: '3', colour: 'detail', up: 'y', input: '1' });
  // What the page does not offer, or cannot read, leaves the page as it opens.
  const odd = await browser.newPage();
  await open(odd, `${path.join(dir, 'page.html')}#frame=x&colour=purple&up=w&input=9`);
  assert.deepEqual(await odd.evaluate(() => window.tessamire.shown()), { frame: 1, colour: 'shaded', up: 'y', input: 1 });
  await Promise.all([linked.close(), odd.close()]);
  assert.deepEqual(problems, []);
});

test("a character's meshes are drawn together in one panel, each selectable", async () => {
  const scene = path.join(dir, 'epileptic.tsm');
  execFileSync(cli, ['scene', 'import', '/usr/share/assimp/models/X/BCN_Epileptic.X', '--out', scene]);
  writeObj(path.join(dir, 'ball.obj'), sphere(1, 0));
  execFileSync(cli, ['view', '--quiet', '--frames', '0:1', scene, 'ball.obj', '--out', 'character.html'], { cwd: dir });
  const character = await browser.newPage();
  await open(character, path.join(dir, 'character.html'));
  const inputs = await character.evaluate(() => window.tessamire.inputs());
  assert.ok(inputs.length > 2, `${inputs.length} inputs`);
  const meshes = inputs.slice(0, -1).map((_, i) => i);
  assert.deepEqual(await character.evaluate(() => window.tessamire.panels()), [meshes, [meshes.length]]);
  const [body, ball] = await character.evaluate(() => window.tessamire.projectedBounds());
  const img = await pixels(character);
  assert.ok(meshColour(img, body).n > 0.05 * body.width * body.height);
  assert.ok(ball.x >= body.panel.x + body.panel.width);
  // A click on the character selects the mesh under it; the list selects any.
  await character.mouse.click(body.x + body.width / 2, body.y + body.height / 2);
  const picked = (await character.evaluate(() => window.tessamire.shown())).input;
  assert.ok(picked >= 1 && picked <= meshes.length, `picked ${picked}`);
  await select(character, 'input', String(meshes.length - 1));
  assert.equal((await character.evaluate(() => window.tessamire.shown())).input, meshes.length);
  await character.screenshot({ path: path.join(out, 'view-character.png') });
  await character.close();
  assert.deepEqual(problems, []);
});
