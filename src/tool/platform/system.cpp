#include "tool/platform/system.h"

#include <fcntl.h>
#include <libintl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>

namespace usbink::platform {

void initLocalization(const char* localeDir) {
  std::setlocale(LC_ALL, "");
  bindtextdomain(kTextDomain, localeDir);
  bind_textdomain_codeset(kTextDomain, "UTF-8");
}

std::string localized(const char* key) { return dgettext(kTextDomain, key); }

void logError(const char* message) {
  openlog("usbink", LOG_PID, LOG_LPR);
  syslog(LOG_ERR, "%s", message);
  closelog();
}

// Works on descriptor 2 rather than reopening the stderr stream: a failed
// freopen would leave the stream closed and descriptor 2 free for the next
// socket, which would then receive the diagnostics.
//
// Descriptor 2 ends up inheritable whatever was open at start, because the
// USB status program inherits it as its standard error: /dev/null is opened
// without close-on-exec, since with descriptor 2 closed at start the open
// itself returns 2 (dup2 onto 2 clears the flag in every other case). A
// close-on-exec descriptor 2 would leave the program without a standard
// error, and the first file it opens, the printer, would get its messages.
void discardStandardError() {
  const int devNull = open("/dev/null", O_WRONLY);
  if (devNull < 0 || devNull == STDERR_FILENO) return;
  int r;
  do {
    r = dup2(devNull, STDERR_FILENO);
  } while (r < 0 && errno == EINTR);
  close(devNull);
}

}  // namespace usbink::platform
