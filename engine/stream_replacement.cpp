// The replacement of one stream: finding it as the scan does, choosing the
// encoder, checking the result by inflating it with zlib, and writing the
// copy through a temporary file.
#include "engine/stream_replacement.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "engine/container_finder.h"
#include "engine/found_stream_fingerprint.h"
#include "engine/stream_detector.h"
#include "util/mapped_file.h"
#include "util/platform/file_system.h"
#include "util/platform/temporary_file.h"

namespace quarn {
namespace {

// Collects the streams a scanner hands out.
class TKeepStreams final : public TStreamSink {
 public:
  void StreamFound(const TFoundStream& stream) override { streams.push_back(stream); }
  std::vector<TFoundStream> streams;
};

// The complete stream that starts at `start`, as a scan with proof and
// --headerless finds it there: a zlib stream when a header stands at
// `start`, else raw deflate.
std::optional<TFoundStream> StreamStartingAt(TBlock block, int64_t start) {
  TScanOptions options;
  options.Headerless = true;
  options.Verified = true;  // small and fixed-code zlib streams too, as their Adler-32 proves them
  for (const int64_t deflateAt : {start + 2, start}) {
    if (deflateAt >= block.Size) continue;
    TKeepStreams sink;
    TScanner(options).FindStreams(block, {deflateAt, deflateAt + 1}, sink);
    for (const TFoundStream& stream : sink.streams) {
      if (stream.StartBytes() == start && stream.Complete) return stream;
    }
  }
  return std::nullopt;
}

// Whether the bytes at `start` of `block` inflate (zlib with its header
// and trailer checked, or raw deflate) to exactly `expected`, ending after
// `streamBytes` bytes.
bool InflatesTo(TBlock block, int64_t start, bool header, uint64_t streamBytes, std::span<const uint8_t> expected) {
  if (start < 0 || start > block.Size || streamBytes > static_cast<uint64_t>(block.Size - start)) return false;
  z_stream z{};
  if (inflateInit2(&z, header ? 15 : -15) != Z_OK) return false;
  std::vector<uint8_t> out(expected.size() + 1);  // one more: data past the expected end shows
  z.next_in = const_cast<Bytef*>(block.Memory + start);
  z.avail_in = static_cast<uInt>(std::min<uint64_t>(streamBytes, UINT32_MAX));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT32_MAX));
  const int code = inflate(&z, Z_FINISH);
  const bool whole = code == Z_STREAM_END && z.avail_in == 0 && z.total_out == expected.size() &&
                     std::equal(expected.begin(), expected.end(), out.begin());
  inflateEnd(&z);
  return whole;
}

std::vector<TEncoderSettings> StrongestFirst(const TFoundStream& stream, std::size_t dataBytes) {
  // A header's window bounds the encoder's: libdeflate and zopfli always
  // use 32 KiB.
  const int windowBits = stream.HasHeader ? std::max(9, stream.CINFO + 8) : 15;
  std::vector<TEncoderSettings> order;
  if (windowBits == 15) {
    if (EncoderAvailable(TEncoder::Zopfli) && dataBytes <= kZopfliMaxBytes) {
      order.push_back({TEncoder::Zopfli, -1, TZlibStrategy::Default, 8, 15});
    }
    if (EncoderAvailable(TEncoder::Libdeflate)) {
      for (int level = 12; level >= 1; --level) {
        order.push_back({TEncoder::Libdeflate, static_cast<int8_t>(level), TZlibStrategy::Default, 8, 15});
      }
    }
  }
  for (int level = 9; level >= 1; --level) {
    order.push_back(
        {TEncoder::Zlib, static_cast<int8_t>(level), TZlibStrategy::Default, 9, static_cast<int8_t>(windowBits)});
  }
  return order;
}

std::string DirectoryOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

