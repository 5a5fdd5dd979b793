// The page in headless Chromium (scripts/test-web.sh): builder maps dropped on
// it, their files read back from the folder the page wrote into (the origin's
// private file system stands in for the folder the user picks) or from the
// zip it downloads, and compared byte for byte with v2bsp-extract's; the log's
// lines; keyboard-only use; the layout at 1280 x 720 and at a phone's width;
// every request on the page's own origin.
//   node scripts/test-web.mjs SITE V2BSP-EXTRACT V2BSP-MKMAP
// Needs V2BSP_PUPPETEER (the puppeteer-core package's folder).
import assert from 'node:assert/strict';
import {execFileSync, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import {createRequire} from 'node:module';
import os from 'node:os';
import path from 'node:path';

import {openBrowser, serveSite} from './webserve.mjs';

const puppeteer = createRequire(import.meta.url)(process.env.V2BSP_PUPPETEER);
const [site, extractProgram, mkmap] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'v2bsp-web-'));

// Each case: how the builder makes the map (or a file that is no map), what
// the picked folder holds before the run, and the log's last line.
const kCases = [
  {name: 'the sample map', build: ['sample'], last: 'Wrote 10 mesh files to picked/sample room'},
  {name: 'a device name', build: ['sample', '--name', 'nul.level'], last: 'Wrote 10 mesh files to picked/nul_.level'},
  {name: 'a C1 control', build: ['sample', '--name', 'caf\u0081'], last: 'Wrote 10 mesh files to picked/caf\u00C2_'},
  {name: 'a skipped mesh', build: ['corrupt', 'rawsize-huge'],
   last: 'Wrote 9 of 10 mesh files to picked/sample room; the lines above say what is missing'},
  {name: 'not a map', text: 'no map here\n'},
  {name: 'a file where the folder goes', build: ['sample'], before: {'sample room': 'a file'},
   last: 'Wrote no mesh file; the lines above say why'},
  {name: 'an earlier extraction', build: ['sample'], before: {'sample room/mesh42.obj': '', 'sample room/mesh3.obj': 'old'},
   last: 'Wrote 10 mesh files to picked/sample room'},
  // The browser's reason differs from the system's: the line is matched up to it.
  {name: 'a write the browser refuses', build: ['sample'], before: {'sample room/mesh3.obj/': null},
   problem: 'Could not write picked/sample room/mesh3.obj: ',
   last: 'Wrote 9 of 10 mesh files to picked/sample room; the lines above say what is missing'},
];

function makeMap(c, file) {
  if (c.text !== undefined) fs.writeFileSync(file, c.text);
  else if (c.build[0] === 'corrupt') execFileSync(mkmap, ['corrupt', c.build[1], file]);
  else execFileSync(mkmap, [c.build[0], file, ...c.build.slice(1)]);
}

// `before` in a folder on disk: a name ending in "/" is a folder, else a file.
function lay(folder, before = {}) {
  fs.mkdirSync(folder, {recursive: true});
  for (const [name, text] of Object.entries(before)) {
    const at = path.join(folder, name);
    fs.mkdirSync(name.endsWith('/') ? at : path.dirname(at), {recursive: true});
    if (!name.endsWith('/')) fs.writeFileSync(at, text);
  }
}

// The files under `folder`: relative path -> bytes.
function tree(folder) {
  const files = {};
  for (const entry of fs.readdirSync(folder, {recursive: true, withFileTypes: true})) {
    if (entry.isFile()) {
      const full = path.join(entry.parentPath ?? entry.path, entry.name);
      files[path.relative(folder, full)] = fs.readFileSync(full).toString('base64');
    }
  }
  return files;
}

