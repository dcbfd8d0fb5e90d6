// What the tests of mapped files read back from one: the error it raised,
// or its bytes. Shared by mapped_file_test.cpp and
// mapped_file_posix_test.cpp, which form one program.
#pragma once

#include <string>

#include "tests/support/zlib_fixtures.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn::test {

inline std::string ErrorOf(const std::string& path) {
  try {
    TMappedFile file(path);
  } catch (const TQuarnError& e) {
    return std::string(e.KindName()) + ": " + e.what();
  }
  return "no error";
}

inline TBytes ContentOf(const TMappedFile& file) {
  return file.Size() == 0 ? TBytes{} : TBytes(file.Memory(), file.Memory() + file.Size());
}

}  // namespace quarn::test
