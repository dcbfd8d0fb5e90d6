// The output shapes. JSON is built per stream, per file or for the totals
// with nlohmann::json and written at once; the whole document never exists
// in memory.
#include "cli/report_format.h"

#include <nlohmann/json.hpp>

#include <string_view>

#include "cli/name_text.h"
#include "cli/output.h"
#include "engine/scan_report.h"

namespace quarn::cli {
namespace {

using TJson = nlohmann::ordered_json;

std::string KindText(const TFoundStream& s) { return s.HasHeader ? "zlib" : "raw"; }

// Names that are not UTF-8 come out with replacement characters in "file"
// (by the dump) and exactly, in base64, in "file_bytes".
void AddName(TJson& j, const char* key, const std::string& name) {
  j[key] = name;
  if (!IsUtf8(name)) j[std::string(key) + "_bytes"] = Base64(name);
}

// The container column of a row: the kind, then key=value fields, a name
// last (escaped as file names are), so that a tab never ends it early.
std::string ContainerText(const TContainer& c) {
  std::string text = ContainerKindName(c.Kind);
  auto field = [&](const char* key, const std::string& value) { text += std::string(" ") + key + "=" + value; };
  switch (c.Kind) {
    case TContainerKind::Zip:
      field("header", std::to_string(c.Offset));
      break;
    case TContainerKind::Gzip:
      field("header", std::to_string(c.Offset));
      field("member", std::to_string(c.Index));
      if (c.Mtime) field("mtime", std::to_string(*c.Mtime));
      break;
    case TContainerKind::Png:
      field("chunk", c.Type);
      field("index", std::to_string(c.Index));
      field("at", std::to_string(c.Offset));
      break;
    case TContainerKind::Pdf:
      field("object", std::to_string(c.Object));
      field("generation", std::to_string(c.Generation));
      if (!c.Filter.empty()) field("filter", EscapeName(c.Filter));
      field("at", std::to_string(c.Offset));
      break;
    case TContainerKind::GitObject:
    case TContainerKind::GitPack:
      field("type", c.Type);
      field("size", std::to_string(c.Size));
      if (c.Offset >= 0) field("at", std::to_string(c.Offset));
      break;
    case TContainerKind::None:
      break;
  }
  if (c.Name) field("name", EscapeName(*c.Name));
  return text;
}

// The content column of a row: libmagic's description, escaped as file
// names are, or - where it has none.
std::string ContentText(const TFoundStream& s) { return s.Content ? EscapeName(s.Content->Description) : "-"; }

// The rules column of a row: each rule that matched, with its tags in
// brackets (`packed[malware,upx] other`), or - where none did. Rule and
// tag names are identifiers: no blank or tab can occur in them.
std::string RulesText(const TFoundStream& s) {
  if (!s.RuleHits) return "-";
  std::string text;
  for (const TRuleHit& hit : *s.RuleHits) {
    if (!text.empty()) text += ' ';
    text += hit.Rule;
    for (std::size_t k = 0; k < hit.Tags.size(); ++k) text += (k == 0 ? "[" : ",") + hit.Tags[k];
    if (!hit.Tags.empty()) text += ']';
  }
  return text;
}

TJson RuleHitsArray(const TFoundStream& s) {
  TJson hits = TJson::array();
  if (!s.RuleHits) return hits;
  for (const TRuleHit& hit : *s.RuleHits) {
    TJson j;
    j["rule"] = hit.Rule;
    j["tags"] = hit.Tags;
    TJson strings = TJson::array();
    for (const TStringHit& string : hit.Strings) {
      strings.push_back({{"id", string.Identifier}, {"offset", string.OffsetBytes}, {"length", string.LengthBytes}});
    }
    j["strings"] = strings;
    if (hit.StringsLeftOut > 0) j["strings_left_out"] = hit.StringsLeftOut;
    hits.push_back(j);
  }
  return hits;
}

TJson ContainerObject(const TContainer& c) {
  TJson j;
  ForEachContainerField(
      c, [&](const char* key, int64_t value) { j[key] = value; },
      [&](const char* key, const std::string& bytes) {
        if (std::string_view(key) == "name") {
          AddName(j, key, bytes);  // a name that is not UTF-8 also comes whole, as name_bytes
        } else {
          j[key] = bytes;
        }
      });
  return j;
}

std::string Dump(const TJson& j, int indent = -1) {
  return j.dump(indent, ' ', false, TJson::error_handler_t::replace);
}

TJson StreamObject(const std::string& file, const TFoundStream& s, const TChain& chain, const TFactColumns& facts) {
  TJson j;
  AddName(j, "file", file);
  if (facts.Nesting) {
    j["chain"] = chain.empty() ? TChain{s.StartBytes()} : chain;
    j["depth"] = chain.empty() ? 1 : chain.size();
  }
  j["offset"] = s.StartBytes();
  j["deflate_offset"] = s.OffsetBytes;
  j["kind"] = KindText(s);
  j["window_bits"] = s.HasHeader ? TJson(s.CINFO + 8) : TJson(nullptr);
  j["flevel"] = s.HasHeader ? TJson(s.FLEVEL) : TJson(nullptr);
  j["compressed_bytes"] = s.InBytes;
  j["inflated_bytes"] = s.OutBytes;
  j["complete"] = s.Complete;
  const char* proof = ProofName(s.ProvenBy);
  j["proven_by"] = proof != nullptr ? TJson(proof) : TJson(nullptr);
  j["beyond_rule"] = s.BeyondRule;
  if (s.Container) j["container"] = ContainerObject(*s.Container);
  if (s.Fingerprint) {
    TJson fingerprint;
    ForEachFingerprintField(*s.Fingerprint, [&](const char* key, const auto& value) { fingerprint[key] = value; });
    j["fingerprint"] = fingerprint;
  }
  if (facts.ContentTypes) {
    j["content"] = s.Content ? TJson(s.Content->Description) : TJson(nullptr);
    j["mime"] = s.Content ? TJson(s.Content->Mime) : TJson(nullptr);
  }
  if (facts.Rules) j["yara"] = RuleHitsArray(s);
  if (facts.Nesting) {
    const char* limit = NestLimitName(s.SkippedBy);
    j["stopped_by"] = limit != nullptr ? TJson(limit) : TJson(nullptr);
  }
  return j;
}

// Header streams by window bits and by FLEVEL, keyed by the number.
TJson WindowBitsObject(const TStreamCounts& counts) {
  TJson windows = TJson::object();
  for (int k = TStreamCounts::kFirstWindowBits; k <= TStreamCounts::kLastWindowBits; ++k) {
    windows[std::to_string(k)] = counts.WindowBits(k);
  }
  return windows;
}
TJson FlevelObject(const TStreamCounts& counts) {
  TJson levels = TJson::object();
  for (int f = 0; f <= 3; ++f) levels[std::to_string(f)] = counts.l[static_cast<std::size_t>(f)];
  return levels;
}

// The counts of one depth of nested streams, as the totals give the files'.
TJson NestedDepthObject(const TStreamCounts& counts) {
  TJson j;
  j["streams"] = counts.Streams();
  j["header_streams"] = counts.Z;
  j["headerless_streams"] = counts.hless;
  j["compressed_bytes"] = counts.zin;
  j["inflated_bytes"] = counts.zout;
  j["window_bits"] = WindowBitsObject(counts);
  j["flevel"] = FlevelObject(counts);
  j["proven_beyond_rule"] = counts.ProvenStreams();
  return j;
}

TJson TotalsObject(const TScanSummary& summary) {
  const TStreamCounts& counts = summary.Totals;
  TJson j;
  j["files_scanned"] = counts.Files;
  j["files_failed"] = summary.FilesFailed;
  j["interrupted"] = summary.Interrupted;
  j["input_bytes"] = counts.i;
  j["output_bytes"] = counts.OutputBytes();
  j["compressed_bytes"] = counts.zin;
  j["inflated_bytes"] = counts.zout;
  j["header_streams"] = counts.Z;
  j["headerless_streams"] = counts.hless;
  j["streams"] = counts.Streams();
  j["window_bits"] = WindowBitsObject(counts);
  j["flevel"] = FlevelObject(counts);
  if (summary.Verified) {
    TJson proven;
    proven["streams"] = counts.ProvenStreams();
    proven["zlib"] = counts.proven[TStreamCounts::kProvenZlib];
    proven["gzip"] = counts.proven[TStreamCounts::kProvenGzip];
    proven["zip"] = counts.proven[TStreamCounts::kProvenZip];
    proven["inflated_bytes"] = counts.provenOut;
    j["proven_beyond_rule"] = proven;
  }
  if (summary.Fingerprints != nullptr) {
    const TFingerprintCounts& f = *summary.Fingerprints;
    TJson fingerprints;
    TJson zlibLevels = TJson::object();
    for (std::size_t k = 0; k < f.ZlibLevels.size(); ++k) zlibLevels[std::to_string(k)] = f.ZlibLevels[k];
    fingerprints["zlib_levels"] = zlibLevels;
    fingerprints["zlib_huffman_only"] = f.ZlibHuffmanOnly;
    fingerprints["zlib_rle"] = f.ZlibRle;
    TJson libdeflateLevels = TJson::object();
    for (std::size_t k = 0; k < f.LibdeflateLevels.size(); ++k) {
      libdeflateLevels[std::to_string(k + 1)] = f.LibdeflateLevels[k];
    }
    fingerprints["libdeflate_levels"] = libdeflateLevels;
    fingerprints["zopfli"] = f.Zopfli;
    fingerprints["unknown"] = f.Unknown;
    fingerprints["not_tried"] = f.NotTried;
    fingerprints["tries"] = f.Tries;
    j["fingerprints"] = fingerprints;
  }
  if (summary.Nested != nullptr) {
    TJson nested;
    nested["streams"] = summary.Nested->Streams();
    nested["stopped_by_limit"] = summary.Nested->StoppedByLimit;
    TJson byDepth = TJson::object();
    for (std::size_t k = 0; k < summary.Nested->ByDepth.size(); ++k) {
      byDepth[std::to_string(k + 2)] = NestedDepthObject(summary.Nested->ByDepth[k]);
    }
    nested["by_depth"] = byDepth;
    j["nested"] = nested;
  }
  return j;
}

class TTextFormat final : public TReportFormat {
 public:
  TTextFormat(bool listStreams, const TFactColumns& facts) : listStreams_(listStreams), facts_(facts) {}
  bool ShowsStreams() const override { return listStreams_; }
  bool ShowsContentTypes() const override { return facts_.ContentTypes; }
  void Stream(const std::string& file, const TFoundStream& s, const TChain& chain) override {
    if (!listStreams_) return;
    StartRows();
    const std::string windowBits = s.HasHeader ? std::to_string(s.CINFO + 8) : "-";
    const std::string flevel = s.HasHeader ? std::to_string(s.FLEVEL) : "-";
    WriteOut(EscapeName(file) + ChainText(chain) + "\t" + std::to_string(s.StartBytes()) + "\t" + KindText(s) + "\t" + windowBits +
             "\t" + flevel + "\t" + std::to_string(s.InBytes) + "\t" + std::to_string(s.OutBytes) + "\t" +
             std::to_string(s.OffsetBytes) + "\t" + (ProofName(s.ProvenBy) ? ProofName(s.ProvenBy) : "-") + "\t" +
             (s.Container ? ContainerText(*s.Container) : std::string()) +
             (facts_.ContentTypes ? "\t" + ContentText(s) : "") + (facts_.Rules ? "\t" + RulesText(s) : "") +
             (facts_.Fingerprints ? "\t" + (s.Fingerprint ? FingerprintLabel(*s.Fingerprint) : std::string("-")) : "") +
             (facts_.Nesting ? "\t" + std::string(NestLimitName(s.SkippedBy) ? NestLimitName(s.SkippedBy) : "-") : "") +
             "\n");
  }
  void Finish(const TScanSummary& summary) override {
    if (listStreams_) StartRows();
    // Partial totals are not a report: the command says on stderr how far it got.
    if (summary.Interrupted) return;
    const TScanReport report = BuildScanReport(summary.Totals, summary.Headerless);
    std::string text;
    for (const std::string& line : report.Lines) text += line + "\n";
    text += "Total zlibbed input: " + report.ZlibbedInput + "\n";
    text += "Total zlibbed output: " + report.ZlibbedOutput + "\n";
    if (summary.Verified) {
      for (const std::string& line : ProvenStreamLines(summary.Totals)) text += line + "\n";
    }
    if (summary.Fingerprints != nullptr) {
      for (const std::string& line : FingerprintLines(*summary.Fingerprints)) text += line + "\n";
    }
    if (summary.Nested != nullptr) {
      for (const std::string& line : NestedStreamLines(*summary.Nested, summary.Headerless, summary.Verified)) {
        text += line + "\n";
      }
    }
    WriteOut(text);
  }

