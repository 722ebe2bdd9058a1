// Feeds arbitrary text as an uploaded configuration document through the whole "setconfig" path
// of every model: the document's limits checked on its text, the parse, Deserialize into an
// image; whatever it accepts is turned back into a document, written out and compared with the
// input, as the flow does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "config/compare_device_configs.h"
#include "config/config_group_serializer.h"
#include "server/config_document_limits.h"

namespace {

using namespace quor::tessera::diagnostics::config2;

constexpr const char* kModels[] = {"kestrel kx", "kestrel kf", "harrier hx", "candial", "wren", "pdp"};

void writeAndReadBack(const std::string& model, const json& document) {
  ConfigByteArray image;
  image.capacity = ConfigByteArray::kMaxBytes;
  image.length = 0;
  std::memset(image.data, 0, sizeof(image.data));
  uint32_t valuesOutOfRange = 0;
  if (ConfigGroupSerializer::Deserialize(model, document, image, valuesOutOfRange) != 0) return;
  if (image.length == 0 || image.length > image.capacity) __builtin_trap();

  json readBack;
  if (ConfigGroupSerializer::Serialize(model, image, readBack) != 0) __builtin_trap();
  const std::string text = readBack.dump(4);  // must not throw on anything we produced
  quor::tessera::utility::CompareDeviceConfigs(readBack, document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quor::tessera::diagnostics::ConfigDocumentOutsideLimits(text).empty()) return 0;
  const json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) __builtin_trap();  // the limits check read it as JSON
  for (const char* model : kModels) writeAndReadBack(model, document);
  return 0;
}
