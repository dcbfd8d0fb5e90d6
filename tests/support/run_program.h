// Runs a program with arguments and captures its stdout, stderr and exit
// status, for end-to-end tests of the command-line programs; its standard
// input is this process's own, or a file's content.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace quarn::test {

struct TProgramResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

#ifdef _WIN32
namespace detail {

inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

// One argument quoted as CommandLineToArgvW reads it back: backslashes
// before a quote are doubled, quotes escaped.
inline std::wstring Quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

inline void Drain(HANDLE pipe, std::string& sink) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) sink.append(chunk, got);
  CloseHandle(pipe);
}

}  // namespace detail
#endif

// `closeStdout`: the program's stdout is a pipe whose reader is already
// gone, as when its output is piped into a program that has ended.
// `workingDirectory`: where the program runs (this process's own when
// empty).
//   RunProgram(program, args, closeStdout = false, workingDirectory = "")
// RunProgramWithInput gives the program the content of `file` as its
// standard input: through a pipe that a thread fills, 7,000 bytes at a
// time (`throughPipe`), or the file itself.
//   RunProgramWithInput(program, args, file, throughPipe)
#ifdef _WIN32
inline TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                 bool closeStdout = false, const std::string& workingDirectory = "") {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    TProgramResult failed;
    failed.err = "cannot make the pipes: Win32 error " + std::to_string(GetLastError());
    return failed;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  std::wstring commandLine = detail::Quoted(detail::Wide(program));
  for (const std::string& a : args) commandLine += L" " + detail::Quoted(detail::Wide(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);  // RunProgramWithInput sets its own
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const std::wstring directory = detail::Wide(workingDirectory);
  const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  const DWORD startError = started ? 0 : GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  TProgramResult result;
  if (closeStdout) {
    CloseHandle(outRead);
    outRead = nullptr;
  }
  std::thread outReader;
  if (outRead != nullptr) outReader = std::thread([&] { detail::Drain(outRead, result.out); });
  detail::Drain(errRead, result.err);
  if (outReader.joinable()) outReader.join();
  if (!started) {
    TProgramResult failed;
    failed.err = "cannot start " + program + ": Win32 error " + std::to_string(startError);
    return failed;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  result.status = static_cast<int>(status);
  return result;
}

inline TProgramResult RunProgramWithInput(const std::string& program, const std::vector<std::string>& args,
                                          const std::string& file, bool throughPipe) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = INVALID_HANDLE_VALUE, feed = nullptr;
  if (throughPipe) {
    if (!CreatePipe(&input, &feed, &inherit, 0)) return {};
    SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
  } else {
    input = CreateFileW(detail::Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) return {};
  }
  std::thread writer;
  if (feed != nullptr) {
    writer = std::thread([&] {
      std::ifstream in(std::filesystem::u8path(file), std::ios::binary);
      const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      for (std::size_t at = 0; at < content.size(); at += 7000) {
        DWORD written = 0;
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(7000, content.size() - at));
        // Win32's WriteFile, named from the top: temp_dir.h's test::WriteFile would hide it.
        if (!::WriteFile(feed, content.data() + at, n, &written, nullptr)) break;
      }
      CloseHandle(feed);
    });
  }
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, input);  // RunProgram hands its own standard input on
  const TProgramResult r = RunProgram(program, args);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(input);
  if (writer.joinable()) writer.join();
  return r;
}
#else
namespace detail {

// RunProgram with `input` (a descriptor, or -1 for this process's own) as
// the program's standard input.
inline TProgramResult RunProgramFrom(int input, const std::string& program, const std::vector<std::string>& args,
                                     bool closeStdout, const std::string& workingDirectory) {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    if (input >= 0) ::dup2(input, STDIN_FILENO);
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[0]);
    ::close(errPipe[1]);
    if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (closeStdout) {
    ::close(outPipe[0]);
    outPipe[0] = -1;
  }
  TProgramResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = closeStdout ? 1 : 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = ::read(fds[k].fd, chunk, sizeof chunk);
      if (got <= 0) {
        ::close(fds[k].fd);
        fds[k].fd = -1;
        --open;
      } else {
        sinks[k]->append(chunk, static_cast<std::size_t>(got));
      }
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace detail

inline TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                 bool closeStdout = false, const std::string& workingDirectory = "") {
  return detail::RunProgramFrom(-1, program, args, closeStdout, workingDirectory);
}

inline TProgramResult RunProgramWithInput(const std::string& program, const std::vector<std::string>& args,
                                          const std::string& file, bool throughPipe) {
  int input = -1, feed = -1;
  if (throughPipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    input = fds[0];
    feed = fds[1];
  } else {
    input = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) return {};
  }
  std::thread writer;
  if (feed >= 0) {
    writer = std::thread([&] {
      std::ifstream in(file, std::ios::binary);
      const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      for (std::size_t at = 0; at < content.size(); at += 7000) {
        const std::size_t n = std::min<std::size_t>(7000, content.size() - at);
        if (::write(feed, content.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      ::close(feed);
    });
  }
  const TProgramResult r = detail::RunProgramFrom(input, program, args, false, "");
  ::close(input);
  if (writer.joinable()) writer.join();
  return r;
}
#endif

}  // namespace quarn::test
