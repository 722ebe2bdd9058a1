// What one client without any special access can do to the server, over real loopback sockets:
// hold memory, hold connection slots, smuggle requests, pipeline, burst, read nothing, hold a
// serving thread in a slow request; and the cost of a serving thread.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pthread.h>

#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/diag_print.h"
#include "server/json_server.h"
#include "server/request_framing.h"
#include "server/upload_body.h"
#include "tests/support/bad_request_answer.h"
#include "tests/support/http_client.h"
#include "tests/support/wait_until.h"

using nlohmann::json;
using quor::tessera::diagnostics::JsonServer;
using quor::tessera::networking::ConnectionDeadlines;
using quor::tessera::networking::FrameRequest;
using quor::tessera::networking::FramingClockMs;
using quor::tessera::networking::FramingOutcome;
using quor::tessera::networking::HttpResponseData;
using quor::tessera::networking::TCPServer;
using quor::tessera::networking::UploadBody;
using tessera_test::HttpConnection;
using tessera_test::kBadRequestBody;
using tessera_test::WaitUntil;
using namespace std::chrono;

namespace {

constexpr size_t kMiB = 1024 * 1024;

std::string getRequest(const std::string& query) { return "GET /?" + query + " HTTP/1.1\r\n\r\n"; }

std::string uploadHeader(const std::string& length, const std::string& extra = "") {
  return "POST /?action=getversion HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=q\r\n" +
         extra + "Content-Length: " + length + "\r\n\r\n";
}

std::string uploadHeader(size_t length, const std::string& extra = "") {
  return uploadHeader(std::to_string(length), extra);
}

// A header that fills one whole read without ending.
std::string headerFillingOneRead() {
  std::string header = "GET /?action=getversion HTTP/1.1\r\nX-Pad: ";
  return header + std::string(4095 - header.size() - 2, 'p') + "\r\n";
}

std::string actionOf(const std::optional<tessera_test::HttpResponse>& response) {
  return response ? json::parse(response->body)["GeneralReturn"].value("Action", "?") : "none";
}

size_t residentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  size_t kib = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> kib;
      break;
    }
  }
  return kib * 1024;
}

class HostileClientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    diag_enablePrints(false);
    server_.setup(0);
    port_ = server_.boundPort();
    ASSERT_GT(port_, 0);
  }
  void TearDown() override { server_.detach(); }

  JsonServer server_;
  int port_ = 0;
};

}  // namespace

TEST_F(HostileClientsTest, AHeaderAloneHoldsNoBodyAndAnAnsweredUploadLetsGo) {
  const size_t before = residentBytes();
  std::vector<std::unique_ptr<HttpConnection>> uploads;
  for (int i = 0; i < TCPServer::kMaxConnectionsPerPeer; ++i) {
    uploads.push_back(std::make_unique<HttpConnection>(port_, "127.0.0.2"));
    ASSERT_TRUE(uploads.back()->sendRaw(uploadHeader(32 * kMiB, "Expect: 100-continue\r\n")));
  }
  for (auto& upload : uploads) ASSERT_TRUE(upload->readResponse()) << "the header was framed";
  EXPECT_EQ(UploadBody::BytesHeldByAll(), 0u);
  // Before, each header reserved its 32 MiB at once: 2 GiB here. The bound leaves room for what
  // the connection threads themselves cost under sanitizers.
  EXPECT_LT(residentBytes(), before + 256 * kMiB) << "a 32 MiB reservation per header";

  const std::string body = "--q\r\n\r\n" + std::string(kMiB, 'b') + "\r\n--q--\r\n";
  HttpConnection keptAlive(port_);
  ASSERT_TRUE(keptAlive.sendRaw(uploadHeader(body.size()) + body));
  ASSERT_TRUE(keptAlive.readResponse());
  ASSERT_EQ(actionOf(keptAlive.get("/?action=getversion")), "getversion");
  EXPECT_EQ(UploadBody::BytesHeldByAll(), 0u) << "released once answered, not at close";
}

