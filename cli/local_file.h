#pragma once
// Whole-file reads and writes for uploads, configuration documents and backups, with a
// message the user can act on when they fail.
#include <string>

namespace tessera::cli {

// False with `error` set ("cannot open: No such file or directory") when it fails.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error);
bool WriteWholeFile(const std::string& path, const std::string& content, std::string& error);

// The last component of `path`, as an upload names its file.
std::string FileNameOf(const std::string& path);

}  // namespace tessera::cli
