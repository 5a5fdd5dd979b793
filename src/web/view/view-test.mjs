// The page's 3D View in headless Chromium (WebGL2 by SwiftShader), on a page
// of its own (view-test.html, under the page's Content-Security-Policy):
// each mesh's colour on the canvas, a hidden mesh's colour gone, a click
// picking the mesh under it, the list, buttons and keys by keyboard alone,
// the status line against v2bsp-extract's files, Save Image's PNG, a large
// level's cheap picture while dragging, and the notice where WebGL2 is
// missing. Every request stays on the page's origin.
//   node src/web/view/view-test.mjs SITE V2BSP-MKMAP V2BSP-EXTRACT
// SITE holds view.js, view.css and v2bsp-view.js/.wasm; needs V2BSP_PUPPETEER
// (the puppeteer-core package's folder).
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import {createRequire} from 'node:module';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {openBrowser, serveSite} from '../../../scripts/webserve.mjs';

const puppeteer = createRequire(import.meta.url)(process.env.V2BSP_PUPPETEER);
const [site, mkmap, extractProgram] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'v2bsp-view-'));
const maps = path.join(work, 'maps');
fs.mkdirSync(maps);
execFileSync(mkmap, ['sample', path.join(maps, 'sample.map')]);
// More triangles than the view draws while the camera moves, and than it draws in one paint at rest.
execFileSync(mkmap, ['large', path.join(maps, 'large.map'), '--meshes', '20', '--vertices', '300000',
                     '--triangles', '600000']);
fs.writeFileSync(path.join(maps, 'nomap.map'), 'no map here\n');

// The counts of the sample's mesh files as v2bsp-extract writes them.
function sampleCounts() {
  const out = path.join(work, 'out');
  execFileSync(extractProgram, ['-o', out, path.join(maps, 'sample.map')]);
  const folder = path.join(out, 'sample room');
  let meshes = 0, vertices = 0, triangles = 0;
  for (const name of fs.readdirSync(folder)) {
    const lines = fs.readFileSync(path.join(folder, name), 'utf8').split('\n');
    ++meshes;
    vertices += lines.filter(line => line.startsWith('v ')).length;
    triangles += lines.filter(line => line.startsWith('f ')).length;
  }
  return {meshes, vertices, triangles};
}
const grouped = n => String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');

const {origin, close: closeServer} =
    await serveSite(site, {'view-test.html': path.join(here, 'view-test.html'), maps});

const {browser, downloaded} = await openBrowser(puppeteer, path.join(work, 'downloads'));
const requests = [];
const pageErrors = [];

async function openView({webgl2 = true, width = 1280, height = 720} = {}) {
  const page = await browser.newPage();
  // SwiftShader draws the large level slowly on a busy machine: only a hang ends a wait.
  page.setDefaultTimeout(600000);
  await page.setViewport({width, height});
  page.on('request', request => requests.push(request.url()));
  page.on('pageerror', error => pageErrors.push(error.message));
  page.on('console', message => {
    if (message.type() === 'error') pageErrors.push(message.text());
  });
  if (!webgl2) await page.evaluateOnNewDocument(() => { delete window.WebGL2RenderingContext; });
  await page.goto(origin + '/view-test.html');
  await page.evaluate(async () => { window.view = await V2bspView.create(document.getElementById('view')); });
  return page;
}

// What showMap says ("" when shown) of map `name`.
const showMap = (page, name, upAxis = 'y') => page.evaluate(async (name, upAxis) => {
  const bytes = await (await fetch('maps/' + name)).arrayBuffer();
  return window.view.showMap(bytes, name, upAxis);
}, name, upAxis);

// Once the view has drawn its whole picture.
const settled = page => page.waitForFunction(() => document.getElementById('view-canvas').dataset.painted === 'full');

// The mesh whose colour a pixel has, by the hue the view gives mesh n (the
// golden ratio's steps from 0.05), or -1 for a grey such as the background.
function meshOfPixel(r, g, b, meshes) {
  const high = Math.max(r, g, b), low = Math.min(r, g, b), span = high - low;
  if (high < 25 || span / high < 0.25) return -1;
  const sector = high === r ? (g - b) / span : high === g ? 2 + (b - r) / span : 4 + (r - g) / span;
  const hue = (sector / 6 + 1) % 1;
  let best = -1, bestGap = 6 / 360;
  for (let m = 0; m < meshes; ++m) {
    let gap = Math.abs(hue - (0.05 + m * 0.6180339887498949) % 1);
    gap = Math.min(gap, 1 - gap);
    if (gap < bestGap) bestGap = gap, best = m;
  }
  return best;
}

