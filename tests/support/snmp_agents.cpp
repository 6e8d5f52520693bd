#include "support/snmp_agents.h"

#include <stdexcept>

#include "snmpv3/credentials.h"
#include "support/raw_responder.h"
#include "usbink/base64.h"
#include "usbink/oids.h"

namespace usbink::test {
namespace {

// What both agents serve, with the defaults filled in.
struct Served {
  std::string engineId, user, auth, priv, deviceId;
};

Served served(const AgentConfig& c) {
  const auto cred = usmCredentials();
  // A distinct engine ID per listening address, with the expected enterprise.
  const std::string tag = (c.address4.empty() ? c.address6 : c.address4).substr(0, 24);
  return {c.engineId.empty() ? "800002a204" + toHex(Bytes(tag.begin(), tag.end())) : c.engineId,
          cred.userName, c.authPassPhrase.empty() ? cred.authPassword : c.authPassPhrase,
          c.privPassPhrase.empty() ? cred.privPassword : c.privPassPhrase,
          c.deviceId.value_or(deviceIdWithToner(c.toner))};
}

Child start(const std::vector<std::string>& argv, const std::string& log,
            const std::map<std::string, std::string>& env, const std::string& readyLine) {
  Child child(argv, log, env);
  if (!waitFor([&] { return readFile(log).find(readyLine) != std::string::npos; }) ||
      !child.running()) {
    throw std::runtime_error("agent did not start, " + log + ":\n" + readFile(log));
  }
  return child;
}

}  // namespace

std::string statusBlockWithToner(int toner) {
  unsigned char block[108];
  for (int i = 0; i < 108; ++i) block[i] = static_cast<unsigned char>(i ? i : toner);
  char text[160];
  base64_encode(block, sizeof block, text, sizeof text);
  return text;
}

std::string deviceIdWithToner(int toner) {
  return "MFG:Acme;CMD:PCL;MDL:Laser;STS:" + statusBlockWithToner(toner) + ";";
}

SnmpdAgent::SnmpdAgent(const AgentConfig& c) {
  const Served s = served(c);
  std::string listen = c.address4.empty() ? "" : "udp:" + c.address4 + ":161";
  if (!c.address6.empty()) listen += (listen.empty() ? "udp6:[" : ",udp6:[") + c.address6 + "]:161";
  std::string conf = "[snmp] persistentDir " + m_dir.file("state") + "\nagentaddress " + listen +
                     "\nexactEngineID 0x" + s.engineId + "\nsysName " + c.sysName +
                     "\nsysObjectID ." + c.sysObjectId + "\ncreateUser " + s.user + " MD5 \"" +
                     s.auth + "\" DES \"" + s.priv + "\"\nrouser " + s.user + " priv\n";
  if (c.v1) conf += "rocommunity mirtal\nrocommunity6 mirtal\n";
  const auto override = [&](const char* oid, const std::string& value) {
    conf += std::string("override .") + oid + " octet_str \"" + value + "\"\n";
  };
  if (c.serveDeviceId) override(kOidDeviceId, s.deviceId);
  if (c.serveVersions) {
    override(kOidFwVersion, c.fwVersion);
    override(kOidMcuVersion, c.mcuVersion);
  }
  writeFile(m_dir.file("snmpd.conf"), conf + c.snmpdLines);
  m_child = start({"snmpd", "-f", "-Lo", "-C", "-c", m_dir.file("snmpd.conf"), "-I", "-smux", "-m",
                   "", "-p", m_dir.file("snmpd.pid")},
                  m_dir.file("snmpd.log"), {{"MIBS", ""}}, "NET-SNMP version");
}

PysnmpAgent::PysnmpAgent(const AgentConfig& c) {
  const Served s = served(c);
  std::vector<std::string> argv = {USBINK_PYTHON,
                                   USBINK_SOURCE_DIR "/tests/harness/pysnmp_agent.py"};
  argv.insert(argv.end(), {"--engine-id", s.engineId, "--sys-name", c.sysName, "--user", s.user});
  argv.insert(argv.end(), {"--sys-object-id", c.sysObjectId, "--auth", s.auth, "--priv", s.priv});
  if (!c.address4.empty()) argv.insert(argv.end(), {"--addr", c.address4});
  if (!c.address6.empty()) argv.insert(argv.end(), {"--addr6", c.address6});
  if (c.v1) argv.insert(argv.end(), {"--community", "mirtal"});
  if (c.serveDeviceId) argv.insert(argv.end(), {"--device-id", s.deviceId});
  if (c.serveVersions) argv.insert(argv.end(), {"--fw", c.fwVersion, "--mcu", c.mcuVersion});
  m_child = start(argv, m_dir.file("pysnmp.log"), {{"TMPDIR", m_dir.path()}}, "pysnmp agent ready");
}

}  // namespace usbink::test
