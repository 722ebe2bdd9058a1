#pragma once
#include <string>
#include <thread>

namespace quor::tessera::runtime {

// Names a thread for debuggers and tools (ps, top, gdb). Only the calling thread can be named
// on Linux, so a thread names itself; other ids are ignored.
void SetThreadName(const std::thread::id& id, const std::string& name);

}  // namespace quor::tessera::runtime
