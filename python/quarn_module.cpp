// quarn._quarn: the scan engine for Python. The module is thin: it turns
// Python arguments into the engine's, releases the GIL for the whole of
// every scan and inflation (a scan stops on Ctrl-C), and hands back plain
// values that the package (quarn/__init__.py) turns into result objects.
// Paths go in and come out as bytes, exactly as the file system names them.
//
// A scan's counts travel as one dict (CountsDict below), all arithmetic on
// them done here by the engine's count type; streams travel as (offset,
// has_header, CINFO, FLEVEL, in_bytes, out_bytes, complete, proven_by,
// proven_in, beyond_rule, container, content, rule hits, fingerprint,
// nested streams, limit stopped at), with the file's index in front where
// a scan covers a list (StreamTuple below).
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/background_scan.h"
#include "engine/scan_control.h"
#include "engine/scan_report.h"
#include "engine/scan_run.h"
#include "engine/scan_state.h"
#include "engine/stream_counts.h"
#include "engine/stream_replacement.h"

#include "python/engine_calls.h"
#include "python/error_translation.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace py = pybind11;

namespace quarn::python {
namespace {

// A contiguous view of any object with the buffer protocol, held (and the
// object's memory pinned: a bytearray cannot be resized, an mmap not closed)
// until the view goes. Made and released with the GIL held.
class TBufferView {
 public:
  explicit TBufferView(const py::handle& object) {
    if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  }
  ~TBufferView() { PyBuffer_Release(&view_); }
  TBufferView(const TBufferView&) = delete;
  TBufferView& operator=(const TBufferView&) = delete;

  const uint8_t* Data() const { return static_cast<const uint8_t*>(view_.buf); }
  int64_t Size() const { return static_cast<int64_t>(view_.len); }

