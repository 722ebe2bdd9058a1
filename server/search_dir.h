#pragma once
#include <string>

// The directory in which "fieldupgrade" and "setconfig" look for their "file", ending in '/'.
// The controller's upload directory unless the host or TESSERA_SEARCH_DIR overrides it.
const char* GetSearchDir();

// Set by the host (--search-dir); a trailing '/' is added when missing. Empty restores the
// default.
void SetSearchDir(const std::string& directory);

// True when `name` may be joined to the search directory: a plain file name, never a path
// that leaves the directory.
bool IsPlainUploadFileName(const std::string& name);
