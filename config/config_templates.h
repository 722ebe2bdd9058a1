#pragma once
// The per-model configuration documents from which every "getconfig" answer is built.
#include <string>

#include <nlohmann/json.hpp>

namespace quor::tessera::utility {

// A copy of the template of the model whose lower-case text equals `model` exactly ("kestrel kx",
// "kestrel kf", "harrier hx", "candial"); any other text gives the empty document {"Configs": []}.
nlohmann::json GetDeviceJson(const std::string& model);

}  // namespace quor::tessera::utility
