#pragma once
// Unit names as the CAN encoder stores them: at most 8 bytes (two 32-bit words), with names that
// do not fit replaced by short codes from a fixed table.
#include <cstdint>
#include <string>

namespace quor::tessera::core::units_util::diag {

// Width 4 or 8 (else ""). Text that fits is returned unchanged; a longer known name (ignoring
// case) becomes its code; anything else is cut to `width` bytes of whole UTF-8 characters.
std::string CompileUnitString(const std::string& text, uint32_t width);
// Width 4 or 8 (else ""). A code of that width gives its name; other text comes back unchanged.
std::string DecompileUnitString(const std::string& text, uint32_t width);

// Packs up to 8 bytes, zero-filled, into two little-endian words (bytes 0-3, then 4-7).
void EncodeUnitString(const std::string& text, uint32_t& word0, uint32_t& word1);
// The bytes before the first zero byte of the two words, at most 8.
std::string DecodeUnitString(uint32_t word0, uint32_t word1);

// The longest leading part of the first min(size, n) bytes that is valid UTF-8.
std::string trimUtf8(const std::string& text, size_t n);

// Factor from "per 100 ms" to the encoder's time base, and the matching suffix in `text`
// (left unchanged for an unknown code, factor 1).
double GetVelScalar(int32_t timeBaseCode, std::string& text);

}  // namespace quor::tessera::core::units_util::diag
