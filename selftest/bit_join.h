#pragma once
// Joining bit fields of status frames: the low w1..wn bits of one byte each, first argument
// most significant, as a signed (sign-extended from the total width) or unsigned 32-bit value.
#include <cstdint>

namespace bit_join_detail {

template <unsigned... Widths, typename... Bytes>
constexpr uint32_t Join(Bytes... bytes) {
  static_assert(sizeof...(Widths) == sizeof...(Bytes), "one byte per width");
  static_assert(((Widths >= 1 && Widths <= 8) && ...), "each width is 1..8 bits");
  static_assert((Widths + ...) <= 32, "the joined value has at most 32 bits");
  uint32_t value = 0;
  ((value = (value << Widths) | (static_cast<uint32_t>(bytes) & ((1u << Widths) - 1u))), ...);
  return value;
}

}  // namespace bit_join_detail

template <unsigned... Widths, typename... Bytes>
constexpr uint32_t Decode_ToUInt32(Bytes... bytes) {
  return bit_join_detail::Join<Widths...>(bytes...);
}

template <unsigned... Widths, typename... Bytes>
constexpr int32_t Decode_ToInt32(Bytes... bytes) {
  constexpr unsigned total = (Widths + ...);
  const uint32_t value = bit_join_detail::Join<Widths...>(bytes...);
  if constexpr (total == 32) {
    return static_cast<int32_t>(value);
  } else {
    constexpr uint32_t sign = 1u << (total - 1);
    // (value ^ sign) - sign sign-extends without shifting into the sign bit.
    return static_cast<int32_t>(value ^ sign) - static_cast<int32_t>(sign);
  }
}

// Eight bytes as a little-endian 64-bit value, read byte by byte (no alignment needed).
inline uint64_t Unwrap64bits(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}