 private:
  Py_buffer view_{};
};

TScanOptions Options(bool headerless, bool acceptIncomplete, bool verified, bool types = false) {
  TScanOptions options;
  options.Headerless = headerless;
  options.AcceptIncomplete = acceptIncomplete;
  options.Verified = verified;
  options.ContentTypes = types;
  return options;
}

void SetDepth(TScanOptions& options, int depth, uint64_t maxInflate) {
  if (depth < 1 || depth > kMaxScanDepth) {
    throw py::value_error("depth must be from 1 to " + std::to_string(kMaxScanDepth) + ", not " + std::to_string(depth));
  }
  options.Depth = depth;
  options.MaxInflateBytes = maxInflate;
  options.NestedContainers = true;  // as the streams of the scan itself carry theirs
}

// How often a waiting scan lets Python run its signal handlers.
constexpr std::chrono::milliseconds kSignalCheckInterval{100};

// Runs `scan` on a background scan (engine/background_scan.h) while the
// calling thread waits without the GIL, taking it back every
// kSignalCheckInterval to let Python handle signals (only the main thread
// does). When a handler raises (Ctrl-C: KeyboardInterrupt), the scan is
// asked to stop through `control`, its end is awaited, and the handler's
// exception is raised; the scan's partial totals are dropped. Otherwise
// raises what `scan` raised.
void RunInterruptibly(TScanControl& control, const std::function<void()>& scan) {
  TBackgroundScan run(scan);
  bool interrupted = false;
  {
    const py::gil_scoped_release unlocked;
    while (!run.WaitFor(kSignalCheckInterval)) {
      if (interrupted) continue;
      const py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;  // the handler's exception stays set until it is raised below
        control.RequestCancel();
      }
    }
  }
  if (interrupted) throw py::error_already_set();
  run.RethrowError();
}

// A scan's counts as the package holds them: a dict under the names of
// quarn-scan's JSON totals, the histograms keyed by window bits and FLEVEL.
py::dict CountsDict(const TStreamCounts& c) {
  py::dict d;
  d["files_scanned"] = c.Files;
  d["input_bytes"] = c.i;
  d["compressed_bytes"] = c.zin;
  d["inflated_bytes"] = c.zout;
  d["header_streams"] = c.Z;
  d["headerless_streams"] = c.hless;
  py::dict windows;
  for (int k = TStreamCounts::kFirstWindowBits; k <= TStreamCounts::kLastWindowBits; ++k) windows[py::int_(k)] = c.WindowBits(k);
  d["window_bits"] = windows;
  py::dict levels;
  for (std::size_t f = 0; f < c.l.size(); ++f) levels[py::int_(f)] = c.l[f];
  d["flevel"] = levels;
  d["proven_zlib"] = c.proven[TStreamCounts::kProvenZlib];
  d["proven_gzip"] = c.proven[TStreamCounts::kProvenGzip];
  d["proven_zip"] = c.proven[TStreamCounts::kProvenZip];
  d["proven_output_bytes"] = c.provenOut;
  return d;
}

TStreamCounts CountsFrom(const py::dict& d) {
  TStreamCounts c;
  c.Files = d["files_scanned"].cast<int64_t>();
  c.i = d["input_bytes"].cast<int64_t>();
  c.zin = d["compressed_bytes"].cast<int64_t>();
  c.zout = d["inflated_bytes"].cast<int64_t>();
  c.Z = d["header_streams"].cast<int64_t>();
  c.hless = d["headerless_streams"].cast<int64_t>();
  const auto windows = d["window_bits"].cast<py::dict>();
  for (int k = TStreamCounts::kFirstWindowBits; k <= TStreamCounts::kLastWindowBits; ++k) {
    c.WindowBits(k) = windows[py::int_(k)].cast<int64_t>();
  }
  const auto levels = d["flevel"].cast<py::dict>();
  for (std::size_t f = 0; f < c.l.size(); ++f) c.l[f] = levels[py::int_(f)].cast<int64_t>();
  c.proven[TStreamCounts::kProvenZlib] = d["proven_zlib"].cast<int64_t>();
  c.proven[TStreamCounts::kProvenGzip] = d["proven_gzip"].cast<int64_t>();
  c.proven[TStreamCounts::kProvenZip] = d["proven_zip"].cast<int64_t>();
  c.provenOut = d["proven_output_bytes"].cast<int64_t>();
  return c;
}

py::object ProofObject(TProof proof) {
  const char* const name = ProofName(proof);
  return name != nullptr ? py::object(py::str(name)) : py::object(py::none());
}

TProof ProofFrom(const py::handle& name) {
  if (name.is_none()) return TProof::None;
  const auto text = name.cast<std::string>();
  if (text == "adler32") return TProof::Adler32;
  if (text == "crc32") return TProof::Crc32;
  throw py::value_error("a stream's proof is \"adler32\", \"crc32\" or None, not \"" + text + "\"");
}

py::object KindName(TContainerKind kind) {
  return kind == TContainerKind::None ? py::object(py::none()) : py::object(py::str(ContainerKindName(kind)));
}

// Only the kinds whose record proves a stream travel back in.
TContainerKind ProvenInFrom(const py::handle& name) {
  if (name.is_none()) return TContainerKind::None;
  const auto text = name.cast<std::string>();
  if (text == ContainerKindName(TContainerKind::Zip)) return TContainerKind::Zip;
  if (text == ContainerKindName(TContainerKind::Gzip)) return TContainerKind::Gzip;
  throw py::value_error("a stream is proven in \"zip\", \"gzip\" or None, not \"" + text + "\"");
}

// Bytes read from a file (a zip entry's name, a PDF filter), decoded as
// os.fsdecode decodes file names: bytes that are not UTF-8 stay
// recoverable (os.fsencode gives them back) instead of failing the scan.
py::str FileText(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// A container as the package gives it out: its kind and the fields that it
// has, under the keys of quarn-scan's JSON.
py::dict ContainerDict(const TContainer& c) {
  py::dict d;
  ForEachContainerField(
      c, [&](const char* key, int64_t value) { d[key] = value; },
      [&](const char* key, const std::string& bytes) { d[key] = FileText(bytes); });
  return d;
}

// A fingerprint under the keys of quarn-scan's JSON.
py::dict FingerprintDict(const TStreamFingerprint& f) {
  py::dict d;
  ForEachFingerprintField(f, [&](const char* key, const auto& value) { d[key] = py::cast(value); });
  return d;
}

// The rules that matched a stream, under the keys of quarn-scan's JSON;
// None where no rules were asked for or none matched.
py::object RuleHitsObject(const TFoundStream& s) {
  if (!s.RuleHits) return py::none();
  py::list hits;
  for (const TRuleHit& hit : *s.RuleHits) {
    py::list strings;
    for (const TStringHit& string : hit.Strings) {
      strings.append(py::dict(py::arg("id") = string.Identifier, py::arg("offset") = string.OffsetBytes,
                              py::arg("length") = string.LengthBytes));
    }
    py::dict d(py::arg("rule") = hit.Rule, py::arg("tags") = hit.Tags, py::arg("strings") = strings);
    if (hit.StringsLeftOut > 0) d["strings_left_out"] = hit.StringsLeftOut;
    hits.append(d);
  }
  return hits;
}

py::tuple StreamTuple(const TFoundStream& s) {
  py::object container = s.Container ? py::object(ContainerDict(*s.Container)) : py::object(py::none());
  py::object fingerprint = s.Fingerprint ? py::object(FingerprintDict(*s.Fingerprint)) : py::object(py::none());
  py::object content =
      s.Content ? py::object(py::make_tuple(s.Content->Description, s.Content->Mime)) : py::object(py::none());
  py::object nested = py::none();
  if (s.Nested) {
    py::list list;
    for (const TFoundStream& inside : *s.Nested) list.append(StreamTuple(inside));
    nested = list;
  }
  const char* stopped = NestLimitName(s.SkippedBy);
  return py::make_tuple(s.OffsetBytes, s.HasHeader, s.CINFO, s.FLEVEL, s.InBytes, s.OutBytes, s.Complete,
                        ProofObject(s.ProvenBy), KindName(s.ProvenIn), s.BeyondRule, container, content,
                        RuleHitsObject(s), fingerprint, nested,
                        stopped != nullptr ? py::object(py::str(stopped)) : py::object(py::none()));
}

// A stream back from Python, for counting and stitching, which never look
// at its container, content type, rule hits, fingerprint or nested
// streams: those are not read back (tuples of 13 and 14 items, without the
// last ones, are taken too).
TFoundStream StreamFrom(const py::handle& item) {
  const auto t = item.cast<py::tuple>();
  if (t.size() < 13 || t.size() > 16) throw py::value_error("a stream is a tuple of 16 items");
  TFoundStream s;
  s.OffsetBytes = t[0].cast<int64_t>();
  s.HasHeader = t[1].cast<bool>();
  s.CINFO = t[2].cast<uint8_t>();
  s.FLEVEL = t[3].cast<uint8_t>();
  s.InBytes = t[4].cast<uint64_t>();
  s.OutBytes = t[5].cast<uint64_t>();
  s.Complete = t[6].cast<bool>();
  s.ProvenBy = ProofFrom(t[7]);
  s.ProvenIn = ProvenInFrom(t[8]);
  s.BeyondRule = t[9].cast<bool>();
  if (s.HasHeader && (s.CINFO < 1 || s.CINFO > 7 || s.FLEVEL > 3)) {
    throw py::value_error("a header stream has CINFO 1..7 and FLEVEL 0..3");
  }
  if ((s.ProvenBy == TProof::Crc32) != (s.ProvenIn != TContainerKind::None)) {
    throw py::value_error("a stream is proven in a zip entry or gzip member exactly when its CRC-32 proves it");
  }
  if (s.BeyondRule && s.ProvenBy == TProof::None) {
    throw py::value_error("a stream beyond the scan's rule is one that its checksum proves");
  }
  return s;
}

std::vector<TFoundStream> StreamsFrom(const py::handle& list) {
  std::vector<TFoundStream> streams;
  for (const py::handle item : list) streams.push_back(StreamFrom(item));
  return streams;
}

py::list StreamList(const std::vector<TFoundStream>& streams) {
  py::list list;
  for (const TFoundStream& s : streams) list.append(StreamTuple(s));
  return list;
}

py::tuple ListScanTuple(const TListScan& scan, bool streams) {
  py::object found = py::none();
  if (streams) {
    py::list list;
    for (const TFileStream& item : scan.Streams) {
      list.append(py::make_tuple(item.FileIndex) + StreamTuple(item.Stream));
    }
    found = list;
  }
  return py::make_tuple(CountsDict(scan.Counts), found);
}

// A path as the engine opens it. An empty one names no file, and a NUL
// byte would end the name early and name another file: both raise
// TPathError before anything is opened. The package refuses them first;
// this holds for callers of the module itself, Dask tasks among them.
std::string FileName(const py::handle& path) {
  if (!PyBytes_Check(path.ptr())) throw py::type_error("paths are bytes (os.fsencode)");
  std::string name = path.cast<std::string>();
  if (name.empty()) throw TPathError("A path is empty");
  const std::size_t nul = name.find('\0');
  if (nul != std::string::npos) {
    std::string shown;
    for (const char c : name) shown += c == '\0' ? std::string("\\x00") : std::string(1, c);
    throw TPathError("The path \"" + shown + "\" holds a NUL byte, which no file name can");
  }
  return name;
}

// The rules of a scan: none, or those compiled from the file or folder
// `path` names (bytes), raising QuarnError with the file and line of a
// rule that does not compile.
std::shared_ptr<const TRuleSet> RulesFrom(const py::object& path) {
  if (path.is_none()) return nullptr;
  const std::string name = FileName(path);
  const py::gil_scoped_release unlocked;
  return TRuleSet::Load(name);
}

std::vector<std::string> PathList(const py::handle& paths) {
  std::vector<std::string> list;
  for (const py::handle path : paths) list.push_back(FileName(path));
  return list;
}

// The stream at `offset` of `memory`, inflated to at most `maxBytes`.
py::bytes InflateAt(const uint8_t* memory, int64_t size, int64_t offset, bool headerless,
                    std::optional<uint64_t> maxBytes, const std::string& where) {
  // `offset` is where the stream starts: a zlib stream's deflate data
  // follows its two header bytes.
  const bool roomForHeader = offset <= std::numeric_limits<int64_t>::max() - 2;
  std::optional<TFoundStream> stream;
  std::optional<TFoundStream> zlibHere;
  {
    const py::gil_scoped_release unlocked;
    stream = StreamAt(memory, size, headerless || !roomForHeader ? offset : offset + 2, headerless);
    if (!stream && headerless && roomForHeader) zlibHere = StreamAt(memory, size, offset + 2, false);
  }
  const char* kind = headerless ? "raw deflate" : "zlib";
  if (zlibHere && zlibHere->HasHeader) {
    throw py::value_error("The stream at offset " + std::to_string(offset) + where +
                          " has a zlib header: its kind is \"zlib\", not \"raw\"");
  }
  if (!stream) {
    throw py::value_error("No " + std::string(kind) + " stream starts at offset " + std::to_string(offset) + where);
  }
  if (stream->HasHeader != !headerless) {
    throw py::value_error("The stream at offset " + std::to_string(offset) + where +
                          " has a zlib header: its kind is \"zlib\", not \"raw\"");
  }
  const uint64_t wanted = std::min(stream->OutBytes, maxBytes.value_or(stream->OutBytes));
  if (wanted > static_cast<uint64_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(wanted));
  if (bytes == nullptr) throw py::error_already_set();
  auto result = py::reinterpret_steal<py::bytes>(bytes);
  uint64_t written = 0;
  {
    // Nobody else can see the new bytes object yet: it is filled without the GIL.
    const py::gil_scoped_release unlocked;
    written = InflateStream(memory, size, *stream, reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(bytes)), wanted);
  }
  if (written != wanted) throw TFileChangedError::WhileInflating(where);
  return result;
}

}  // namespace
}  // namespace quarn::python