TEST_F(HostileClientsTest, UploadsBeyondTheSharedBudgetAreRefusedAndClosed) {
  // The first upload pauses after 24 MiB; a loaded machine can take more than the body-gap
  // second to push the second one's 8 MiB, and the first must still hold its bytes then.
  ConnectionDeadlines patientWithBodies;
  patientWithBodies.bodyGapMs = 60000;
  server_.setDeadlines(patientWithBodies);
  const size_t length = 32 * kMiB;
  const std::string firstBytes = uploadHeader(length) + std::string(24 * kMiB, 'a');
  HttpConnection first(port_);
  ASSERT_TRUE(first.sendRaw(firstBytes));
  ASSERT_TRUE(WaitUntil([] { return UploadBody::BytesHeldByAll() >= 24 * kMiB; }, seconds(10)));
  const size_t heldByFirst = UploadBody::BytesHeldByAll();
  // What the first holds leaves 8 MiB of the budget; the byte after them is refused.
  const std::string secondBytes = uploadHeader(length) + std::string(8 * kMiB + 1024, 'b');
  HttpConnection second(port_);
  second.sendRaw(secondBytes);
  auto refused = second.readResponse(seconds(20));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->body, kBadRequestBody);
  EXPECT_TRUE(second.closedByPeer());
  EXPECT_EQ(UploadBody::BytesHeldByAll(), heldByFirst) << "the refused upload let go; the first kept";
}

TEST_F(HostileClientsTest, SlowAndIdlePeersAreCutOffByTheClock) {
  ConnectionDeadlines shortened;
  shortened.headerMs = 300;
  shortened.idleMs = 500;
  server_.setDeadlines(shortened);
  HttpConnection slowHeader(port_);
  ASSERT_TRUE(slowHeader.sendRaw("GET /?action=getversion HTTP/1.1\r\nHost: x"));
  auto answer = slowHeader.readResponse(milliseconds(5000));
  ASSERT_TRUE(answer) << "header deadline";
  EXPECT_EQ(answer->body, kBadRequestBody);
  EXPECT_TRUE(slowHeader.closedByPeer());

  HttpConnection idle(port_);
  ASSERT_EQ(actionOf(idle.get("/?action=getversion")), "getversion");
  EXPECT_TRUE(idle.closedByPeer(milliseconds(5000))) << "idle deadline";
  EXPECT_TRUE(WaitUntil([this] { return server_.activeConnections() == 0; }));
}

TEST_F(HostileClientsTest, OnePeerCannotTakeEverySlot) {
  std::vector<std::unique_ptr<HttpConnection>> greedy;
  for (int i = 0; i < TCPServer::kMaxConnectionsPerPeer; ++i) {
    greedy.push_back(std::make_unique<HttpConnection>(port_, "127.0.0.2"));
    ASSERT_EQ(actionOf(greedy.back()->get("/?action=getversion")), "getversion") << i;
  }
  HttpConnection oneTooMany(port_, "127.0.0.2");
  EXPECT_TRUE(oneTooMany.closedByPeer());
  HttpConnection otherHost(port_, "127.0.0.1");
  EXPECT_EQ(actionOf(otherHost.get("/?action=getversion")), "getversion");
  greedy.pop_back();
  ASSERT_TRUE(WaitUntil([this] { return server_.activeConnections() == TCPServer::kMaxConnectionsPerPeer; }));
  HttpConnection again(port_, "127.0.0.2");
  EXPECT_EQ(actionOf(again.get("/?action=getversion")), "getversion");
}

