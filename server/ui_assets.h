#pragma once
// The browser page's files, built into the server: each with its content type, its bytes as
// they are and gzip-compressed (both made at build time, so serving costs no compression), and
// a strong validator derived from its bytes.
#include <cstddef>
#include <string_view>

namespace quor::tessera::networking {

struct UiAsset {
  std::string_view path;         // the request path: "/ui/" for the page, "/ui/app.3f2a9c1b.js"
  std::string_view contentType;  // with its charset where it is text
  std::string_view identity;     // the bytes as they are
  std::string_view gzip;         // the same, gzip-compressed
  std::string_view hash;         // hexadecimal digest of `identity`: the entity tag's core
  bool immutable;                // the name carries the content's hash: cacheable for a year
};

struct UiAssetTable {
  const UiAsset* assets;
  size_t count;
};

// The files the build bundled; none when the server was configured without the page.
UiAssetTable BuiltInUiAssets();

}  // namespace quor::tessera::networking
