// A zip of stored (uncompressed) files, for a browser that cannot write into
// a folder: the mesh files as they are, each with its CRC-32, names in UTF-8.
// Without the 64-bit extension: the whole zip stays under 4 GiB and 65,535
// files, and a file that would pass that is refused.
'use strict';

const kCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(pieces) {
  let crc = 0xFFFFFFFF;
  for (const piece of pieces) {
    for (let i = 0; i < piece.length; ++i) crc = kCrcTable[(crc ^ piece[i]) & 0xFF] ^ (crc >>> 8);
  }
  return (crc ^ 0xFFFFFFFF) >>> 0;
}

// The time in the form zip headers keep it (local time, two-second steps).
function dosTime(date) {
  const time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  const day = ((Math.max(date.getFullYear(), 1980) - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  return {time, day};
}

class ZipWriter {
  constructor(date = new Date()) {
    this.parts = [];        // the zip's bytes, in order: headers and the files' pieces
    this.directory = [];    // the central directory's entries
    this.offset = 0;
    this.stamp = dosTime(date);
  }

  // A file `name` ("folder/mesh0.obj") of the pieces (Uint8Arrays), in order;
  // their CRC-32 when the caller has it.
  add(name, pieces, crc = crc32(pieces)) {
    const nameBytes = new TextEncoder().encode(name);
    const size = pieces.reduce((sum, piece) => sum + piece.length, 0);
    const header = 30 + nameBytes.length;
    if (this.offset + header + size > 0xFFFFFFFF) throw new Error('The zip would be larger than 4 GiB');
    if (this.directory.length === 0xFFFF) throw new Error('The zip would hold more than 65,535 files');
    const local = new DataView(new ArrayBuffer(header));
    local.setUint32(0, 0x04034B50, true);
    this.fillCommon(local, 4, crc, size);
    new Uint8Array(local.buffer).set(nameBytes, 30);
    this.directory.push({nameBytes, crc, size, offset: this.offset});
    this.parts.push(local.buffer, ...pieces);
    this.offset += header + size;
  }

  // Version needed, flags (bit 11: the name is UTF-8), stored, time, CRC, sizes, name length.
  fillCommon(view, at, crc, size, nameLength) {
    view.setUint16(at, 20, true);
    view.setUint16(at + 2, 0x0800, true);
    view.setUint16(at + 4, 0, true);
    view.setUint16(at + 6, this.stamp.time, true);
    view.setUint16(at + 8, this.stamp.day, true);
    view.setUint32(at + 10, crc, true);
    view.setUint32(at + 14, size, true);
    view.setUint32(at + 18, size, true);
    view.setUint16(at + 22, nameLength ?? view.byteLength - 30, true);
  }

  // The whole zip, as a Blob.
  finish() {
    const start = this.offset;
    let length = 0;
    for (const entry of this.directory) {
      const view = new DataView(new ArrayBuffer(46 + entry.nameBytes.length));
      view.setUint32(0, 0x02014B50, true);
      view.setUint16(4, 20, true);  // made by: version 2.0
      this.fillCommon(view, 6, entry.crc, entry.size, entry.nameBytes.length);
      view.setUint32(42, entry.offset, true);
      new Uint8Array(view.buffer).set(entry.nameBytes, 46);
      this.parts.push(view.buffer);
      length += view.byteLength;
    }
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054B50, true);
    end.setUint16(8, this.directory.length, true);
    end.setUint16(10, this.directory.length, true);
    end.setUint32(12, length, true);
    end.setUint32(16, start, true);
    this.parts.push(end.buffer);
    return new Blob(this.parts, {type: 'application/zip'});
  }
}
