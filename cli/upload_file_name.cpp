#include "cli/upload_file_name.h"

namespace tessera::cli {

std::string UploadFileNameProblem(const std::string& name) {
  if (name.empty()) return "the file name is empty";
  if (name.find('/') != std::string::npos)
    return "\"" + name + "\": the server opens only a file name in its search directory, no path "
           "(a '/' is refused)";
  if (name == "." || name == "..")
    return "\"" + name + "\" is a directory, not a file in the server's search directory";
  if (name.find_first_of("&=") != std::string::npos)
    return "\"" + name + "\": a name with '&' or '=' would be cut by the server";
  return "";
}

std::string MissingServerFileHint(const std::string& name) {
  return "the server found no regular file \"" + name + "\" in its search directory (it follows no "
         "links); `tessera-diag version` names that directory";
}

}  // namespace tessera::cli