PYBIND11_MODULE(_quarn, m) {
  using namespace quarn;
  using namespace quarn::python;
  m.doc() = "The Quarn scan engine. Use the package `quarn`, which wraps these calls.";
  RegisterErrors(m);

  m.def(
      "expand_paths",
      [](const py::list& paths, bool recursive) {
        std::vector<std::string> files;
        {
          const std::vector<std::string> names = PathList(paths);
          const py::gil_scoped_release unlocked;
          files = ListNames(names, {recursive, false, false}).Files;
        }
        py::list list;
        for (const std::string& file : files) list.append(py::bytes(file));
        return list;
      },
      py::arg("paths"), py::arg("recursive"),
      "The files that a scan of `paths` (bytes) covers: folders listed, other names kept.");

  m.def(
      "scan_files",
      [](const py::list& files, bool headerless, bool acceptIncomplete, bool streams, bool verified, bool types,
         const py::object& yara, bool fingerprint, int depth, uint64_t maxInflate) {
        const std::vector<std::string> names = PathList(files);
        TScanState state;
        state.Options = Options(headerless, acceptIncomplete, verified, types && streams);
        if (streams) {
          state.Options.Rules = RulesFrom(yara);
          SetDepth(state.Options, depth, maxInflate);
        }
        TListScan scan;
        RunInterruptibly(state.Control, [&] { scan = ScanFiles(state, names, streams, fingerprint); });
        return ListScanTuple(scan, streams);
      },
      py::arg("files"), py::arg("headerless"), py::arg("accept_incomplete"), py::arg("streams"),
      py::arg("verified") = false, py::arg("types") = false, py::arg("yara") = py::none(),
      py::arg("fingerprint") = false, py::arg("depth") = 1, py::arg("max_inflate") = TScanOptions{}.MaxInflateBytes,
      "Scans the files (bytes paths) on the engine's worker pool: (counts, streams or None); with `types`, "
      "each stream carries its content type, with `yara` (a bytes path of rules) the rules that match it, with "
      "`fingerprint` the encoder that reproduces it, with `depth` above 1 the streams nested in it.");

  m.def(
      "scan_buffer",
      [](const py::object& data, bool headerless, bool acceptIncomplete, bool streams, bool verified, bool types,
         const py::object& yara, bool fingerprint, int depth, uint64_t maxInflate) {
        TScanState state;
        state.Options = Options(headerless, acceptIncomplete, verified, types && streams);
        if (streams) {
          state.Options.Rules = RulesFrom(yara);
          SetDepth(state.Options, depth, maxInflate);
        }
        const TBufferView view(data);
        TListScan scan;
        RunInterruptibly(state.Control,
                         [&] { scan = ScanMemory(state, view.Data(), view.Size(), streams, fingerprint); });
        return ListScanTuple(scan, streams);
      },
      py::arg("data"), py::arg("headerless"), py::arg("accept_incomplete"), py::arg("streams"),
      py::arg("verified") = false, py::arg("types") = false, py::arg("yara") = py::none(),
      py::arg("fingerprint") = false, py::arg("depth") = 1, py::arg("max_inflate") = TScanOptions{}.MaxInflateBytes,
      "Scans the bytes of a buffer in place: (counts, streams or None); with `types`, each stream carries its "
      "content type, with `yara` (a bytes path of rules) the rules that match it, with `fingerprint` the encoder "
      "that reproduces it, with `depth` above 1 the streams nested in it.");

  m.def(
      "position_limit", [](int64_t size) { return std::max<int64_t>(0, PositionLimit(size)); }, py::arg("size"),
        "The first position that no scan of a file of `size` bytes tries.");

  m.def(
      "scan_range",
      [](const py::bytes& path, int64_t from, int64_t to, bool headerless, bool acceptIncomplete, bool verified) {
        if (from < 0 || to < from) throw py::value_error("a range needs 0 <= start <= end");
        TFileRangeScan scan;
        {
          const std::string name = FileName(path);
          const py::gil_scoped_release unlocked;
          scan = ScanFileRange(name, from, to, Options(headerless, acceptIncomplete, verified));
        }
        return py::make_tuple(scan.FileSizeBytes, scan.Scan.EndPosition, StreamList(scan.Scan.Streams));
      },
      py::arg("path"), py::arg("start"), py::arg("end"), py::arg("headerless"), py::arg("accept_incomplete"),
      py::arg("verified") = false,
      "Scans positions [start, end) of a file as one chunk of a chunked scan: (file size, end position, "
      "streams). With `verified`, a range that reaches position_limit(size) also tries the last bytes.");

  m.def(
      "stitch",
      [](const std::vector<int64_t>& starts, const py::list& chunks, int64_t limit, const py::function& rescan) {
        if (starts.size() != chunks.size() || starts.empty() || starts.front() != 0) {
          throw py::value_error("one start per chunk, the first 0");
        }
        for (std::size_t k = 1; k < starts.size(); ++k) {
          if (starts[k] <= starts[k - 1] || starts[k] > limit) throw py::value_error("chunk starts must ascend");
        }
        std::vector<TRangeScan> scans;
        for (const py::handle chunk : chunks) {
          const auto t = chunk.cast<py::tuple>();
          scans.push_back({StreamsFrom(t[1]), t[0].cast<int64_t>()});
        }
        const TStitchResult stitched = StitchChunks(starts, scans, limit, [&](int64_t from, int64_t to) {
          const auto t = rescan(from, to).cast<py::tuple>();
          return TRangeScan{StreamsFrom(t[1]), t[0].cast<int64_t>()};
        });
        return py::make_tuple(StreamList(stitched.Streams), stitched.Rescans);
      },
      py::arg("starts"), py::arg("chunks"), py::arg("limit"), py::arg("rescan"),
      "Stitches chunk scans [(end position, streams)] as the engine does: (streams, rescans). "
      "`rescan(start, end)` scans a range where two paths must be joined, and the file's last bytes "
      "from where the path stands when it ends past `limit`.");

  m.def(
      "place_streams",
      [](const py::bytes& path, const py::list& streams) {
        std::vector<TFoundStream> found = StreamsFrom(streams);
        int64_t size = 0;
        {
          const std::string name = FileName(path);
          const py::gil_scoped_release unlocked;
          size = PlaceFileStreams(name, found);
        }
        return py::make_tuple(size, StreamList(found));
      },
      py::arg("path"), py::arg("streams"),
      "The streams of a whole file (in offset order, as a stitch gives them), each with the container the "
      "file's own scan gives it: (file size, streams).");

  m.def(
      "count_streams",
      [](const py::list& streams, std::optional<int64_t> fileBytes) {
        TStreamCounts counts;
        for (const TFoundStream& stream : StreamsFrom(streams)) counts.Add(stream);
        if (fileBytes) counts.AddFile(*fileBytes);
        return CountsDict(counts);
      },
      py::arg("streams"), py::arg("file_bytes") = py::none(),
      "The counts of the streams; with file_bytes, of one file of that size that holds them.");

  m.def(
      "add_counts",
      [](const py::dict& a, const py::dict& b) {
        TStreamCounts sum = CountsFrom(a);
        sum += CountsFrom(b);
        return CountsDict(sum);
      },
      py::arg("a"), py::arg("b"), "The counts of two disjoint parts of a scan, added.");

  m.def(
      "report_lines",
      [](const py::dict& counts, bool headerless, bool verified) {
        const TStreamCounts totals = CountsFrom(counts);
        std::vector<std::string> lines = BuildScanReport(totals, headerless).Lines;
        if (verified) {
          for (std::string& line : ProvenStreamLines(totals)) lines.push_back(std::move(line));
        }
        return lines;
      },
      py::arg("counts"), py::arg("headerless"), py::arg("verified") = false,
      "The report lines of a finished scan; with `verified`, the lines on the streams proven beyond the rule "
      "follow.");

  m.def(
      "output_bytes", [](const py::dict& counts) { return CountsFrom(counts).OutputBytes(); }, py::arg("counts"),
      "What the scanned files would weigh with every stream inflated.");

  m.def(
      "replace_stream",
      [](const py::bytes& source, int64_t offset, const py::object& data, const py::bytes& out) {
        const std::string sourceName = FileName(source);
        const std::string outName = FileName(out);
        const TBufferView view(data);
        TReplacement done;
        {
          const py::gil_scoped_release unlocked;
          done = ReplaceStreamInFile(sourceName, offset,
                                     std::span<const uint8_t>(view.Data(), static_cast<std::size_t>(view.Size())),
                                     outName);
        }
        py::dict d;
        d["kind"] = done.Stream.HasHeader ? "zlib" : "raw";
        d["encoder"] = EncoderName(done.Settings.Encoder);
        d["label"] = SettingsLabel(done.Settings);
        d["own_settings"] = done.OwnSettings;
        d["place_bytes"] = done.PlaceBytes;
        d["new_bytes"] = done.NewBytes;
        d["container"] = done.Container ? py::object(ContainerDict(*done.Container)) : py::object(py::none());
        d["container_note"] = done.Container ? ContainerRecordsNote(*done.Container) : std::string();
        return d;
      },
      py::arg("source"), py::arg("offset"), py::arg("data"), py::arg("out"),
      "Writes a copy of `source` to `out` in which the stream at `offset` holds `data`: a dict of what was done.");

  m.def(
      "inflate_file",
      [](const py::bytes& path, int64_t offset, bool headerless, std::optional<uint64_t> maxBytes) {
        const std::string name = FileName(path);
        std::unique_ptr<TMappedFile> file;
        {
          const py::gil_scoped_release unlocked;
          file = std::make_unique<TMappedFile>(name);
        }
        py::bytes result = InflateAt(file->Memory(), file->Size(), offset, headerless, maxBytes,
                                     " of \"" + name + "\"");
        if (file->ChangedWhileMapped()) throw TFileChangedError(name);
        return result;
      },
      py::arg("path"), py::arg("offset"), py::arg("headerless"), py::arg("max_bytes"),
      "The inflated bytes of the stream at `offset` of a file.");

  m.def(
      "inflate_buffer",
      [](const py::object& data, int64_t offset, bool headerless, std::optional<uint64_t> maxBytes) {
        const TBufferView view(data);
        return InflateAt(view.Data(), view.Size(), offset, headerless, maxBytes, "");
      },
      py::arg("data"), py::arg("offset"), py::arg("headerless"), py::arg("max_bytes"),
      "The inflated bytes of the stream at `offset` of a buffer.");

  m.def(
      "changed_error", [](const py::bytes& path) { return FileChangedErrorFor(FileName(path)); }, py::arg("path"),
      "The FileChangedError (not raised) for the file at `path`, which changed between two looks at it.");

  m.def("combined_error", &CombinedScanError, py::arg("errors"),
        "The ScanError that a scan whose files failed with `errors` raises.");
}
