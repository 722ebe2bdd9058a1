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

const uint8_t* bytesOf(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

}  // namespace

TEST(RequestFraming, GetInOneReadGivesItsParameterString) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, "GET /?action=GetVersion HTTP/1.1\r\n\r\n", 0, params),
            FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=getversion");
}

TEST(RequestFraming, HeaderArrivingInPiecesIsAssembled) {
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, "GET /?action=getversion HTTP/1.1\r\nHost:", 0, params),
            FramingOutcome::kWaiting);
  // The rest completes the same request; it is never taken as a request of its own.
  EXPECT_EQ(feed(record, " x\r\n\r\n", 0, params), FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=getversion");
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

TEST(RequestFraming, ChunkAfterLongGapAbandonsTheBodyAndTheConnection) {
  HttpResponseData record;
  std::string params;
  feed(record, postHeader(10), 100, params);
  EXPECT_EQ(feed(record, "0123", 1100, params), FramingOutcome::kWaiting);  // 1000 ms is in time
  EXPECT_EQ(feed(record, "4567", 2101, params), FramingOutcome::kBadRequest);  // 1001 ms is not
  EXPECT_FALSE(record.receiving);
  EXPECT_TRUE(record.body.empty());
  // What follows cannot be told apart from the rest of the body.
  EXPECT_TRUE(record.closeAfterResponse);
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
  int size = -1;
  const uint8_t* part = FindSingleFilePart(bytesOf(body), body.size(), d, &size);
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
    int size = -1;
    EXPECT_EQ(FindSingleFilePart(bytesOf(body), body.size(), d, &size), nullptr) << body;
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

namespace {

struct FramingCase {
  const char* what;
  std::string bytes;
  FramingOutcome outcome;
  bool closes;
  std::string body;  // what the record holds as the body afterwards
};

std::string multipartHeader(const std::string& fields) {
  return "POST /?a=b HTTP/1.1\r\n" + fields + "\r\n";
}

}  // namespace

TEST(RequestFraming, HeaderFieldsAreFoundByTheirWholeNameInAnyCase) {
  const std::string type = "Content-Type: multipart/form-data; boundary=q\r\n";
  const std::string longPath = "GET /" + std::string(4095 - 18, 'p') + " HTTP/1.1\r\n\r\n";
  const FramingCase cases[] = {
      {"lower-case names", multipartHeader("content-type: multipart/form-data; boundary=q\r\n"
                                           "content-length: 4\r\n") + "abcd",
       FramingOutcome::kBodyComplete, false, "abcd"},
      {"upper-case names", multipartHeader("CONTENT-TYPE: Multipart/Form-Data; boundary=q\r\n"
                                           "CONTENT-LENGTH:4\r\n") + "abcd",
       FramingOutcome::kBodyComplete, false, "abcd"},
      {"X-Content-Length is another field", multipartHeader(type + "X-Content-Length: 4\r\n"),
       FramingOutcome::kBodyComplete, false, ""},
      {"X-Content-Type is another field",
       multipartHeader("X-Content-Type: multipart/form-data\r\nContent-Type: text/plain\r\n"),
       FramingOutcome::kParameters, false, ""},
      {"negative length", multipartHeader(type + "Content-Length: -1\r\n"),
       FramingOutcome::kBadRequest, true, ""},
      {"unreadable length", multipartHeader(type + "Content-Length: 4x\r\n"),
       FramingOutcome::kBadRequest, true, ""},
      {"chunked body", multipartHeader(type + "Transfer-Encoding: chunked\r\n"),
       FramingOutcome::kBadRequest, true, ""},
      {"line that is no field", multipartHeader(type + "Content-Length 4\r\n"),
       FramingOutcome::kBadRequest, true, ""},
      {"NUL inside the header", std::string("GET /?a=b HTTP/1.1\r\nX: \0\r\n\r\n", 28),
       FramingOutcome::kBadRequest, true, ""},
      {"header of 4095 bytes", longPath, FramingOutcome::kParameters, false, ""},
      {"header of 4096 bytes", "GET /p" + longPath.substr(5), FramingOutcome::kBadRequest, true, ""},
  };
  ASSERT_EQ(longPath.size(), kMaxHeaderBytes);
  for (const FramingCase& c : cases) {
    HttpResponseData record;
    std::string params;
    EXPECT_EQ(feed(record, c.bytes, 0, params), c.outcome) << c.what;
    EXPECT_EQ(record.closeAfterResponse, c.closes) << c.what;
    EXPECT_EQ(std::string(record.body.begin(), record.body.end()), c.body) << c.what;
  }
}

TEST(RequestFraming, ABodyNobodyReadsIsSkippedNotRun) {
  const std::string hidden = "GET /?action=enablelog HTTP/1.1\r\n\r\n";
  const std::string length = "Content-Length: " + std::to_string(hidden.size()) + "\r\n\r\n";
  for (const std::string& header :
       {"POST /?a=b HTTP/1.1\r\nContent-Type: application/json\r\n" + length,
        "GET /?a=b HTTP/1.1\r\n" + length, "PUT / HTTP/1.1\r\n" + length}) {
    HttpResponseData record;
    std::string params;
    EXPECT_NE(feed(record, header, 0, params), FramingOutcome::kWaiting) << header;
    EXPECT_EQ(feed(record, hidden, 1, params), FramingOutcome::kWaiting) << header;
    EXPECT_TRUE(record.unframed.empty());
    EXPECT_EQ(feed(record, "GET /?action=next HTTP/1.1\r\n\r\n", 2, params),
              FramingOutcome::kParameters);
    EXPECT_EQ(params, "action=next");
  }
}

TEST(RequestFraming, PipelinedRequestsAreFramedOneAfterAnother) {
  HttpResponseData record;
  std::string params;
  const std::string body = "wxyz";
  EXPECT_EQ(feed(record, "GET /?action=a HTTP/1.1\r\n\r\n" + postHeader(4) + body +
                             "GET /?action=b HTTP/1.1\r\n\r\nGET /?act",
                 0, params),
            FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=a");
  EXPECT_EQ(feed(record, "", 0, params), FramingOutcome::kBodyComplete);
  EXPECT_EQ(std::string(record.body.begin(), record.body.end()), body);
  EXPECT_EQ(feed(record, "", 0, params), FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=b");
  EXPECT_EQ(feed(record, "", 0, params), FramingOutcome::kWaiting);
  EXPECT_EQ(feed(record, "ion=c HTTP/1.1\r\n\r\n", 0, params), FramingOutcome::kParameters);
  EXPECT_EQ(params, "action=c");
}

TEST(RequestFraming, DeadlinesPassOnlyWhenMoreThanTheirTimeHasGone) {
  const ConnectionDeadlines limits;
  std::string params;
  {  // header: from its first byte
    HttpResponseData inTime, late;
    feed(inTime, "GET /?a=b", 0, params);
    feed(late, "GET /?a=b", 0, params);
    EXPECT_EQ(MillisUntilDeadline(inTime, 4000), limits.headerMs - 4000 + 1);
    EXPECT_EQ(feed(inTime, " HTTP/1.1\r\n\r\n", limits.headerMs, params), FramingOutcome::kParameters);
    EXPECT_EQ(feed(late, " HTTP/1.1\r\n\r\n", limits.headerMs + 1, params), FramingOutcome::kBadRequest);
    EXPECT_TRUE(late.closeAfterResponse);
  }
  {  // body: the gap is enforced by the clock, with no further chunk
    HttpResponseData record;
    feed(record, postHeader(10), 100, params);
    EXPECT_EQ(MillisUntilDeadline(record, 600), limits.bodyGapMs - 500 + 1);
    EXPECT_EQ(feed(record, "", 100 + limits.bodyGapMs, params), FramingOutcome::kWaiting);
    EXPECT_EQ(feed(record, "", 101 + limits.bodyGapMs, params), FramingOutcome::kBadRequest);
    EXPECT_TRUE(record.closeAfterResponse);
  }
  {  // idle: closed without an answer
    HttpResponseData record;
    feed(record, "GET /?a=b HTTP/1.1\r\n\r\n", 0, params);
    EXPECT_EQ(MillisUntilDeadline(record, 0), limits.idleMs + 1);
    EXPECT_EQ(feed(record, "", limits.idleMs, params), FramingOutcome::kWaiting);
    EXPECT_FALSE(record.closeAfterResponse);
    EXPECT_EQ(feed(record, "", limits.idleMs + 1, params), FramingOutcome::kWaiting);
    EXPECT_TRUE(record.closeAfterResponse);
  }
}

TEST(RequestFraming, UploadsInProgressShareOneMemoryBudget) {
  HttpResponseData first, second;
  std::string params;
  const std::string half(kMaxPostBodyBytes / 2, 'x');
  feed(first, postHeader(kMaxPostBodyBytes), 0, params);
  EXPECT_EQ(feed(first, half, 1, params), FramingOutcome::kWaiting);
  EXPECT_EQ(feed(first, half, 2, params), FramingOutcome::kBodyComplete);
  feed(second, postHeader(kMaxPostBodyBytes), 0, params);
  EXPECT_EQ(feed(second, half, 1, params), FramingOutcome::kBadRequest);
  EXPECT_TRUE(second.closeAfterResponse);
  EXPECT_LE(UploadBody::BytesHeldByAll(), kMaxUploadBytesInProgress);
  first.body.release();
  EXPECT_EQ(UploadBody::BytesHeldByAll(), 0u);
  // A header alone holds nothing.
  HttpResponseData third;
  feed(third, postHeader(kMaxPostBodyBytes), 0, params);
  EXPECT_EQ(UploadBody::BytesHeldByAll(), 0u);
}

// Every field the server reads, in a header block written in capitals: a lookup that lowered
// only one side of its comparison passed every other test, and then missed a chunked body.
TEST(RequestFraming, EveryLookupWorksOnAHeaderBlockInCapitals) {
  const std::string block =
      "POST /?A=B HTTP/1.1\r\nHOST: ROBOT:1250\r\nORIGIN: HTTP://ROBOT:1250\r\n"
      "REFERER: HTTP://ROBOT:1250/UI/\r\nCONNECTION: CLOSE\r\nEXPECT: 100-CONTINUE\r\n"
      "CONTENT-TYPE: MULTIPART/FORM-DATA; BOUNDARY=Q\r\nCONTENT-LENGTH: 4\r\n";
  HttpResponseData record;
  std::string params;
  EXPECT_EQ(feed(record, block + "\r\n", 0, params), FramingOutcome::kWaiting);
  EXPECT_EQ(record.delimiter, "--Q");
  EXPECT_EQ(record.expected, 4u);
  EXPECT_TRUE(record.continueRequested);
  EXPECT_EQ(record.crossSiteRefusal, "") << "HOST matches ORIGIN and REFERER";
  EXPECT_FALSE(record.closeAfterResponse) << "not before the answer is due";
  EXPECT_EQ(feed(record, "abcd", 1, params), FramingOutcome::kBodyComplete);
  EXPECT_TRUE(record.closeAfterResponse) << "CONNECTION: CLOSE";

  for (const char* other : {"ORIGIN: HTTP://EVIL:1250\r\n", "REFERER: HTTP://EVIL:1250/\r\n"}) {
    HttpResponseData crossSite;
    EXPECT_EQ(feed(crossSite, block + other + "\r\n", 0, params), FramingOutcome::kParameters);
    EXPECT_NE(crossSite.crossSiteRefusal, "") << other;
  }
  HttpResponseData chunked;
  EXPECT_EQ(feed(chunked, block + "TRANSFER-ENCODING: CHUNKED\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", 0, params),
            FramingOutcome::kBadRequest);
  EXPECT_TRUE(chunked.closeAfterResponse);
  EXPECT_FALSE(chunked.receiving);
}

TEST(RequestFraming, MultipartBoundaryIsReadAsAnHttpParameter) {
  const struct {
    const char* contentType;
    const char* delimiter;  // null: no usable boundary, a framing error
  } cases[] = {
      {"multipart/form-data; boundary=\"XYZ\"; charset=\"utf-8\"", "--XYZ"},
      {"multipart/form-data; boundary=XYZ ;charset=utf-8", "--XYZ"},
      {"Multipart/Form-Data;charset=utf-8;BOUNDARY=XYZ", "--XYZ"},
      {"multipart/form-data; boundary=\"a \\\"quoted\\\" b\"", "--a \"quoted\" b"},
      {"multipart/form-data; boundary=------abc123", "--------abc123"},
      {"multipart/form-data; boundary==_x/y:z?;", "--=_x/y:z?"},
      {"multipart/form-data", nullptr},
      {"multipart/form-data; charset=utf-8", nullptr},
      {"multipart/form-data; boundary=", nullptr},
      {"multipart/form-data; boundary=\"\"", nullptr},
      {"multipart/form-data; boundary=\"XYZ", nullptr},
      {"multipart/form-data; boundary=a; boundary=b", nullptr},
      {"multipart/form-data; boundary=a b", nullptr},
  };
  const std::string next = "GET /?action=next HTTP/1.1\r\n\r\n";
  for (const auto& c : cases) {
    HttpResponseData record;
    std::string params;
    const std::string header = multipartHeader("Content-Type: " + std::string(c.contentType) +
                                               "\r\nContent-Length: 4\r\n");
    if (c.delimiter != nullptr) {
      EXPECT_EQ(feed(record, header + "abcd", 0, params), FramingOutcome::kBodyComplete) << c.contentType;
      EXPECT_EQ(record.delimiter, c.delimiter) << c.contentType;
      continue;
    }
    // Its end is still known by its length: the body is skipped and the connection goes on.
    EXPECT_EQ(feed(record, header, 0, params), FramingOutcome::kBadRequest) << c.contentType;
    EXPECT_FALSE(record.closeAfterResponse) << c.contentType;
    EXPECT_EQ(feed(record, "abcd" + next, 1, params), FramingOutcome::kParameters) << c.contentType;
    EXPECT_EQ(params, "action=next");
  }
  // Only that media type is an upload; another merely containing its name is not.
  for (const char* other : {"multipart/form-datax; boundary=q", "text/plain; x=multipart/form-data",
                            "multipart/form-data boundary=q"}) {
    HttpResponseData record;
    std::string params;
    EXPECT_EQ(feed(record, multipartHeader("Content-Type: " + std::string(other) + "\r\n"), 0, params),
              FramingOutcome::kParameters);
    EXPECT_EQ(params, "WrongContent") << other;
  }
}

TEST(RequestFraming, ConnectionCloseEndsTheConnectionAfterTheAnswer) {
  const struct {
    const char* field;
    bool closes;
  } cases[] = {{"", false},
               {"Connection: keep-alive\r\n", false},
               {"Connection: close\r\n", true},
               {"connection: Keep-Alive, CLOSE\r\n", true},
               {"Connection: closed\r\n", false},
               {"X-Connection: close\r\n", false}};
  for (const auto& c : cases) {
    HttpResponseData record;
    std::string params;
    EXPECT_EQ(feed(record, "GET /?a=b HTTP/1.1\r\n" + std::string(c.field) + "\r\n", 0, params),
              FramingOutcome::kParameters);
    EXPECT_EQ(record.closeAfterResponse, c.closes) << c.field;
  }
}

TEST(RequestFraming, RequestsFromAPageOfAnotherSiteAreMarked) {
  const struct {
    const char* fields;
    bool refused;
  } cases[] = {
      {"Host: robot:1250\r\n", false},
      {"Host: robot:1250\r\nOrigin: http://robot:1250\r\n", false},
      {"Host: robot:1250\r\nOrigin: http://ROBOT:1250\r\nReferer: http://robot:1250/ui/#x\r\n", false},
      {"Host: robot:1250\r\nOrigin: http://robot:1251\r\n", true},
      {"Host: robot:1250\r\nOrigin: http://robot:1249\r\n", true},
      {"Host: robot:1250\r\nOrigin: http://evil.example:1250\r\n", true},
      {"Host: robot:1250\r\nReferer: http://evil.example:8000/page.html\r\n", true},
      {"Host: robot:1250\r\nOrigin: http://robot:1250\r\nReferer: http://evil.example/\r\n", true},
      {"Host: robot\r\nOrigin: http://robot\r\n", false},
      {"Host: robot:80\r\nOrigin: http://robot\r\n", false},
      {"Host: robot\r\nOrigin: https://robot\r\n", true},
      {"Host: robot:1250\r\nReferer: http://user:pw@robot:1250/x\r\n", false},
      {"Host: [::1]:1250\r\nOrigin: http://[::1]:1250\r\n", false},
      {"Host: [::1]:1251\r\nOrigin: http://[::1]:1250\r\n", true},
      {"Origin: http://robot:1250\r\n", true},
      {"Host: robot:1250\r\nOrigin: http://robot:99999\r\n", true},
      {"Host: robot:1250\r\nOrigin: null\r\n", false},
      {"Host: robot:1250\r\nOrigin: file://\r\nReferer: file:///home/u/tool.html\r\n", false},
      {"Host: robot:1250\r\nOrigin: app://tool\r\n", false},
      {"Host: robot:1250\r\nOrigin: chrome-extension://abcdef\r\n", false},
  };
  for (const auto& c : cases) {
    HttpResponseData get, post;
    std::string params;
    EXPECT_EQ(feed(get, "GET /?action=blink HTTP/1.1\r\n" + std::string(c.fields) + "\r\n", 0, params),
              FramingOutcome::kParameters);
    EXPECT_EQ(get.crossSiteRefusal.empty(), !c.refused) << c.fields;
    // A refused upload is never received: its body is skipped by its length.
    const FramingOutcome outcome = feed(
        post, multipartHeader(std::string(c.fields) +
                              "Content-Type: multipart/form-data; boundary=q\r\nContent-Length: 4\r\n"),
        0, params);
    EXPECT_EQ(outcome, c.refused ? FramingOutcome::kParameters : FramingOutcome::kWaiting) << c.fields;
    EXPECT_EQ(post.receiving, !c.refused) << c.fields;
    EXPECT_EQ(post.discarding, c.refused ? 4u : 0u) << c.fields;
  }
}
