// A library loader played entirely in memory, for tests of the start-up
// probe: which files are "present", which names each one lacks, and a log
// of every call the probe makes, with the error mode in force at each load.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "inflate/library_loader.h"

namespace quarn::test {

// The version text of every fake library; its first character agrees with
// the built-in engine's, so a fake that forwards to it is accepted.
inline const char* FakeZlibVersion() { return "1.fake"; }
inline void FakeUncalledEntry() {}

class TFakeLibraryLoader final : public TLibraryLoader {
 public:
  explicit TFakeLibraryLoader(uint32_t initialMode = 0x0003) : mode_(initialMode) {}

  // Makes `fileName` loadable. It exports every name except `lacking`;
  // `entries` gives chosen addresses, other names get a dummy (zlibVersion
  // gets FakeZlibVersion).
  void Add(const std::string& fileName, std::set<std::string> lacking = {},
           std::map<std::string, void*> entries = {}) {
    libraries_[fileName] = TLibrary{fileName, std::move(lacking), std::move(entries)};
  }

  // Writes "freed <file name>" to stderr on every Free, for tests that can
  // only watch a process from outside.
  void ReportFreesOnStderr() { reportFrees_ = true; }

  TLibraryHandle Load(const char* fileName) override {
    loads.emplace_back(fileName);
    modesAtLoad.push_back(mode_);
    auto found = libraries_.find(fileName);
    return found == libraries_.end() ? nullptr : &found->second;
  }

  void* FindEntry(TLibraryHandle library, const char* name) override {
    const TLibrary& lib = *static_cast<TLibrary*>(library);
    finds.push_back(lib.fileName + ":" + name);
    if (lib.lacking.count(name) != 0) return nullptr;
    if (auto chosen = lib.entries.find(name); chosen != lib.entries.end()) return chosen->second;
    if (std::string(name) == "zlibVersion") return reinterpret_cast<void*>(&FakeZlibVersion);
    return reinterpret_cast<void*>(&FakeUncalledEntry);
  }

  void Free(TLibraryHandle library) override {
    const std::string& fileName = static_cast<TLibrary*>(library)->fileName;
    frees.push_back(fileName);
    if (reportFrees_) std::fprintf(stderr, "freed %s\n", fileName.c_str());
  }

  uint32_t SetErrorMode(uint32_t mode) override {
    modeChanges.push_back(mode);
    return std::exchange(mode_, mode);
  }

  // The handle that Load gives for `fileName`; null when it is absent.
  TLibraryHandle HandleOf(const std::string& fileName) {
    auto found = libraries_.find(fileName);
    return found == libraries_.end() ? nullptr : &found->second;
  }

  uint32_t Mode() const { return mode_; }

  void ClearLog() {
    loads.clear();
    modesAtLoad.clear();
    finds.clear();
    frees.clear();
    modeChanges.clear();
  }

  std::vector<std::string> loads;     // file names, in order
  std::vector<uint32_t> modesAtLoad;  // the error mode in force at each load
  std::vector<std::string> finds;     // "file:name", in order
  std::vector<std::string> frees;     // file names, in order
  std::vector<uint32_t> modeChanges;  // arguments of SetErrorMode, in order

 private:
  struct TLibrary {
    std::string fileName;
    std::set<std::string> lacking;
    std::map<std::string, void*> entries;
  };
  std::map<std::string, TLibrary> libraries_;  // node-based: handles stay put
  uint32_t mode_;
  bool reportFrees_ = false;
};

}  // namespace quarn::test
