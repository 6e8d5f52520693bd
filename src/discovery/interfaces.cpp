// The interface remembered for later IPv6 requests. Agent discovery writes
// it when a printer first answers; everything else only reads it.
#include "usbink/interfaces.h"

int scope_id = 0;
char g_ifsName[kIfsNameSize] = "%en0";
