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
void discardStandardError() {
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return;
  int r;
  do {
    r = dup2(devNull, STDERR_FILENO);
  } while (r < 0 && errno == EINTR);
  if (devNull != STDERR_FILENO) close(devNull);
}

}  // namespace usbink::platform