TReplacement PlanReplacement(TBlock source, int64_t startBytes, std::span<const uint8_t> data) {
  const std::optional<TFoundStream> found =
      startBytes >= 0 && startBytes < source.Size ? StreamStartingAt(source, startBytes) : std::nullopt;
  if (!found) {
    throw TReplaceError("No complete zlib or raw deflate stream starts at offset " + std::to_string(startBytes) +
                        ".");
  }
  TReplacement plan;
  plan.Stream = *found;
  const TFoundStream& stream = plan.Stream;
  const uint64_t headerBytes = stream.HasHeader ? 2 : 0;
  const uint64_t trailerBytes = stream.HasHeader ? 4 : 0;
  const uint64_t wrapperBytes = headerBytes + trailerBytes;
  plan.PlaceBytes = std::min<uint64_t>(headerBytes + stream.InBytes + trailerBytes,
                                       static_cast<uint64_t>(source.Size - stream.StartBytes()));
  if (std::optional<TContainer> container = TContainerFinder(source).Find(stream)) {
    plan.Container = std::make_shared<const TContainer>(std::move(*container));
  }

  std::vector<TEncoderSettings> order;
  TFoundStreamFingerprinter fingerprinter;
  const TStreamFingerprint own = fingerprinter.Fingerprint(source, stream);
  if (own.Settings) order.push_back(*own.Settings);
  for (const TEncoderSettings& settings : StrongestFirst(stream, data.size())) {
    if (!own.Settings || settings != *own.Settings) order.push_back(settings);
  }

  std::optional<std::vector<uint8_t>> best;
  TEncoderSettings bestSettings;
  for (const TEncoderSettings& settings : order) {
    std::optional<std::vector<uint8_t>> deflate = Encode(settings, data);
    if (!deflate) continue;
    if (!best || deflate->size() < best->size()) {
      best = std::move(deflate);
      bestSettings = settings;
    }
    if (best->size() + wrapperBytes <= plan.PlaceBytes) break;
  }
  if (!best) throw TReplaceError("No encoder could compress the new data.");
  if (best->size() + wrapperBytes > plan.PlaceBytes) {
    throw TReplaceError("The new data does not fit the stream at offset " + std::to_string(startBytes) +
                        ": the smallest result, from " + SettingsLabel(bestSettings) + ", is " +
                        std::to_string(best->size() + wrapperBytes - plan.PlaceBytes) + " bytes too big (" +
                        std::to_string(best->size() + wrapperBytes) + " bytes for a place of " +
                        std::to_string(plan.PlaceBytes) + "). Nothing was written.");
  }
  plan.Settings = bestSettings;
  plan.OwnSettings = own.Settings && bestSettings == *own.Settings;
  if (stream.HasHeader) {
    // CMF as it was (the window, CINFO); FLEVEL as the new encoder writes
    // it, so that the new stream's fingerprint finds it; FCHECK to match.
    const unsigned cmf = source.Memory[stream.StartBytes()];
    unsigned flg = static_cast<unsigned>(HeaderFlevel(bestSettings)) << 6;
    flg |= (31 - (cmf * 256 + flg) % 31) % 31;
    plan.Bytes = {static_cast<uint8_t>(cmf), static_cast<uint8_t>(flg)};
  }
  plan.Bytes.insert(plan.Bytes.end(), best->begin(), best->end());
  if (stream.HasHeader) {
    const uLong adler = adler32_z(adler32(0, nullptr, 0), data.data(), data.size());
    AppendBigEndian32(plan.Bytes, static_cast<uint32_t>(adler));
  }
  plan.NewBytes = plan.Bytes.size();

  // The new stream in its place, inflated back.
  std::vector<uint8_t> place(source.Memory + stream.StartBytes(),
                             source.Memory + stream.StartBytes() + static_cast<int64_t>(plan.PlaceBytes));
  std::copy(plan.Bytes.begin(), plan.Bytes.end(), place.begin());
  if (!InflatesTo({place.data(), static_cast<int64_t>(place.size())}, 0, stream.HasHeader, plan.NewBytes, data)) {
    throw TReplaceError("The stream made by " + SettingsLabel(bestSettings) +
                        " does not inflate back to the new data. Nothing was written.");
  }
  return plan;
}

std::string ContainerRecordsNote(const TContainer& c) {
  const std::string at = c.Offset >= 0 ? " at offset " + std::to_string(c.Offset) : std::string();
  switch (c.Kind) {
    case TContainerKind::Zip:
      return "The stream is the data of the zip entry \"" + c.Name.value_or("") + "\"" + at +
             ", whose headers record its compressed size and CRC-32: update them.";
    case TContainerKind::Png:
      return "The stream is in the PNG chunk " + c.Type + at +
             ", which records the length of its data and their CRC: update them.";
    case TContainerKind::Gzip:
      return "The stream is the data of the gzip member" + at +
             ", whose trailer records the CRC-32 and size of what it inflates to: update them.";
    case TContainerKind::Pdf:
      return "The stream is in PDF object " + std::to_string(c.Object) + " " + std::to_string(c.Generation) +
             ", whose /Length may record its compressed size: update it.";
    case TContainerKind::GitObject:
    case TContainerKind::GitPack:
      return "The stream is a git " + c.Type + " object" + at +
             ": its header records its size, and its name is the hash of its old content.";
    case TContainerKind::None:
      break;
  }
  return {};
}

TReplacement ReplaceStreamInFile(const std::string& sourcePath, int64_t startBytes, std::span<const uint8_t> data,
                                 const std::string& outPath) {
  TReplacement plan;
  {
    const TMappedFile source(sourcePath);
    plan = PlanReplacement({source.Memory(), source.Size()}, startBytes, data);
    const auto at = static_cast<std::size_t>(plan.Stream.StartBytes());
    const auto size = static_cast<std::size_t>(source.Size());
    platform::TTemporaryFile out;
    auto check = [&](int error) {
      if (error != 0) {
        throw TReplaceError("Cannot write \"" + outPath + "\": " + platform::SystemErrorText(error) +
                            ". Nothing was written.");
      }
    };
    check(out.Create(DirectoryOf(outPath)));
    check(out.Write(source.Memory(), at));
    check(out.Write(plan.Bytes.data(), plan.Bytes.size()));
    check(out.Write(source.Memory() + at + plan.Bytes.size(), size - at - plan.Bytes.size()));
    if (source.ChangedWhileMapped()) throw TFileChangedError(sourcePath);
    check(out.MoveTo(outPath, false));
  }
  const TMappedFile written(outPath);
  if (!InflatesTo({written.Memory(), written.Size()}, startBytes, plan.Stream.HasHeader, plan.NewBytes, data)) {
    throw TQuarnError("File \"" + outPath + "\" was written, but its stream at offset " + std::to_string(startBytes) +
                      " does not inflate to the new data: it changed after it was written.");
  }
  return plan;
}

}  // namespace quarn
