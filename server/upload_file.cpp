#include "server/upload_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "server/request_framing.h"
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

bool readAll(int fd, std::vector<uint8_t>& bytes) {
  size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank meanwhile
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return true;
}

}  // namespace

bool ReadUploadFile(const std::string& name, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (!IsPlainUploadFileName(name)) return false;
  const std::string path = std::string(GetSearchDir()) + name;
  // A link in the upload folder must not lead out of it, so it is never followed; checking the
  // opened file (not the path) leaves no gap for a swap between the check and the read.
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return false;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<uint64_t>(info.st_size) > quor::tessera::networking::kMaxPostBodyBytes)
    return false;
  bytes.resize(static_cast<size_t>(info.st_size));
  if (!readAll(file.get(), bytes)) {
    bytes.clear();
    return false;
  }
  return true;
}
