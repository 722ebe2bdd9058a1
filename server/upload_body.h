#pragma once
// The body of a POST while it arrives: it grows as bytes come (never ahead of them by more than
// what was already received), and every byte held by all bodies of the process counts against
// one budget, so neither a header alone nor many half-sent uploads can make the server big.
#include <cstddef>
#include <cstdint>

namespace quor::tessera::networking {

// All bodies in progress together hold at most this: one upload of the largest size allowed and
// room for a few small ones beside it.
constexpr size_t kMaxUploadBytesInProgress = 40u * 1024u * 1024u;

class UploadBody {
 public:
  UploadBody() = default;
  ~UploadBody() { release(); }
  UploadBody(const UploadBody&) = delete;
  UploadBody& operator=(const UploadBody&) = delete;

  // Appends `count` bytes, growing the buffer towards `finalSize` (the declared length). False,
  // with nothing appended, when the growth would take all bodies past the budget.
  bool append(const uint8_t* bytes, size_t count, size_t finalSize);
  // Gives the memory back; the body is empty afterwards.
  void release();

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }

  // Bytes held by every body of the process right now.
  static size_t BytesHeldByAll();

 private:
  bool grow(size_t needed, size_t finalSize);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace quor::tessera::networking
