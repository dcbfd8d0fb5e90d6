// Stream extraction. Memory stays bounded: a stream is inflated in 64 KiB
// pieces, each written before the next is made. The pieces come from the
// scan's own trial inflation (engine/trial_inflation.h), so a stream cut
// short by bad data stops at the very byte where the scan's trial stopped,
// and the comparison of the counts is exact.
#include "cli/stream_extractor.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>

#include "engine/kept_output.h"
#include "engine/nested_streams.h"
#include "engine/stream_detector.h"
#include "util/errors.h"
#include "util/platform/file_system.h"
#include "util/platform/temporary_file.h"

namespace quarn::cli {
namespace {

[[noreturn]] void FailOn(const std::string& path, const std::string& what, int errorNumber) {
  throw TExtractError("Cannot " + what + " \"" + path + "\": " + platform::SystemErrorText(errorNumber));
}

std::string BaseName(const std::string& path) {
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A stream's file, written without a name and linked under its final name
// only once whole (platform/temporary_file.h). Failures raise TQuarnError
// naming the final path.
class TOutputFile {
 public:
  explicit TOutputFile(const std::string& directory) {
    if (const int error = file_.Create(directory)) FailOn(directory, "write into", error);
  }
  void Write(const uint8_t* data, std::size_t bytes, const std::string& finalPath) {
    if (const int error = file_.Write(data, bytes)) FailOn(finalPath, "write", error);
  }
  void Link(const std::string& finalPath, bool replace) {
    const int error = file_.MoveTo(finalPath, replace);
    if (error == EEXIST) throw TExtractError("File \"" + finalPath + "\" already exists; use --force to replace it.");
    if (error != 0) FailOn(finalPath, "write", error);
  }

 private:
  platform::TTemporaryFile file_;
};

// Writes every inflated byte of the replayed trial; ends the trial once
// more came out than the scan counted, which can only be a mismatch.
class TWriteInflated final : public TInflatedBytes {
 public:
  TWriteInflated(TOutputFile& out, const std::string& finalPath, uint64_t countedBytes, const TScanControl* control)
      : out_(out), finalPath_(finalPath), countedBytes_(countedBytes), control_(control) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    if (control_ != nullptr) control_->ThrowIfCancelled();
    out_.Write(bytes, count, finalPath_);
    writtenBytes_ += count;
    return writtenBytes_ <= countedBytes_;
  }

 private:
  TOutputFile& out_;
  const std::string& finalPath_;
  const uint64_t countedBytes_;
  const TScanControl* const control_;
  uint64_t writtenBytes_ = 0;
};

// Keeps every inflated byte of the replayed trial, for the streams nested
// in it; ends the trial once more came out than the scan counted.
class TKeepInflated final : public TInflatedBytes {
 public:
  TKeepInflated(TKeptOutput& kept, uint64_t countedBytes, const TScanControl* control)
      : kept_(kept), countedBytes_(countedBytes), control_(control) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    if (control_ != nullptr) control_->ThrowIfCancelled();
    kept_.Take(bytes, count);
    return kept_.Size() <= countedBytes_;
  }

 private:
  TKeptOutput& kept_;
  const uint64_t countedBytes_;
  const TScanControl* const control_;
};

}  // namespace

std::string CleanedBaseName(const std::string& sourcePath) {
  std::string name = BaseName(sourcePath);
  for (char& c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '/' || c == '\\') c = '_';
  }
  if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
  if (name.size() > 200) name.resize(200);
  return name;
}

std::vector<std::string> PlanStems(const std::vector<std::string>& files) {
  std::vector<std::string> stems;
  stems.reserve(files.size());
  std::set<std::string> taken;
  for (const std::string& file : files) {
    const std::string base = CleanedBaseName(file);
    std::string stem = base;
    for (int64_t number = 2; !taken.insert(stem).second; ++number) stem = base + "~" + std::to_string(number);
    stems.push_back(std::move(stem));
  }
  return stems;
}

std::string ExtractedFileName(const std::string& stem, int64_t startBytes, bool hasHeader) {
  return NestedFileName(stem, {startBytes}, hasHeader);
}

std::string EntryFileName(const std::string& stem, const std::string& entryName) {
  std::string name;
  for (const char c : entryName) {
    const auto byte = static_cast<unsigned char>(c);
    name += byte < 0x20 || byte >= 0x7f || c == '/' || c == '\\' ? '_' : c;
  }
  if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
  const std::size_t room = 240 - std::min<std::size_t>(stem.size(), 200);
  if (name.size() > room) name.resize(room);
  return stem + "@" + name;
}