TEST_F(HostileClientsTest, NoByteOfOneRequestIsReadAsAnother) {
  const std::string hidden = getRequest("action=enablelog");
  const std::string wrapped = "--q\r\n\r\n" + hidden + "\r\n--q--\r\n";
  struct Case {
    const char* what;
    std::vector<std::string> segments;
    std::string firstAnswer;  // Action of the one answer, or "bad" for the -127 answer
    bool closes;
  } cases[] = {
      {"tail of a header longer than one read",
       {headerFillingOneRead(), hidden},
       "bad", true},
      {"body of a non-multipart POST",
       {"POST /?action=getversion HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: " +
            std::to_string(hidden.size()) + "\r\n\r\n",
        hidden},
       "", false},
      {"body of a POST with Content-Length -1", {uploadHeader("-1"), hidden}, "bad", true},
      {"upload with lower-case field names",
       {"POST /?action=getversion HTTP/1.1\r\ncontent-type: multipart/form-data; boundary=q\r\n"
        "content-length: " + std::to_string(wrapped.size()) + "\r\n\r\n",
        wrapped},
       "getversion", false},
  };
  for (const Case& c : cases) {
    HttpConnection connection(port_);
    for (const std::string& segment : c.segments) {
      ASSERT_TRUE(connection.sendRaw(segment)) << c.what;
      connection.silentFor(milliseconds(20));  // lets each arrive as a packet of its own
    }
    auto answer = connection.readResponse();
    ASSERT_TRUE(answer) << c.what;
    if (c.firstAnswer == "bad") EXPECT_EQ(answer->body, kBadRequestBody) << c.what;
    else EXPECT_EQ(actionOf(answer), c.firstAnswer) << c.what;
    if (c.closes) EXPECT_TRUE(connection.closedByPeer()) << c.what;
    // Requests are answered in order, so this answer comes after anything hidden would have run.
    else EXPECT_EQ(actionOf(connection.get("/?action=getversion")), "getversion") << c.what;
    EXPECT_FALSE(diag_printsEnabled()) << c.what << ": the hidden request ran";
    diag_enablePrints(false);
  }
}

TEST_F(HostileClientsTest, PipelinedRequestsAreAnsweredInOrder) {
  HttpConnection c(port_);
  ASSERT_TRUE(c.sendRaw(getRequest("action=getversion") + getRequest("action=getdevices") +
                        getRequest("action=dance")));
  EXPECT_EQ(actionOf(c.readResponse()), "getversion");
  EXPECT_EQ(actionOf(c.readResponse()), "getdevices");
  EXPECT_EQ(actionOf(c.readResponse()), "dance");
}