 private:
  // The header row comes with the first row (or the report), so that a run
  // that fails before writing anything leaves stdout empty.
  void StartRows() {
    if (started_) return;
    started_ = true;
    WriteOut(
        "file\toffset\tkind\twindow_bits\tflevel\tcompressed_bytes\tinflated_bytes\tdeflate_offset\tproven_by\t"
        "container" +
        std::string(facts_.ContentTypes ? "\tcontent" : "") + std::string(facts_.Rules ? "\trules" : "") +
        std::string(facts_.Fingerprints ? "\tfingerprint" : "") + std::string(facts_.Nesting ? "\tstopped" : "") +
        "\n");
  }

  const bool listStreams_;
  const TFactColumns facts_;
  bool started_ = false;
};

class TJsonFormat final : public TReportFormat {
 public:
  TJsonFormat(bool listStreams, const TFactColumns& facts) : listStreams_(listStreams), facts_(facts) {}
  bool ShowsStreams() const override { return listStreams_; }
  bool ShowsContentTypes() const override { return facts_.ContentTypes; }
  void Stream(const std::string& file, const TFoundStream& s, const TChain& chain) override {
    if (!listStreams_) return;
    // Indented as a member of the array, as a whole-document dump would.
    std::string element = Dump(StreamObject(file, s, chain, facts_), 2);
    std::string indented = first_ ? "{\n  \"streams_found\": [\n    " : ",\n    ";
    for (const char c : element) {
      indented += c;
      if (c == '\n') indented += "    ";
    }
    first_ = false;
    WriteOut(indented);
  }
  void Finish(const TScanSummary& summary) override {
    const std::string totals = Dump(TotalsObject(summary), 2);
    if (!listStreams_) {
      WriteOut(totals + "\n");
      return;
    }
    // The totals object without its opening brace continues the document.
    WriteOut(std::string(first_ ? "{\n  \"streams_found\": []" : "\n  ]") + ",\n" + totals.substr(2) + "\n");
  }

