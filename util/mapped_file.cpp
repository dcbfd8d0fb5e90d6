// TMappedFile over the platform layer's whole-file mapping.
#include "util/mapped_file.h"

#include <optional>

#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {

bool FileExistsLong(const std::string& path) {
  const platform::TFileKind kind = platform::StatusOf(path).Kind;
  return kind != platform::TFileKind::Missing && kind != platform::TFileKind::Directory;
}

int64_t GetFileSize64(const std::string& path) { return platform::StatusOf(path).SizeBytes; }

namespace {

[[noreturn]] void RaiseMissing(const std::string& name) {
  throw TMissingFileError("File \"" + name + "\" does not exists.");
}

// A name that exists but cannot be reached says why, in the system's words.
[[noreturn]] void RaiseUnreachable(const std::string& name, const char* what, int errorNumber) {
  throw TQuarnError("File \"" + name + "\" " + what + ": " + platform::SystemErrorText(errorNumber) + ".");
}

}  // namespace

TMappedFile::TMappedFile(const std::string& aFilename) : FFileName(aFilename) {
  const platform::TFileStatus status = platform::StatusOf(aFilename);
  switch (status.Kind) {
    case platform::TFileKind::Missing:
      if (platform::IsNoSuchName(status.ErrorNumber)) RaiseMissing(aFilename);
      RaiseUnreachable(aFilename, "cannot be opened", status.ErrorNumber);
    case platform::TFileKind::Directory:
      throw TQuarnError("File \"" + aFilename + "\" is a folder, not a file.");
    case platform::TFileKind::Unreadable:
      throw TQuarnError("File \"" + aFilename + "\" is not a regular file.");
    default:
      break;
  }

  platform::TMapResult result = platform::MapWholeFile(aFilename);
  switch (result.Failure) {
    case platform::TMapFailure::None:
      break;
    case platform::TMapFailure::Open:
      if (platform::IsNoSuchName(result.ErrorNumber)) RaiseMissing(aFilename);
      RaiseUnreachable(aFilename, "cannot be opened", result.ErrorNumber);
    case platform::TMapFailure::NotRegular:
      throw TQuarnError("File \"" + aFilename + "\" is not a regular file.");
    case platform::TMapFailure::Read:
      RaiseUnreachable(aFilename, "cannot be read", result.ErrorNumber);
    case platform::TMapFailure::TooLarge:
      throw TQuarnError("File \"" + aFilename + "\" cannot be read: its size reads 0, and it goes on past " +
                        std::to_string(platform::kMaxReadBytes >> 20) + " MiB.");
    case platform::TMapFailure::Spool:
      RaiseUnreachable(aFilename, "cannot be copied to a temporary file", result.ErrorNumber);
    case platform::TMapFailure::Status:
    case platform::TMapFailure::Map:
      RaiseUnreachable(aFilename, "cannot be mapped", result.ErrorNumber);
  }
  FMapping = result.Mapping;
  FContent = FMapping.Content;
  FSize = FContent != nullptr ? FMapping.SizeBytes : 0;
}

TMappedFile::~TMappedFile() { platform::ReleaseMapping(FMapping); }

void TMappedFile::ReleasePages(int64_t fromBytes, int64_t toBytes) const {
  platform::ReleaseMappedPages(FMapping, fromBytes, toBytes);
}

bool TMappedFile::ChangedWhileMapped() const {
  if (platform::MappingLostPages(FMapping)) return true;
  if (!FMapping.StampWhenMapped) return false;
  const std::optional<platform::TFileStamp> now = platform::CurrentStamp(FMapping);
  return !now || *now != *FMapping.StampWhenMapped;
}

}  // namespace quarn
