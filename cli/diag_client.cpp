#include "cli/diag_client.h"

#include "cli/report.h"
#include "cli/server_address.h"

#include <httplib.h>

#include <cctype>
#include <sstream>

namespace tessera::cli {

namespace {

std::string DescribeFailure(httplib::Error error, const ServerAddress& address,
                            std::chrono::milliseconds timeout) {
  switch (error) {
    case httplib::Error::Connection:
    case httplib::Error::ConnectionTimeout: {
      const std::string why = WhyNoConnection(address, timeout);
      return "cannot connect to " + address.text() + (why.empty() ? "" : ": " + why);
    }
    case httplib::Error::Read:
      return "no answer from " + address.text() + " within " + SecondsText(timeout);
    case httplib::Error::Write:
      return "could not send the request to " + address.text();
    default:
      return "request to " + address.text() + " failed: " + httplib::to_string(error);
  }
}

Answer Interpret(const httplib::Result& result, const ServerAddress& address,
                 std::chrono::milliseconds timeout) {
  if (!result) throw TransportError(DescribeFailure(result.error(), address, timeout));
  if (result->status != 200)
    throw TransportError("unexpected HTTP status " + std::to_string(result->status) + " from " +
                         address.text());
  return ParseAnswer(result->body, address);
}

}  // namespace

Answer ParseAnswer(const std::string& body, const ServerAddress& from) {
  Answer answer;
  answer.body = body;
  answer.document = nlohmann::json::parse(body, nullptr, false);
  const auto& document = answer.document;
  const bool usable = document.is_object() && document.contains("GeneralReturn") &&
                      document["GeneralReturn"].is_object() &&
                      document["GeneralReturn"].contains("Error") &&
                      document["GeneralReturn"]["Error"].is_number_integer();
  if (!usable)
    throw TransportError("the answer from " + from.text() + " is not a Tessera Diagnostics answer");
  const auto& general = document["GeneralReturn"];
  answer.error = general["Error"].get<int>();
  answer.errorMessage = general.value("ErrorMessage", "");
  return answer;
}

std::string EncodeQuery(const QueryParams& params) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string query;
  const auto append = [&](const std::string& text) {
    for (const unsigned char c : text) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
        query.push_back(static_cast<char>(c));
      } else {
        query += '%';
        query += kHex[c >> 4];
        query += kHex[c & 0x0F];
      }
    }
  };
  for (const auto& [key, value] : params) {
    if (!query.empty()) query += '&';
    append(key);
    query += '=';
    append(value);
  }
  return query;
}

DiagClient::DiagClient(ServerAddress address, std::chrono::milliseconds timeout)
    : address_(std::move(address)),
      timeout_(timeout),
      http_(std::make_unique<httplib::Client>(address_.host, address_.port)) {
  http_->set_keep_alive(true);
  http_->set_connection_timeout(timeout_);
  http_->set_write_timeout(timeout_);
  setAnswerTimeout(timeout_);
}

DiagClient::~DiagClient() = default;

void DiagClient::cancel() { http_->stop(); }

void DiagClient::setAnswerTimeout(std::chrono::milliseconds timeout) {
  http_->set_read_timeout(timeout);
}

Answer DiagClient::get(const QueryParams& params) {
  return Interpret(http_->Get("/?" + EncodeQuery(params)), address_, timeout_);
}

Answer DiagClient::get(const QueryParams& params, std::chrono::milliseconds answerTimeout) {
  setAnswerTimeout(answerTimeout);
  auto result = http_->Get("/?" + EncodeQuery(params));
  setAnswerTimeout(timeout_);
  return Interpret(result, address_, answerTimeout);
}

Answer DiagClient::upload(const QueryParams& params, const UploadFile& file,
                          std::chrono::milliseconds answerTimeout) {
  const httplib::MultipartFormDataItems items = {
      {"file", file.content, file.name, "application/octet-stream"}};
  setAnswerTimeout(answerTimeout);
  auto result = http_->Post("/?" + EncodeQuery(params), items);
  setAnswerTimeout(timeout_);
  return Interpret(result, address_, answerTimeout);
}

}  // namespace tessera::cli