// v2bsp-extract's run of `map` into `out`: its log lines, with the folder
// shown as `shown`, and its refusal, as the window's log keeps it.
function nativeRun(map, out, args = []) {
  const run = spawnSync(extractProgram, ['-o', out, ...args, map], {encoding: 'utf8'});
  const lines = run.stdout.split('\n').filter(Boolean).map(line => line.replaceAll(out + '/', 'picked/'));
  const refusal = run.stderr ? run.stderr.trim().slice(`v2bsp-extract: ${map}: `.length) : null;
  return {lines, refusal};
}

const {origin, close: closeServer} = await serveSite(site);

const {browser, downloaded} = await openBrowser(puppeteer, path.join(work, 'downloads'), ['--lang=en-US']);
const requests = [];
const pageErrors = [];

// A fresh page; `folders` false: a browser that cannot write into a folder.
async function openPage({folders = true, width = 1280, height = 720} = {}) {
  const page = await browser.newPage();
  await page.setViewport({width, height});
  page.on('request', request => requests.push(request.url()));
  page.on('pageerror', error => pageErrors.push(error.message));
  await page.evaluateOnNewDocument(folders => {
    if (folders) {
      window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('picked');
    } else {
      Object.defineProperty(window, 'showDirectoryPicker', {value: undefined});
    }
  }, folders);
  await page.goto(origin + '/');
  return page;
}

const runsEnded = (page, count) => page.waitForFunction(n => Number(document.body.dataset.runs || 0) >= n, {}, count);
const logLines = page => page.$eval('#log', log => log.textContent.split('\n').filter(Boolean));

// The picked folder in the origin's private file system: laid out before, read back after.
async function layPicked(page, before = {}) {
  await page.evaluate(async before => {
    const root = await navigator.storage.getDirectory();
    await root.removeEntry('picked', {recursive: true}).catch(() => {});
    const picked = await root.getDirectoryHandle('picked', {create: true});
    for (const [name, text] of Object.entries(before)) {
      const parts = name.split('/');
      let folder = picked;
      for (const part of parts.slice(0, -1)) folder = await folder.getDirectoryHandle(part, {create: true});
      if (parts.at(-1) === '') continue;
      const writable = await (await folder.getFileHandle(parts.at(-1), {create: true})).createWritable();
      await writable.write(text);
      await writable.close();
    }
  }, before);
}

async function readPicked(page) {
  return page.evaluate(async () => {
    const files = {};
    const walk = async (folder, prefix) => {
      for await (const [name, handle] of folder.entries()) {
        if (handle.kind === 'directory') {
          await walk(handle, prefix + name + '/');
          continue;
        }
        const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
        let text = '';
        for (const byte of bytes) text += String.fromCharCode(byte);
        files[prefix + name] = btoa(text);
      }
    };
    await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle('picked'), '');
    return files;
  });
}

async function drop(page, file) {
  const bytes = fs.readFileSync(file).toString('base64');
  await page.evaluate((name, bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([Uint8Array.from(atob(bytes), c => c.charCodeAt(0))], name));
    document.dispatchEvent(new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));
  }, path.basename(file), bytes);
}

function checkLog(lines, expected, problem) {
  assert.equal(lines.length, expected.length, `log:\n${lines.join('\n')}`);
  expected.forEach((line, i) => {
    if (problem && line.startsWith(problem)) assert.ok(lines[i].startsWith(problem), lines[i]);
    else assert.equal(lines[i], line);
  });
}

let failures = 0;
async function check(name, body) {
  try {
    await body();
    console.log(`ok   ${name}`);
  } catch (error) {
    ++failures;
    console.log(`FAIL ${name}\n${error.stack}`);
  }
}

