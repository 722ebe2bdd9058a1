// Request framing fed with bytes directly: no sockets, an injected clock.
#include <gtest/gtest.h>

#include "server/multipart_body.h"
#include "server/request_framing.h"

using namespace quor::tessera::networking;

namespace {

FramingOutcome feed(HttpResponseData& record, const std::string& bytes, int32_t nowMs,
                    std::string& params) {
  std::string buffer = bytes;  // the server hands over a NUL-terminated buffer
  return FrameRequest(buffer.c_str(), static_cast<int32_t>(bytes.size()), record, nowMs, params);
}

std::string postHeader(size_t length, const std::string& query = "action=FieldUpgrade&model=x&id=1",
                       const std::string& boundary = "\"XyZ\"") {
  return "POST /?" + query + " HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=" +
         boundary + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

}  // namespace

TEST(RequestFraming, GetInOneReadGivesItsParameterString) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, "GET /?action=GetVersion HTTP/1.1\r\n\r\n", 0, params),
            FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=getversion");
}

TEST(RequestFraming, HeaderWithoutBlankLineWaitsAndIsNeverAssembled) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, "GET /?action=getversion HTTP/1.1\r\nHost:", 0, params),
            FramingOutcome::kWaiting);
  // The rest is a request of its own with no valid method.
  EXPECT_EQ(feed(record, " x\r\n\r\n", 0, params), FramingOutcome::kBadRequest);
}

TEST(RequestFraming, OtherMethodsAreBadRequests) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, "PUT / HTTP/1.1\r\n\r\n", 0, params), FramingOutcome::kBadRequest);
  EXPECT_EQ(feed(record, "OPTIONS / HTTP/1.1\r\n\r\n", 0, params), FramingOutcome::kBadRequest);
  EXPECT_EQ(feed(record, "get /?a=b HTTP/1.1\r\n\r\n", 0, params), FramingOutcome::kBadRequest);
}

TEST(RequestFraming, PostWithoutMultipartIsWrongContent) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record,
                 "POST /?action=x HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n",
                 0, params),
            FramingOutcome::kParameters);
  EXPECT_EQ(params, "WrongContent");
  EXPECT_FALSE(record.receiving);
}

TEST(RequestFraming, MultipartBodyOverSeveralChunks) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, postHeader(10), 100, params), FramingOutcome::kWaiting);
  EXPECT_TRUE(record.receiving);
  EXPECT_EQ(record.delimiter, "--XyZ");
  EXPECT_EQ(record.postParameters, "action=fieldupgrade&model=x&id=1");
  EXPECT_EQ(feed(record, "0123", 600, params), FramingOutcome::kWaiting);
  EXPECT_EQ(feed(record, "4567", 1500, params), FramingOutcome::kWaiting);
  EXPECT_EQ(feed(record, "89", 2400, params), FramingOutcome::kBodyComplete);
  EXPECT_EQ(std::string(record.body.begin(), record.body.end()), "0123456789");
  EXPECT_FALSE(record.receiving);
}

TEST(RequestFraming, ChunkAfterLongGapAbandonsTheBody) {
  HttpResponseData record;
  std::string params;
  feed(record, postHeader(10), 100, params);
  EXPECT_EQ(feed(record, "0123", 1101, params), FramingOutcome::kBadRequest);
  EXPECT_FALSE(record.receiving);
  // The next chunk is a new request.
  EXPECT_EQ(feed(record, "GET /?action=a HTTP/1.1\r\n\r\n", 1102, params),
            FramingOutcome::kParameters);
}

TEST(RequestFraming, GapIsMeasuredAcrossClockWrap) {
  HttpResponseData record;
  std::string params;
  feed(record, postHeader(4), INT32_MAX - 10, params);
  EXPECT_EQ(feed(record, "0123", INT32_MIN + 10, params), FramingOutcome::kBodyComplete);
}

TEST(RequestFraming, BytesBeyondTheDeclaredLengthAreNotStored) {
  HttpResponseData record;
  std::string params;
  feed(record, postHeader(4), 0, params);
  EXPECT_EQ(feed(record, std::string(5000, 'x'), 1, params), FramingOutcome::kBodyComplete);
  EXPECT_EQ(record.body.size(), 4u);
}

