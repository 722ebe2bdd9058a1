#pragma once
// A file named in the server's search directory ("file=" of "fieldupgrade" and "setconfig"):
// the server opens only a plain file name there, never a path or a symbolic link.
#include <string>

namespace tessera::cli {

// Why the server would refuse `name`, or empty when it is a plain file name.
std::string UploadFileNameProblem(const std::string& name);

// The advice when the server found nothing it would read as `name` in its search directory
// ("setconfig" answers a missing file as it answers a device without a configuration yet, so
// that caller adds the other reason).
std::string MissingServerFileHint(const std::string& name);

}  // namespace tessera::cli
