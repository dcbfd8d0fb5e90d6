// quarn-reference-scan [--headerless] [--accept-incomplete] FILE...
// The plain reference scan over whole files, one after another, printing
// the same report lines as quarn-scan. It is the control for quarn-scan on
// real files and the baseline of the benchmarks.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/scan_report.h"
#include "tests/support/reference_scan.h"

int main(int argc, char** argv) {
  bool headerless = false, accept = false;
  std::vector<std::string> files;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--headerless") == 0) {
      headerless = true;
    } else if (std::strcmp(argv[k], "--accept-incomplete") == 0) {
      accept = true;
    } else {
      files.emplace_back(argv[k]);
    }
  }
  quarn::TScanState state;
  for (const std::string& name : files) {
    const int fd = ::open(name.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      std::fprintf(stderr, "cannot open %s\n", name.c_str());
      return 1;
    }
    const int64_t size = S_ISREG(st.st_mode) ? st.st_size : 0;
    const uint8_t* data = nullptr;
    if (size > 0) {
      void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
      if (view == MAP_FAILED) return 1;
      data = static_cast<const uint8_t*>(view);
    }
    const quarn::test::TReferenceResult r = quarn::test::ReferenceScan(data, size, headerless, accept);
    quarn::test::AddToState(r, size, state);
    if (data != nullptr) ::munmap(const_cast<uint8_t*>(data), static_cast<size_t>(size));
    ::close(fd);
  }
  quarn::TStreamCounts counts = state.Counts();
  counts.Files = static_cast<int64_t>(files.size());
  const quarn::TScanReport report = quarn::BuildScanReport(counts, headerless);
  for (const std::string& line : report.Lines) std::printf("%s\n", line.c_str());
  std::printf("Total zlibbed input: %s\nTotal zlibbed output: %s\n", report.ZlibbedInput.c_str(),
              report.ZlibbedOutput.c_str());
  return 0;
}
