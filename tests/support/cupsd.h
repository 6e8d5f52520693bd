// A private CUPS scheduler for tests: its own ServerRoot and a Unix-socket
// listener, so several run side by side and none touches the system's.
#pragma once

#include <map>
#include <string>

#include "support/process.h"

namespace usbink::test {

class Cupsd {
 public:
  Cupsd();
  ~Cupsd();
  Cupsd(const Cupsd&) = delete;
  Cupsd& operator=(const Cupsd&) = delete;

  // Adds a queue with that device URI (any scheme is accepted).
  void addQueue(const std::string& name, const std::string& deviceUri);
  // The CUPS_SERVER value that names this scheduler.
  const std::string& socketPath() const { return m_socket; }
  // The environment a client of this scheduler needs.
  std::map<std::string, std::string> clientEnv() const;
  Child& process() { return m_child; }
  const std::string& dir() const { return m_dir.path(); }

 private:
  void linkBackend(const std::string& scheme);

  TempDir m_dir{"usbink-cups"};
  std::string m_socket;
  Child m_child;
};

}  // namespace usbink::test
