// The page's speed against the native command line, on the large builder map
// (scripts/bench-web.sh): its mesh files, written into a picked folder (the
// origin's private file system stands in for it) or into the zip where the
// browser has no folder API, its glb (handed to the browser, and downloaded),
// and the 3D View's first picture, each timed from the click; the command
// line's `-j 1` runs of the same map and formats beside them. A bench, not a
// test: the figures go to README; nothing here passes or fails on a time.
//   node tools/bench/web/bench-web.mjs SITE V2BSP-EXTRACT V2BSP-MKMAP [RUNS]
// Needs V2BSP_PUPPETEER (the puppeteer-core package's folder).
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import {createRequire} from 'node:module';
import os from 'node:os';
import path from 'node:path';

import {openBrowser, serveSite} from '../../../scripts/webserve.mjs';

const puppeteer = createRequire(import.meta.url)(process.env.V2BSP_PUPPETEER);
const [site, extractProgram, mkmap, runsText = '5'] = process.argv.slice(2);
const runs = Number(runsText);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'v2bsp-bench-web-'));
const map = path.join(work, 'large.map');
execFileSync(mkmap, ['large', map, '--meshes', '200']);

const median = values => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const seconds = value => `${value.toFixed(2)} s`;

// The command line, one thread, into a folder emptied before each run.
function nativeSeconds(format) {
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const out = path.join(work, 'native');
    fs.rmSync(out, {recursive: true, force: true});
    const start = process.hrtime.bigint();
    execFileSync(extractProgram, ['-q', '-j', '1', '--format', format, '-o', out, map]);
    times.push(Number(process.hrtime.bigint() - start) / 1e9);
  }
  return median(times);
}

const {origin, close} = await serveSite(site);
const downloads = path.join(work, 'downloads');
const {browser, downloaded: completed} = await openBrowser(puppeteer, downloads);

// One run on a fresh page: seconds from Extract's click to the run's end (its
// files written) and to the first picture, then from Save's click to the glb
// handed to the browser (its Blob's address made) and to the download's end.
async function pageRun(folders) {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 720});
  await page.evaluateOnNewDocument(folders => {
    if (folders) {
      window.showDirectoryPicker = async () =>
        (await navigator.storage.getDirectory()).getDirectoryHandle('picked', {create: true});
    } else {
      Object.defineProperty(window, 'showDirectoryPicker', {value: undefined});
    }
    const make = URL.createObjectURL;
    URL.createObjectURL = blob => {
      window.handedAt = performance.now();
      return make(blob);
    };
  }, folders);
  await page.goto(origin + '/');
  await page.evaluate(async () => {
    await (await navigator.storage.getDirectory()).removeEntry('picked', {recursive: true}).catch(() => {});
  });
  await (await page.$('#mapfile')).uploadFile(map);
  await page.waitForSelector('#extract:not([disabled])');
  const zip = folders ? null : completed('');
  const start = await page.evaluate(() => {
    delete document.getElementById('view-canvas').dataset.painted;
    const now = performance.now();
    document.getElementById('extract').click();
    return now;
  });
  const ended = await (await page.waitForFunction(() => Number(document.body.dataset.runs || 0) >= 1 &&
                                                     performance.now(), {polling: 'mutation', timeout: 0})).jsonValue();
  const pictured = await (await page.waitForFunction(() => {
    const painted = document.getElementById('view-canvas').dataset.painted;
    return painted && painted !== 'nothing' && performance.now();
  }, {polling: 'raf', timeout: 0})).jsonValue();
  await page.waitForSelector('#save-glb:not([disabled])');
  await zip;
  const glb = completed('');
  const saveStart = process.hrtime.bigint();
  const clicked = await page.evaluate(() => {
    window.handedAt = 0;
    const now = performance.now();
    document.getElementById('save-glb').click();
    return now;
  });
  await glb;
  const saved = Number(process.hrtime.bigint() - saveStart) / 1e9;
  const handed = await page.evaluate(() => window.handedAt);
  await page.close();
  return {meshes: (ended - start) / 1000, picture: (pictured - start) / 1000, glbHanded: (handed - clicked) / 1000,
          glb: saved};
}

const results = {};
for (const folders of [true, false]) {
  const page = {meshes: [], picture: [], glbHanded: [], glb: []};
  for (let i = 0; i < runs; ++i) {
    const run = await pageRun(folders);
    for (const key of Object.keys(page)) page[key].push(run[key]);
    fs.rmSync(downloads, {recursive: true, force: true});
    fs.mkdirSync(downloads);
  }
  results[folders ? 'folder' : 'zip'] = Object.fromEntries(Object.entries(page).map(([k, v]) => [k, median(v)]));
}
await browser.close();
close();

const nativeMeshes = nativeSeconds('meshes');
const nativeGlb = nativeSeconds('glb');
const times = (page, native) => `${seconds(page)}, ${(page / native).toFixed(2)} times`;
console.log(`large map (${(fs.statSync(map).size / 1e6).toFixed(0)} MB, 200 meshes), medians of ${runs} runs;`);
console.log(`v2bsp-extract -j 1: mesh files ${seconds(nativeMeshes)}, glb ${seconds(nativeGlb)}`);
for (const [way, r] of Object.entries(results)) {
  console.log(`the page, mesh files into the ${way}:`);
  console.log(`  mesh files: ${times(r.meshes, nativeMeshes)} v2bsp-extract's`);
  console.log(`  glb: handed to the browser ${times(r.glbHanded, nativeGlb)} v2bsp-extract's; ` +
              `downloaded ${times(r.glb, nativeGlb)}`);
  console.log(`  first 3D picture: ${seconds(r.picture)} after Extract, ${(r.picture / r.meshes).toFixed(2)} times the run`);
}
fs.rmSync(work, {recursive: true, force: true});
