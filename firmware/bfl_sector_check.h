#pragma once
// The whole firmware file, checked before anything reaches the device: the decoder looks at a
// sector record only when it hands it out, after the device was erased, and the upgrade would
// then flash the records before a bad one and validate a partial image.
#include <cstdint>

#include "firmware/bfl_decoder.h"

// The most sectors the application region holds.
uint32_t MaxBflSectors();

// 0 when every sector record of a healthy decoder's file can be flashed: at least one sector
// (-203 otherwise), no more than MaxBflSectors (-201), every marker and size as the format has
// them (-204, -205), every sector wholly inside the application region and none overlapping
// another (-204: the address is part of the record's header). The decoder is not moved.
int32_t CheckBflSectors(const BflDecoder& decoder);
