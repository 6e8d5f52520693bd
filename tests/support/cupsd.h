// A private CUPS scheduler (tests/harness/private-cupsd.sh) beside the system's and others.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/process.h"

namespace usbink::test {

class Cupsd {
 public:
  Cupsd() : m_pid(std::stoi(call({"start"}))) {}
  ~Cupsd() { run({kScript, "stop", m_dir}); }
  // A queue with that device URI (any scheme) and, when given, that PPD file.
  void addQueue(const std::string& name, const std::string& uri, const std::string& ppd = "") {
    call({"add", name, uri, ppd});
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
  std::string call(std::vector<std::string> args) {
    args.insert(args.begin() + 1, m_dir);
    args.insert(args.begin(), kScript);
    return runChecked(args).out;
  }
  TempDir m_parent{"usbink-cups"};
  std::string m_dir = m_parent.file("cups");
  pid_t m_pid;
};

}  // namespace usbink::test
