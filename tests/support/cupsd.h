// A private CUPS scheduler for tests (tests/harness/private-cupsd.sh): its
// own ServerRoot and a Unix-socket listener, so several run side by side
// and none touches the system's.
#pragma once

#include <sys/types.h>

#include <map>
#include <stdexcept>
#include <string>

#include "support/process.h"

namespace usbink::test {

class Cupsd {
 public:
  Cupsd() : m_dir(m_parent.file("cups")) {
    const auto r = run({script(), "start", m_dir});
    if (r.exitCode != 0) throw std::runtime_error("cupsd did not start: " + r.err);
    m_pid = std::stoi(r.out);
  }
  ~Cupsd() { run({script(), "stop", m_dir}); }
  Cupsd(const Cupsd&) = delete;
  Cupsd& operator=(const Cupsd&) = delete;

  // Adds a queue with that device URI (any scheme is accepted) and, when
  // given, that PPD file.
  void addQueue(const std::string& name, const std::string& deviceUri,
                const std::string& ppd = "") {
    const auto r = run({script(), "add", m_dir, name, deviceUri, ppd});
    if (r.exitCode != 0) throw std::runtime_error("adding queue " + name + " failed: " + r.err);
  }
  // Puts an executable into the scheduler's ServerBin (e.g. "filter/x").
  void installProgram(const std::string& relativePath, const std::string& content) const {
    writeFile(m_dir + "/bin/" + relativePath, content, 0755);
  }
  // The CUPS_SERVER value that names this scheduler.
  std::string socketPath() const { return m_dir + "/cups.sock"; }
  // The environment a client of this scheduler needs.
  std::map<std::string, std::string> clientEnv() const { return {{"CUPS_SERVER", socketPath()}}; }
  pid_t pid() const { return m_pid; }
  const std::string& dir() const { return m_dir; }

 private:
  static std::string script() { return USBINK_SOURCE_DIR "/tests/harness/private-cupsd.sh"; }

  TempDir m_parent{"usbink-cups"};
  std::string m_dir;
  pid_t m_pid = -1;
};

}  // namespace usbink::test
