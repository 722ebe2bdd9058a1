// The HTTP server and dispatcher over real loopback sockets.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "runtime/diag_print.h"
#include "server/config_document_limits.h"
#include "server/json_server.h"
#include "server/search_dir.h"
#include "server/upload_body.h"
#include "tests/support/bad_request_answer.h"
#include "tests/support/http_client.h"
#include "tests/support/log_capture.h"

using nlohmann::json;
using quor::tessera::diagnostics::DeviceDescriptor;
using quor::tessera::diagnostics::JsonServer;
using tessera_test::HttpConnection;
using tessera_test::kBadRequestBody;
using namespace std::chrono;

namespace {

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.setup(0);
    port_ = server_.boundPort();
    ASSERT_GT(port_, 0);
  }
  void TearDown() override { server_.detach(); }

  json getJson(HttpConnection& connection, const std::string& target) {
    auto response = connection.get(target);
    EXPECT_TRUE(response.has_value()) << target;
    return response ? json::parse(response->body) : json();
  }

  static DeviceDescriptor device(const char* model, uint32_t arbId, const char* name) {
    DeviceDescriptor d{};
    std::strcpy(d.model, model);
    std::strcpy(d.name, name);
    std::strcpy(d.currentVers, "20.1");
    d.arbId = arbId;
    d.supportsConfigs = 1;
    return d;
  }

  JsonServer server_;
  int port_ = 0;
};

}  // namespace

TEST_F(HttpServerTest, OneReadGetGetsOneResponseWithExactHeaders) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("GET /?action=getversion HTTP/1.1\r\nHost: x\r\n\r\n"));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->head,
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: application/json\r\n"
            "Content-Length: " + std::to_string(response->body.size()) +
                "\r\nCache-Control: no-cache, no-store\r\n\r\n");
  const json doc = json::parse(response->body);
  EXPECT_EQ(doc["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(doc["GeneralReturn"]["ErrorMessage"], "QUOR_DI_OKAY");
  EXPECT_EQ(doc["GeneralReturn"]["Model"], "");
  EXPECT_EQ(doc["GeneralReturn"]["ID"], 0);
  EXPECT_EQ(doc["ReleaseInfo"], "ZED2020");
  EXPECT_EQ(doc["Version"].get<std::string>().rfind("1.8.1 (", 0), 0u);
  // Written with 4-space indentation and sorted keys.
  EXPECT_EQ(response->body.substr(0, 24), "{\n    \"GeneralReturn\": {");
  EXPECT_TRUE(c.silentFor(milliseconds(100))) << "exactly one response";
}

TEST_F(HttpServerTest, HeaderSplitOverTwoReadsIsOneRequest) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("GET /?action=getversion HTTP/1.1\r\nHo"));
  EXPECT_TRUE(c.silentFor(milliseconds(150)));
  ASSERT_TRUE(c.sendRaw("st: x\r\n\r\n"));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(json::parse(response->body)["GeneralReturn"]["Action"], "getversion");
  EXPECT_TRUE(c.silentFor(milliseconds(100))) << "exactly one response";
}

TEST_F(HttpServerTest, PutAndOptionsGetTheInvalidHeaderAnswer) {
  HttpConnection c(port_);
  for (const char* method : {"PUT", "OPTIONS"}) {
    ASSERT_TRUE(c.sendRaw(std::string(method) + " / HTTP/1.1\r\n\r\n"));
    auto response = c.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, kBadRequestBody);
  }
  // The connection keeps serving.
  EXPECT_EQ(getJson(c, "/?action=getversion")["GeneralReturn"]["Error"], 0);
}

TEST_F(HttpServerTest, MultipartPostOverSeveralChunksIsAnsweredOnce) {
  const std::string d = "--b0undary";
  const std::string body = d + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nnot a bfl\r\n" + d + "--\r\n";
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=GetVersion&Model=X HTTP/1.1\r\nContent-Type: multipart/form-data; "
                        "boundary=\"b0undary\"\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n"));
  for (size_t at = 0; at < body.size(); at += 10) {
    EXPECT_TRUE(c.silentFor(milliseconds(20)));
    ASSERT_TRUE(c.sendRaw(body.substr(at, 10)));
  }
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  const json doc = json::parse(response->body);
  EXPECT_EQ(doc["GeneralReturn"]["POSTResponse"], "action=getversion&model=x");
  EXPECT_EQ(doc["GeneralReturn"]["Action"], "getversion");
  EXPECT_TRUE(c.silentFor(milliseconds(100)));
}

