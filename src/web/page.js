// The page: Form1's controls in HTML, over the worker that runs the core
// (worker.js). An extraction goes in three steps: the worker's first run
// hands the page its folder and files, which the page writes into the folder
// the user picked (or into a zip), and its lines, shown as they come; then the
// worker's second run, answered by what the page's writes did, makes the log
// the user keeps in their place (src/web/pagefiles.hpp).
'use strict';

const $ = id => document.getElementById(id);

const state = {
  file: null,          // the chosen map
  folderHandle: null,  // the folder the mesh files go into, picked on the first Extract
  phase: 'idle',       // idle, choose, produce, extract, level
  // The page's writes of the run, started in the run's order: a folder
  // alone, the files in it several at once.
  writeQueue: Promise.resolve(),
  writing: new Set(),
  writes: [],
  outcomes: new Map(), // path -> {made, names} | {existsAsFile} | {reason}
  folders: new Map(),  // path -> FileSystemDirectoryHandle of a folder the run made
  foldersAsked: new Set(),
  zip: null,
  mapFolder: '',
  logMark: 0,          // the log's length and the tags' count before the first run's came
  tagMark: 0,
  parent: '',
  view: null,
};

// The thousands separator of the page's locale, for the log's last line.
const kSeparator = (new Intl.NumberFormat().formatToParts(1000).find(part => part.type === 'group') || {}).value || '';

const worker = new Worker('worker.js');
worker.onmessage = event => {
  const message = event.data;
  if (message.type === 'file') onFile(message.of, message.path, message.pieces, message.crc);
  else onEvents(message.events, message.of);
};
worker.onerror = event => showMessage('The page\'s worker failed', event.message || 'it could not start');
worker.postMessage({type: 'begin', separator: kSeparator});

// --- What the worker's host says ---------------------------------------------

const eventHandlers = {
  log(text) {
    $('log').append(text.replace(/\r\n/g, '\n'));
    $('log').scrollTop = $('log').scrollHeight;
  },
  tag(name) {
    $('tags').append(new Option(name));
  },
  enabled(name, on) {
    if (name === 'Command1') $('extract').disabled = on !== '1';
  },
  refused(text, reason) {
    showMessage(text, reason);
  },
  // The first run's lines and names, shown as it goes; the second run's replace them.
  early(text) {
    eventHandlers.log(text);
  },
  earlyTag(name) {
    eventHandlers.tag(name);
  },
  tooLarge(text) {
    if (state.phase === 'produce') dropEarly();
    $('extract').disabled = true;
    showMessage(text, '');
    eventHandlers.log(text + '\r\n');
    if (state.phase === 'produce') endRun();
  },
  planned(count) {
    if (state.phase !== 'produce') return;
    $('progress').max = Math.max(1, Number(count));
    $('progress').value = 0;
  },
  // The run asks for its folder before each file (so that one removed
  // meanwhile comes back); the page makes it, and notes what it held, once.
  folder(path) {
    if (state.foldersAsked.has(path)) return;
    state.foldersAsked.add(path);
    queueWrite(() => makeFolder(path), true);
  },
  produced(folder) {
    state.mapFolder = folder;
    if (state.zip) state.parent = folder + '.zip';
    allWritten().then(() => {
      dropEarly();
      state.phase = 'extract';
      worker.postMessage({type: 'extract', parent: state.parent, outcomes: [...state.outcomes]});
    });
  },
  ended(status) {
    finishRun(status === 'complete' || status === 'incomplete');
  },
  levelFailed(why) {
    showMessage('Could not save the level', why);
  },
  crashed(why) {
    showMessage('The page\'s worker failed', why);
    endRun();
  },
};

// The log and the tag list as they were before the first run's lines came.
function dropEarly() {
  $('log').textContent = $('log').textContent.slice(0, state.logMark);
  const tags = $('tags');
  while (tags.options.length > state.tagMark) tags.remove(tags.options.length - 1);
}

function onEvents(events, of) {
  for (const [kind, first, second] of events) eventHandlers[kind](first, second);
  if (of === 'level' || of === 'choose') state.phase = 'idle';
}

// A whole-level file downloads; the mesh files of an extraction are written.
function onFile(of, path, pieces, crc) {
  if (of === 'level') {
    download(new Blob(pieces), path);
    return;
  }
  queueWrite(() => writeFile(path, pieces, crc));
}

// --- The page's writes ---------------------------------------------------------

// Each write waits for the file system's answer, which takes longer than the
// bytes themselves: several go at once.
const kWritesAtOnce = 16;

function queueWrite(write, alone = false) {
  const started = state.writeQueue.then(async () => {
    while (state.writing.size >= (alone ? 1 : kWritesAtOnce)) await Promise.race(state.writing);
  });
  const done = started.then(() => {
    const writing = write();
    state.writing.add(writing);
    return writing.then(() => state.writing.delete(writing));
  });
  state.writes.push(done);
  state.writeQueue = alone ? done : started;
}

async function allWritten() {
  await state.writeQueue;
  await Promise.all(state.writes);
}

function reasonOf(error) {
  return error && error.message ? error.message : String(error);
}

// The map's folder in the picked folder: a file of that name is the core's
// "File exists"; the names of the files already in it are noted before any
// is written, for the line that names an earlier extraction's files.
async function makeFolder(path) {
  if (state.zip) {
    state.zip.add(path + '/', []);
    state.outcomes.set(path, {made: true, names: []});
    return;
  }
  try {
    try {
      await state.folderHandle.getFileHandle(path);
      state.outcomes.set(path, {existsAsFile: true});
      return;
    } catch (error) {
      if (error.name !== 'NotFoundError' && error.name !== 'TypeMismatchError') throw error;
    }
    const folder = await state.folderHandle.getDirectoryHandle(path, {create: true});
    const names = [];
    for await (const [name, handle] of folder.entries()) {
      if (handle.kind === 'file') names.push(name);
    }
    state.folders.set(path, folder);
    state.outcomes.set(path, {made: true, names});
  } catch (error) {
    state.outcomes.set(path, {reason: reasonOf(error)});
  }
}

