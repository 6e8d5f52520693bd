#include "tool/platform/system.h"

#include <libintl.h>
#include <syslog.h>

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

}  // namespace usbink::platform
