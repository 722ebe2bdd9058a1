// Which requests reach the browser page, and how its files are answered: redirect, encoding
// negotiation, validators, HEAD and 404, over a small table of files.
#include <gtest/gtest.h>

#include <string>

#include "server/ui_page.h"

namespace {

using quor::tessera::networking::AnswerPageRequest;
using quor::tessera::networking::IsPageTarget;
using quor::tessera::networking::UiAsset;
using quor::tessera::networking::UiAssetTable;

const UiAsset kFiles[] = {
    {"/ui/", "text/html; charset=utf-8", "<p>page</p>", "GZ-PAGE", "0123abcd", false},
    {"/ui/app.1.js", "text/javascript; charset=utf-8", "run()", "GZ-JS", "4567ef01", true},
};
const UiAssetTable kTable{kFiles, 2};

struct Case {
  const char* target;
  const char* acceptEncoding;  // null: no such field
  const char* ifNoneMatch;
  bool headOnly;
  const char* status;
  const char* body;
  const char* fields;  // fields the answer must carry, in this order, each "Name: value"
};

const Case kCases[] = {
    {"/ui", nullptr, nullptr, false, "301 Moved Permanently", "", "Location: /ui/\r\nContent-Length: 0\r\n"},
    {"/ui?x=1", "gzip", nullptr, false, "301 Moved Permanently", "", "Location: /ui/\r\n"},
    {"/ui/", nullptr, nullptr, false, "200 OK", "<p>page</p>",
     "Content-Type: text/html; charset=utf-8\r\nContent-Length: 11\r\nVary: Accept-Encoding\r\n"
     "ETag: \"0123abcd\"\r\nCache-Control: no-cache\r\n"},
    {"/ui/index.html", nullptr, nullptr, false, "200 OK", "<p>page</p>", "ETag: \"0123abcd\"\r\n"},
    {"/ui/?action=getdevices", nullptr, nullptr, false, "200 OK", "<p>page</p>", ""},
    {"/ui/", "gzip, deflate, br", nullptr, false, "200 OK", "GZ-PAGE",
     "Content-Length: 7\r\nContent-Encoding: gzip\r\nVary: Accept-Encoding\r\nETag: \"0123abcd-gzip\"\r\n"},
    {"/ui/", "br;q=1.0, GZIP;q=0.5", nullptr, false, "200 OK", "GZ-PAGE", ""},
    {"/ui/", "gzip;q=0", nullptr, false, "200 OK", "<p>page</p>", ""},
    {"/ui/", "*", nullptr, false, "200 OK", "GZ-PAGE", ""},
    {"/ui/", "*;q=0", nullptr, false, "200 OK", "<p>page</p>", ""},
    {"/ui/", "*, gzip;q=0", nullptr, false, "200 OK", "<p>page</p>", ""},
    {"/ui/", "br, identity", nullptr, false, "200 OK", "<p>page</p>", ""},
    {"/ui/", nullptr, "\"0123abcd\"", false, "304 Not Modified", "",
     "Vary: Accept-Encoding\r\nETag: \"0123abcd\"\r\nCache-Control: no-cache\r\n\r\n"},
    {"/ui/", "gzip", "\"other\", W/\"0123abcd-gzip\"", false, "304 Not Modified", "", ""},
    {"/ui/", nullptr, "*", false, "304 Not Modified", "", ""},
    {"/ui/", "gzip", "\"0123abcd\"", false, "200 OK", "GZ-PAGE", ""},  // another representation
    {"/ui/", nullptr, "\"0123abce\"", false, "200 OK", "<p>page</p>", ""},
    {"/ui/", nullptr, nullptr, true, "200 OK", "", "Content-Length: 11\r\n"},
    {"/ui/app.1.js", nullptr, nullptr, false, "200 OK", "run()",
     "Content-Type: text/javascript; charset=utf-8\r\nContent-Length: 5\r\n"
     "Vary: Accept-Encoding\r\nETag: \"4567ef01\"\r\nCache-Control: public, max-age=31536000, immutable\r\n"},
    {"/ui/app.2.js", nullptr, nullptr, false, "404 Not Found", "Not found\n",
     "Content-Type: text/plain; charset=utf-8\r\nContent-Length: 10\r\n"},
    {"/ui/app.2.js", nullptr, nullptr, true, "404 Not Found", "", "Content-Length: 10\r\n"},
};

TEST(UiPage, AnswersEachRequestForThePage) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.target) + " encoding=" + (c.acceptEncoding ? c.acceptEncoding : "-") +
                 " if-none-match=" + (c.ifNoneMatch ? c.ifNoneMatch : "-"));
    const std::string encoding = c.acceptEncoding ? c.acceptEncoding : "";
    const std::string match = c.ifNoneMatch ? c.ifNoneMatch : "";
    const auto answer = AnswerPageRequest(kTable, c.target, c.headOnly,
                                          c.acceptEncoding ? &encoding : nullptr,
                                          c.ifNoneMatch ? &match : nullptr);
    const std::string head = answer.head(false);
    EXPECT_EQ(head.rfind(std::string("HTTP/1.1 ") + c.status + "\r\nConnection: keep-alive\r\n", 0), 0u)
        << head;
    EXPECT_EQ(answer.head(true).rfind(std::string("HTTP/1.1 ") + c.status + "\r\nConnection: close\r\n", 0), 0u);
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    EXPECT_NE(head.find(c.fields), std::string::npos) << head;
    EXPECT_EQ(answer.body, c.body);
    const bool notModified = std::string(c.status).rfind("304", 0) == 0;
    EXPECT_EQ(head.find("Content-Length") == std::string::npos, notModified) << head;
    EXPECT_EQ(head.find("Content-Encoding: gzip") != std::string::npos,
              std::string(c.body).rfind("GZ-", 0) == 0 ||
                  (c.headOnly && encoding.find("gzip") != std::string::npos));
  }
}

TEST(UiPage, OnlyThePagesOwnPathsAreTaken) {
  for (const char* target : {"/ui", "/ui/", "/ui/app.js", "/ui?action=getversion", "/ui#top", "/ui/x/y"})
    EXPECT_TRUE(IsPageTarget(target)) << target;
  for (const char* target : {"/", "/?action=ui", "/uix", "/ui.html", "/x/ui/", "", "ui/", "/UI/"})
    EXPECT_FALSE(IsPageTarget(target)) << target;
}

TEST(UiPage, AServerBuiltWithoutThePageSaysSo) {
  const auto answer = AnswerPageRequest({nullptr, 0}, "/ui/", false, nullptr, nullptr);
  EXPECT_EQ(answer.head(false).rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_EQ(answer.body, "This server was built without its browser page.\n");
}

}  // namespace
