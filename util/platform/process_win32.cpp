// Start-up of a command-line program on Windows: the UTF-16 command line as
// UTF-8 texts, binary standard streams and a UTF-8 console.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "util/platform/process.h"
#include "util/platform/wide_text_win32.h"

namespace quarn::platform {

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int k = 0; k < count; ++k) arguments.push_back(Utf8FromWide(wide[k], std::wcslen(wide[k])));
  ::LocalFree(wide);
  return arguments;
}

void PrepareStandardStreams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

bool ReaderIsGone(int errorNumber) {
  if (errorNumber == EPIPE) return true;
  const DWORD error = ::GetLastError();
  return errorNumber == EINVAL && (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE);
}

}  // namespace quarn::platform