TEST_F(HttpServerTest, BodyThatStallsGetsItsAnswerFromTheClockAndIsClosed) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=getversion HTTP/1.1\r\nContent-Type: multipart/form-data; "
                        "boundary=\"q\"\r\nContent-Length: 100\r\n\r\n"));
  ASSERT_TRUE(c.sendRaw("first"));
  // No further chunk: the one-second gap passes on the server's clock alone.
  auto response = c.readResponse(milliseconds(5000));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, kBadRequestBody);
  EXPECT_TRUE(c.closedByPeer()) << "the rest of that body could only be read as garbage";
}

TEST_F(HttpServerTest, NonMultipartPostIsHandledAtOnceAsWrongContent) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=blink HTTP/1.1\r\nContent-Type: application/json\r\n"
                        "Content-Length: 2\r\n\r\n{}"));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  const json doc = json::parse(response->body);
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -120);  // "WrongContent" names no device
  EXPECT_EQ(doc["GeneralReturn"]["Action"], "");
}

TEST_F(HttpServerTest, AbsurdContentLengthIsRefusedAndTheConnectionClosed) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=x HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"q\"\r\n"
                        "Content-Length: 99999999999\r\n\r\n"));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, kBadRequestBody);
  EXPECT_TRUE(c.closedByPeer());
  HttpConnection next(port_);
  EXPECT_EQ(getJson(next, "/?action=getversion")["GeneralReturn"]["Error"], 0);
}

TEST_F(HttpServerTest, TwoClientsAreServedIndependently) {
  auto first = std::make_unique<HttpConnection>(port_);
  HttpConnection second(port_);
  EXPECT_EQ(getJson(*first, "/?action=getversion")["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(getJson(second, "/?action=getversion")["GeneralReturn"]["Error"], 0);
  first.reset();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(getJson(second, "/?action=getversion")["GeneralReturn"]["Error"], 0);
}

TEST_F(HttpServerTest, DeviceActionsFindTheCachedDevice) {
  HttpConnection c(port_);
  json doc = getJson(c, "/?action=getdevices");
  EXPECT_EQ(doc["DeviceArray"], json::array());
  EXPECT_EQ(doc["BusUtilPerc"], -1.0);

  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "Kestrel KX (Device ID 3)"),
                                   device("PDP", 0x08040000, "PDP (Device ID 0)")};
  server_.Update(list, 2, -1.0);
  doc = getJson(c, "/?action=getdevices");
  ASSERT_EQ(doc["DeviceArray"].size(), 2u);
  EXPECT_EQ(doc["DeviceArray"][0]["Model"], "Kestrel KX");
  EXPECT_EQ(doc["DeviceArray"][0]["ID"], 3);
  EXPECT_EQ(doc["DeviceArray"][0]["SupportsConfigs"], true);
  EXPECT_EQ(doc["DeviceArray"][1]["Name"], "PDP (Device ID 0)");

  // An unknown action on a cached device; upper case in the URL is lower-cased.
  EXPECT_EQ(getJson(c, "/?action=dance&model=Kestrel+KX&id=3")["GeneralReturn"]["Error"], -116);
  EXPECT_EQ(getJson(c, "/?action=DANCE&model=KESTREL%20KX&id=3")["GeneralReturn"]["Error"], -116);
  // An id outside the 6-bit device number names no device; cut to 8 bits, 259 would be 3.
  EXPECT_EQ(getJson(c, "/?action=dance&model=kestrel+kx&id=259")["GeneralReturn"]["Error"], -120);
  doc = getJson(c, "/?action=blink&model=kestrel+kx&id=99");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -120);
  EXPECT_EQ(doc["GeneralReturn"]["ErrorMessage"], "QUOR_DI_NodeIsInvalid");
  EXPECT_EQ(doc["GeneralReturn"]["ID"], 99);
}

