// A private CUPS scheduler (tests/harness/private-cupsd.sh): its own
// ServerRoot and Unix-socket listener, beside the system's and others.
#pragma once

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

  // A queue with that device URI (any scheme) and, when given, that PPD file.
  void addQueue(const std::string& name, const std::string& deviceUri,
                const std::string& ppd = "") {
    const auto r = run({script(), "add", m_dir, name, deviceUri, ppd});
    if (r.exitCode != 0) throw std::runtime_error("adding queue " + name + " failed: " + r.err);
  }
  // An executable in the scheduler's ServerBin (e.g. "filter/x").
  void installProgram(const std::string& relativePath, const std::string& content) const {
    writeFile(m_dir + "/bin/" + relativePath, content, 0755);
  }
  std::string socketPath() const { return m_dir + "/cups.sock"; }  // CUPS_SERVER
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
