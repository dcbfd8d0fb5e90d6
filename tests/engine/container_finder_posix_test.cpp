// The container finder on a pack that git itself writes, with deltas,
// checked entry by entry against git verify-pack. POSIX only: it runs the
// git program found on PATH.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/container_finder.h"
#include "engine/stream_detector.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;

// A pack that git itself wrote, with deltas: every entry the scan finds
// has the offset, size and type that git verify-pack gives it.
std::string FindOnPath(const std::string& program) {
  const char* const path = std::getenv("PATH");
  std::stringstream dirs(path == nullptr ? "" : path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / program;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

TEST(ContainerFinder, GitPackAsGitVerifiesIt) {
  const std::string git = FindOnPath("git");
  if (git.empty()) GTEST_SKIP() << "no git";
  const test::TTempDir dir;
  const std::string repo = dir.Path() + "/repo";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"-C", repo, "-c", "user.name=t", "-c", "user.email=t@t", "-c", "commit.gpgsign=false"});
    const test::TProgramResult result = test::RunProgram(git, args);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  };
  ASSERT_EQ(test::RunProgram(git, {"init", "-q", repo}).status, 0);
  // Two versions of each file, so that repacking makes deltas.
  for (uint32_t version = 0; version < 2; ++version) {
    for (uint32_t k = 0; k < 6; ++k) {
      TBytes text = test::MakeText(3000 + 1000 * k, 100 + k);
      // Each version with text of its own, the first's shorter: git makes
      // the smaller a delta on the larger, and the first's own text makes
      // that delta's stream large enough for the scan's rule.
      const TBytes own = test::MakeText(version == 0 ? 3000 : 4000, 200 + 10 * k + version);
      text.insert(text.begin() + 1500, own.begin(), own.end());
      std::ofstream(repo + "/file" + std::to_string(k), std::ios::binary)
          .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size()));
    }
    run({"add", "."});
    run({"commit", "-q", "-m", "version " + std::to_string(version)});
  }
  run({"repack", "-a", "-d", "-f", "-q"});
  std::string packPath;
  for (const auto& file : std::filesystem::directory_iterator(repo + "/.git/objects/pack")) {
    if (file.path().extension() == ".pack") packPath = file.path().string();
  }
  ASSERT_FALSE(packPath.empty());

  // verify-pack -v: "id type size size-in-pack offset [depth base]".
  struct TEntry {
    std::string type;
    int64_t size = 0;
    bool delta = false;
  };
  std::map<int64_t, TEntry> entries;
  std::stringstream listing(run({"verify-pack", "-v", packPath}));
  for (std::string line; std::getline(listing, line);) {
    std::stringstream fields(line);
    std::string id, type, depth;
    int64_t size = 0, packedBytes = 0, offset = 0;
    if (!(fields >> id >> type >> size >> packedBytes >> offset) || id.size() != 40) continue;
    entries[offset] = {type, size, static_cast<bool>(fields >> depth)};
  }
  ASSERT_GE(entries.size(), 14u);  // two commits, two trees, twelve blobs

  std::ifstream in(packPath, std::ios::binary);
  const TBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const test::TGuardedBuffer buffer(bytes);
  TScanner scanner;
  TCollectSink sink;
  scanner.FindStreams({buffer.Data(), buffer.Size()}, {0, buffer.Size()}, sink);
  TContainerFinder finder({buffer.Data(), buffer.Size()});
  int checked = 0, deltas = 0;
  for (const TFoundStream& stream : sink.Streams) {
    const std::optional<TContainer> found = finder.Find(stream);
    ASSERT_TRUE(found.has_value()) << "stream at " << stream.StartBytes();
    EXPECT_EQ(found->Kind, TContainerKind::GitPack);
    const auto entry = entries.find(found->Offset);
    ASSERT_NE(entry, entries.end()) << "no entry at " << found->Offset;
    EXPECT_EQ(found->Size, entry->second.size);
    if (entry->second.delta) {
      EXPECT_TRUE(found->Type == "ofs-delta" || found->Type == "ref-delta") << found->Type;
      ++deltas;
    } else {
      EXPECT_EQ(found->Type, entry->second.type);
    }
    ++checked;
  }
  EXPECT_GE(checked, 6);  // the scan's rule turns down the smallest streams
  EXPECT_GE(deltas, 1);
}

}  // namespace
}  // namespace quarn
