// A request's handler that throws: the answer's code says what kind of failure it was.
#include "server/request_guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/error_codes.h"
#include "runtime/diag_print.h"

using quor::tessera::diagnostics::RunGuarded;

TEST(RequestGuard, JsonErrorsAreInvalidJsonAndEverythingElseAnInternalFailure) {
  std::vector<std::string> logged;
  quor::tessera::diagnostics::SetLogSink(
      [&](const std::string& text, bool isError) { if (isError) logged.push_back(text); });
  EXPECT_EQ(RunGuarded("getconfig", [] { return -128; }), -128);
  EXPECT_EQ(RunGuarded("setconfig", []() -> int32_t { return nlohmann::json(1).at("x"); }),
            QUOR_DI_InvalidJson);
  EXPECT_TRUE(logged.empty()) << "a malformed document is the client's";
  EXPECT_EQ(RunGuarded("selftest", []() -> int32_t { throw std::bad_alloc(); }),
            QUOR_DI_InternalFailure);
  EXPECT_EQ(RunGuarded("plot", []() -> int32_t { throw std::runtime_error("broken"); }), -136);
  quor::tessera::diagnostics::SetLogSink(nullptr);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[0].find("request \"selftest\" failed: std::bad_alloc"), std::string::npos)
      << logged[0];
  EXPECT_NE(logged[1].find("request \"plot\" failed: broken"), std::string::npos) << logged[1];
}
