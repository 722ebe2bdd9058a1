#pragma once
// The device side's reading of the bootloader requests: mode changes, the application-image
// query, erase, sector writes (whole, or in parts and a commit) and starting the application.
// Each is answered with the request code plus 0x40 (wire::AnswerCode).
#include <cstdint>

#include "sim/sim_wire.h"

namespace quor::tessera::sim::wire {

constexpr uint8_t kRequestEnterBootloader = 0xB9;
constexpr uint8_t kRequestErase = 0xB7;
constexpr uint8_t kRequestWriteSector = 0xB1;      // B1, address (4, big-endian), 1536 bytes
constexpr uint8_t kRequestWriteSectorPart = 0xCC;  // CC, offset (2), count (2), count bytes
constexpr uint8_t kRequestCommitSector = 0xCD;     // CD, address (4, big-endian)
constexpr uint8_t kRequestRunApplication = 0xB8;

constexpr uint16_t kSectorBytes = 1536;
constexpr uint16_t kAddressedRequestHeader = 5;  // code, address
constexpr uint16_t kSectorPartHeader = 5;        // code, offset, count
constexpr uint16_t kWriteSectorRequestBytes = kAddressedRequestHeader + kSectorBytes;
static_assert(kWriteSectorRequestBytes == 1541, "a whole-sector request is 1541 bytes");

// Byte 1 of the application-image answer: a valid application is present. Bytes 2 and 3, when
// sent, are the oldest application version the bootloader accepts (major, minor).
constexpr uint8_t kApplicationCheckShortBytes = 2;
constexpr uint8_t kApplicationCheckLongBytes = 4;

}  // namespace quor::tessera::sim::wire
