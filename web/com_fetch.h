// `ComFetch`: one HTTP or HTTPS request through a request object, with the
// module's default header block, cookie handling and redirect reporting.
#pragma once

#include <memory>
#include <optional>

#include "platform/request_object.h"
#include "text/text.h"

namespace zivorna {

// Optional parameters of ComFetch. A null pointer is a left-out in-out or out
// parameter; a non-null one is the caller's variable, written in place.
struct ComFetchArgs {
  int method = 0;                   // 1: POST; other: GET
  Text postText{};                    // body when postBytes is empty
  Text* cookies = nullptr;          // in-out cookie string
  Text* receivedCookies = nullptr;  // out
  Text* extraHeaders = nullptr;     // in-out request header block
  Text* redirectTo = nullptr;       // in-out
  bool noRedirect = false;
  ByteSet postBytes{};                // body bytes, sent instead of postText when not empty
  Text proxy{};                       // proxy server; empty: none
  Text* responseHeaders = nullptr;  // out
  int timeoutSeconds = 0;           // -1: object's own; < 1: 15 s; else seconds
  Text proxyUser{};
  Text proxyPassword{};
  std::optional<int> proxyCredentialFlag{};  // left out: 1 (for the proxy)
  // Left out: a new object per call. Supplied: that object is used, and one
  // holding null makes every member call fail.
  std::optional<std::shared_ptr<platform::RequestObject>> requestObject{};
};

ByteSet ComFetch(platform::RequestObjects& objects, const Text& url, const ComFetchArgs& args = {});
ByteSet ComFetch(const Text& url, const ComFetchArgs& args = {});

}  // namespace zivorna
