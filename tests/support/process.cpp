#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Starts `argv` with our environment plus `extra`, standard input empty, output to `out` and
// `err`; -1 when it cannot.
pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& extra, int out,
            int err, const std::string& cwd = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!extra.contains(std::string(*e, std::strcspn(*e, "=")))) env.push_back(*e);
  }
  for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
  std::vector<char*> cArgs, cEnv;
  for (auto& s : argv) cArgs.push_back(s.data());
  for (auto& s : env) cEnv.push_back(s.data());
  cArgs.push_back(nullptr);
  cEnv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, cArgs[0], &actions, nullptr, cArgs.data(), cEnv.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
  return status;
}

}  // namespace

ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options) {
  // Standard output through a pipe, read until every holder has closed it; standard error
  // into a memory file, read once the process has ended.
  int out[2];
  const int err = memfd_create("stderr", MFD_CLOEXEC);
  if (err < 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const auto start = Clock::now();
  const pid_t pid = spawn(argv, options.env, out[1], err, options.cwd);
  close(out[1]);
  ProcessResult result;
  for (char buf[4096]; pid > 0;) {
    const auto left = duration_cast<milliseconds>(start + options.timeout - Clock::now());
    pollfd readable{out[0], POLLIN, 0};
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    result.out.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const int status = pid > 0 ? reap(pid) : -1;
  result.err = readFile("/proc/self/fd/" + std::to_string(err));
  close(err);
  if (pid < 0) throw std::runtime_error("cannot start " + argv[0]);
  result.elapsed = duration_cast<milliseconds>(Clock::now() - start);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ProcessResult runChecked(const std::vector<std::string>& argv) {
  auto result = run(argv);
  if (result.exitCode != 0) throw std::runtime_error("failed: " + argv[0] + ": " + result.err);
  return result;
}

Child::Child(const std::vector<std::string>& argv, const std::string& logPath,
             const std::map<std::string, std::string>& env) {
  const std::string log = logPath.empty() ? "/dev/null" : logPath;
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  m_pid = fd < 0 ? -1 : spawn(argv, env, fd, fd);
  close(fd);
  if (m_pid < 0) throw std::runtime_error("cannot start " + argv[0] + " with log " + log);
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
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  for (const auto deadline = Clock::now() + limit; !ready();) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

}  // namespace usbink::test
