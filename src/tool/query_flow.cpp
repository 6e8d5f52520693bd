// The tool's query flow: device URI, USB or network path, report.
#include "tool/query_flow.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tool/address_resolution.h"
#include "tool/platform/cups_queue.h"
#include "tool/platform/status_program.h"
#include "tool/platform/system.h"
#include "tool/report.h"
#include "usbink/netio.h"
#include "usbink/status.h"

namespace usbink {
namespace {

constexpr char kUsbScheme[] = "usb";
constexpr char kDescriptionKey[] = "Black Print Cartridge";
constexpr char kPipeFailure[] = "Could not open pipe for toner level agents.\n";
constexpr unsigned char kLevelMask = 0x7F;
// The status program's command line ("PROGRAM \"QUEUE\" \"URI\"") must fit
// 255 characters; a longer one is refused rather than run cut short.
constexpr std::size_t kCommandLineMax = 255;
constexpr std::size_t kCommandLineQuoting = sizeof(" \"\" \"\"") - 1;
// Fewer characters than this cannot hold a device ID with its status block.
constexpr std::size_t kStatusOutputMin = 127;

using StatusRead = bool (*)(const char*, const char*, PRINTER_STATUS*);

struct AddressFamilyReads {
  const char* type;
  StatusRead v1;
  StatusRead v3;
};

constexpr AddressFamilyReads kReads[] = {
    {kAddressTypeV4, NetworkReadStatus, NetworkReadStatusSNMPv3},
    {kAddressTypeV6, NetworkReadStatusV6, NetworkReadStatusV6SNMPv3},
};

}  // namespace

int readStatusOfAddresses(PRINTER_STATUS* status) {
  for (std::size_t i = 0; i < mDNSIP.size(); ++i) {
    for (const auto& reads : kReads) {
      if (mDNSType[i] != reads.type) continue;
      const char* address = mDNSIP[i].c_str();
      if (reads.v1(kDefaultCommunity, address, status) ||
          reads.v3(kDefaultCommunity, address, status)) {
        return kExitReported;
      }
    }
  }
  return kExitFailed;
}

namespace {

int readOverNetwork(const platform::UriParts& deviceUri, PRINTER_STATUS* status) {
  getAddressFromURL(deviceUri);
  if (mDNSIP.empty()) return kExitNoAddress;
  return readStatusOfAddresses(status);
}

int readOverUsb(const char* program, const char* queue, const std::string& deviceUri,
                PRINTER_STATUS* status) {
  if (std::strlen(program) + kCommandLineQuoting + std::strlen(queue) + deviceUri.size() >
      kCommandLineMax) {
    return kExitFailed;
  }
  auto output = platform::runStatusProgram(program, queue, deviceUri);
  if (!output) {
    std::fputs(kPipeFailure, stderr);
    platform::logError(kPipeFailure);
    return kExitFailed;
  }
  if (output->size() < kStatusOutputMin) return kExitFailed;
  return DecodStatusFromDeviceID(output->data(), status) == 0 ? kExitReported : kExitFailed;
}

}  // namespace

int runQuery(const char* queue, const ToolSettings& settings) {
  const auto deviceUri = platform::deviceUriOfQueue(queue);
  if (!deviceUri) return kExitFailed;
  const auto parts = platform::splitUri(*deviceUri);
  PRINTER_STATUS status{};
  if (!parts) return kExitFailed;

  const int result = strcasecmp(parts->scheme.c_str(), kUsbScheme) == 0
                         ? readOverUsb(settings.statusProgram, queue, *deviceUri, &status)
                         : readOverNetwork(*parts, &status);
  if (result != kExitReported) return result;

  // Only the report is translated, so only a run that writes one loads the
  // user's locale; the failures, a missing queue first, skip that work.
  platform::initLocalization(settings.localeDir);
  const std::string description = platform::localized(kDescriptionKey);
  writeSupplyReport(stdout, description.c_str(), status.tonerLevel & kLevelMask);
  return kExitReported;
}

}  // namespace usbink
