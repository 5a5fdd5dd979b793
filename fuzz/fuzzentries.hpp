// The fuzz entry points, as plain (data, size) functions: the libFuzzer
// targets call them, and the fault tests replay every saved finding through
// the very same code.
//
// Each returns an empty string when every rule held, or a sentence naming the
// first rule that broke. Memory errors and undefined behaviour are left to the
// sanitizers of the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace v2bsp::fuzz {

// Extracts `data` as a whole map file held in memory, writing the mesh files
// and both whole-level files to a sink that takes every folder and file,
// checks the text and keeps none of it.
// Rules: a first-regime failure comes with a reason, after nothing was created;
// the log follows the stages in order with one "Making Mesh #N" per mesh-table
// entry read; no more entries are read than the file holds; the folder is one
// safe name inside the output parent; every mesh file is well-formed OBJ text
// with one vertex line per whole vertex of its section; the whole-level OBJ
// has one object per mesh written and well-formed lines, the glb a sound
// container; the result's counts agree with the log and the files.
std::string extractBytes(const std::uint8_t* data, std::size_t size);

// Runs the readers, hextonum, the float decoding, numtext, the OBJ text, the
// name helpers and the marker search over `data`, each checked against an
// independent route: readu32 against the bytes and against hextonum of
// readhex32, `inside` against 128-bit arithmetic, decodeFloat against
// hextofloat, numtext against numtextReference and against the value rounded
// to 15 digits, the byte route of the OBJ text against the hex route, and
// findSections against a plain scan.
std::string checkreaders(const std::uint8_t* data, std::size_t size);

// Takes `data` as a map name (the bytes before the first zero byte) and a
// map file's name (the bytes after it), any bytes. Rules: outputFolderName
// gives valid UTF-8, not empty, without a separator, control or reserved
// character, not "." or "..", no device name that Windows reserves (checked
// by the rule stated anew), neither beginning nor ending in a blank or dot;
// caseKey changes nothing of its own result, is each letter's uppercase by
// the table read as it stands, and is the same for the name spelt in any
// other case the table allows.
std::string checknames(const std::uint8_t* data, std::size_t size);

}  // namespace v2bsp::fuzz
