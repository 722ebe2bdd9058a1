#include "runtime/thread_name.h"

#include <pthread.h>

namespace quor::tessera::runtime {

void SetThreadName(const std::thread::id& id, const std::string& name) {
  if (id != std::this_thread::get_id()) return;
  // The kernel keeps 15 characters and a NUL.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace quor::tessera::runtime
