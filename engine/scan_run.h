// One scan of a list of files, as the window, quarn-scan and the Python
// module all run it, and the one expansion of the names a user gives into
// that list.
//
// ListNames turns names into files: a folder gives its files (with
// Recursive, its subfolders' too), anything else stands for itself and
// fails in its run when it is no file; each file is listed once, however
// many names lead to it. RunScan runs ScanFile over the files on the
// worker pool under one thread policy, cuts large files into chunks for
// idle workers, and tells a TScanSink what it finds. The window builds its
// list by its own rules (BuildFileList), each file once too, and runs it
// here.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "engine/directory_listing.h"
#include "engine/scan_sink.h"
#include "engine/scan_state.h"

namespace quarn {

struct TListOptions {
  bool Recursive = false;
  bool StandardInput = false;  // "-" names standard input (the command line's way)
  bool KeepGoing = false;      // a folder that cannot be listed is kept in Failures, not raised
};

// A name given whose folder could not be listed, and the TPathError that
// says why (naming the folder that failed, which may lie below it).
struct TNameFailure {
  std::string Name;
  std::exception_ptr Error;
};

struct TNameListing {
  std::vector<std::string> Files;
  TListingNotes Notes;                 // entries left out of the folders listed, and names of a file listed already
  std::vector<TNameFailure> Failures;  // with KeepGoing, in the order of the names
};

// The files that a scan of `names` covers, in the order of the names, each
// file once: a later name of a file already listed (through a link, a
// hard link or another name given) is left out and put in
// Notes.SameFiles (see LeaveOutSameFiles). Without KeepGoing, raises the
// TPathError of the first folder that cannot be listed.
TNameListing ListNames(const std::vector<std::string>& names, const TListOptions& options);

// The one thread policy of a scan: `Threads` workers in all, of which at
// most `FilesAtOnce` scan files of their own; the others help with the
// chunks of large files.
struct TScanThreads {
  int Threads = 0;
  int FilesAtOnce = 0;
};
// With `requested` 0: 2 × P threads, P being the number of logical
// processors, and min(2 × P, files) files at once. Otherwise `requested`
// threads and min(requested, files) files at once.
TScanThreads ScanThreadsFor(int32_t files, int requested = 0);

// Scans every entry of `files` on the worker pool, adding to `state`,
// whose `j` must be -1 and `Options` set; `files` must not change until
// it returns. Sets the totals of `state.Control` first (the files and
// their sizes) and counts progress there. `sink`, when given, hears every
// stream and every file's end; a failure it does not handle ends the scan
// with one TAggregateError, after the running files finished. When the
// stop was requested in `state.Control` before it returns, raises
// TScanCancelled instead, whatever else happened: the totals are then
// partial and must not be shown as a result. `threads` as ScanThreadsFor
// takes it.
void RunScan(const std::vector<std::string>& files, TScanState& state, TScanSink* sink = nullptr, int threads = 0);

}  // namespace quarn