 private:
  const bool listStreams_;
  const TFactColumns facts_;
  bool first_ = true;
};

class TJsonLinesFormat final : public TReportFormat {
 public:
  explicit TJsonLinesFormat(const TFactColumns& facts) : facts_(facts) {}
  bool ShowsContentTypes() const override { return facts_.ContentTypes; }
  void Stream(const std::string& file, const TFoundStream& s, const TChain& chain) override {
    TJson j;
    j["type"] = "stream";
    j.update(StreamObject(file, s, chain, facts_));
    WriteOut(Dump(j) + "\n");
  }
  void FileEnded(const TFileOutcome& outcome) override {
    TJson j;
    j["type"] = "file";
    AddName(j, "file", outcome.Name);
    if (outcome.Failed) {
      j["error"] = outcome.Error;
    } else {
      j["size_bytes"] = outcome.SizeBytes;
    }
    j["streams"] = outcome.Streams;
    if (outcome.StreamsNotWritten > 0) {
      j["streams_not_written"] = outcome.StreamsNotWritten;
      j["write_error"] = outcome.WriteError;
    }
    WriteOut(Dump(j) + "\n");
  }
  void Finish(const TScanSummary& summary) override {
    TJson j;
    j["type"] = "totals";
    j.update(TotalsObject(summary));
    WriteOut(Dump(j) + "\n");
  }

