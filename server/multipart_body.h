#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quor::tessera::networking {

// The single part of a multipart body: everything between the end of the opening delimiter
// and the start of the closing one ("--" appended), part headers included. Null and size 0
// when the body does not hold exactly one complete part.
const uint8_t* FindSingleFilePart(const std::vector<uint8_t>& body, const std::string& delimiter,
                                  int* size);

}  // namespace quor::tessera::networking
