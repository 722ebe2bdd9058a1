#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads `name` from the search directory. False when the name is not a plain file name, names a
// symbolic link, the file is not a regular file, it is larger than an upload may be, or it
// cannot be read.
bool ReadUploadFile(const std::string& name, std::vector<uint8_t>& bytes);
