#include "support/cupsd.h"

#include <stdexcept>

namespace usbink::test {
namespace {

const std::string kScript = std::string(USBINK_SOURCE_DIR) + "/tests/harness/private-cupsd.sh";

}  // namespace

Cupsd::Cupsd() : m_dir(m_parent.file("cups")) {
  const auto r = run({kScript, "start", m_dir});
  if (r.exitCode != 0) throw std::runtime_error("cupsd did not start: " + r.err);
  m_pid = std::stoi(r.out);
}

Cupsd::~Cupsd() {
  run({kScript, "stop", m_dir});
}

void Cupsd::addQueue(const std::string& name, const std::string& deviceUri,
                     const std::string& ppd) {
  const auto r = run({kScript, "add", m_dir, name, deviceUri, ppd});
  if (r.exitCode != 0) throw std::runtime_error("adding queue " + name + " failed: " + r.err);
}

}  // namespace usbink::test
