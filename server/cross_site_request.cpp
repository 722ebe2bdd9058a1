#include "server/cross_site_request.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>

#include "runtime/diag_print.h"
#include "runtime/monotonic_clock.h"

namespace quor::tessera::networking {

namespace {

constexpr int64_t kRefusalLogIntervalMs = 1000;

std::atomic<uint64_t> g_refusals{0};

struct Authority {
  std::string host;  // lower-cased; an IPv6 literal keeps its brackets
  unsigned port = 0;
  bool operator==(const Authority& other) const { return host == other.host && port == other.port; }
};

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "host", "host:port", "[v6]" or "[v6]:port"; the port defaults to the scheme's.
std::optional<Authority> parseAuthority(std::string_view text, unsigned defaultPort) {
  const size_t userEnd = text.rfind('@');
  if (userEnd != std::string_view::npos) text.remove_prefix(userEnd + 1);
  size_t hostEnd = text.rfind(':');
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    hostEnd = close + 1 < text.size() ? close + 1 : std::string_view::npos;
    if (hostEnd != std::string_view::npos && text[hostEnd] != ':') return std::nullopt;
  }
  Authority authority{lowered(text.substr(0, hostEnd)), defaultPort};
  if (authority.host.empty()) return std::nullopt;
  if (hostEnd == std::string_view::npos || hostEnd + 1 == text.size()) return authority;
  unsigned port = 0;
  for (const char c : text.substr(hostEnd + 1)) {
    if (c < '0' || c > '9' || (port = port * 10 + static_cast<unsigned>(c - '0')) > 65535)
      return std::nullopt;
  }
  authority.port = port;
  return authority;
}

// The authority of an http:// or https:// URL; nothing for other schemes and other texts.
// `isWebUrl` tells which it was, so that a web URL we cannot read is refused, not let through.
std::optional<Authority> webUrlAuthority(std::string_view url, bool& isWebUrl) {
  const std::string scheme = lowered(url.substr(0, url.find("://")));
  isWebUrl = url.find("://") != std::string_view::npos && (scheme == "http" || scheme == "https");
  if (!isWebUrl) return std::nullopt;
  url.remove_prefix(scheme.size() + 3);
  return parseAuthority(url.substr(0, url.find_first_of("/?#")), scheme == "https" ? 443 : 80);
}

}  // namespace

std::string CrossSiteRefusal(const HttpHeaderFields& fields) {
  const std::string* host = fields.find("host");
  // The server speaks plain HTTP: a Host without a port means port 80.
  const std::optional<Authority> own = host ? parseAuthority(*host, 80) : std::nullopt;
  for (const char* name : {"Origin", "Referer"}) {
    const std::string* value = fields.find(name);
    if (value == nullptr) continue;
    bool isWebUrl = false;
    const std::optional<Authority> page = webUrlAuthority(*value, isWebUrl);
    if (!isWebUrl || (page && own && *page == *own)) continue;
    return std::string(name) + " " + *value + " is not this server (Host " +
           (host ? *host : std::string("missing")) + ")";
  }
  return std::string();
}

uint64_t CrossSiteRefusalCount() { return g_refusals.load(); }

void LogCrossSiteRefusal(const std::string& reason) {
  ++g_refusals;
  static std::mutex mutex;
  static int64_t lastLineMs = INT64_MIN / 2;
  static unsigned leftOut = 0;
  std::stringstream line;
  {
    std::lock_guard<std::mutex> hold(mutex);
    const int64_t nowMs = runtime::MonotonicMillis();
    if (nowMs - lastLineMs < kRefusalLogIntervalMs) {
      ++leftOut;
      return;
    }
    line << "refused a request sent by a page of another site: " << reason;
    if (leftOut > 0) line << " (" << leftOut << " more refused since the last such line)";
    lastLineMs = nowMs;
    leftOut = 0;
  }
  diagnostics::LogStream(line, false);
}

}  // namespace quor::tessera::networking