 private:
  const TFactColumns facts_;
};

// Passes on only the streams that a rule matched (--yara-only); files and
// totals as they are.
class TRuleHitsOnly final : public TReportFormat {
 public:
  explicit TRuleHitsOnly(std::unique_ptr<TReportFormat> format) : format_(std::move(format)) {}
  void Stream(const std::string& file, const TFoundStream& stream, const TChain& chain) override {
    if (stream.RuleHits) format_->Stream(file, stream, chain);
  }
  void FileEnded(const TFileOutcome& outcome) override { format_->FileEnded(outcome); }
  void Finish(const TScanSummary& summary) override { format_->Finish(summary); }
  bool ShowsStreams() const override { return format_->ShowsStreams(); }
  bool ShowsContentTypes() const override { return format_->ShowsContentTypes(); }

 private:
  const std::unique_ptr<TReportFormat> format_;
};

std::unique_ptr<TReportFormat> MakeFormat(TReportKind kind, bool listStreams, const TFactColumns& facts) {
  switch (kind) {
    case TReportKind::Json:
      return std::make_unique<TJsonFormat>(listStreams, facts);
    case TReportKind::JsonLines:
      return std::make_unique<TJsonLinesFormat>(facts);
    case TReportKind::Text:
      break;
  }
  return std::make_unique<TTextFormat>(listStreams, facts);
}

}  // namespace

std::unique_ptr<TReportFormat> MakeReportFormat(TReportKind kind, bool listStreams, const TFactColumns& facts) {
  std::unique_ptr<TReportFormat> format = MakeFormat(kind, listStreams, facts);
  if (facts.RuleHitsOnly) return std::make_unique<TRuleHitsOnly>(std::move(format));
  return format;
}

}  // namespace quarn::cli