TEST_F(HttpServerTest, DeviceListAnswerIsTheWholeDocumentByteForByte) {
  DeviceDescriptor arm = device("Kestrel KX", 0x02040003, "Arm \"left\"");
  std::strcpy(arm.serialNo, "000000000000000000000000DEADBEEF");
  const DeviceDescriptor list[] = {arm, device("PDP", 0x08040000, "PDP (Device ID 0)")};
  server_.Update(list, 2, -1.0);
  auto entry = [](const char* name, const char* model, int id, const char* serial) {
    return json{{"Name", name}, {"Model", model}, {"ID", id}, {"CurrentVers", "20.1"},
                {"HardwareRev", ""}, {"Vendor", ""}, {"BootloaderRev", ""}, {"ManDate", ""},
                {"SoftStatus", ""}, {"SerialNo", serial}, {"SupportsConfigs", true}};
  };
  json expected{
      {"BusUtilPerc", -1.0},
      {"DeviceArray", {entry("Arm \"left\"", "Kestrel KX", 3, "000000000000000000000000DEADBEEF"),
                       entry("PDP (Device ID 0)", "PDP", 0, "")}}};
  auto general = [](int id, const char* model) {
    return json{{"Action", "getdevices"}, {"Error", 0}, {"ErrorMessage", "QUOR_DI_OKAY"},
                {"ID", id}, {"Model", model}};
  };
  // A repeated query is answered from what was printed for it; every other query, and every
  // change of the cache, must still show.
  const struct {
    const char* query;
    int id;
    const char* model;
    bool dropPdp;
  } requests[] = {
      {"/?action=GetDevices&model=Pdp&id=7", 7, "pdp", false},
      {"/?action=GetDevices&model=Pdp&id=7", 7, "pdp", false},
      {"/?action=getdevices&id=5", 5, "", false},
      {"/?action=GetDevices&model=Pdp&id=7", 7, "pdp", false},
      {"/?action=GetDevices&model=Pdp&id=7", 7, "pdp", true},
  };
  HttpConnection c(port_);
  for (const auto& request : requests) {
    if (request.dropPdp) {
      server_.Update(list, 1, -1.0);
      expected["DeviceArray"].erase(1);
    }
    expected["GeneralReturn"] = general(request.id, request.model);
    auto response = c.get(request.query);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, expected.dump(4)) << request.query;
  }
}

TEST_F(HttpServerTest, OutOfRangeNumbersNeverAddressDeviceZero) {
  const DeviceDescriptor list[] = {device("PDP", 0x08040000, "PDP (Device ID 0)")};
  server_.Update(list, 1, -1.0);
  HttpConnection c(port_);
  json doc = getJson(c, "/?action=dance&model=pdp&id=99999999999");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -120);
  EXPECT_EQ(doc["GeneralReturn"]["ID"], 2147483647);
  // A negative new number is refused before it could wrap; "NewID" echoes it as read.
  doc = getJson(c, "/?action=setid&model=pdp&id=0&newid=-1");
  EXPECT_EQ(doc["NewID"], 4294967295u);
}

TEST_F(HttpServerTest, UploadActionsWithoutAFile) {
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  HttpConnection c(port_);
  json doc = getJson(c, "/?action=fieldupgrade&model=kestrel+kx&id=3&file=");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -206);
  EXPECT_EQ(doc["UpdateMessage"], "No BFL to flash");
  EXPECT_EQ(doc["Size"], 0);
  // A name that would leave the upload directory is never opened.
  doc = getJson(c, "/?action=fieldupgrade&model=kestrel+kx&id=3&file=..%2F..%2Fetc%2Fpasswd");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -206);
  doc = getJson(c, "/?action=progress&model=kestrel+kx&id=3");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -126);
  EXPECT_TRUE(doc["Progress"].is_number_integer());
  doc = getJson(c, "/?action=setconfig&model=kestrel+kx&id=3");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -128);
}

TEST_F(HttpServerTest, FieldUpgradeWithTwoUploadedPartsIsRefused) {
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  const std::string d = "--QQ";
  const std::string body = d + "\r\n\r\nA\r\n" + d + "\r\n\r\nB\r\n" + d + "--\r\n";
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=fieldupgrade&model=kestrel+kx&id=3&file=x.bfl HTTP/1.1\r\n"
                        "Content-Type: multipart/form-data; boundary=\"QQ\"\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n"));
  ASSERT_TRUE(c.silentFor(milliseconds(20)));
  ASSERT_TRUE(c.sendRaw(body));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  const json doc = json::parse(response->body);
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -119);
  EXPECT_EQ(doc["GeneralReturn"]["ErrorMessage"], "QUOR_DI_MoreThanOneFile");
  EXPECT_EQ(doc["UpdateMessage"], "More than one file was uploaded");
  EXPECT_EQ(doc["Path"], std::string(GetSearchDir()) + "x.bfl");
  EXPECT_EQ(doc["Size"], body.size());
}

