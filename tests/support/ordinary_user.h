// Work done as an ordinary user, for the tests of what such a user may not
// read, list or write while the tests run as root. POSIX only: Windows has
// no user to drop to.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace quarn::test {

// Runs `body` in a child process that has dropped root for the user
// "nobody", and returns what it returned; nullopt when that is not possible
// (not root to begin with is fine: then the body runs as this user).
inline std::optional<std::string> RunAsOrdinaryUser(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    const std::string result = body();
    if (::write(fds[1], result.data(), result.size()) < 0) ::_exit(4);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char chunk[512];
  ssize_t got;
  while ((got = ::read(fds[0], chunk, sizeof chunk)) > 0) result.append(chunk, static_cast<std::size_t>(got));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

}  // namespace quarn::test
