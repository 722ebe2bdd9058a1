#include "device/found_index.h"

#include "server/cs.h"

uint32_t FoundIndex_Get() {
  static uint32_t lastIndex = 0;
  CsH hold(_csFoundIndex);
  return ++lastIndex;
}