TEST(RequestFraming, BodyBytesInTheHeaderSegmentAreKept) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, postHeader(6) + "abc", 0, params), FramingOutcome::kWaiting);
  EXPECT_EQ(feed(record, "def", 1, params), FramingOutcome::kBodyComplete);
  EXPECT_EQ(std::string(record.body.begin(), record.body.end()), "abcdef");
}

TEST(RequestFraming, EmptyOrMissingLengthCompletesAtOnce) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, postHeader(0), 0, params), FramingOutcome::kBodyComplete);
  EXPECT_TRUE(record.body.empty());
  const std::string noLength =
      "POST /?a=b HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"q\"\r\n\r\n";
  EXPECT_EQ(feed(record, noLength, 0, params), FramingOutcome::kBodyComplete);
  EXPECT_EQ(record.expected, 0u);
}

TEST(RequestFraming, AbsurdLengthIsRefusedBeforeAllocating) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, postHeader(4000000000u), 0, params), FramingOutcome::kBadRequest);
  EXPECT_TRUE(record.body.empty());
  EXPECT_FALSE(record.receiving);
  EXPECT_TRUE(record.closeAfterResponse);
  HttpResponseData other;
  EXPECT_EQ(feed(other, postHeader(kMaxPostBodyBytes), 0, params), FramingOutcome::kWaiting);
}

TEST(RequestFraming, UnquotedBoundaryAsMostClientsSendIt) {
  HttpResponseData record;
  std::string params;
  feed(record, postHeader(4, "a=b", "------abc123"), 0, params);
  EXPECT_EQ(record.delimiter, "--------abc123");
}

TEST(MultipartBody, SinglePartIncludesItsHeadersAndLineBreaks) {
  const std::string d = "--XyZ";
  const std::string body = d + "\r\nContent-Disposition: form-data\r\n\r\nABC\r\n" + d + "--\r\n";
  std::vector<uint8_t> bytes(body.begin(), body.end());
  int size = -1;
  const uint8_t* part = FindSingleFilePart(bytes, d, &size);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(part), size),
            "\r\nContent-Disposition: form-data\r\n\r\nABC\r\n");
}

TEST(MultipartBody, TwoPartsOrNoClosingDelimiterGiveNothing) {
  const std::string d = "--XyZ";
  const std::string two = d + "\r\n\r\nA\r\n" + d + "\r\n\r\nB\r\n" + d + "--\r\n";
  const std::string unclosed = d + "\r\n\r\nA\r\n";
  const std::string closingFirst = d + "--";
  for (const std::string& body : {two, unclosed, closingFirst, std::string()}) {
    std::vector<uint8_t> bytes(body.begin(), body.end());
    int size = -1;
    EXPECT_EQ(FindSingleFilePart(bytes, d, &size), nullptr) << body;
    EXPECT_EQ(size, 0);
  }
}

TEST(RequestFraming, ExpectContinueIsNotedUntilTheBodyComesWithTheHeader) {
  HttpResponseData record;
  std::string params;
  const std::string header =
      "POST /?a=b HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=q\r\n"
      "Content-Length: 4\r\nExpect: 100-continue\r\n\r\n";
  EXPECT_EQ(feed(record, header, 0, params), FramingOutcome::kWaiting);
  EXPECT_TRUE(record.continueRequested);
  HttpResponseData whole;
  EXPECT_EQ(feed(whole, header + "abcd", 0, params), FramingOutcome::kBodyComplete);
  EXPECT_FALSE(whole.continueRequested);
}

TEST(MultipartBody, StandardPartHeadersAreStrippedFromTheUploadedFile) {
  const std::string withHeaders =
      "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.json\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n{\"Configs\": []}\r\n";
  const uint8_t* data = reinterpret_cast<const uint8_t*>(withHeaders.data());
  int size = static_cast<int>(withHeaders.size());
  StripPartHeaders(data, size);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "{\"Configs\": []}");

  // A file sent right after the delimiter, or a blank-line block without part headers, is
  // left exactly as it came.
  for (const std::string& raw : {std::string("{\"Configs\": []}"), std::string("\r\nX: y\r\n\r\nbody\r\n")}) {
    const uint8_t* rawData = reinterpret_cast<const uint8_t*>(raw.data());
    int rawSize = static_cast<int>(raw.size());
    StripPartHeaders(rawData, rawSize);
    EXPECT_EQ(rawData, reinterpret_cast<const uint8_t*>(raw.data()));
    EXPECT_EQ(rawSize, static_cast<int>(raw.size()));
  }
}
