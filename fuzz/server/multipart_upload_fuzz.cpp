// Feeds arbitrary multipart uploads through the upload path: a POST whose Content-Type and
// body come from the input is framed as the server frames it, the single file part is found
// and its part headers stripped, and the file goes to both readers of uploads: the
// configuration document's limits (and, within them, the JSON parser) and the firmware file
// decoder. The file must always lie inside the body as received.
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "firmware/bfl_decoder.h"
#include "fuzz/support/fuzz_input.h"
#include "server/config_document_limits.h"
#include "server/multipart_body.h"
#include "server/request_framing.h"

using namespace quor::tessera::networking;

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void readFile(const uint8_t* file, int size) {
  const std::string_view text(reinterpret_cast<const char*>(file), static_cast<size_t>(size));
  if (quor::tessera::diagnostics::ConfigDocumentOutsideLimits(text).empty())
    (void)nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  BflDecoder decoder(file, static_cast<uint32_t>(size), BflDecoder::kAnyChipId);
  for (_sect_t sector = decoder.GetStartSector(); sector.data != nullptr;
       sector = decoder.GetNextSector()) {
    check(sector.data >= file && sector.data + decoder.GetSectorSz() <= file + size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The Content-Type value up to the first NUL (at most 200 bytes; line breaks, which would end
  // the field, are left out), then the body.
  fuzz_support::FuzzInput input(data, size);
  std::string contentType;
  for (uint8_t c = input.byte(); c != 0 && contentType.size() < 200; c = input.byte()) {
    if (c != '\r' && c != '\n') contentType += static_cast<char>(c);
  }
  const std::string body = input.rest();
  HttpResponseData record;
  std::string parameters;
  const std::string request = "POST /?action=setconfig HTTP/1.1\r\nContent-Type: " + contentType +
                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const FramingOutcome outcome =
      FrameRequest(request.c_str(), static_cast<int32_t>(request.size()), record, 0, parameters);
  if (outcome != FramingOutcome::kBodyComplete) return 0;
  check(record.body.size() == body.size());
  int partSize = -1;
  const uint8_t* part = FindSingleFilePart(record.body, record.delimiter, &partSize);
  check(partSize >= 0);
  if (part == nullptr) return 0;
  StripPartHeaders(part, partSize);
  check(partSize >= 0 && part >= record.body.data() && part + partSize <= record.body.end());
  readFile(part, partSize);
  return 0;
}