// Per mesh: its pixels on the canvas, and one pixel (in CSS pixels) amid its own.
async function meshPixels(page, meshes) {
  const {width, height, data, ratio} = await page.evaluate(() => {
    const canvas = document.getElementById('view-canvas');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    return {width: copy.width, height: copy.height, ratio: canvas.width / canvas.clientWidth,
            data: Array.from(context.getImageData(0, 0, copy.width, copy.height).data)};
  });
  const of = (x, y) => meshOfPixel(data[(y * width + x) * 4], data[(y * width + x) * 4 + 1],
                                   data[(y * width + x) * 4 + 2], meshes);
  const counts = new Map(), inside = new Map();
  for (let y = 2; y < height - 2; ++y) {
    for (let x = 2; x < width - 2; ++x) {
      const m = of(x, y);
      counts.set(m, (counts.get(m) ?? 0) + 1);
      if (m < 0 || inside.has(m)) continue;
      let all = true;
      for (let dy = -2; dy <= 2 && all; ++dy) for (let dx = -2; dx <= 2 && all; ++dx) all = of(x + dx, y + dy) === m;
      if (all) inside.set(m, {x: Math.round(x / ratio), y: Math.round(y / ratio)});
    }
  }
  return {counts, inside};
}

const frameDrawn = page => page.evaluate(() => new Promise(resolve => requestAnimationFrame(() => requestAnimationFrame(resolve))));
const selectedRow = page => page.$eval('#view-list tbody', body =>
  [...body.children].findIndex(row => row.getAttribute('aria-selected') === 'true'));
const pressed = (page, name) => page.$eval('#view-' + name, button => button.getAttribute('aria-pressed'));
const status = page => page.$eval('#view-status', element => element.textContent);

const failures = [];
async function check(name, body) {
  try {
    await body();
    console.log('ok   ' + name);
  } catch (error) {
    failures.push(name);
    console.log('FAIL ' + name + '\n' + (error.stack ?? error));
  }
}

const page = await openView();
const counts = sampleCounts();
await check('the sample shown: its rows, boxes and status line', async () => {
  assert.equal(await showMap(page, 'sample.map'), '');
  const rows = await page.$$eval('#view-list tbody tr', rows => rows.map(row => ({
    name: row.cells[0].textContent, shown: row.querySelector('input').checked,
    label: row.querySelector('input').getAttribute('aria-label'),
    colour: row.querySelector('.swatch').style.backgroundColor})));
  assert.equal(rows.length, counts.meshes);
  rows.forEach((row, m) => {
    assert.equal(row.name, 'mesh' + m);
    assert.ok(row.shown);
    assert.equal(row.label, 'Show mesh' + m);
    const [r, g, b] = row.colour.match(/\d+/g).map(Number);
    assert.equal(meshOfPixel(r, g, b, counts.meshes), m, `mesh${m}'s box`);
  });
  assert.equal(await status(page), `${counts.meshes} meshes, ${grouped(counts.vertices)} vertices, ` +
                                   `${grouped(counts.triangles)} triangles`);
  assert.equal(await page.$eval('#view-title', title => title.textContent), 'sample room - 3D View');
});

let where;
await check('every mesh drawn in its colour', async () => {
  await settled(page);
  const {counts: drawn, inside} = await meshPixels(page, counts.meshes);
  for (let m = 0; m < counts.meshes; ++m) assert.ok((drawn.get(m) ?? 0) >= 20, `mesh ${m} not drawn`);
  assert.ok(drawn.get(-1) > 0, 'no background');
  where = inside;
});

await check('a hidden mesh\'s colour gone, and back', async () => {
  for (const m of [0, 2, 9]) {
    await page.click(`#view-row-${m} input`);
    await frameDrawn(page);
    assert.equal((await meshPixels(page, counts.meshes)).counts.get(m), undefined, `mesh ${m} still drawn`);
    await page.click(`#view-row-${m} input`);
    await frameDrawn(page);
    assert.ok((await meshPixels(page, counts.meshes)).counts.get(m) > 0, `mesh ${m} not back`);
  }
});

await check('a click picks the mesh under it and selects its row', async () => {
  for (const m of [1, 5, 8]) {
    assert.ok(where.has(m), `no pixel amid mesh ${m}`);
    const box = await page.$eval('#view-canvas', canvas => canvas.getBoundingClientRect().toJSON());
    await page.mouse.click(box.x + where.get(m).x, box.y + where.get(m).y);
    assert.equal(await selectedRow(page), m);
  }
  const box = await page.$eval('#view-canvas', canvas => canvas.getBoundingClientRect().toJSON());
  await page.mouse.click(box.x + 3, box.y + 3);
  assert.equal(await selectedRow(page), -1);
});

