// The SNMP codecs on one core: the v1 GetRequest built and a real v1
// answer parsed; the SNMPv3 request built with and without its two key
// localisations; a real 336-octet SNMPv3 answer (snmpd, authPriv)
// verified, decrypted and parsed. Part of scripts/bench.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "snmp/captured_answers.h"
#include "snmpv3/credentials.h"
#include "snmpv3/usm_detail.h"
#include "support/process.h"
#include "support/raw_responder.h"
#include "usbink/netio.h"
#include "usbink/oids.h"
#include "usbink/usm.h"

namespace {

using usbink::test::Bytes;
using usbink::test::fromHex;
using usbink::test::readFile;

// The engine of the agents whose SNMPv3 answers were recorded.
const Bytes kEngine = {0x80, 0x00, 0x02, 0xA2, 0x04, 'u', 's', 'b',
                       'i',  'n',  'k',  '-',  'f',  'u', 'z', 'z'};

struct Keys {
  std::array<unsigned char, kUsmKeySize> auth, priv;
};

Keys localisedKeys() {
  const auto c = usbink::usmCredentials();
  Keys k;
  Password_to_Key_md5(reinterpret_cast<const unsigned char*>(c.authPassword),
                      usbink::kUsmPassPhraseLength, kEngine.data(),
                      static_cast<unsigned>(kEngine.size()), k.auth.data());
  Password_to_Key_md5(reinterpret_cast<const unsigned char*>(c.privPassword),
                      usbink::kUsmPassPhraseLength, kEngine.data(),
                      static_cast<unsigned>(kEngine.size()), k.priv.data());
  return k;
}

void BM_V1RequestBuild(benchmark::State& state) {
  std::string oid = kOidDeviceId;
  std::string community = kDefaultCommunity;
  std::array<unsigned char, 2048> out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CNetIO::BuildGetRequestFor(1, oid.data(), community.data(), out.data()));
  }
  state.SetItemsProcessed(state.iterations());
}

// The device-ID answer of snmpd (232 octets), with the consumer that files
// the device ID or with none.
void BM_V1ResponseParse(benchmark::State& state) {
  Bytes answer = usbink::test::capturedAnswer("device_id");
  const SnmpValueCallback consumer = state.range(0) != 0 ? outputDeviceIdValue : nullptr;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CNetIO::parseGetResponse(answer.data(), static_cast<int>(answer.size()), nullptr, nullptr,
                                 nullptr, nullptr, nullptr, consumer));
  }
  state.SetItemsProcessed(state.iterations());
}

// The status read's request: one OID, authPriv, the fixed USM user.
void BM_V3RequestBuild(benchmark::State& state) {
  const auto c = usbink::usmCredentials();
  const char* oids[] = {kOidDeviceId};
  const Keys keys = localisedKeys();
  std::array<unsigned char, kUsmKeySize> authKey, privKey;
  std::array<unsigned char, 2048> out;
  const bool localise = state.range(0) != 0;
  for (auto _ : state) {
    const int n = localise ? CNetIO::BuildSnmpV3RequestPacket(
                                 kEngine.data(), static_cast<int>(kEngine.size()), 1, 100, 1, oids,
                                 nullptr, nullptr, nullptr, c.userName, c.authPassword,
                                 c.privPassword, authKey.data(), privKey.data(), out.data())
                           : usbink::buildRequestWithKeys(
                                 kEngine.data(), static_cast<int>(kEngine.size()), 1, 100, 1, oids,
                                 nullptr, nullptr, nullptr, c.userName, c.authPassword,
                                 keys.auth.data(), keys.priv.data(), out.data());
    if (n <= 0) state.SkipWithError("request not built");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The parse works in place (the code is zeroed, the PDU decrypted), so each
// round starts from a fresh copy of the datagram; the copy is timed too.
void BM_V3ResponseVerifyDecryptParse(benchmark::State& state) {
  const std::string answer =
      readFile(std::string(USBINK_SOURCE_DIR) + "/fuzz/corpus/fuzz_v3_response/snmpd_device_id");
  _SNMP_PARAM_V3 params{};
  const Keys keys = localisedKeys();
  std::memcpy(params.authKey, keys.auth.data(), kUsmKeySize);
  std::memcpy(params.privKey, keys.priv.data(), kUsmKeySize);
  params.valueCallback = outputDeviceIdValue;
  Bytes work(answer.size());
  for (auto _ : state) {
    std::memcpy(work.data(), answer.data(), answer.size());
    unsigned char errorStatus = 0, errorIndex = 0;
    const int result =
        CNetIO::parseSnmpV3Response(work.data(), static_cast<int>(work.size()), nullptr, nullptr,
                                    &errorStatus, &errorIndex, &params);
    if (result != 1) state.SkipWithError("answer rejected");
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["octets"] = static_cast<double>(answer.size());
}

}  // namespace

BENCHMARK(BM_V1RequestBuild);
BENCHMARK(BM_V1ResponseParse)->ArgName("consumer")->Arg(0)->Arg(1);
BENCHMARK(BM_V3RequestBuild)->ArgName("localise")->Arg(0)->Arg(1);
BENCHMARK(BM_V3ResponseVerifyDecryptParse);

// The SNMPv3 builder writes a diagnostic line to standard error for every
// request, as it does in the tool, where standard error is /dev/null too.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  (void)std::freopen("/dev/null", "w", stderr);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
