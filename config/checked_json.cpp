#include "config/checked_json.h"

#include <limits>

#include "config/saturating_cast.h"

namespace quor::tessera::diagnostics::config2 {

namespace {

[[noreturn]] void ThrowType(const char* expected, const json& value) {
  throw json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                 &value);
}

template <typename Integer>
Integer ReadJsonInteger(const json& value) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<Integer>::max());
  switch (value.type()) {
    case json::value_t::number_integer: {
      const int64_t number = value.get<int64_t>();
      if (number < static_cast<int64_t>(std::numeric_limits<Integer>::min())) {
        return std::numeric_limits<Integer>::min();
      }
      if (number > 0 && static_cast<uint64_t>(number) > kMax) {
        return std::numeric_limits<Integer>::max();
      }
      return static_cast<Integer>(number);
    }
    case json::value_t::number_unsigned: {
      const uint64_t number = value.get<uint64_t>();
      if (number > kMax) return std::numeric_limits<Integer>::max();
      return static_cast<Integer>(number);
    }
    case json::value_t::number_float:
      return SaturatingTrunc<Integer>(value.get<double>());
    default:
      ThrowType("number", value);
  }
}

}  // namespace

const json& CheckedAt(const json& object, const char* key) {
  if (!object.is_object()) return object.at(key);  // raises the library's own type error
  const auto member = object.find(key);
  if (member == object.end()) throw json::type_error::create(kMissingKeyErrorId, "Missing key", &object);
  return *member;
}

double ReadJsonDouble(const json& value) {
  if (!value.is_number()) ThrowType("number", value);
  return value.get<double>();
}

int32_t ReadJsonInt32(const json& value) { return ReadJsonInteger<int32_t>(value); }

uint32_t ReadJsonUInt32(const json& value) { return ReadJsonInteger<uint32_t>(value); }

bool ReadJsonBool(const json& value) {
  if (!value.is_boolean()) ThrowType("boolean", value);
  return value.get<bool>();
}

}  // namespace quor::tessera::diagnostics::config2
