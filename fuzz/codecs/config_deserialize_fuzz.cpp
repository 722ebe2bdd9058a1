// Feeds arbitrary text as an uploaded configuration document through the whole "setconfig" path
// of every model: the document's limits checked on its text, the parse, the document written over
// a whole image of the model; whatever it accepts is turned back into a document, which written
// over the image again must leave every byte as it is, and is compared with the input. The
// document alone (every member it does not name as zeros) goes the same way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/compare_device_configs.h"
#include "config/config_group_serializer.h"
#include "server/config_document_limits.h"

namespace {

using namespace quor::tessera::diagnostics::config2;

constexpr const char* kModels[] = {"kestrel kx", "kestrel kf", "harrier hx", "candial", "wren", "pdp"};

ConfigByteArray EmptyImage() {
  ConfigByteArray image;
  image.capacity = ConfigByteArray::kMaxBytes;
  image.length = 0;
  std::memset(image.data, 0, sizeof(image.data));
  return image;
}

bool SameBytes(const ConfigByteArray& a, const ConfigByteArray& b) {
  return a.length == b.length && std::memcmp(a.data, b.data, a.length) == 0;
}

void writeAndReadBack(const std::string& model, const json& document) {
  ConfigByteArray alone = EmptyImage();
  if (ConfigGroupSerializer::Deserialize(model, document, alone) != 0) return;
  if (alone.length == 0 || alone.length > alone.capacity) __builtin_trap();

  // Over a whole image of the model, as the device's own would be.
  ConfigByteArray base = EmptyImage();
  if (ConfigGroupSerializer::Deserialize(model, json{{"Configs", json::array()}}, base) != 0) __builtin_trap();
  ConfigByteArray image = EmptyImage();
  std::vector<std::string> refused;
  if (ConfigGroupSerializer::DeserializeOver(model, document, base, image, refused) != 0) __builtin_trap();
  if (!refused.empty()) return;
  if (image.length != base.length) __builtin_trap();

  json readBack;
  if (ConfigGroupSerializer::Serialize(model, image, readBack) != 0) __builtin_trap();
  const std::string text = readBack.dump(4);  // must not throw on anything we produced
  if (!ConfigGroupSerializer::Differences(model, image, image).empty()) __builtin_trap();
  ConfigByteArray again = EmptyImage();
  if (ConfigGroupSerializer::DeserializeOver(model, json::parse(text), image, again, refused) != 0 ||
      !refused.empty() || !SameBytes(again, image))
    __builtin_trap();  // an unchanged document changed the image
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
