// Where a stream sits: the container around it, as the bytes near the
// stream show it (a zip entry, a gzip member, a PNG chunk, a PDF object, a
// git object). Every field is read from the file and checked against the
// stream; nothing is guessed from a file's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quarn {

enum class TContainerKind : uint8_t { None, Zip, Gzip, Png, Pdf, GitObject, GitPack };

// The name a container kind is given out as ("zip", "gzip", "png", "pdf",
// "git-object", "git-pack"; "" for None).
const char* ContainerKindName(TContainerKind kind);

struct TContainer {
  TContainerKind Kind = TContainerKind::None;
  // Where the container's own record of the stream starts: a zip entry's
  // local header, a gzip member's header, a PNG chunk's length field, a
  // PDF object's number, a git pack entry's header. -1 where there is none
  // (a loose git object is the stream itself).
  int64_t Offset = -1;
  // gzip: the member's index in its run of members (0 first); PNG: the
  // chunk's index in its file (0 the chunk after the signature).
  int64_t Index = -1;
  // zip: the entry's name; gzip: FNAME; both as the bytes stand.
  std::optional<std::string> Name;
  // gzip: MTIME, when not 0.
  std::optional<uint32_t> Mtime;
  // PNG: the chunk type ("IDAT", "iCCP", "zTXt", "iTXt"); git: the object
  // type ("blob", "tree", "commit", "tag", and in a pack "ofs-delta",
  // "ref-delta").
  std::string Type;
  // PDF: the object and generation numbers, and the filter its dictionary
  // names ("FlateDecode", or the first of an array).
  int64_t Object = -1;
  int64_t Generation = -1;
  std::string Filter;
  // git: the object's size as its header gives it.
  int64_t Size = -1;

  friend bool operator==(const TContainer&, const TContainer&) = default;
};

}  // namespace quarn
