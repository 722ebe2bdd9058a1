#pragma once
// The browser page under /ui/: a client of the same /?action= requests as any other, whose
// files the server itself hands out. Only GET and HEAD of "/ui" and of paths under "/ui/" come
// here; every other request is answered exactly as before.
#include <string>
#include <string_view>

#include "server/ui_assets.h"

namespace quor::tessera::networking {

struct PageAnswer {
  std::string status;     // "200 OK"
  std::string fields;     // the header fields after the Connection field, blank line included
  std::string_view body;  // static bytes (the built-in files), empty for HEAD and 304

  // The whole head; `closing` when the server ends the connection after this answer.
  std::string head(bool closing) const;
};

// True for a request target whose path is "/ui" or lies under "/ui/".
bool IsPageTarget(std::string_view target);

// The answer to a GET (or, with `headOnly`, HEAD) of `target`, given the request's
// Accept-Encoding and If-None-Match values (null when absent): the file, 304 when the client's
// copy is current, a redirect from "/ui" to "/ui/", or 404.
PageAnswer AnswerPageRequest(const UiAssetTable& files, std::string_view target, bool headOnly,
                             const std::string* acceptEncoding, const std::string* ifNoneMatch);

}  // namespace quor::tessera::networking
