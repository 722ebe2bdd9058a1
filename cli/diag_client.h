#pragma once
// One kept-alive connection to a running tessera-diag-server. Every request is a GET of
// "/?action=..." (or a multipart POST for uploads) whose JSON answer carries its result in
// "GeneralReturn". Failures to get such an answer become one-line TransportErrors, never a
// stack of library messages.
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Client;
}

namespace tessera::cli {

using QueryParams = std::vector<std::pair<std::string, std::string>>;

struct ServerAddress {
  std::string host = "localhost";
  int port = 1250;
  std::string text() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
  }
};

// No usable answer: the server is not reachable, went silent, or is not a diagnostics server.
class TransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Answer {
  std::string body;  // exactly as the server sent it
  nlohmann::json document;
  int error = 0;
  std::string errorMessage;
  bool ok() const { return error == 0; }
};

// Throws TransportError unless `body` is a JSON document with "GeneralReturn"."Error".
Answer ParseAnswer(const std::string& body, const ServerAddress& from);

// Percent-encodes every byte but the unreserved ones, so names with spaces or '+' arrive intact.
std::string EncodeQuery(const QueryParams& params);

struct UploadFile {
  std::string name;
  std::string content;
};

class DiagClient {
 public:
  DiagClient(ServerAddress address, std::chrono::milliseconds timeout);
  ~DiagClient();
  DiagClient(const DiagClient&) = delete;
  DiagClient& operator=(const DiagClient&) = delete;

  Answer get(const QueryParams& params);
  // The same for a request the server may work on for a long time ("fieldupgrade" of a file
  // in its search directory).
  Answer get(const QueryParams& params, std::chrono::milliseconds answerTimeout);
  // A multipart/form-data POST of one file; the server may work on it for a long time (a
  // firmware upgrade answers only when it has ended), hence its own answer timeout.
  Answer upload(const QueryParams& params, const UploadFile& file,
                std::chrono::milliseconds answerTimeout);

  // Ends a request under way on another thread (it fails with a TransportError there).
  void cancel();

  const ServerAddress& address() const { return address_; }
  std::chrono::milliseconds timeout() const { return timeout_; }

 private:
  void setAnswerTimeout(std::chrono::milliseconds timeout);

  ServerAddress address_;
  std::chrono::milliseconds timeout_;
  std::unique_ptr<httplib::Client> http_;
};

}  // namespace tessera::cli
