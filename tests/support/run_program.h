// Runs a program with arguments and captures its stdout, stderr and exit
// status, for end-to-end tests of the command-line programs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quarn::test {

struct TProgramResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

// `closeStdout`: the program's stdout is a pipe whose reader is already
// gone, as when its output is piped into a program that has ended.
// `workingDirectory`: where the program runs (this process's own when
// empty).
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

}  // namespace quarn::test
