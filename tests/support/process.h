// Child processes for tests: run to completion with a time limit, or keep
// running in the background and stop by PID when the owner goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace usbink::test {

struct ProcessResult {
  int exitCode = -1;      // exit status, or -1 when killed by a signal
  int signal = 0;         // the signal that ended it, or 0
  bool timedOut = false;  // killed because it ran past its limit
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

struct ProcessOptions {
  std::map<std::string, std::string> env;  // set on top of ours
  std::string cwd;                         // working directory ("" keeps ours)
  std::chrono::milliseconds timeout{std::chrono::seconds(30)};
};

inline ProcessOptions withEnv(std::map<std::string, std::string> env) {
  ProcessOptions o;
  o.env = std::move(env);
  return o;
}

// Runs `argv` without a shell, standard input empty, and collects its output.
ProcessResult run(const std::vector<std::string>& argv, const ProcessOptions& options = {});
// For set-up commands that must succeed: throws std::runtime_error with the
// command line and its standard error when it exits non-zero.
ProcessResult runChecked(const std::vector<std::string>& argv);

// A background process, stopped (TERM, then KILL) and reaped by its owner.
class Child {
 public:
  Child() = default;
  // Starts `argv`; its output goes to `logPath` (or /dev/null when empty).
  Child(const std::vector<std::string>& argv, const std::string& logPath,
        const std::map<std::string, std::string>& env = {});
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  ~Child();

  pid_t pid() const { return m_pid; }
  // False once the process has ended; it is then reaped and forgotten, so
  // that stop() can never signal a reused PID.
  bool running();
  void stop();

 private:
  pid_t m_pid = -1;
};

// Reads a whole file ("" when it is missing).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, int mode = 0644);

// A fresh directory under /tmp, removed with its content at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "usbink-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Polls `ready` every 10 ms until it is true or `limit` has passed.
bool waitFor(const std::function<bool()>& ready,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace usbink::test
