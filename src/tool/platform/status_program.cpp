#include "tool/platform/status_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace usbink::platform {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  void reset() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

// Waits until `fd` is readable (data or end of file); false once `deadline`
// has passed first. An interrupted wait goes on with what is left of the
// time.
bool readableBefore(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd watched{fd, POLLIN, 0};
    const int ready = poll(&watched, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

ssize_t readSome(int fd, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Reaps the program, looking every millisecond whether it has ended (it has
// closed its output, so it mostly has); one still running at `deadline` is
// killed first. A process descriptor would say at once, but valgrind, under
// which the tests run the tool, does not know pidfd_open. The program is ours
// and not reaped before this, so its PID cannot have passed to another
// process when it is killed.
void reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    usleep(1000);
  }
}

}  // namespace

std::optional<std::string> runStatusProgram(const std::string& program, const std::string& queue,
                                            const std::string& uri,
                                            std::chrono::milliseconds timeLimit) {
  const auto deadline = Clock::now() + timeLimit;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  Fd readEnd(ends[0]);
  Fd writeEnd(ends[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(queue.c_str()),
                  const_cast<char*>(uri.c_str()), nullptr};
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (failed != 0) return std::nullopt;

  std::string output;
  char chunk[512];
  ssize_t n;
  while (readableBefore(readEnd.get(), deadline) &&
         (n = readSome(readEnd.get(), chunk, sizeof chunk)) > 0) {
    const std::size_t room = kStatusOutputMax - output.size();
    output.append(chunk, std::min(room, static_cast<std::size_t>(n)));
  }
  readEnd.reset();
  reap(pid, deadline);
  output.resize(std::strlen(output.c_str()));
  return output;
}

}  // namespace usbink::platform
