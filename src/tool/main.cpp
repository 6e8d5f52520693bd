// usbink QUEUE: writes the toner level of the printer behind a CUPS queue
// as a property list to standard output. Exit status 0: report written;
// 1: the network queue resolved to no address; 255: any other failure.
#include "tool/platform/system.h"
#include "tool/query_flow.h"

int main(int argc, char** argv) {
  // The caller reads only the report and the exit status; diagnostics of
  // the network code must not reach it.
  usbink::platform::discardStandardError();
  if (argc < 2 || argv[1] == nullptr) return usbink::kExitFailed;
  return usbink::runQuery(argv[1], {USBINK_STATUS_PROGRAM, USBINK_LOCALEDIR});
}
