// quarn-scan's standard output: every write checked, and a reader that has
// gone away (EPIPE) turned into TOutputClosed instead of a failure.
#include "cli/output.h"

#include <cerrno>
#include <cstdio>

#include "util/errors.h"
#include "util/platform/file_system.h"
#include "util/platform/process.h"

namespace quarn::cli {
namespace {

[[noreturn]] void Fail() {
  if (platform::ReaderIsGone(errno)) throw TOutputClosed{};
  throw TQuarnError("Cannot write the output: " + platform::SystemErrorText(errno));
}

}  // namespace

void WriteOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) Fail();
}

void FlushOut() {
  if (std::fflush(stdout) != 0) Fail();
}

}  // namespace quarn::cli
