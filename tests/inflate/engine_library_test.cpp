// The start-up probe against a loader played in memory: which library
// serves for each combination of present files, the line of the start-up
// error for every missing name of either slot, repeated probes, the error
// mode around the loads, the release at exit, and which engine the inflate
// operations reach.
#include "inflate/engine_library.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "inflate/engine_binding.h"
#include "tests/inflate/fake_library_loader.h"
#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"

namespace quarn {
namespace {

using test::TFakeLibraryLoader;
using TNames = std::vector<std::string>;

// The platform's file names of the two slots (zlibwapi.dll, zlib.dll and
// zlib1.dll on Windows).
const char* const kWapi = kLibraryAFileName;
const char* const kZlib = kLibraryAFallbackFileName;
const char* const kZ1 = kLibraryBFileName;

// The ten names in the order the probe must resolve them.
const TNames kTenNames = {"zlibVersion", "deflateInit2_", "deflate",      "deflateEnd",
                          "inflateInit2_", "inflate",     "inflateEnd",   "inflateReset",
                          "adler32",       "deflateTune"};

TNames FindsIn(const std::string& fileName, const TNames& names) {
  TNames finds;
  for (const std::string& name : names) finds.push_back(fileName + ":" + name);
  return finds;
}

// Declared after a loader that lives in a narrower scope than the test, so
// that a failed assertion never leaves the binding pointing at a loader
// that is gone.
struct TReleaseAtScopeEnd {
  TReleaseAtScopeEnd() = default;
  TReleaseAtScopeEnd(const TReleaseAtScopeEnd&) = delete;
  TReleaseAtScopeEnd& operator=(const TReleaseAtScopeEnd&) = delete;
  ~TReleaseAtScopeEnd() { ReleaseEngineLibrary(); }
};

class EngineLibraryProbe : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(EngineBinding.LibraryBound) << "a test left a library bound"; }
  void TearDown() override { ReleaseEngineLibrary(); }

  TFakeLibraryLoader loader_;
};

// ---- Which library serves ----

struct TCombination {
  const char* label;
  TNames present;
  const char* serving;  // null: the built-in engine
  bool useLibraryA;
  TNames loads;
};

TEST_F(EngineLibraryProbe, ServingLibraryForEveryCombinationOfPresentFiles) {
  const TCombination cases[] = {
      {"none", {}, nullptr, false, {kWapi, kZ1, kZlib}},
      {"only B", {kZ1}, kZ1, false, {kWapi, kZ1, kZlib}},
      {"A and B", {kWapi, kZ1}, kWapi, true, {kWapi, kZ1}},
      {"A's fallback and B", {kZlib, kZ1}, kZlib, true, {kWapi, kZ1, kZlib}},
      {"A and A's fallback", {kWapi, kZlib}, kWapi, true, {kWapi, kZ1}},
      {"only A", {kWapi}, kWapi, true, {kWapi, kZ1}},
      {"only A's fallback", {kZlib}, kZlib, true, {kWapi, kZ1, kZlib}},
      {"all three", {kWapi, kZlib, kZ1}, kWapi, true, {kWapi, kZ1}},
  };
  for (const TCombination& c : cases) {
    SCOPED_TRACE(c.label);
    TFakeLibraryLoader loader;
    const TReleaseAtScopeEnd release;
    for (const std::string& name : c.present) loader.Add(name);

    ProbeEngineLibrary(loader);

    EXPECT_EQ(loader.loads, c.loads);
    if (c.serving == nullptr) {
      EXPECT_FALSE(EngineBinding.LibraryBound);
      EXPECT_TRUE(loader.finds.empty());
      EXPECT_EQ(DescribeServingEngine(), std::string("built-in zlib ") + zlibVersion());
      ReleaseEngineLibrary();
      EXPECT_TRUE(loader.frees.empty());
      continue;
    }
    ASSERT_TRUE(EngineBinding.LibraryBound);
    EXPECT_EQ(EngineBinding.UseLibraryA, c.useLibraryA);
    EXPECT_EQ(EngineBinding.LibraryA, c.useLibraryA ? loader.HandleOf(c.serving) : nullptr);
    EXPECT_EQ(EngineBinding.LibraryB, loader.HandleOf(kZ1));
    EXPECT_EQ(loader.finds, FindsIn(c.serving, kTenNames));
    EXPECT_EQ(DescribeServingEngine(), std::string(c.serving) + " zlib 1.fake");
    // The other slot's set of entries stays empty.
    const TLibraryEntries& unused = c.useLibraryA ? EngineBinding.EntriesB : EngineBinding.EntriesA;
    EXPECT_EQ(unused.inflate, nullptr);
    EXPECT_EQ(unused.deflateTune, nullptr);

    ReleaseEngineLibrary();
    EXPECT_EQ(loader.frees, TNames{c.serving}) << "only the serving library is freed, once";
    EXPECT_FALSE(EngineBinding.LibraryBound);
    EXPECT_EQ(EngineBinding.LibraryA, nullptr);
    EXPECT_EQ(EngineBinding.LibraryB, nullptr);
    ReleaseEngineLibrary();
    EXPECT_EQ(loader.frees.size(), 1u) << "a second release frees nothing";
  }
}

