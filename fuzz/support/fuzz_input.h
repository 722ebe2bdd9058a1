#pragma once
// Reads a fuzz input from the front, field after field, so that seed inputs can be written by
// hand or by a script in the same order as a target reads them. Reads past the end give zeros.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_support {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  size_t remaining() const { return empty() ? 0 : size_ - at_; }

  uint8_t byte() { return empty() ? 0 : data_[at_++]; }
  bool flag() { return byte() & 1; }
  // Little-endian, as the frames' own words are.
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
  // A value in 0..max (max < 256 for one byte, else two bytes are read).
  uint32_t upTo(uint32_t max) {
    const uint32_t raw = max < 256 ? byte() : u16();
    return raw % (max + 1);
  }
  // At most `count` bytes: fewer when the input ends first.
  std::vector<uint8_t> bytes(size_t count) {
    const size_t taken = count < remaining() ? count : remaining();
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + taken);
    at_ += taken;
    return out;
  }
  std::string rest() {
    const std::vector<uint8_t> all = bytes(remaining());
    return std::string(all.begin(), all.end());
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fuzz_support
