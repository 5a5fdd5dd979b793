// The page's worker: the core (v2bsp-web.js, its wasm) on a thread of its
// own, so that the page answers while a map is extracted. The page's
// messages call the host's functions (src/web/page.cpp); what the host says
// goes back as messages: its events gathered and sent before each file and
// once a call is over (marked with the call), the files at once, so that the
// page writes them while the run goes on.
'use strict';
importScripts('v2bsp-web.js');

const kMapFolder = '/map';
let events = [];
let file = null;  // the file being handed over: its path and pieces
let call = '';    // the page's message being answered

// The events so far, sent before a file so that the page gets everything
// in the run's order (the folder before its files).
function flush(of) {
  if (events.length > 0 || of) self.postMessage({type: 'events', of, events});
  events = [];
}

const page = {
  event(kind, first, second) {
    events.push([kind, first, second]);
  },
  fileBegun(path) {
    file = {path, pieces: []};
  },
  filePiece(bytes) {
    file.pieces.push(bytes);
  },
  fileEnded(crc) {
    flush();
    self.postMessage({type: 'file', of: call, path: file.path, pieces: file.pieces, crc},
                     file.pieces.map(piece => piece.buffer));
    file = null;
  },
};

const ready = V2bspCore({
  print: text => console.log(text),
  printErr: text => console.error(text),
}).then(core => {
  core.page = page;
  core.FS.mkdir(kMapFolder);
  return core;
});

let mounted = false;

// The chosen File at /map/<its name>, read from the File as the run reads it.
function mount(core, chosen) {
  if (mounted) core.FS.unmount(kMapFolder);
  core.FS.mount(core.FS.filesystems.WORKERFS, {files: [chosen]}, kMapFolder);
  mounted = true;
  return kMapFolder + '/' + chosen.name;
}

const handlers = {
  begin(core, message) {
    core.ccall('v2bspBegin', null, ['string'], [message.separator]);
  },
  choose(core, message) {
    const path = mount(core, message.file);
    core.ccall('v2bspChoose', null, ['string', 'number'], [path, message.file.size]);
  },
  produce(core, message) {
    core.ccall('v2bspProduce', null, ['string', 'number'], [message.parent, message.zip ? 1 : 0]);
  },
  extract(core, message) {
    for (const [path, outcome] of message.outcomes) {
      if (outcome.made) core.ccall('v2bspMade', null, ['string'], [path]);
      else if (outcome.existsAsFile) core.ccall('v2bspExistsAsFile', null, ['string'], [path]);
      else core.ccall('v2bspFailed', null, ['string', 'string'], [path, outcome.reason]);
      if (outcome.names) core.ccall('v2bspListed', null, ['string', 'string'], [path, outcome.names.join('/')]);
    }
    core.ccall('v2bspExtract', null, ['string'], [message.parent]);
  },
  level(core, message) {
    core.ccall('v2bspLevel', null, ['number', 'number'], [message.glb ? 1 : 0, message.upZ ? 1 : 0]);
  },
};

self.onmessage = async event => {
  const message = event.data;
  const core = await ready;
  events = [];
  call = message.type;
  try {
    handlers[message.type](core, message);
  } catch (error) {
    events.push(['crashed', String(error && error.message || error), '']);
  }
  flush(message.type);
};
