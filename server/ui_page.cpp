#include "server/ui_page.h"

#include <cstdlib>

#include "core/string_util.h"

namespace quor::tessera::networking {

namespace {

constexpr std::string_view kPrefix = "/ui";
constexpr std::string_view kPagePath = "/ui/";
constexpr std::string_view kIndexPath = "/ui/index.html";
constexpr std::string_view kNotFoundBody = "Not found\n";
constexpr std::string_view kNoPageBody = "This server was built without its browser page.\n";
// Everything the page loads comes from this server; nothing may frame it.
constexpr std::string_view kPagePolicy =
    "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

std::string_view pathOf(std::string_view target) {
  return target.substr(0, target.find_first_of("?#"));
}

std::string_view trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether an Accept-Encoding value admits gzip: named (or "*") without q=0. "gzip;q=0" refuses
// it even when "*" admits everything else.
bool acceptsGzip(const std::string* acceptEncoding) {
  if (acceptEncoding == nullptr) return false;
  bool viaWildcard = false;
  std::string_view rest = *acceptEncoding;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const size_t semicolon = item.find(';');
    const std::string coding = string_util::toLower(std::string(trim(item.substr(0, semicolon))));
    bool refused = false;
    if (semicolon != std::string_view::npos) {
      const std::string params = string_util::toLower(std::string(item.substr(semicolon + 1)));
      const size_t q = params.find("q=");
      refused = q != std::string::npos && std::strtod(params.c_str() + q + 2, nullptr) <= 0.0;
    }
    if (coding == "gzip" || coding == "x-gzip") return !refused;
    if (coding == "*") viaWildcard = !refused;
  }
  return viaWildcard;
}

// If-None-Match compares weakly: "W/" is ignored on either side.
bool clientHasCurrentCopy(const std::string* ifNoneMatch, const std::string& entityTag) {
  if (ifNoneMatch == nullptr) return false;
  std::string_view rest = *ifNoneMatch;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    std::string_view tag = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (tag == "*") return true;
    if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    if (tag == entityTag) return true;
  }
  return false;
}

void addField(std::string& head, std::string_view name, std::string_view value) {
  head += name;
  head += ": ";
  head += value;
  head += "\r\n";
}

PageAnswer redirectToPage() {
  PageAnswer answer{"301 Moved Permanently", {}, {}};
  addField(answer.fields, "Location", kPagePath);
  addField(answer.fields, "Content-Length", "0");
  answer.fields += "\r\n";
  return answer;
}

PageAnswer notFound(std::string_view text, bool headOnly) {
  PageAnswer answer{"404 Not Found", {}, headOnly ? std::string_view() : text};
  addField(answer.fields, "Content-Type", "text/plain; charset=utf-8");
  addField(answer.fields, "Content-Length", std::to_string(text.size()));
  addField(answer.fields, "Cache-Control", "no-cache");
  addField(answer.fields, "X-Content-Type-Options", "nosniff");
  answer.fields += "\r\n";
  return answer;
}

PageAnswer serveFile(const UiAsset& file, bool headOnly, const std::string* acceptEncoding,
                     const std::string* ifNoneMatch) {
  const bool gzip = acceptsGzip(acceptEncoding);
  // The two encodings are two representations, so each has its own tag.
  const std::string entityTag =
      "\"" + std::string(file.hash) + (gzip ? "-gzip" : "") + "\"";
  const std::string_view bytes = gzip ? file.gzip : file.identity;
  const bool current = clientHasCurrentCopy(ifNoneMatch, entityTag);
  PageAnswer answer{current ? "304 Not Modified" : "200 OK", {}, {}};
  if (!current) {
    addField(answer.fields, "Content-Type", file.contentType);
    addField(answer.fields, "Content-Length", std::to_string(bytes.size()));
    if (gzip) addField(answer.fields, "Content-Encoding", "gzip");
  }
  addField(answer.fields, "Vary", "Accept-Encoding");
  addField(answer.fields, "ETag", entityTag);
  addField(answer.fields, "Cache-Control",
           file.immutable ? "public, max-age=31536000, immutable" : "no-cache");
  if (!current) {
    addField(answer.fields, "X-Content-Type-Options", "nosniff");
    if (file.path == kPagePath) {
      addField(answer.fields, "Content-Security-Policy", kPagePolicy);
      addField(answer.fields, "Referrer-Policy", "same-origin");
    }
    if (!headOnly) answer.body = bytes;
  }
  answer.fields += "\r\n";
  return answer;
}

}  // namespace

std::string PageAnswer::head(bool closing) const {
  std::string text = "HTTP/1.1 " + status + "\r\n";
  text += closing ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
  return text + fields;
}

bool IsPageTarget(std::string_view target) {
  const std::string_view path = pathOf(target);
  return path == kPrefix || path.substr(0, kPagePath.size()) == kPagePath;
}

PageAnswer AnswerPageRequest(const UiAssetTable& files, std::string_view target, bool headOnly,
                             const std::string* acceptEncoding, const std::string* ifNoneMatch) {
  std::string_view path = pathOf(target);
  if (path == kPrefix) return redirectToPage();
  if (path == kIndexPath) path = kPagePath;
  for (size_t i = 0; i < files.count; ++i)
    if (files.assets[i].path == path)
      return serveFile(files.assets[i], headOnly, acceptEncoding, ifNoneMatch);
  return notFound(files.count == 0 ? kNoPageBody : kNotFoundBody, headOnly);
}

}  // namespace quor::tessera::networking
