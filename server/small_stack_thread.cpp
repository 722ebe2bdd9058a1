#include "server/small_stack_thread.h"

#include <pthread.h>

#include <memory>

namespace quor::tessera::networking {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackScale = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kStackScale = 4;
#else
constexpr size_t kStackScale = 1;
#endif
#else
constexpr size_t kStackScale = 1;
#endif

void* runBody(void* start) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(start));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartSmallStackThread(size_t stackBytes, std::function<void()> body) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  ::pthread_attr_setstacksize(&attributes, stackBytes * kStackScale);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto start = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  const int created = ::pthread_create(&thread, &attributes, &runBody, start.get());
  ::pthread_attr_destroy(&attributes);
  if (created != 0) return false;
  start.release();  // the thread owns it now
  return true;
}

}  // namespace quor::tessera::networking
