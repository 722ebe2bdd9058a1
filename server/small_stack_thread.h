#pragma once
// Threads that run request handlers get a small fixed stack instead of the system's 8 MiB
// default: the deepest request path needs a small fraction of it, and a server that starts
// threads on demand should not reserve gigabytes of address space for them.
#include <cstddef>
#include <functional>

namespace quor::tessera::networking {

// Starts `body` on a detached thread with a stack of `stackBytes` (four times that in
// sanitizer builds, whose frames are several times larger). False when no thread could be
// created.
bool StartSmallStackThread(size_t stackBytes, std::function<void()> body);

}  // namespace quor::tessera::networking
