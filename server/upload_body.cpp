#include "server/upload_body.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quor::tessera::networking {

namespace {

// Bodies live in their own mappings: growing one moves pages instead of copying bytes (no
// moment with two copies), and releasing one gives its memory straight back to the system
// instead of leaving it in the allocator's free lists.
constexpr size_t kFirstCapacity = 64 * 1024;

std::atomic<size_t> g_bytesHeld{0};

size_t roundToPages(size_t bytes) {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

bool takeFromBudget(size_t bytes) {
  size_t held = g_bytesHeld.load();
  do {
    if (bytes > kMaxUploadBytesInProgress - std::min(held, kMaxUploadBytesInProgress)) return false;
  } while (!g_bytesHeld.compare_exchange_weak(held, held + bytes));
  return true;
}

}  // namespace

size_t UploadBody::BytesHeldByAll() { return g_bytesHeld.load(); }

bool UploadBody::append(const uint8_t* bytes, size_t count, size_t finalSize) {
  if (count == 0) return true;
  if (size_ + count > capacity_ && !grow(size_ + count, std::max(finalSize, size_ + count)))
    return false;
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
  return true;
}

bool UploadBody::grow(size_t needed, size_t finalSize) {
  // Doubling keeps the number of moves small; it never runs ahead of the declared length, and
  // a body holds at most twice what its client has actually sent.
  const size_t wanted = roundToPages(std::min(finalSize, std::max({needed, 2 * capacity_, kFirstCapacity})));
  if (!takeFromBudget(wanted - capacity_)) return false;
  void* grown = data_ == nullptr
                    ? ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                    : ::mremap(data_, capacity_, wanted, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) {
    g_bytesHeld -= wanted - capacity_;
    return false;
  }
  data_ = static_cast<uint8_t*>(grown);
  capacity_ = wanted;
  return true;
}

void UploadBody::release() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
  g_bytesHeld -= capacity_;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

}  // namespace quor::tessera::networking
