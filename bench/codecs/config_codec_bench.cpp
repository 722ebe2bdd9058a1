// Throughput of the configuration codecs on a Kestrel KF: document -> image ("setconfig") and
// image -> document ("getconfig"), with and without the JSON text on the outside.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "config/config_group_serializer.h"
#include "config/config_templates.h"

namespace {

using namespace quor::tessera::diagnostics::config2;

constexpr const char* kModel = "kestrel kf";

// A Kestrel KF image with a non-zero value in every field, and the document built from it.
ConfigByteArray SampleImage() {
  ConfigByteArray image = ConfigByteArray{};
  image.length = 412;
  for (uint32_t position = 4; position < image.length; position += 4) {
    const uint32_t value = position * 7 % 1000 + 1;
    std::memcpy(image.data + position, &value, sizeof(value));
  }
  image.data[0] = 2;
  return image;
}

json SampleDocument() {
  json document;
  ConfigGroupSerializer::Serialize(kModel, SampleImage(), document);
  return document;
}

void DocumentToImage(benchmark::State& state) {
  const json document = SampleDocument();
  ConfigByteArray image = ConfigByteArray{};
  for (auto _ : state) {
    const int32_t result = ConfigGroupSerializer::Deserialize(kModel, document, image);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(image.data);
  }
  state.SetItemsProcessed(state.iterations());
}

void ImageToDocument(benchmark::State& state) {
  const ConfigByteArray image = SampleImage();
  for (auto _ : state) {
    json document;
    const int32_t result = ConfigGroupSerializer::Serialize(kModel, image, document);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(document);
  }
  state.SetItemsProcessed(state.iterations());
}

void DocumentTextToImage(benchmark::State& state) {
  const std::string text = SampleDocument().dump(4);
  ConfigByteArray image = ConfigByteArray{};
  for (auto _ : state) {
    const int32_t result = ConfigGroupSerializer::Deserialize(kModel, json::parse(text), image);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}

void ImageToDocumentText(benchmark::State& state) {
  const ConfigByteArray image = SampleImage();
  for (auto _ : state) {
    json document;
    ConfigGroupSerializer::Serialize(kModel, image, document);
    std::string text = document.dump(4);
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(DocumentToImage);
BENCHMARK(ImageToDocument);
BENCHMARK(DocumentTextToImage);
BENCHMARK(ImageToDocumentText);

BENCHMARK_MAIN();
