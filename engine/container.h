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

// Hands each field that `c` has to `number(key, int64_t)` or to
// `text(key, const std::string& bytes)`, under the key that quarn-scan's
// JSON and the Python module both give it, in that order, "kind" first.
template <typename TNumber, typename TText>
void ForEachContainerField(const TContainer& c, TNumber&& number, TText&& text) {
  text("kind", std::string(ContainerKindName(c.Kind)));
  if (c.Offset >= 0) number("offset", c.Offset);
  if (c.Index >= 0) number(c.Kind == TContainerKind::Gzip ? "member" : "index", c.Index);
  if (c.Name) text("name", *c.Name);
  if (c.Mtime) number("mtime", static_cast<int64_t>(*c.Mtime));
  if (!c.Type.empty()) text(c.Kind == TContainerKind::Png ? "chunk" : "type", c.Type);
  if (c.Object >= 0) number("object", c.Object);
  if (c.Generation >= 0) number("generation", c.Generation);
  if (!c.Filter.empty()) text("filter", c.Filter);
  if (c.Size >= 0) number("size", c.Size);
}

}  // namespace quarn
