// Runs a program with arguments and captures its stdout, stderr and exit
// status, for end-to-end tests of the command-line programs.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
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
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
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
#else
inline TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                 bool closeStdout = false, const std::string& workingDirectory = "") {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
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
#endif

}  // namespace quarn::test