TEST_F(EngineLibraryProbe, EntriesOfTheServingLibraryLandInItsOwnSet) {
  int marks[10] = {};
  std::map<std::string, void*> entries;
  for (std::size_t k = 1; k < kTenNames.size(); ++k) entries[kTenNames[k]] = &marks[k];
  loader_.Add(kZ1, {}, entries);
  ProbeEngineLibrary(loader_);
  const TLibraryEntries& b = EngineBinding.EntriesB;
  EXPECT_EQ(reinterpret_cast<void*>(EngineBinding.zlibVersion), reinterpret_cast<void*>(&test::FakeZlibVersion));
  EXPECT_EQ(reinterpret_cast<void*>(b.deflateInit2_), &marks[1]);
  EXPECT_EQ(reinterpret_cast<void*>(b.deflate), &marks[2]);
  EXPECT_EQ(reinterpret_cast<void*>(b.deflateEnd), &marks[3]);
  EXPECT_EQ(reinterpret_cast<void*>(b.inflateInit2_), &marks[4]);
  EXPECT_EQ(reinterpret_cast<void*>(b.inflate), &marks[5]);
  EXPECT_EQ(reinterpret_cast<void*>(b.inflateEnd), &marks[6]);
  EXPECT_EQ(reinterpret_cast<void*>(b.inflateReset), &marks[7]);
  EXPECT_EQ(reinterpret_cast<void*>(b.adler32), &marks[8]);
  EXPECT_EQ(reinterpret_cast<void*>(b.deflateTune), &marks[9]);
}

// ---- A serving library that lacks a name ----

struct TMissingName {
  const char* name;
  int lineLibraryA;
  int lineLibraryB;
};

const TMissingName kMissingNames[] = {
    {"zlibVersion", 146, 169},   {"deflateInit2_", 148, 171}, {"deflate", 150, 173},
    {"deflateEnd", 152, 175},    {"inflateInit2_", 154, 177}, {"inflate", 156, 179},
    {"inflateEnd", 158, 181},    {"inflateReset", 160, 183},  {"adler32", 162, 185},
    {"deflateTune", 164, 187},
};

struct TSlotSetup {
  const char* label;
  const char* serving;     // the library that lacks the name
  const char* alsoPresent;  // a complete library in the other slot, or null
  bool libraryA;
};

