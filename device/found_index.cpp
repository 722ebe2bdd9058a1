#include "device/found_index.h"

#include "runtime/cs.h"

uint32_t FoundIndex_Get() {
  static uint32_t lastIndex = 0;
  CsH hold(_csFoundIndex);
  return ++lastIndex;
}
