// The host serves the page it was built with, through curl: the redirect, every file with its
// type, compressed and plain, its validator, and nothing else changed for the JSON requests.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "tests/support/http_client.h"
#include "tests/support/server_process.h"

namespace {

using tessera_test::RunCommand;
using tessera_test::ServerProcess;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class UiPageCurlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(server_.port(), 0) << server_.output(); }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
  // The response head curl received (-D) and the body it wrote, decoded with --compressed.
  std::pair<std::string, std::string> Fetch(const std::string& path, const std::string& options = "") {
    const std::string folder = testing::TempDir();
    const std::string head = folder + "ui-head-" + std::to_string(getpid());
    const std::string body = folder + "ui-body-" + std::to_string(getpid());
    RunCommand("curl -s --max-time 10 " + options + " -D '" + head + "' -o '" + body + "' '" + base() + path + "'");
    auto result = std::make_pair(ReadFile(head), ReadFile(body));
    std::remove(head.c_str());
    std::remove(body.c_str());
    return result;
  }
  ServerProcess server_{{"--start-delay", "0", "--can", "none"}};
};

std::string Field(const std::string& head, const std::string& name) {
  std::smatch match;
  return std::regex_search(head, match, std::regex("\r\n" + name + ": ([^\r]*)\r\n")) ? match[1].str() : "";
}

TEST_F(UiPageCurlTest, ServesEveryFileOfThePageAsBuilt) {
  const auto [redirect, empty] = Fetch("/ui");
  EXPECT_EQ(redirect.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u) << redirect;
  EXPECT_EQ(Field(redirect, "Location"), "/ui/");

  const std::string dist = TESSERA_PAGE_DIST;
  EXPECT_EQ(Fetch("/ui", "-L --compressed").second, ReadFile(dist + "/index.html"));
  const auto [pageHead, page] = Fetch("/ui/", "--compressed");
  EXPECT_EQ(page, ReadFile(dist + "/index.html"));
  EXPECT_EQ(Field(pageHead, "Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(Field(pageHead, "Content-Encoding"), "gzip");
  EXPECT_EQ(Field(pageHead, "Content-Length"), std::to_string(ReadFile(dist + "/index.html.gz").size()));

  // The script and the style the page names, compressed and plain.
  std::smatch match;
  for (const std::string kind : {"js", "css"}) {
    ASSERT_TRUE(std::regex_search(page, match, std::regex("/ui/(app\\.[0-9a-f]+\\." + kind + ")")));
    const std::string file = ReadFile(dist + "/" + match[1].str());
    const auto [zipped, unzipped] = Fetch(match[0].str(), "--compressed");
    const auto [plainHead, plain] = Fetch(match[0].str());
    EXPECT_EQ(unzipped, file);
    EXPECT_EQ(plain, file);
    EXPECT_EQ(Field(plainHead, "Content-Type"), kind == "js" ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8");
    EXPECT_EQ(Field(plainHead, "Content-Length"), std::to_string(file.size()));
    EXPECT_EQ(Field(plainHead, "Content-Encoding"), "");
    EXPECT_EQ(Field(zipped, "Cache-Control"), "public, max-age=31536000, immutable");
  }

  // A client holding the current copy gets 304 and no body.
  const std::string tag = Field(pageHead, "ETag");
  ASSERT_FALSE(tag.empty());
  const auto [current, nothing] = Fetch("/ui/", "--compressed -H 'If-None-Match: " + tag + "'");
  EXPECT_EQ(current.rfind("HTTP/1.1 304 Not Modified\r\n", 0), 0u) << current;
  EXPECT_EQ(nothing, "");
}

TEST_F(UiPageCurlTest, OtherPathsAnswerAsBefore) {
  // The path of a JSON request is not looked at: a path that only starts like the page's is
  // answered exactly as "/" is, head and body.
  const auto [rootHead, rootBody] = Fetch("/?action=getdevices");
  for (const std::string path : {"/uix?action=getdevices", "/api/ui/?action=getdevices"}) {
    const auto [head, body] = Fetch(path);
    EXPECT_EQ(head, rootHead) << path;
    EXPECT_EQ(body, rootBody) << path;
  }
  EXPECT_EQ(rootHead.rfind("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: application/json\r\n", 0), 0u);
}

}  // namespace