TStreamExtractor::TStreamExtractor(const std::vector<std::string>& files, TExtractOptions options,
                                   const TScanControl* control)
    : options_(std::move(options)), control_(control), stems_(PlanStems(files)) {
  const std::string& dir = options_.Directory;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) FailOn(dir, "create the directory", error.value());
  if (platform::StatusOf(dir).Kind != platform::TFileKind::Directory) {
    throw TQuarnError("Cannot write into \"" + dir + "\": Not a directory");
  }
}

std::string TStreamExtractor::PathFor(int32_t fileIndex, const TFoundStream& stream) {
  const std::string& stem = stems_[static_cast<std::size_t>(fileIndex)];
  std::string name = ExtractedFileName(stem, stream.StartBytes(), stream.HasHeader);
  if (!options_.NameByEntry) return options_.Directory + "/" + name;
  // Entry names may repeat, or look like another stream's offset name:
  // every name of the run is kept, and one given before gets the offset,
  // unique within a source, as stems are across the run.
  const TContainer* const container = stream.Container.get();
  if (container != nullptr && container->Kind == TContainerKind::Zip && container->Name) {
    name = EntryFileName(stem, *container->Name);
  }
  const std::lock_guard<std::mutex> hold(entryNamesLock_);
  if (!entryNames_.insert(name).second) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "~0x%llx", static_cast<unsigned long long>(stream.StartBytes()));
    name += hex;
    while (!entryNames_.insert(name).second) name += "~";
  }
  return options_.Directory + "/" + name;
}

void TStreamExtractor::Replay(TBlock block, const TFoundStream& stream, TInflatedBytes& output,
                              const TMappedFile& file) {
  TTrialOutcome replay;
  if (stream.OffsetBytes >= 0 && stream.OffsetBytes < block.Size) replay = TScanner().Trial(block, stream.OffsetBytes, &output);
  const bool endedAlike = stream.Complete ? replay.Complete() : replay.Accepted(true) && !replay.Complete();
  if (file.ChangedWhileMapped()) {
    throw TFileChangedError(file.FileName());
  }
  if (!endedAlike || replay.InBytes != stream.InBytes || replay.OutBytes != stream.OutBytes) {
    throw TFileChangedError(file.FileName(), "the stream at offset " + std::to_string(stream.StartBytes()) +
                                                 " now inflates " + std::to_string(replay.InBytes) + " bytes to " +
                                                 std::to_string(replay.OutBytes) + ", where the scan counted " +
                                                 std::to_string(stream.InBytes) + " to " +
                                                 std::to_string(stream.OutBytes) + ".");
  }
}

void TStreamExtractor::Write(TBlock block, const TFoundStream& stream, const std::string& path, const TMappedFile& file) {
  TOutputFile out(options_.Directory);
  TWriteInflated writer(out, path, stream.OutBytes, control_);
  Replay(block, stream, writer, file);
  out.Link(path, options_.Force);
  streamsWritten_.fetch_add(1);
  bytesWritten_.fetch_add(static_cast<int64_t>(stream.OutBytes));
}

void TStreamExtractor::WriteNested(int32_t fileIndex, TBlock parent, const TFoundStream& stream, TChain& chain,
                                   const TMappedFile& file) {
  if (!stream.Nested) return;
  for (const TFoundStream& nested : *stream.Nested) {
    // A stream a limit stopped at was not confirmed: there is nothing whole to write.
    if (nested.SkippedBy != TNestLimit::None) continue;
    chain.push_back(nested.StartBytes());
    if (nested.OutBytes >= options_.MinSizeBytes) {
      Write(parent, nested, options_.Directory + "/" + NestedFileName(stems_[static_cast<std::size_t>(fileIndex)], chain, nested.HasHeader), file);
    }
    if (nested.Nested) {
      TKeptOutput kept;
      TKeepInflated keeper(kept, nested.OutBytes, control_);
      Replay(parent, nested, keeper, file);
      WriteNested(fileIndex, kept.Bytes(), nested, chain, file);
    }
    chain.pop_back();
  }
}

void TStreamExtractor::Extract(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream) {
  const TBlock block{file.Memory(), file.Size()};
  if (stream.OutBytes >= options_.MinSizeBytes) Write(block, stream, PathFor(fileIndex, stream), file);
  if (!stream.Nested) return;
  TKeptOutput kept;
  TKeepInflated keeper(kept, stream.OutBytes, control_);
  Replay(block, stream, keeper, file);
  TChain chain{stream.StartBytes()};
  WriteNested(fileIndex, kept.Bytes(), stream, chain, file);
}

std::string NestedFileName(const std::string& stem, const TChain& chain, bool hasHeader) {
  return stem + ChainText(chain) + (hasHeader ? ".zlib" : ".raw");
}

}  // namespace quarn::cli
