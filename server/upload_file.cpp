#include "server/upload_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/string_util.h"
#include "server/search_dir.h"

namespace {

// Closes the descriptor on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

using quor::tessera::networking::UploadBody;

// Reads up to `size` bytes (what the file held when opened; it may shrink meanwhile, and what
// it grows by is not read).
UploadFileRead readAll(int fd, size_t size, UploadBody& bytes) {
  uint8_t chunk[16 * 1024];
  while (bytes.size() < size) {
    const ssize_t n = ::read(fd, chunk, std::min(sizeof(chunk), size - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return UploadFileRead::kUnavailable;
    if (n == 0) break;
    if (!bytes.append(chunk, static_cast<size_t>(n), size)) return UploadFileRead::kNoRoom;
  }
  return UploadFileRead::kRead;
}

}  // namespace

UploadFileRead ReadUploadFile(const std::string& name, size_t maxBytes, UploadBody& bytes) {
  bytes.release();
  if (!IsPlainUploadFileName(name)) return UploadFileRead::kUnavailable;
  const std::string path = std::string(GetSearchDir()) + name;
  // A link in the upload folder must not lead out of it, so it is never followed; checking the
  // opened file (not the path) leaves no gap for a swap between the check and the read.
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return UploadFileRead::kUnavailable;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return UploadFileRead::kUnavailable;
  if (static_cast<uint64_t>(info.st_size) > maxBytes) return UploadFileRead::kTooLarge;
  const UploadFileRead outcome = readAll(file.get(), static_cast<size_t>(info.st_size), bytes);
  if (outcome != UploadFileRead::kRead) bytes.release();
  return outcome;
}

UploadFileRead ReadUploadFileAsWritten(const std::string& name, size_t maxBytes,
                                       UploadBody& bytes, std::string* opened) {
  std::string candidate = name;
  UploadFileRead outcome = ReadUploadFile(candidate, maxBytes, bytes);
  const std::string lowered = quor::tessera::string_util::toLower(name);
  if (outcome == UploadFileRead::kUnavailable && lowered != name) {
    candidate = lowered;
    outcome = ReadUploadFile(candidate, maxBytes, bytes);
  }
  if (outcome == UploadFileRead::kRead && opened != nullptr) *opened = candidate;
  return outcome;
}