await check('keyboard alone: Tab to the list, arrows, Space hides, the menu\'s keys', async () => {
  await page.focus('#before');
  const order = [];
  for (let step = 0; step < 8; ++step) {
    await page.keyboard.press('Tab');
    order.push(await page.evaluate(() => document.activeElement.id));
  }
  for (const id of ['view-frameAll', 'view-frameSelected', 'view-wireframe', 'view-zUp', 'view-saveimage',
                    'view-canvas', 'view-list']) {
    assert.ok(order.includes(id), `${id} not reached by Tab: ${order}`);
  }
  await page.focus('#view-list');
  for (let i = 0; i < 3; ++i) await page.keyboard.press('ArrowDown');
  assert.equal(await selectedRow(page), 2);
  await page.keyboard.press('Space');
  await frameDrawn(page);
  assert.equal((await meshPixels(page, counts.meshes)).counts.get(2), undefined);
  await page.keyboard.press('Space');
  await frameDrawn(page);
  assert.ok((await meshPixels(page, counts.meshes)).counts.get(2) > 0);
  assert.equal(await pressed(page, 'wireframe'), 'false');
  await page.keyboard.press('w');
  assert.equal(await pressed(page, 'wireframe'), 'true');
  await page.keyboard.press('w');
  await page.keyboard.press('z');
  assert.equal(await pressed(page, 'zUp'), 'true');
  await page.keyboard.press('z');
  assert.equal(await pressed(page, 'zUp'), 'false');
  // Arrows turn the level; F frames it whole again: the same picture as before.
  await page.focus('#view-canvas');
  await frameDrawn(page);
  const before = await meshPixels(page, counts.meshes);
  await page.keyboard.press('ArrowLeft');
  await frameDrawn(page);
  const turned = await meshPixels(page, counts.meshes);
  assert.notDeepEqual([...turned.counts], [...before.counts]);
});

await check('Save Image downloads the picture as a PNG', async () => {
  const done = downloaded('sample room.png');
  await page.click('#view-saveimage');
  const png = fs.readFileSync(await done);
  assert.equal(png.subarray(1, 4).toString(), 'PNG');
  const size = await page.$eval('#view-canvas', canvas => [canvas.width, canvas.height]);
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], size);
  assert.ok((await status(page)).startsWith('Saved sample room.png. 10 meshes'), await status(page));
});

await check('Z up from the page\'s up axis', async () => {
  assert.equal(await showMap(page, 'sample.map', 'z'), '');
  assert.equal(await pressed(page, 'zUp'), 'true');
  assert.equal(await showMap(page, 'sample.map', 'y'), '');
  assert.equal(await pressed(page, 'zUp'), 'false');
});

await check('not a map: its reason in the status line, nothing shown', async () => {
  const said = await showMap(page, 'nomap.map');
  assert.ok(said.startsWith('This is not a valid Vorun 2 map file: '), said);
  assert.equal(await status(page), said);
  assert.equal(await page.$$eval('#view-list tbody tr', rows => rows.length), 0);
  assert.ok(await page.$eval('#view-frameAll', button => button.disabled));
});

await check('a large level: its cheap picture while dragging, the whole one after', async () => {
  assert.equal(await showMap(page, 'large.map'), '');
  await settled(page);
  const box = await page.$eval('#view-canvas', canvas => canvas.getBoundingClientRect().toJSON());
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 40, box.y + box.height / 2 + 10, {steps: 4});
  await page.waitForFunction(() => document.getElementById('view-canvas').dataset.painted === 'cheap');
  await page.mouse.up();
  await settled(page);
});

await check('a context the browser takes away and gives back draws the level again', async () => {
  assert.equal(await showMap(page, 'sample.map'), '');
  await settled(page);
  await page.evaluate(async () => {
    const canvas = document.getElementById('view-canvas');
    const lose = canvas.getContext('webgl2').getExtension('WEBGL_lose_context');
    canvas.dataset.painted = '';
    lose.loseContext();
    await new Promise(resolve => setTimeout(resolve, 200));
    lose.restoreContext();
  });
  await settled(page);
  const {counts: drawn} = await meshPixels(page, counts.meshes);
  for (let m = 0; m < counts.meshes; ++m) assert.ok((drawn.get(m) ?? 0) >= 20, `mesh ${m} not drawn again`);
});

await check('clear empties the view', async () => {
  await page.evaluate(() => window.view.clear());
  assert.equal(await page.$$eval('#view-list tbody tr', rows => rows.length), 0);
  assert.equal(await status(page), '');
  await frameDrawn(page);
  assert.deepEqual([...(await meshPixels(page, 20)).counts.keys()], [-1]);
});

await check('without WebGL2: the notice in the view\'s place, the list and status go on', async () => {
  const bare = await openView({webgl2: false});
  assert.equal(await bare.$eval('#view-unavailable', notice => notice.textContent),
               '3D view unavailable: this browser has no WebGL2');
  assert.equal(await bare.$('#view-canvas'), null);
  assert.equal(await showMap(bare, 'sample.map'), '');
  assert.equal(await bare.$$eval('#view-list tbody tr', rows => rows.length), counts.meshes);
  assert.ok((await status(bare)).startsWith('10 meshes'));
  assert.ok(await bare.$eval('#view-saveimage', button => button.disabled));
  await bare.close();
});

await check('every request on the page\'s origin, and no error', async () => {
  assert.ok(requests.length > 0);
  for (const url of requests) assert.ok(url.startsWith(origin + '/'), url);
  assert.deepEqual(pageErrors, []);
});

if (process.env.V2BSP_VIEW_SHOTS) {
  await showMap(page, 'sample.map');
  await settled(page);
  await page.screenshot({path: path.join(process.env.V2BSP_VIEW_SHOTS, 'view-1280.png')});
}

await browser.close();
closeServer();
fs.rmSync(work, {recursive: true, force: true});
if (failures.length > 0) {
  console.log(`${failures.length} failed: ${failures.join('; ')}`);
  process.exit(1);
}
console.log('all passed');
