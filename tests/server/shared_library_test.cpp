// The shared library as a host loads it: its export list and its three entry points.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "tests/support/http_client.h"

using namespace std::chrono;

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  FILE* pipe = popen(("nm -D --defined-only " + library).c_str(), "r");
  if (pipe == nullptr) return names;
  char line[1024];
  while (fgets(line, sizeof(line), pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // "<address> <type> <name>"; absolute symbols (type A) are version nodes, not code or data.
    char type = 0;
    char name[512] = {};
    if (sscanf(text.c_str(), "%*s %c %511s", &type, name) == 2 && type != 'A') names.insert(name);
  }
  pclose(pipe);
  return names;
}

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof(address);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

TEST(SharedLibrary, ExportsExactlyTheThreeEntryPoints) {
  EXPECT_EQ(definedDynamicSymbols(TESSERA_SHARED_LIBRARY),
            (std::set<std::string>{"c_Tessera_Diagnostics_Create", "c_Tessera_Diagnostics_Create1",
                                   "c_Tessera_Diagnostics_SetSecondsToStart"}));
}

TEST(SharedLibrary, EntryPointsStartAndRestartTheServer) {
  void* library = dlopen(TESSERA_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using CreateFn = void* (*)();
  using Create1Fn = void* (*)(int32_t);
  using StartFn = void (*)(int32_t);
  auto create = reinterpret_cast<CreateFn>(dlsym(library, "c_Tessera_Diagnostics_Create"));
  auto create1 = reinterpret_cast<Create1Fn>(dlsym(library, "c_Tessera_Diagnostics_Create1"));
  auto start = reinterpret_cast<StartFn>(dlsym(library, "c_Tessera_Diagnostics_SetSecondsToStart"));
  ASSERT_TRUE(create && create1 && start);

  void* instance = create();
  EXPECT_EQ(create(), instance) << "one instance";
  const int port = freePort();
  EXPECT_EQ(create1(port), instance);
  start(-1);  // stop the default 5 s countdown
  start(0);   // and start at once
  ASSERT_TRUE(tessera_test::WaitForListening(port, seconds(5)));
  tessera_test::HttpConnection c(port);
  auto response = c.get("/?action=getversion");
  ASSERT_TRUE(response);
  EXPECT_NE(response->body.find("\"Version\": \"1.8.1 ("), std::string::npos);
  start(-1);
  EXPECT_FALSE(tessera_test::HttpConnection(port).connected());
  // The library stays loaded: its threads are stopped but unloading a library with a
  // process-wide singleton mid-test would race its destructors.
}
