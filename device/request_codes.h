#pragma once
// Request codes the engine sends as ISO-15765 messages; a device answers with code + 0x40.
#include <cstdint>

namespace request_code {
constexpr uint8_t kPresence = 0x3E;       // 3E 00, broadcast: every device answers 0x7E
constexpr uint8_t kInfo = 0xB0;           // -> 0xF0 information record
constexpr uint8_t kStatus = 0xBB;         // -> 0xFB status
constexpr uint8_t kAppCheck = 0xB5;       // -> 0xF5 application check
constexpr uint8_t kName = 0xC8;           // -> 0x08 custom name
constexpr uint8_t kConfig = 0xC3;         // -> 0x03 configuration block (two-part versions)
constexpr uint8_t kSubCoded = 0xC5;       // C5 02 -> 05 02 configuration (four-part versions)
constexpr uint8_t kSubConfigRead = 0x02;
}  // namespace request_code