TEST_F(HttpServerTest, ExpectContinueGetsAnInterimAnswerBeforeTheBody) {
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  const std::string d = "--fence";
  // A part with the headers curl and browsers send: the document inside must reach the parser.
  const std::string body = d + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"c.json\"\r\n"
                           "Content-Type: application/json\r\n\r\n{\"Configs\": []}\r\n" + d + "--\r\n";
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw("POST /?action=setconfig&model=kestrel+kx&id=3 HTTP/1.1\r\n"
                        "Content-Type: multipart/form-data; boundary=fence\r\nExpect: 100-continue\r\n"
                        "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n"));
  auto interim = c.readResponse();
  ASSERT_TRUE(interim);
  EXPECT_EQ(interim->head, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(c.sendRaw(body));
  auto response = c.readResponse();
  ASSERT_TRUE(response);
  const json doc = json::parse(response->body);
  // Parsed and turned into an image; the write then finds no such device on the bus (-101). The
  // upload is never echoed into an answer that is not the device's read-back.
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -101) << response->body;
  EXPECT_FALSE(doc.contains("Device"));
}

TEST_F(HttpServerTest, SetConfigWithInvalidJsonFileAnswersInvalidJson) {
  char dir[] = "/tmp/tessera-upload-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  SetSearchDir(dir);
  std::ofstream(std::string(dir) + "/bad.json") << "{ not json";
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  HttpConnection c(port_);
  json doc = getJson(c, "/?action=setconfig&model=kestrel+kx&id=3&file=bad.json");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -700);
  // Nested far deeper than any configuration: writing it back would overflow the stack.
  std::ofstream(std::string(dir) + "/deep.json") << std::string(100000, '[') << std::string(100000, ']');
  doc = getJson(c, "/?action=setconfig&model=kestrel+kx&id=3&file=deep.json");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -700);
  doc = getJson(c, "/?action=getversion");
  EXPECT_EQ(doc["SearchDirectory"], std::string(dir) + "/");
  SetSearchDir("");
  EXPECT_EQ(getJson(c, "/?action=getversion")["SearchDirectory"], "/var/volatile/tmp/quor/");
}

// A link in the upload folder is never followed out of it, for either upload action; a plain
// file next to it is read as before.
TEST_F(HttpServerTest, UploadFilesThatAreLinksAreNotOpened) {
  char dir[] = "/tmp/tessera-upload-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char outside[] = "/tmp/tessera-outside-XXXXXX";
  ASSERT_NE(mkdtemp(outside), nullptr);
  const std::string secret = std::string(outside) + "/secret";
  std::ofstream(secret) << "{\"Configs\": []}";
  ASSERT_EQ(symlink(secret.c_str(), (std::string(dir) + "/s.json").c_str()), 0);
  ASSERT_EQ(symlink(secret.c_str(), (std::string(dir) + "/s.bfl").c_str()), 0);
  std::ofstream(std::string(dir) + "/bad.json") << "{ not json";
  SetSearchDir(dir);
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  HttpConnection c(port_);
  EXPECT_EQ(getJson(c, "/?action=setconfig&model=kestrel+kx&id=3&file=s.json")["GeneralReturn"]["Error"],
            -128);
  const json upgrade = getJson(c, "/?action=fieldupgrade&model=kestrel+kx&id=3&file=s.bfl");
  EXPECT_EQ(upgrade["GeneralReturn"]["Error"], -206);
  EXPECT_EQ(upgrade["UpdateMessage"], "No BFL to flash");
  EXPECT_EQ(getJson(c, "/?action=setconfig&model=kestrel+kx&id=3&file=bad.json")["GeneralReturn"]["Error"],
            -700)
      << "a plain file is still read";
  SetSearchDir("");
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(outside);
}

