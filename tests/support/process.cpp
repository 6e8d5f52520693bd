#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace usbink::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast, std::chrono::milliseconds;

// Starts `argv` with our environment plus `extra`, standard input empty and
// the output set up by `actions` (destroyed here); throws when it cannot.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra,
            posix_spawn_file_actions_t* actions) {
  posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> args = argv, envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (!extra.contains(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : extra) envStrings.push_back(k + "=" + v);
  std::vector<char*> cArgs, cEnv;
  for (auto& s : args) cArgs.push_back(s.data());
  for (auto& s : envStrings) cEnv.push_back(s.data());
  cArgs.push_back(nullptr);
  cEnv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cArgs[0], actions, nullptr, cArgs.data(), cEnv.data());
  posix_spawn_file_actions_destroy(actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

int reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  const auto start = Clock::now();
  pid_t pid = -1;
  try {
    pid = spawn(argv, options.env, &actions);
  } catch (...) {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    throw;
  }
  close(out[1]);
  close(err[1]);

  ProcessResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int open = 2; open > 0;) {
    const auto left = duration_cast<milliseconds>(start + options.timeout - Clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        close(std::exchange(fds[i].fd, -1));
        --open;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  const int status = reap(pid);
  result.elapsed = duration_cast<milliseconds>(Clock::now() - start);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ProcessResult runChecked(const std::vector<std::string>& argv) {
  auto result = run(argv);
  if (result.exitCode == 0) return result;
  std::string line;
  for (const auto& a : argv) line += a + " ";
  throw std::runtime_error("failed: " + line + ": " + result.err);
}

Child::Child(const std::vector<std::string>& argv, const std::string& logPath,
             const std::map<std::string, std::string>& env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = logPath.empty() ? "/dev/null" : logPath;
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  m_pid = spawn(argv, env, &actions);
}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    stop();
    m_pid = std::exchange(other.m_pid, -1);
  }
  return *this;
}

bool Child::running() {
  int status = 0;
  if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == 0) return true;
  m_pid = -1;
  return false;
}

void Child::stop() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGCONT);
  kill(m_pid, SIGTERM);
  if (!waitFor([this] { return !running(); }, std::chrono::seconds(3))) {
    kill(m_pid, SIGKILL);
    reap(m_pid);
  }
  m_pid = -1;
}

std::string readFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& content, int mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), static_cast<mode_t>(mode));
}

TempDir::TempDir(const std::string& prefix) : m_path("/tmp/" + prefix + "-XXXXXX") {
  if (mkdtemp(m_path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  chmod(m_path.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  for (const auto deadline = Clock::now() + limit; !ready();) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

}  // namespace usbink::test
