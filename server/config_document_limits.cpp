#include "server/config_document_limits.h"

#include <vector>

#include <nlohmann/json.hpp>

namespace quor::tessera::diagnostics {

namespace {

// Counts as the parser reads, without building anything; stops at the first limit exceeded.
class LimitCounter : public nlohmann::json_sax<nlohmann::json> {
 public:
  const std::string& refusal() const { return refusal_; }

  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override { return open(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception&) override {
    refusal_ = "not JSON (at byte " + std::to_string(position) + ")";
    return false;
  }

 private:
  bool value() {
    if (++values_ > kMaxConfigDocumentValues)
      return refuse("more than " + std::to_string(kMaxConfigDocumentValues) + " values");
    if (!members_.empty() && ++members_.back() > kMaxConfigDocumentMembers)
      return refuse("more than " + std::to_string(kMaxConfigDocumentMembers) +
                    " members in one array or object");
    return true;
  }
  bool open() {
    if (!value()) return false;
    if (members_.size() == kMaxConfigDocumentDepth)
      return refuse("nested deeper than " + std::to_string(kMaxConfigDocumentDepth) + " levels");
    members_.push_back(0);
    return true;
  }
  bool close() {
    members_.pop_back();
    return true;
  }
  bool refuse(std::string why) {
    refusal_ = std::move(why);
    return false;
  }

  size_t values_ = 0;
  std::vector<size_t> members_;  // of each array or object open now, outermost first
  std::string refusal_;
};

}  // namespace

std::string ConfigDocumentOutsideLimits(std::string_view text) {
  if (text.size() > kMaxConfigDocumentBytes)
    return "larger than " + std::to_string(kMaxConfigDocumentBytes) + " bytes";
  LimitCounter counter;
  nlohmann::json::sax_parse(text.begin(), text.end(), &counter);
  return counter.refusal();
}

}  // namespace quor::tessera::diagnostics
