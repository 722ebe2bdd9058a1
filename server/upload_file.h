#pragma once
#include <cstddef>
#include <string>

#include "server/upload_body.h"

enum class UploadFileRead {
  kRead,
  kUnavailable,  // no plain file name, a symbolic link, not a regular file, or unreadable
  kTooLarge,     // larger than the caller takes
  kNoRoom,       // the uploads in progress hold so much that this file would exceed their budget
};

// Reads `name` from the search directory into `bytes`, at most `maxBytes`. The file's bytes
// count against the budget of uploads in progress while `bytes` holds them, as a POST body does,
// so requests that name large files cannot together grow the server without bound.
UploadFileRead ReadUploadFile(const std::string& name, size_t maxBytes,
                              quor::tessera::networking::UploadBody& bytes);

// The same for a name as the client wrote it, or, when no file has that name, lower-cased (the
// name the request's lower-cased parameters give): a file with capitals can be named, and every
// name that worked before still does. `opened` gets the name that was read.
UploadFileRead ReadUploadFileAsWritten(const std::string& name, size_t maxBytes,
                                       quor::tessera::networking::UploadBody& bytes,
                                       std::string* opened = nullptr);
