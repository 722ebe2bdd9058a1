// Feeds arbitrary text as a configuration document to ConfigGroupSerializer::Deserialize for a
// model chosen by the first byte; whatever it accepts is turned back into a document, written
// out and compared with the input, as the "setconfig" flow does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/compare_device_configs.h"
#include "config/config_group_serializer.h"

namespace {

constexpr const char* kModels[] = {"kestrel kx", "kestrel kf", "harrier hx", "candial", "wren", "pdp"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quor::tessera::diagnostics::config2;
  if (size < 1) return 0;
  const std::string model = kModels[data[0] % (sizeof(kModels) / sizeof(kModels[0]))];
  const json document = json::parse(data + 1, data + size, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) return 0;

  ConfigByteArray image;
  image.capacity = ConfigByteArray::kMaxBytes;
  image.length = 0;
  std::memset(image.data, 0, sizeof(image.data));
  if (ConfigGroupSerializer::Deserialize(model, document, image) != 0) return 0;
  if (image.length == 0 || image.length > image.capacity) __builtin_trap();

  json readBack;
  if (ConfigGroupSerializer::Serialize(model, image, readBack) != 0) __builtin_trap();
  const std::string text = readBack.dump(4);  // must not throw on anything we produced
  quor::tessera::utility::CompareDeviceConfigs(readBack, document);
  return 0;
}