TEST_F(HostileClientsTest, ABurstOfConnectsFindsRoomInTheListenQueue) {
  // A handshake dropped for a full accept queue is retried only after a second.
  constexpr int kBurst = 250;
  std::vector<int> sockets;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kBurst; ++i) {
    sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(sockets.back(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  std::vector<pollfd> pending;
  for (int s : sockets) pending.push_back({s, POLLOUT, 0});
  int connected = 0;
  const auto until = steady_clock::now() + milliseconds(800);
  while (!pending.empty() && steady_clock::now() < until) {
    ::poll(pending.data(), pending.size(), 50);
    for (size_t i = 0; i < pending.size();) {
      if (pending[i].revents == 0) {
        ++i;
        continue;
      }
      int error = 0;
      socklen_t length = sizeof(error);
      ::getsockopt(pending[i].fd, SOL_SOCKET, SO_ERROR, &error, &length);
      connected += error == 0;
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  for (int s : sockets) ::close(s);
  EXPECT_EQ(connected, kBurst);
}

namespace {
// Answers every read with the size of the stack of the thread that serves it.
class StackReportingServer : public TCPServer {
 public:
  void GetHttpResponse(char*, int32_t, std::stringstream& body, bool* sendResponse,
                       HttpResponseData*) override {
    pthread_attr_t attributes;
    size_t size = 0;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    body << size;
    *sendResponse = true;
  }
};

// Holds every request for "/?slow" until released, as a device operation holds its thread for
// seconds; answers each other request at once with its query followed by `answerBytes` dots.
class SlowAndBigAnswersServer : public TCPServer {
 public:
  ~SlowAndBigAnswersServer() override {
    release();  // a test that failed early leaves nothing held
    detach();   // before the members the handlers use go away
  }
  void GetHttpResponse(char* bytes, int32_t count, std::stringstream& body, bool* sendResponse,
                       HttpResponseData* record) override {
    std::string query;
    if (FrameRequest(bytes, count, *record, FramingClockMs(), query) != FramingOutcome::kParameters)
      return;
    *sendResponse = true;
    if (query == "slow") {
      std::unique_lock<std::mutex> hold(mutex_);
      ++held_;
      changed_.notify_all();
      changed_.wait_for(hold, seconds(30), [this] { return released_; });
    }
    body << query << std::string(answerBytes, '.');
  }
  bool waitUntilHeld(int count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, seconds(10), [&] { return held_ >= count; });
  }
  void release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  size_t answerBytes = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int held_ = 0;
  bool released_ = false;
};
}  // namespace

TEST(ServingThreads, RunOnASmallFixedStack) {
  StackReportingServer server;
  server.setup(0);
  HttpConnection c(server.boundPort());
  auto response = c.get("/");
  ASSERT_TRUE(response);
  const size_t stack = std::stoul(response->body);
  EXPECT_GE(stack, TCPServer::kConnectionStackBytes);
  EXPECT_LE(stack, 4 * TCPServer::kConnectionStackBytes) << "not the 8 MiB default";
  server.detach();
}

TEST(ServingThreads, SlowRequestsDoNotHoldUpOtherConnections) {
  SlowAndBigAnswersServer server;
  server.setup(0);
  // More slow requests than there are serving threads at first: each needs one of its own.
  const int slowCount = server.servingThreads() + 2;
  std::vector<std::unique_ptr<HttpConnection>> slow;
  for (int i = 0; i < slowCount; ++i) {
    slow.push_back(std::make_unique<HttpConnection>(server.boundPort()));
    ASSERT_TRUE(slow.back()->sendRaw("GET /?slow HTTP/1.1\r\n\r\n"));
  }
  ASSERT_TRUE(server.waitUntilHeld(slowCount)) << "a slow request waited for another";
  HttpConnection quick(server.boundPort());
  const auto answer = quick.get("/?quick");  // while every slow one is still held
  server.release();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "quick");
  for (auto& connection : slow) {
    const auto held = connection->readResponse();
    ASSERT_TRUE(held);
    EXPECT_EQ(held->body, "slow");
  }
  server.detach();
}

// Answers larger than what the sockets buffer leave in parts, as the peer reads them, and the
// pipelined requests behind them are answered in order; a peer that reads nothing is given up.
TEST(ServingThreads, AnswersWaitForThePeerToReadThem) {
  SlowAndBigAnswersServer server;
  server.answerBytes = 1024 * 1024;
  ConnectionDeadlines shortened;
  shortened.sendStallMs = 300;
  server.setDeadlines(shortened);
  server.setup(0);
  constexpr int kRequests = 16;
  std::string pipelined;
  for (int i = 0; i < kRequests; ++i) pipelined += "GET /?" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
  HttpConnection deaf(server.boundPort());
  HttpConnection reader(server.boundPort());
  ASSERT_TRUE(deaf.sendRaw(pipelined));
  ASSERT_TRUE(reader.sendRaw(pipelined));
  for (int i = 0; i < kRequests; ++i) {
    const auto answer = reader.readResponse();
    ASSERT_TRUE(answer) << i;
    EXPECT_EQ(answer->body.substr(0, answer->body.find('.')), std::to_string(i));
    EXPECT_EQ(answer->body.size(), server.answerBytes + std::to_string(i).size());
  }
  EXPECT_TRUE(WaitUntil([&] { return server.activeConnections() == 1; }, seconds(5)))
      << "the peer that reads nothing still holds its connection";
  server.detach();
}
