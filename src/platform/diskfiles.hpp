// The real file system behind the output seam, one implementation for each
// operating system (posix/, win32/).
//
// Every file goes through a handle of its folder: the folders a run creates
// are opened once, without following links, and kept open, and every file is
// made and renamed relative to that handle, so neither a link planted at a
// folder's place nor a folder swapped for a link during a run can send a file
// elsewhere. A folder it did not create (the parent the user chose) is opened
// as the user named it, links followed.
//
// Temporary files are unnamed where the file system allows, and get a name
// only for the instant between being linked and renamed into place;
// elsewhere they have a random name. While one has a name it is registered,
// so that installTemporaryCleanup's handlers can remove it.
#pragma once

#include <functional>
#include <memory>

#include "platform/outputfiles.hpp"

namespace v2bsp {

struct DiskFilesOptions {
    // False makes every temporary file a named one, as on a file system
    // without unnamed files.
    bool unnamedTemporaries = true;
    // Called once a temporary file is open and holds a first piece.
    std::function<void()> whileWriting;
};

// A DiskFiles may be called from several threads at once.
std::unique_ptr<OutputFiles> makeDiskFiles(DiskFilesOptions options = {});

// Installs handlers for the signals that end a process from outside (SIGINT,
// SIGTERM and SIGHUP, where they are not ignored) that remove every
// registered temporary file and then end the process by the same signal.
// Call once, early, from a program's main.
void installTemporaryCleanup();

// Makes a write to a closed pipe or past the file-size limit fail with its
// reason (EPIPE, EFBIG) instead of ending the process by SIGPIPE or SIGXFSZ,
// so that the program reports it as any other failed write. Call once,
// early, from a program's main; a system without these signals does nothing.
void reportWriteSignalsAsErrors();

}  // namespace v2bsp