for (const [i, c] of kCases.entries()) {
  await check(`folder: ${c.name}`, async () => {
    const map = path.join(work, `case${i}.map`);
    makeMap(c, map);
    const out = path.join(work, `out${i}`);
    lay(out, c.before);
    const native = nativeRun(map, out);
    const page = await openPage();
    await layPicked(page, c.before);
    await drop(page, map);
    await page.waitForSelector('#extract:not([disabled])');
    await page.click('#extract');
    await runsEnded(page, 1);
    const expected = [...native.lines, native.refusal ?? c.last];
    checkLog(await logLines(page), expected, c.problem);
    assert.deepEqual(await readPicked(page), tree(out));
    const message = await page.$eval('#message', m => (m.hidden ? null : [m.children[0].textContent,
                                                                           m.children[1].textContent]));
    const at = native.refusal?.indexOf(': ');
    assert.deepEqual(message, native.refusal ? [native.refusal.slice(0, at), native.refusal.slice(at + 2)] : null);
    await page.close();
  });
}

// The first run's lines show while the page's writes are held; the second
// run's take their place once the writes are done.
await check('the log as the run goes', async () => {
  const map = path.join(work, 'early.map');
  makeMap(kCases[0], map);
  const native = nativeRun(map, path.join(work, 'earlyout'));
  const page = await openPage();
  await layPicked(page);
  await page.evaluate(() => {
    const picker = window.showDirectoryPicker;
    window.writesHeld = new Promise(resolve => { window.releaseWrites = resolve; });
    window.showDirectoryPicker = async () => {
      const folder = await picker();
      const open = folder.getDirectoryHandle.bind(folder);
      folder.getDirectoryHandle = async (...args) => (await window.writesHeld, open(...args));
      return folder;
    };
  });
  await drop(page, map);
  await page.waitForSelector('#extract:not([disabled])');
  await page.click('#extract');
  await page.waitForFunction(() => document.getElementById('log').textContent.includes('Making Mesh #9'));
  const tags = await page.$eval('#tags', list => list.options.length);
  assert.ok(tags > 0, 'no tag name while the run goes');
  await page.evaluate(() => window.releaseWrites());
  await runsEnded(page, 1);
  checkLog(await logLines(page), [...native.lines, 'Wrote 10 mesh files to picked/sample room']);
  assert.equal(await page.$eval('#tags', list => list.options.length), tags);
  await page.close();
});

// Without the folder API: one zip of the map's folder, and the level's files.
await check('zip and level files', async () => {
  const map = path.join(work, 'zip.map');
  makeMap(kCases[0], map);
  const out = path.join(work, 'zipout');
  const native = nativeRun(map, out, ['--format', 'meshes,obj']);
  nativeRun(map, path.join(work, 'zipz'), ['--format', 'glb', '--up-axis', 'z']);
  const page = await openPage({folders: false});
  await drop(page, map);
  await page.waitForSelector('#extract:not([disabled])');
  const zip = downloaded('sample room.zip');
  await page.click('#extract');
  await runsEnded(page, 1);
  checkLog(await logLines(page), [...native.lines, 'Wrote 10 mesh files to sample room.zip/sample room']);
  const unpacked = path.join(work, 'unzipped');
  // Python's zip reader checks every file's CRC-32 as it unpacks.
  execFileSync('python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])',
                           await zip, unpacked]);
  const expected = tree(out);
  delete expected['sample room.obj'];
  assert.deepEqual(tree(unpacked), expected);
  const obj = downloaded('sample room.obj');
  await page.click('#save-obj');
  assert.ok(fs.readFileSync(await obj).equals(fs.readFileSync(path.join(out, 'sample room.obj'))));
  await page.select('#up-axis', 'z');
  const glb = downloaded('sample room.glb');
  await page.click('#save-glb');
  assert.ok(fs.readFileSync(await glb).equals(fs.readFileSync(path.join(work, 'zipz', 'sample room.glb'))));
  await page.close();
});

