#include "server/json_text.h"

namespace quor::tessera::diagnostics {

void AppendJson(const nlohmann::json& value, std::string& out, unsigned depth) {
  // The serializer behind json::dump, which can start at a given indentation and append to an
  // existing string.
  nlohmann::detail::serializer<nlohmann::json> writer(
      nlohmann::detail::output_adapter<char, std::string>(out), ' ',
      nlohmann::json::error_handler_t::replace);
  writer.dump(value, true, false, kJsonIndent, depth * kJsonIndent);
}

}  // namespace quor::tessera::diagnostics
