// A private CUPS scheduler (tests/harness/private-cupsd.sh) beside the system's and others.
#pragma once

#include <map>
#include <string>

#include "support/process.h"

namespace usbink::test {

class Cupsd {
 public:
  Cupsd() : m_pid(std::stoi(runChecked({kScript, "start", m_dir}).out)) {}
  ~Cupsd() { run({kScript, "stop", m_dir}); }
  void addQueue(const std::string& name, const std::string& uri, const std::string& ppd = "") {
    runChecked({kScript, "add", m_dir, name, uri, ppd});
  }
  // An executable in the scheduler's ServerBin (e.g. "filter/x").
  void installProgram(const std::string& relativePath, const std::string& content) const {
    writeFile(m_dir + "/bin/" + relativePath, content, 0755);
  }
  std::map<std::string, std::string> clientEnv() const {
    return {{"CUPS_SERVER", m_dir + "/cups.sock"}};
  }
  const std::string& dir() const { return m_dir; }
  pid_t pid() const { return m_pid; }

 private:
  static constexpr const char* kScript = USBINK_SOURCE_DIR "/tests/harness/private-cupsd.sh";
  TempDir m_parent{"usbink-cups"};
  std::string m_dir = m_parent.file("cups");
  pid_t m_pid;
};

}  // namespace usbink::test
