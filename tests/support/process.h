// Child processes (run to completion, or in the background until stopped), temporary files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace usbink::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal (or at the time limit)
  std::string out, err;
};

struct ProcessOptions {
  std::map<std::string, std::string> env;  // set on top of ours
  std::chrono::milliseconds timeout{std::chrono::seconds(30)};
};

// Runs `argv`, no shell, input empty, until its output ends (descendants too) or time runs out.
ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options = {});
// For set-up commands: throws std::runtime_error with its standard error unless it exits 0.
ProcessResult runChecked(const std::vector<std::string>& argv);

// A background process, output appended to `logPath` (or discarded), stopped and reaped.
class Child {
 public:
  Child() = default;
  Child(const std::vector<std::string>& argv, const std::string& logPath,
        const std::map<std::string, std::string>& env = {});
  Child(Child&& other) noexcept : m_pid(std::exchange(other.m_pid, -1)) {}
  Child& operator=(Child&& other) noexcept {
    stop();
    m_pid = std::exchange(other.m_pid, -1);
    return *this;
  }
  ~Child() { stop(); }
  pid_t pid() const { return m_pid; }
  // False once it has ended; it is then reaped and forgotten (stop() never signals a reused PID).
  bool running();
  void stop();

 private:
  pid_t m_pid = -1;
};

std::string readFile(const std::string& path);  // "" when missing
void writeFile(const std::string& path, const std::string& content, int mode = 0644);

// A fresh directory under /tmp, removed with its content at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "usbink-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Polls `ready` every 10 ms until it is true or `limit` has passed.
bool waitFor(const std::function<bool()>& ready,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace usbink::test