TEST_F(EngineLibraryProbe, MissingNameStopsStartUpWithItsLineForEitherSlot) {
  const TSlotSetup setups[] = {
      {"A serves, B present", kWapi, kZ1, true},
      {"A's fallback serves, B present", kZlib, kZ1, true},
      {"A serves alone", kWapi, nullptr, true},
      {"B serves alone", kZ1, nullptr, false},
  };
  for (const TSlotSetup& setup : setups) {
    for (std::size_t order = 0; order < std::size(kMissingNames); ++order) {
      const TMissingName& missing = kMissingNames[order];
      SCOPED_TRACE(testing::Message() << setup.label << ", lacking " << missing.name);
      TFakeLibraryLoader loader(0x0001);
      const TReleaseAtScopeEnd release;
      loader.Add(setup.serving, {missing.name});
      if (setup.alsoPresent != nullptr) loader.Add(setup.alsoPresent);

      const int line = setup.libraryA ? missing.lineLibraryA : missing.lineLibraryB;
      try {
        ProbeEngineLibrary(loader);
        ADD_FAILURE() << "the probe accepted a library without " << missing.name;
      } catch (const TQuarnError& error) {
        EXPECT_STREQ(error.what(),
                     ("Assertion failure (zlibdll, line " + std::to_string(line) + ")").c_str());
      }
      // Resolution stopped at the missing name; the other library was not tried.
      EXPECT_EQ(loader.finds,
                FindsIn(setup.serving, TNames(kTenNames.begin(),
                                              kTenNames.begin() + static_cast<long>(order) + 1)));
      EXPECT_TRUE(EngineBinding.LibraryBound) << "the built-in engine does not take over";
      EXPECT_EQ(EngineBinding.UseLibraryA, setup.libraryA);
      EXPECT_EQ(loader.Mode(), 0x0001u) << "error mode restored after the failure";
      EXPECT_TRUE(loader.frees.empty()) << "the failing probe frees nothing itself";

      ReleaseEngineLibrary();
      EXPECT_EQ(loader.frees, TNames{setup.serving}) << "the exit action still frees it";
    }
  }
}

// ---- Probing twice ----

TEST_F(EngineLibraryProbe, SecondProbeAfterABoundOneDoesNothing) {
  loader_.Add(kWapi);
  ProbeEngineLibrary(loader_);
  ASSERT_TRUE(EngineBinding.LibraryBound);
  const TLibraryHandle bound = EngineBinding.LibraryA;
  loader_.ClearLog();

  TFakeLibraryLoader other;
  const TReleaseAtScopeEnd release;
  other.Add(kZ1);
  ProbeEngineLibrary(loader_);
  ProbeEngineLibrary(other);

  EXPECT_TRUE(loader_.loads.empty());
  EXPECT_TRUE(loader_.finds.empty());
  EXPECT_TRUE(loader_.modeChanges.empty());
  EXPECT_TRUE(other.loads.empty());
  EXPECT_TRUE(other.modeChanges.empty());
  EXPECT_EQ(EngineBinding.LibraryA, bound);
  EXPECT_EQ(DescribeServingEngine(), std::string(kWapi) + " zlib 1.fake");
}

TEST_F(EngineLibraryProbe, SecondProbeAfterOneThatFoundNothingProbesAgain) {
  ProbeEngineLibrary(loader_);
  ASSERT_FALSE(EngineBinding.LibraryBound);
  const TNames firstLoads = loader_.loads;
  ASSERT_EQ(firstLoads, (TNames{kWapi, kZ1, kZlib}));

  ProbeEngineLibrary(loader_);
  EXPECT_EQ(loader_.loads.size(), 2 * firstLoads.size());
  EXPECT_EQ(loader_.modeChanges.size(), 4u) << "set and restored on each probe";

  // A library that has appeared since is bound by the next probe.
  loader_.Add(kZ1);
  ProbeEngineLibrary(loader_);
  EXPECT_TRUE(EngineBinding.LibraryBound);
  EXPECT_FALSE(EngineBinding.UseLibraryA);
}

// ---- The error mode around the loads ----

