#pragma once
#include <cstdint>
#include <string>

#include "server/upload_body.h"

namespace quor::tessera::networking {

// The single part of a multipart body: everything between the end of the opening delimiter
// and the start of the closing one ("--" appended), part headers included. Null and size 0
// when the body does not hold exactly one complete part.
const uint8_t* FindSingleFilePart(const uint8_t* body, size_t bodySize, const std::string& delimiter,
                                  int* size);
inline const uint8_t* FindSingleFilePart(const UploadBody& body, const std::string& delimiter,
                                         int* size) {
  return FindSingleFilePart(body.data(), body.size(), delimiter, size);
}

}  // namespace quor::tessera::networking

namespace quor::tessera::networking {

// The file inside a part that carries standard part headers (a blank-line-ended block with a
// Content-Disposition line, as curl and browsers send): the bytes after the blank line, less
// the line break that belongs to the closing delimiter. A part without such headers is left
// as it is, so clients that send the file right after the delimiter keep working.
void StripPartHeaders(const uint8_t*& data, int& size);

}  // namespace quor::tessera::networking