// A file goes to a swap file that replaces the old one only when whole.
async function writeFile(path, pieces, crc) {
  const at = path.lastIndexOf('/');
  const folderPath = path.slice(0, at);
  const folderOutcome = state.outcomes.get(folderPath) || {reason: 'Its folder was not made'};
  let writable = null;
  try {
    if (state.zip) {
      state.zip.add(path, pieces, crc);
    } else {
      if (!folderOutcome.made) throw new Error(folderOutcome.reason || 'Its folder was not made');
      const handle = await state.folders.get(folderPath).getFileHandle(path.slice(at + 1), {create: true});
      writable = await handle.createWritable();
      await writable.write(new Blob(pieces));
      await writable.close();
    }
    state.outcomes.set(path, {made: true});
  } catch (error) {
    if (writable) writable.abort().catch(() => {});
    state.outcomes.set(path, {reason: reasonOf(error)});
  }
  $('progress').value += 1;
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// --- The controls --------------------------------------------------------------

function showMessage(text, reason) {
  $('message-text').textContent = text;
  $('message-reason').textContent = reason;
  $('message').hidden = false;
}

function running() {
  return state.phase === 'produce' || state.phase === 'extract';
}

function choose(file) {
  if (!file || running()) return;
  state.file = file;
  state.phase = 'choose';
  $('mapname').textContent = file.name;
  $('message').hidden = true;
  $('extract').disabled = true;
  for (const id of ['save-obj', 'save-glb']) $(id).disabled = true;
  worker.postMessage({type: 'choose', file});
}

// Extract: the folder is asked for on the first one (a zip downloads where
// the browser cannot write into a folder), then the worker's first run.
async function extract() {
  if (running() || !state.file || $('extract').disabled) return;
  if (window.showDirectoryPicker && !state.folderHandle) {
    try {
      state.folderHandle = await window.showDirectoryPicker({id: 'v2bsp-output', mode: 'readwrite'});
    } catch (error) {
      if (error.name !== 'AbortError') showMessage('Could not open the folder', reasonOf(error));
      return;
    }
  }
  if (state.folderHandle && state.folderHandle.requestPermission &&
      await state.folderHandle.requestPermission({mode: 'readwrite'}) !== 'granted') {
    showMessage('Could not write into ' + state.folderHandle.name, 'The browser was not allowed to write there');
    return;
  }
  state.phase = 'produce';
  state.logMark = $('log').textContent.length;
  state.tagMark = $('tags').options.length;
  state.outcomes = new Map();
  state.folders = new Map();
  state.foldersAsked = new Set();
  state.writeQueue = Promise.resolve();
  state.writing = new Set();
  state.writes = [];
  state.zip = state.folderHandle ? null : new ZipWriter();
  state.parent = state.folderHandle ? (state.folderHandle.name || 'folder') : '.';
  $('message').hidden = true;
  $('progress').value = 0;
  setRunning(true);
  worker.postMessage({type: 'produce', parent: state.parent, zip: state.zip !== null});
}

function setRunning(on) {
  $('choose').disabled = on;
  $('extract').disabled = on || $('extract').disabled;
  document.body.classList.toggle('running', on);
}

// The runs ended so far, on the body (data-runs), for whoever waits for one.
function endRun() {
  state.phase = 'idle';
  setRunning(false);
  document.body.dataset.runs = Number(document.body.dataset.runs || 0) + 1;
}

// After the second run: the zip downloads, and the 3D View shows the map.
async function finishRun(toItsEnd) {
  endRun();
  if (!toItsEnd) return;
  $('progress').value = $('progress').max;
  for (const id of ['save-obj', 'save-glb']) $(id).disabled = false;
  if (state.zip && state.outcomes.get(state.mapFolder)) download(state.zip.finish(), state.mapFolder + '.zip');
  if (state.view) {
    try {
      await state.view.showMap(await state.file.arrayBuffer(), state.file.name, $('up-axis').value);
    } catch (error) {
      showMessage('The 3D View could not show the map', reasonOf(error));
    }
  }
}

function saveLevel(glb) {
  if (running() || state.phase === 'level') return;
  state.phase = 'level';
  worker.postMessage({type: 'level', glb, upZ: $('up-axis').value === 'z'});
}

// The 3D View is its own part (view.js, V2bspView); without it the rest works.
function loadView() {
  const script = document.createElement('script');
  script.src = 'view.js';
  script.onload = async () => {
    try {
      state.view = await window.V2bspView.create($('view'));
    } catch (error) {
      $('view').textContent = '3D view unavailable: ' + reasonOf(error);
    }
  };
  script.onerror = () => {
    $('view').textContent = '3D view unavailable: this page was built without it';
  };
  document.head.append(script);
}

$('choose').addEventListener('click', () => $('mapfile').click());
$('mapfile').addEventListener('change', () => {
  choose($('mapfile').files[0]);
  $('mapfile').value = '';
});
$('extract').addEventListener('click', extract);
$('save-obj').addEventListener('click', () => saveLevel(false));
$('save-glb').addEventListener('click', () => saveLevel(true));
$('message-close').addEventListener('click', () => {
  $('message').hidden = true;
  $('choose').focus();
});
document.addEventListener('dragover', event => {
  event.preventDefault();
  document.body.classList.add('dropping');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', event => {
  event.preventDefault();
  document.body.classList.remove('dropping');
  choose(event.dataTransfer.files[0]);
});
loadView();