TEST_F(EngineLibraryProbe, ErrorModeIsTheNoBoxModeAloneDuringLoadsAndRestoredAfter) {
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "library present" : "nothing present");
    TFakeLibraryLoader loader(0x0001 | 0x0002 | 0x8000);
    const TReleaseAtScopeEnd release;
    if (present) loader.Add(kZ1);
    ProbeEngineLibrary(loader);
    EXPECT_EQ(loader.modeChanges, (std::vector<uint32_t>{0x8000, 0x0001 | 0x0002 | 0x8000}));
    ASSERT_FALSE(loader.modesAtLoad.empty());
    for (const uint32_t mode : loader.modesAtLoad) EXPECT_EQ(mode, 0x8000u);
    EXPECT_EQ(loader.Mode(), 0x8003u);
    ReleaseEngineLibrary();
  }
}

// ---- The exit action, watched from outside a child process ----

// Each child starts afresh (the "threadsafe" style runs the test binary
// anew), so what it registers is its own. The loader must outlive exit.
class EngineLibraryExitAction : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  static TFakeLibraryLoader& LeakedLoader() {
    static TFakeLibraryLoader* loader = new TFakeLibraryLoader();
    loader->ReportFreesOnStderr();
    return *loader;
  }
};

TEST_F(EngineLibraryExitAction, BoundLibraryIsFreedAtExit) {
  EXPECT_EXIT(
      {
        LeakedLoader().Add(kWapi);
        LeakedLoader().Add(kZ1);
        ProbeEngineLibrary(LeakedLoader());
        std::fprintf(stderr, "registered=%d\n", detail::ExitActionRegistered());
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^registered=1\nfreed " + std::string(kWapi) + "\n$");
}

TEST_F(EngineLibraryExitAction, NothingIsRegisteredWhenNoLibraryLoads) {
  EXPECT_EXIT(
      {
        ProbeEngineLibrary(LeakedLoader());
        ProbeEngineLibrary(LeakedLoader());
        std::fprintf(stderr, "registered=%d\n", detail::ExitActionRegistered());
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^registered=0\n$");
}

TEST_F(EngineLibraryExitAction, LibraryLackingANameIsStillFreedAtExit) {
  EXPECT_EXIT(
      {
        LeakedLoader().Add(kZ1, {"deflateTune"});
        try {
          ProbeEngineLibrary(LeakedLoader());
        } catch (const TQuarnError& error) {
          std::fprintf(stderr, "%s\n", error.what());
          std::exit(1);
        }
        std::exit(0);
      },
      testing::ExitedWithCode(1), "^Assertion failure \\(zlibdll, line 187\\)\nfreed " + std::string(kZ1) + "\n$");
}

// Registered once per process, the action frees whatever is bound when it
// runs, also a library bound again after an explicit release.
TEST_F(EngineLibraryExitAction, ActionRegisteredOnceFreesALaterBinding) {
  EXPECT_EXIT(
      {
        LeakedLoader().Add(kWapi);
        ProbeEngineLibrary(LeakedLoader());
        ReleaseEngineLibrary();
        TFakeLibraryLoader& second = *new TFakeLibraryLoader();
        second.ReportFreesOnStderr();
        second.Add(kZ1);
        ProbeEngineLibrary(second);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^freed " + std::string(kWapi) + "\nfreed " + std::string(kZ1) + "\n$");
}

// ---- Which engine the inflate operations reach ----

// Entries of a fake library that log each call and forward to the built-in
// zlib, so that a real stream goes through them.
std::vector<std::string> gEntryCalls;
const char* gVersionHandedOut = nullptr;
const char* gVersionReceived = nullptr;
int gRecordSizeReceived = 0;

const char* LoggingZlibVersion() {
  gEntryCalls.emplace_back("zlibVersion");
  gVersionHandedOut = test::FakeZlibVersion();
  return gVersionHandedOut;
}
int LoggingInflateInit2(z_stream* record, int windowBits, const char* version, int recordSize) {
  gEntryCalls.emplace_back("inflateInit2_");
  gVersionReceived = version;
  gRecordSizeReceived = recordSize;
  return inflateInit2_(record, windowBits, version, recordSize);
}
int LoggingInflate(z_stream* record, int flush) {
  gEntryCalls.emplace_back("inflate");
  return inflate(record, flush);
}
int LoggingInflateReset(z_stream* record) {
  gEntryCalls.emplace_back("inflateReset");
  return inflateReset(record);
}
int LoggingInflateEnd(z_stream* record) {
  gEntryCalls.emplace_back("inflateEnd");
  return inflateEnd(record);
}

std::map<std::string, void*> LoggingEntries() {
  return {{"zlibVersion", reinterpret_cast<void*>(&LoggingZlibVersion)},
          {"inflateInit2_", reinterpret_cast<void*>(&LoggingInflateInit2)},
          {"inflate", reinterpret_cast<void*>(&LoggingInflate)},
          {"inflateReset", reinterpret_cast<void*>(&LoggingInflateReset)},
          {"inflateEnd", reinterpret_cast<void*>(&LoggingInflateEnd)}};
}

// Inflates `raw` through the four operations; the inflated bytes.
test::TBytes InflateThroughOperations(const test::TBytes& raw) {
  z_stream record{};
  EXPECT_EQ(InflateInit2(&record, -15), Z_OK);
  test::TBytes out(1 << 20);
  EXPECT_EQ(InflateReset(&record), Z_OK);
  record.next_in = const_cast<Bytef*>(raw.data());
  record.avail_in = static_cast<uInt>(raw.size());
  record.next_out = out.data();
  record.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Inflate(&record, Z_SYNC_FLUSH), Z_STREAM_END);
  out.resize(record.total_out);
  EXPECT_EQ(InflateEnd(&record), Z_OK);
  return out;
}

class InflateOperationsRouting : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(EngineBinding.LibraryBound);
    gEntryCalls.clear();
    text_ = test::MakeText(30000, 9);
    raw_ = test::Raw(text_);
  }
  void TearDown() override { ReleaseEngineLibrary(); }

  TFakeLibraryLoader loader_;
  test::TBytes text_, raw_;
};

TEST_F(InflateOperationsRouting, BoundLibraryGetsItsOwnVersionBeforeEveryInit) {
  for (const char* slot : {kWapi, kZ1}) {
    SCOPED_TRACE(slot);
    gEntryCalls.clear();
    TFakeLibraryLoader loader;
    const TReleaseAtScopeEnd release;
    loader.Add(slot, {}, LoggingEntries());
    ProbeEngineLibrary(loader);
    ASSERT_TRUE(EngineBinding.LibraryBound);

    EXPECT_EQ(InflateThroughOperations(raw_), text_);
    EXPECT_EQ(InflateThroughOperations(raw_), text_);

    const TNames oneRecord = {"zlibVersion", "inflateInit2_", "inflateReset", "inflate", "inflateEnd"};
    TNames twoRecords = oneRecord;
    twoRecords.insert(twoRecords.end(), oneRecord.begin(), oneRecord.end());
    EXPECT_EQ(gEntryCalls, twoRecords);
    EXPECT_EQ(gVersionReceived, gVersionHandedOut) << "the library's own version text";
    EXPECT_EQ(gRecordSizeReceived, static_cast<int>(sizeof(z_stream)));
    ReleaseEngineLibrary();
  }
}

TEST_F(InflateOperationsRouting, WithoutABoundLibraryTheBuiltInEngineServes) {
  // A library bound and released before must leave no trace either.
  loader_.Add(kWapi, {}, LoggingEntries());
  ProbeEngineLibrary(loader_);
  ReleaseEngineLibrary();
  ASSERT_FALSE(EngineBinding.LibraryBound);
  gEntryCalls.clear();

  EXPECT_EQ(InflateThroughOperations(raw_), text_);
  EXPECT_TRUE(gEntryCalls.empty());
  EXPECT_STREQ(ServingEngineVersion(), zlibVersion());
}

}  // namespace
}  // namespace quarn
