#include "support/snmp_agents.h"

#include <stdexcept>

#include "snmpv3/credentials.h"
#include "usbink/base64.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

std::string hexOf(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A distinct engine ID per listening address, with the expected enterprise.
std::string defaultEngineId(const AgentConfig& c) {
  const std::string tag = c.address4.empty() ? c.address6 : c.address4;
  return "800002a204" + hexOf(tag.substr(0, 24));
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

void waitForLine(const std::string& log, const std::string& line, Child& child,
                 const std::string& what) {
  const bool ok = waitFor([&] {
    return readFile(log).find(line) != std::string::npos || !child.running();
  });
  if (!ok || !child.running()) throw std::runtime_error(what + " did not start:\n" + readFile(log));
}

}  // namespace

std::string statusBlockWithToner(int toner) {
  unsigned char block[108];
  block[0] = static_cast<unsigned char>(toner);
  for (int i = 1; i < 108; ++i) block[i] = static_cast<unsigned char>(i);
  char text[160];
  base64_encode(block, sizeof block, text, sizeof text);
  return text;
}

std::string deviceIdWithToner(int toner) {
  return "MFG:Acme;CMD:PCL;MDL:Laser;STS:" + statusBlockWithToner(toner) + ";";
}

SnmpdAgent::SnmpdAgent(const AgentConfig& c) {
  m_engineId = c.engineId.empty() ? defaultEngineId(c) : c.engineId;
  const auto cred = usmCredentials();
  std::string listen;
  if (!c.address4.empty()) listen = "udp:" + c.address4 + ":161";
  if (!c.address6.empty()) listen += std::string(listen.empty() ? "" : ",") + "udp6:[" + c.address6 + "]:161";
  std::string conf = "[snmp] persistentDir " + m_dir.file("state") + "\n";
  conf += "agentaddress " + listen + "\n";
  conf += "exactEngineID 0x" + m_engineId + "\n";
  if (c.v1) conf += "rocommunity mirtal\nrocommunity6 mirtal\n";
  if (c.v3) {
    conf += std::string("createUser ") + cred.userName + " MD5 " +
            quoted(c.authPassPhrase.empty() ? cred.authPassword : c.authPassPhrase) + " DES " +
            quoted(c.privPassPhrase.empty() ? cred.privPassword : c.privPassPhrase) + "\n";
    conf += std::string("rouser ") + cred.userName + " priv\n";
  }
  conf += "sysName " + c.sysName + "\n";
  conf += "sysObjectID ." + c.sysObjectId + "\n";
  if (c.serveDeviceId) {
    conf += std::string("override .") + kOidDeviceId + " octet_str " +
            quoted(c.deviceId.value_or(deviceIdWithToner(c.toner))) + "\n";
  }
  if (c.serveVersions) {
    conf += std::string("override .") + kOidFwVersion + " octet_str " + quoted(c.fwVersion) + "\n";
    conf += std::string("override .") + kOidMcuVersion + " octet_str " + quoted(c.mcuVersion) + "\n";
  }
  writeFile(m_dir.file("snmpd.conf"), conf);
  const std::string log = m_dir.file("snmpd.log");
  m_child = Child({"snmpd", "-f", "-Lo", "-C", "-c", m_dir.file("snmpd.conf"), "-I", "-smux", "-m",
                   "", "-p", m_dir.file("snmpd.pid")},
                  log, {{"MIBS", ""}});
  waitForLine(log, "NET-SNMP version", m_child, "snmpd");
}

PysnmpAgent::PysnmpAgent(const AgentConfig& c) {
  m_engineId = c.engineId.empty() ? defaultEngineId(c) : c.engineId;
  const auto cred = usmCredentials();
  std::vector<std::string> argv = {USBINK_PYTHON, std::string(USBINK_SOURCE_DIR) + "/tests/harness/pysnmp_agent.py",
                                   "--engine-id", m_engineId, "--sys-name", c.sysName,
                                   "--sys-object-id", c.sysObjectId};
  if (!c.address4.empty()) argv.insert(argv.end(), {"--addr", c.address4});
  if (!c.address6.empty()) argv.insert(argv.end(), {"--addr6", c.address6});
  if (c.v1) argv.insert(argv.end(), {"--community", "mirtal"});
  if (c.v3) {
    argv.insert(argv.end(),
                {"--user", cred.userName, "--auth",
                 c.authPassPhrase.empty() ? std::string(cred.authPassword) : c.authPassPhrase,
                 "--priv",
                 c.privPassPhrase.empty() ? std::string(cred.privPassword) : c.privPassPhrase});
  }
  if (c.serveDeviceId) argv.insert(argv.end(), {"--device-id", c.deviceId.value_or(deviceIdWithToner(c.toner))});
  if (c.serveVersions) argv.insert(argv.end(), {"--fw", c.fwVersion, "--mcu", c.mcuVersion});
  const std::string log = m_dir.file("pysnmp.log");
  m_child = Child(argv, log, {{"TMPDIR", m_dir.path()}});
  waitForLine(log, "pysnmp agent ready", m_child, "pysnmp agent");
}

}  // namespace usbink::test
