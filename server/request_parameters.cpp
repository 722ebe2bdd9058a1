#include "server/request_parameters.h"

#include <sstream>

#include "core/string_util.h"
#include "device/can_id.h"

namespace quor::tessera::utility {

namespace {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// Whatever the stream leaves: 0 (false) when nothing could be read, the type's limit when the
// number is out of range, and for unsigned types a negative number wrapped. Mapping those cases
// to 0 would turn "id=99999999999" into device 0 and "newid=-1" into a renumbering to 0.
template <typename T>
T readWithStream(const std::string& text, std::ios_base& (*format)(std::ios_base&) = nullptr) {
  std::istringstream in(text);
  if (format) in >> format;
  T value{};
  in >> value;
  return value;
}

}  // namespace

std::string urldecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool LookupBoolValue(const ParameterMap& params, const std::string& key, bool defaultValue) {
  const auto it = params.find(key);
  if (it == params.end()) return defaultValue;
  return readWithStream<bool>(it->second, std::boolalpha);
}

double LookupDoubleValue(const ParameterMap& params, const std::string& key, double defaultValue) {
  const auto it = params.find(key);
  if (it == params.end()) return defaultValue;
  return readWithStream<double>(it->second);
}

int LookupIntValue(const ParameterMap& params, const std::string& key, int defaultValue) {
  const auto it = params.find(key);
  if (it == params.end()) return defaultValue;
  return readWithStream<int>(it->second);
}

std::string QueryOfTarget(const std::string& target) {
  const auto pieces = string_util::string_split(target, '?');
  return pieces.size() >= 2 ? pieces[1] : std::string();
}

std::string PostParameterString(const std::string& query) {
  return string_util::toLower(urldecode(query));
}

std::string GetParameterString(const std::string& query) {
  static const std::string kCaseKeepingKey = "newname=";
  const std::string decoded = urldecode(query);
  std::string lowered = string_util::toLower(decoded);
  const size_t key = decoded.find(kCaseKeepingKey);
  if (key != std::string::npos) {
    const size_t start = key + kCaseKeepingKey.size();
    size_t end = decoded.find('&', start);
    if (end == std::string::npos) end = decoded.size();
    lowered.replace(start, end - start, decoded, start, end - start);
  }
  return lowered;
}

ParameterMap ParseParameterString(const std::string& parameters) {
  ParameterMap map;
  for (const std::string& piece : string_util::string_split(parameters, '&')) {
    const auto keyValue = string_util::string_split(piece, '=');
    if (keyValue.size() == 2) map[keyValue[0]] = keyValue[1];
  }
  return map;
}

std::string ValueAsWritten(const std::string& decodedQuery, const std::string& key) {
  std::string value;
  for (const std::string& piece : string_util::string_split(decodedQuery, '&')) {
    const auto keyValue = string_util::string_split(piece, '=');
    if (keyValue.size() == 2 && string_util::toLower(keyValue[0]) == key) value = keyValue[1];
  }
  return value;
}

int ReadSignedDecimal(const std::string& text) { return readWithStream<int>(text); }

unsigned ReadUnsignedDecimal(const std::string& text) { return readWithStream<unsigned>(text); }

bool IsDeviceNumberInField(const std::string& text) {
  const long long number = readWithStream<long long>(text);
  return number >= 0 && number <= static_cast<long long>(can_id::kDeviceNumberMask);
}

}  // namespace quor::tessera::utility
