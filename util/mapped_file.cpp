// TMappedFile over the platform layer's whole-file mapping.
#include "util/mapped_file.h"

#include <cerrno>

#include "util/errors.h"
#include "util/platform/file_system.h"

namespace quarn {

bool FileExistsLong(const std::string& path) {
  const platform::TFileKind kind = platform::StatusOf(path).Kind;
  return kind == platform::TFileKind::Regular || kind == platform::TFileKind::Special;
}

int64_t GetFileSize64(const std::string& path) { return platform::StatusOf(path).SizeBytes; }

TMappedFile::TMappedFile(const std::string& aFilename) : FFileName(aFilename) {
  const platform::TFileStatus status = platform::StatusOf(aFilename);
  if (status.Kind == platform::TFileKind::Missing || status.Kind == platform::TFileKind::Directory) {
    throw TQuarnError("File \"" + aFilename + "\" does not exists.");
  }
  if (status.Kind == platform::TFileKind::Special) return;  // never opened: reads as empty

  platform::TMapResult result = platform::MapWholeFile(aFilename);
  switch (result.Failure) {
    case platform::TMapFailure::None:
      break;
    case platform::TMapFailure::Open:
      if (result.ErrorNumber == ENOENT) throw TQuarnError("File \"" + aFilename + "\" does not exists.");
      throw TQuarnError("File \"" + aFilename + "\" cannot be opened: " +
                        platform::SystemErrorText(result.ErrorNumber) + ".");
    case platform::TMapFailure::Status:
    case platform::TMapFailure::Map:
      throw TQuarnError("File \"" + aFilename + "\" cannot be mapped: " +
                        platform::SystemErrorText(result.ErrorNumber) + ".");
  }
  FMapping = result.Mapping;
  FContent = FMapping.Content;
  FSize = FContent != nullptr ? FMapping.SizeBytes : 0;
}

TMappedFile::~TMappedFile() { platform::ReleaseMapping(FMapping); }

bool TMappedFile::ChangedWhileMapped() const { return platform::MappingLostPages(FMapping); }

}  // namespace quarn