// Choose, Extract and Save by the keyboard alone, each control seen to have the focus.
await check('keyboard only', async () => {
  const map = path.join(work, 'keys.map');
  makeMap(kCases[0], map);
  nativeRun(map, path.join(work, 'keysout'), ['--format', 'glb']);
  const page = await openPage();
  await layPicked(page);
  const tabTo = async id => {
    for (let presses = 0; presses < 20; ++presses) {
      await page.keyboard.press('Tab');
      const focused = await page.evaluate(() => [document.activeElement.id,
                                                  getComputedStyle(document.activeElement).outlineStyle]);
      if (focused[0] !== id) continue;
      assert.notEqual(focused[1], 'none', `${id} shows no focus`);
      return;
    }
    assert.fail(`Tab never reaches #${id}`);
  };
  await tabTo('choose');
  const chooser = page.waitForFileChooser();
  // A round trip, so that the chooser is caught before the key can open it.
  await page.evaluate(() => 0);
  await page.keyboard.press('Enter');
  await (await chooser).accept([map]);
  await page.waitForSelector('#extract:not([disabled])');
  await tabTo('extract');
  await page.keyboard.press('Enter');
  await runsEnded(page, 1);
  assert.equal((await logLines(page)).at(-1), 'Wrote 10 mesh files to picked/sample room');
  await tabTo('save-glb');
  const glb = downloaded('sample room.glb');
  await page.keyboard.press('Enter');
  assert.ok(fs.readFileSync(await glb).equals(fs.readFileSync(path.join(work, 'keysout', 'sample room.glb'))));
  await page.close();
});

// A browser that gives the heap less room than the map needs (here, wasm
// memory capped at 75 MiB) refuses it by name, and writes nothing.
await check('a map too large for the browser', async () => {
  const map = path.join(work, 'large.map');
  execFileSync(mkmap, ['large', map]);
  const small = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
                                        args: ['--no-sandbox', '--lang=en-US', '--js-flags=--wasm-max-mem-pages=1200']});
  const page = await small.newPage();
  await page.evaluateOnNewDocument(() => {
    window.showDirectoryPicker = async () => (await navigator.storage.getDirectory()).getDirectoryHandle('picked');
  });
  await page.goto(origin + '/');
  await layPicked(page);
  await (await page.$('#mapfile')).uploadFile(map);
  await page.waitForSelector('#extract:not([disabled])');
  await page.click('#extract');
  await runsEnded(page, 1);
  const text = `This map is too large for the browser (${fs.statSync(map).size.toLocaleString('en-US')} bytes); ` +
               'v2bsp-extract handles it';
  assert.equal(await page.$eval('#message-text', m => m.textContent), text);
  assert.deepEqual(await logLines(page), [text]);
  assert.deepEqual(await readPicked(page), {});
  await small.close();
});

// The page fits a 1280 x 720 window; at a phone's width the 3D View comes below the log.
for (const [width, height] of [[1280, 720], [390, 844]]) {
  await check(`layout at ${width} x ${height}`, async () => {
    const page = await openPage({width, height});
    const box = await page.evaluate(() => {
      const of = id => document.getElementById(id).getBoundingClientRect();
      return {width: document.documentElement.scrollWidth, height: document.documentElement.scrollHeight,
              logBottom: of('log').bottom, viewTop: of('view').top, viewLeft: of('view').left};
    });
    assert.ok(box.width <= width, `the page is ${box.width} pixels wide`);
    if (width > 900) assert.ok(box.height <= height, `the page is ${box.height} pixels high`);
    else assert.ok(box.viewTop >= box.logBottom, 'the 3D View is not below the log');
    await page.close();
  });
}

await check('no script error, and every request stays on the page\'s origin', async () => {
  assert.deepEqual(pageErrors, []);
  assert.ok(requests.some(url => url.endsWith('/v2bsp-web.wasm')), 'the worker\'s requests were not seen');
  const away = requests.filter(url => !url.startsWith(origin + '/') && !/^(data|blob):/.test(url));
  assert.deepEqual(away, []);
});

await browser.close();
closeServer();
fs.rmSync(work, {recursive: true, force: true});
console.log(failures === 0 ? 'all web tests passed' : `${failures} web test(s) failed`);
process.exit(failures === 0 ? 0 : 1);
