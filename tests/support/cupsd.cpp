#include "support/cupsd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace usbink::test {

Cupsd::Cupsd() {
  const std::string& d = m_dir.path();
  m_socket = d + "/cups.sock";
  if (m_socket.size() > 100) throw std::runtime_error("cupsd socket path too long: " + m_socket);
  for (const char* sub : {"etc", "spool", "spool/tmp", "log", "cache", "state", "bin", "bin/backend",
                          "bin/filter", "ssl"}) {
    mkdir((d + "/" + sub).c_str(), 0755);
  }
  chmod((d + "/spool").c_str(), 0710);
  writeFile(d + "/etc/cups-files.conf",
            "ServerRoot " + d + "/etc\nRequestRoot " + d + "/spool\nTempDir " + d +
                "/spool/tmp\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nServerBin " + d +
                "/bin\nServerKeychain " + d + "/ssl\nCreateSelfSignedCerts no\n"
                "DataDir /usr/share/cups\nAccessLog " + d + "/log/access_log\nErrorLog " + d +
                "/log/error_log\nPageLog " + d + "/log/page_log\nPrintcap " + d +
                "/printcap\nUser lp\nGroup lp\nSystemGroup root\n");
  writeFile(d + "/etc/cupsd.conf",
            "LogLevel warn\nListen " + m_socket +
                "\nBrowsing No\nWebInterface No\n<Policy default>\n"
                "  JobPrivateAccess default\n  JobPrivateValues default\n"
                "  SubscriptionPrivateAccess default\n  SubscriptionPrivateValues default\n"
                "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  m_child = Child({"cupsd", "-f", "-c", d + "/etc/cupsd.conf", "-s", d + "/etc/cups-files.conf"},
                  d + "/log/stdout");
  const bool up = waitFor([&] {
    if (!m_child.running()) return true;
    auto r = run({"lpstat", "-r"}, withEnv(clientEnv()));
    return r.out.find("is running") != std::string::npos;
  });
  if (!up || !m_child.running()) {
    throw std::runtime_error("cupsd did not start:\n" + readFile(d + "/log/stdout") +
                             readFile(d + "/log/error_log"));
  }
}

Cupsd::~Cupsd() { m_child.stop(); }

std::map<std::string, std::string> Cupsd::clientEnv() const {
  return {{"CUPS_SERVER", m_socket}};
}

void Cupsd::linkBackend(const std::string& scheme) {
  const std::string link = m_dir.path() + "/bin/backend/" + scheme;
  symlink("/bin/true", link.c_str());
}

void Cupsd::addQueue(const std::string& name, const std::string& deviceUri) {
  const auto colon = deviceUri.find(':');
  if (colon != std::string::npos) linkBackend(deviceUri.substr(0, colon));
  auto r = run({"lpadmin", "-p", name, "-v", deviceUri}, withEnv(clientEnv()));
  if (r.exitCode != 0) throw std::runtime_error("lpadmin -p " + name + " failed: " + r.err);
}

}  // namespace usbink::test