// A hostile run named large files in three requests at once and grew the server by gigabytes:
// a file named by a request is held in the memory uploads share, and a document larger than
// any configuration is not read at all.
TEST_F(HttpServerTest, FilesNamedByRequestsCountAgainstTheUploadBudget) {
  char dir[] = "/tmp/tessera-upload-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::ofstream(std::string(dir) + "/x.bfl") << std::string(4096, 'x');
  std::ofstream(std::string(dir) + "/c.json") << "{\"Configs\": []}";
  std::ofstream(std::string(dir) + "/big.json")
      << "{\"Configs\": []}" << std::string(quor::tessera::diagnostics::kMaxConfigDocumentBytes, ' ');
  SetSearchDir(dir);
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  HttpConnection c(port_);
  const std::string upgrade = "/?action=fieldupgrade&model=kestrel+kx&id=3&file=x.bfl";
  const std::string config = "/?action=setconfig&model=kestrel+kx&id=3&file=c.json";
  {
    // Uploads in progress (in this process) hold the whole budget.
    using quor::tessera::networking::UploadBody;
    UploadBody held;
    const std::vector<uint8_t> mebibyte(1 << 20, 0);
    const size_t budget = quor::tessera::networking::kMaxUploadBytesInProgress;
    while (held.size() < budget) ASSERT_TRUE(held.append(mebibyte.data(), mebibyte.size(), budget));
    json doc = getJson(c, upgrade);
    EXPECT_EQ(doc["GeneralReturn"]["Error"], -100);
    EXPECT_EQ(doc["UpdateMessage"],
              "Not enough upload memory free for the file now, try again when other uploads have ended");
    EXPECT_EQ(getJson(c, config)["GeneralReturn"]["Error"], -100);
  }
  EXPECT_EQ(getJson(c, config)["GeneralReturn"]["Error"], -101) << "read, parsed, no such device on a bus";
  EXPECT_EQ(getJson(c, "/?action=setconfig&model=kestrel+kx&id=3&file=big.json")["GeneralReturn"]["Error"],
            -700);
  SetSearchDir("");
  std::filesystem::remove_all(dir);
}

TEST_F(HttpServerTest, ConnectionCloseIsHonouredAfterTheAnswer) {
  for (const char* field : {"Connection: close", "CONNECTION: keep-alive, Close"}) {
    HttpConnection c(port_);
    ASSERT_TRUE(c.sendRaw("GET /?action=getversion HTTP/1.1\r\nHost: x\r\n" + std::string(field) +
                          "\r\n\r\nGET /?action=getversion HTTP/1.1\r\n\r\n"));
    auto response = c.readResponse();
    ASSERT_TRUE(response) << field;
    EXPECT_NE(response->head.find("\r\nConnection: close\r\n"), std::string::npos) << response->head;
    // A client that reads until the end of the connection is done now, not 60 s later; the
    // request pipelined behind is not answered.
    EXPECT_TRUE(c.closedByPeer()) << field;
    EXPECT_FALSE(c.readResponse(milliseconds(0)));
  }
}

TEST_F(HttpServerTest, MultipartBoundaryWithParametersReachesTheFile) {
  const DeviceDescriptor list[] = {device("Kestrel KX", 0x02040003, "x")};
  server_.Update(list, 1, -1.0);
  const std::string body = "--XYZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"c.json\"\r\n"
                           "\r\n{\"Configs\": []}\r\n--XYZ--\r\n";
  HttpConnection c(port_);
  auto post = [&](const std::string& contentType) {
    EXPECT_TRUE(c.sendRaw("POST /?action=setconfig&model=kestrel+kx&id=3 HTTP/1.1\r\nContent-Type: " +
                          contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body));
    auto response = c.readResponse();
    return response ? response->body : std::string();
  };
  for (const char* type : {"multipart/form-data; boundary=\"XYZ\"; charset=\"utf-8\"",
                           "multipart/form-data; boundary=XYZ ;charset=utf-8"}) {
    // Parsed and turned into an image (-101: no such device on a bus), not "no document" (-128).
    EXPECT_EQ(json::parse(post(type))["GeneralReturn"]["Error"], -101) << type;
  }
  // No boundary: a framing error, not "no document"; the body is skipped by its length.
  EXPECT_EQ(post("multipart/form-data; charset=utf-8"), kBadRequestBody);
  EXPECT_EQ(getJson(c, "/?action=getversion")["GeneralReturn"]["Error"], 0);
}

// A page of another site must not drive the robot through a browser; every other request keeps
// its exact answer, a desktop tool's web view ("null", file:, its own scheme) included.
TEST_F(HttpServerTest, RequestsFromAnotherSitesPageAreRefusedAndLogged) {
  tessera_test::LogCapture log;
  HttpConnection c(port_);
  const std::string own = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  auto ask = [&](const std::string& fields) {
    EXPECT_TRUE(c.sendRaw("GET /?action=getversion HTTP/1.1\r\n" + fields + "\r\n"));
    auto response = c.readResponse();
    return response ? response->body : std::string();
  };
  const std::string plain = ask("");
  ASSERT_NE(plain, kBadRequestBody);
  for (const std::string& fields :
       {own, own + "Origin: null\r\n", own + "Origin: file://\r\n", own + "Origin: app://tool\r\n",
        own + "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\n"})
    EXPECT_EQ(ask(fields), plain) << fields;
  EXPECT_EQ(ask(own + "Referer: http://evil.example:8000/page.html\r\n"), kBadRequestBody);
  EXPECT_EQ(ask(own + "Origin: http://127.0.0.1:" + std::to_string(port_ + 1) + "\r\n"), kBadRequestBody);
  EXPECT_EQ(ask(""), plain) << "the connection goes on";
  const std::vector<std::string> lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("refused a request sent by a page of another site: Referer "
                          "http://evil.example:8000/page.html is not this server"),
            std::string::npos)
      << lines[0];
}

