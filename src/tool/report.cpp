#include "tool/report.h"

namespace usbink {
namespace {

constexpr char kReportHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?> "
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\""
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
    "<plist version=\"1.0\"><dict><key>prtMarkerSuppliesTable</key><array><dict>"
    "<key>prtMarkerSuppliesClass</key><integer>3</integer>"
    "<key>prtMarkerSuppliesDescription</key>";
constexpr char kLevelKey[] = "<key>prtMarkerSuppliesLevel</key>";
constexpr char kReportTrailer[] =
    "<key>prtMarkerSuppliesMaxCapacity</key><integer>100</integer>"
    "<key>prtMarkerSRGBRepresentation</key><array><integer>00</integer><integer>00</integer>"
    "<integer>00</integer></array><key>prtMarkerSuppliesSupplyUnit</key><integer>19</integer>"
    "<key>prtMarkerSuppliesType</key><integer>3</integer>"
    "<key>prtMarkerPartNumber</key><string> </string></dict></array></dict></plist>";
static_assert(sizeof kReportTrailer - 1 == 366);

}  // namespace

void writeSupplyReport(std::FILE* out, const char* description, int level) {
  std::fprintf(out, "%s<string>%s</string>", kReportHeader, description);
  std::fprintf(out, "%s<integer>%d</integer>", kLevelKey, level);
  std::fprintf(out, "%s", kReportTrailer);
}

}  // namespace usbink
