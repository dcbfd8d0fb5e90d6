// Stream extraction. Memory stays bounded: a stream is inflated in 64 KiB
// pieces, each written before the next is made. The pieces come from the
// scan's own trial inflation (engine/trial_inflation.h), so exactly the
// bytes that the scan's trial produced are written (for a stream cut
// short, what came out before the cut or the bad data).
#include "cli/stream_extractor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "engine/trial_inflation.h"
#include "inflate/inflate_record.h"
#include "util/errors.h"
#include "util/mapped_file.h"
#include "util/platform/file_system.h"
#include "util/platform/temporary_file.h"

namespace quarn::cli {
namespace {

[[noreturn]] void FailOn(const std::string& path, const std::string& what, int errorNumber) {
  throw TQuarnError("Cannot " + what + " \"" + path + "\": " + platform::SystemErrorText(errorNumber));
}

std::string Hex(int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string BaseName(const std::string& path) {
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A stream's file under a temporary name in the target directory; removed
// again unless Commit() renamed it into place. Failures raise TQuarnError
// naming the final path.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& directory) {
    if (const int error = file_.Create(directory)) FailOn(directory, "write into", error);
  }

  void Write(const uint8_t* data, std::size_t bytes, const std::string& finalPath) {
    if (const int error = file_.Write(data, bytes)) FailOn(finalPath, "write", error);
  }

  void Commit(const std::string& finalPath, bool replace) {
    const int error = file_.MoveTo(finalPath, replace);
    if (error == EEXIST) {
      throw TQuarnError("File \"" + finalPath + "\" already exists; use --force to replace it.");
    }
    if (error != 0) FailOn(finalPath, "write", error);
  }

 private:
  platform::TTemporaryFile file_;
};

// Takes a trial's inflated bytes into the temporary file, up to the
// number that the scan counted for the stream.
class TWriteCountedBytes final : public TInflatedBytes {
 public:
  TWriteCountedBytes(TTemporaryFile& out, const std::string& finalPath, uint64_t countedBytes)
      : out_(out), finalPath_(finalPath), missingBytes_(countedBytes) {}
  bool Take(const uint8_t* bytes, std::size_t count) override {
    const auto taken = static_cast<std::size_t>(std::min<uint64_t>(count, missingBytes_));
    out_.Write(bytes, taken, finalPath_);
    missingBytes_ -= taken;
    return missingBytes_ > 0;
  }
  uint64_t MissingBytes() const { return missingBytes_; }

 private:
  TTemporaryFile& out_;
  const std::string& finalPath_;
  uint64_t missingBytes_;
};

// Inflates `stream` from the mapped source into `out` by the scan's own
// trial, writing exactly the bytes that the scan counted for it.
void WriteStream(const TMappedFile& source, const TFoundStream& stream, TTemporaryFile& out,
                 const std::string& finalPath) {
  const int64_t start = stream.OffsetBytes;
  TWriteCountedBytes writer(out, finalPath, stream.OutBytes);
  if (start >= 0 && start < source.Size()) {
    TInflateRecord inflater;
    std::vector<uint8_t> buffer(kInflateBufferBytes);
    InflateTrial(source.Memory(), source.Size(), start, inflater.Get(), buffer.data(), &writer);
  }
  if (writer.MissingBytes() > 0 || source.ChangedWhileMapped()) {
    throw TQuarnError("File \"" + source.FileName() + "\" changed while it was being scanned.");
  }
}

struct TPlanned {
  const TStreamToExtract* Item;
  std::string Path;
};

}  // namespace

std::string ExtractedFileName(const std::string& sourcePath, int64_t offsetBytes, bool hasHeader) {
  std::string name = BaseName(sourcePath);
  for (char& c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '/' || c == '\\') c = '_';
  }
  if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
  if (name.size() > 200) name.resize(200);  // leaves room for the suffixes within NAME_MAX
  return name + "@" + Hex(offsetBytes) + (hasHeader ? ".zlib" : ".raw");
}

TExtractSummary ExtractStreams(const std::vector<TStreamToExtract>& streams, const TExtractOptions& options) {
  const std::string& dir = options.Directory;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) FailOn(dir, "create the directory", error.value());
  if (platform::StatusOf(dir).Kind != platform::TFileKind::Directory) {
    throw TQuarnError("Cannot write into \"" + dir + "\": Not a directory");
  }

  // Sources that share a file name get "~2", "~3", ... in list order, so
  // every stream's name is unique and stable from run to run.
  std::map<std::string, std::map<std::string, int>> sourcesByName;
  std::vector<TPlanned> plan;
  for (const TStreamToExtract& item : streams) {
    if (item.Stream.OutBytes < options.MinSizeBytes) continue;
    auto& sources = sourcesByName[BaseName(item.SourcePath)];
    const int number = sources.emplace(item.SourcePath, static_cast<int>(sources.size()) + 1).first->second;
    std::string name = ExtractedFileName(item.SourcePath, item.Stream.OffsetBytes, item.Stream.HasHeader);
    if (number > 1) name.insert(name.rfind('@'), "~" + std::to_string(number));
    plan.push_back({&item, dir + "/" + name});
  }
  if (!options.Force) {
    for (const TPlanned& p : plan) {
      if (std::filesystem::symlink_status(p.Path, error).type() != std::filesystem::file_type::not_found) {
        throw TQuarnError("File \"" + p.Path + "\" already exists; use --force to replace it.");
      }
    }
  }

  TExtractSummary summary;
  std::unique_ptr<TMappedFile> source;
  for (const TPlanned& p : plan) {
    if (!source || source->FileName() != p.Item->SourcePath) {
      source.reset();
      source = std::make_unique<TMappedFile>(p.Item->SourcePath);
    }
    TTemporaryFile out(dir);
    WriteStream(*source, p.Item->Stream, out, p.Path);
    out.Commit(p.Path, options.Force);
    ++summary.StreamsWritten;
    summary.BytesWritten += static_cast<int64_t>(p.Item->Stream.OutBytes);
  }
  return summary;
}

}  // namespace quarn::cli