// GetSearchDir's text stays what it was for a reader that still holds it after a change.
TEST(SearchDirectory, TextHandedOutStaysValidAcrossChanges) {
  SetSearchDir("/tmp/first");
  const char* first = GetSearchDir();
  SetSearchDir("/tmp/second");
  SetSearchDir("/tmp/a-much-longer-directory-name-that-needs-a-new-allocation");
  EXPECT_STREQ(first, "/tmp/first/");
  EXPECT_STREQ(GetSearchDir(), "/tmp/a-much-longer-directory-name-that-needs-a-new-allocation/");
  SetSearchDir("/tmp/first");
  EXPECT_EQ(GetSearchDir(), first) << "a text in use before is handed out again, not copied";
  SetSearchDir("");
  EXPECT_STREQ(GetSearchDir(), "/var/volatile/tmp/quor/");
  EXPECT_STREQ(first, "/tmp/first/");
}

TEST_F(HttpServerTest, LogSwitchActions) {
  HttpConnection c(port_);
  EXPECT_EQ(getJson(c, "/?action=enablelog")["GeneralReturn"]["Error"], 0);
  EXPECT_TRUE(diag_printsEnabled());
  EXPECT_EQ(getJson(c, "/?action=disablelog")["GeneralReturn"]["Error"], 0);
  EXPECT_FALSE(diag_printsEnabled());
}

TEST_F(HttpServerTest, PortOutsideTheTcpRangeIsNotListenedOn) {
  EXPECT_EQ(server_.setupError(), "");
  for (int32_t port : {65536 + port_, -1}) {
    server_.setup(port);
    EXPECT_EQ(server_.boundPort(), -1) << port;
    EXPECT_FALSE(HttpConnection(port_).connected()) << "not cut to 16 bits";
    EXPECT_EQ(server_.setupError(), "port " + std::to_string(port) + ": not a TCP port (0 to 65535)");
  }
}

TEST_F(HttpServerTest, APortInUseSaysWhy) {
  JsonServer second;
  second.setup(port_);
  EXPECT_EQ(second.boundPort(), -1);
  EXPECT_EQ(second.setupError(), "port " + std::to_string(port_) + ": Address already in use");
  second.setup(0);
  EXPECT_GT(second.boundPort(), 0);
  EXPECT_EQ(second.setupError(), "") << "listening again clears it";
}

namespace {
// Fails every request that asks for it the way an exhausted allocator would.
class ThrowingServer : public quor::tessera::networking::TCPServer {
 public:
  void GetHttpResponse(char* bytes, int32_t, std::stringstream& body, bool* sendResponse,
                       quor::tessera::networking::HttpResponseData*) override {
    if (std::strstr(bytes, "throw")) throw std::bad_alloc();
    body << "{}";
    *sendResponse = true;
  }
};
}  // namespace

TEST(HttpServerFaults, AFailingRequestEndsOnlyItsOwnConnection) {
  ThrowingServer server;
  server.setup(0);
  HttpConnection failing(server.boundPort());
  HttpConnection healthy(server.boundPort());
  ASSERT_TRUE(failing.sendRaw("GET /throw HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(failing.closedByPeer());
  auto response = healthy.get("/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "{}");
  server.detach();
}

TEST_F(HttpServerTest, DetachStopsListeningAndSetupListensAgain) {
  HttpConnection open(port_);
  ASSERT_TRUE(open.connected());
  server_.detach();
  EXPECT_TRUE(open.closedByPeer()) << "open connections end with the server";
  HttpConnection refused(port_);
  EXPECT_FALSE(refused.connected());
  server_.setup(0);
  HttpConnection again(server_.boundPort());
  EXPECT_EQ(getJson(again, "/?action=getversion")["GeneralReturn"]["Error"], 0);
}
