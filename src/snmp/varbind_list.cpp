#include "snmp/varbind_list.h"

namespace usbink {
namespace {

bool readVarbind(BerCursor& list, SnmpValueCallback callback) {
  unsigned char* oid = nullptr;
  int oidLength = 0;
  unsigned char valueType = 0;
  int valueLength = 0;
  if (!list.enter(kBerSequence) || !list.readTlv(kBerObjectId, &oid, &oidLength) ||
      !list.readTag(&valueType) || !list.readLength(&valueLength)) {
    return false;
  }
  unsigned char* value = list.pos();
  if (!list.skip(valueLength)) return false;
  if (callback != nullptr) callback(oid, oidLength, valueType, value, valueLength);
  return true;
}

}  // namespace

bool readVarbindList(BerCursor& cursor, SnmpValueCallback callback) {
  int length = 0;
  bool indefinite = false;
  if (!cursor.expectTag(kBerSequence) || !cursor.readLength(&length, &indefinite)) return false;
  if (indefinite || length == 0) return true;
  if (length > cursor.remaining()) return false;
  BerCursor list(cursor.pos(), cursor.pos() + length);
  while (!list.atEnd()) {
    if (!readVarbind(list, callback)) return false;
  }
  return true;
}

}  // namespace usbink
