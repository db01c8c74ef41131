// Which resource a request target names, for each way of writing the
// character and for targets that must name nothing.
#include "server/request_path.h"

#include <gtest/gtest.h>

namespace zivorna::server {
namespace {

TEST(RouteTarget, EveryEncodingOfTheCharacterNamesTheSameResource) {
  struct Case {
    const char* name;
    std::string target;
    Resource resource;
    char32_t character;
  };
  const std::vector<Case> cases = {
      {"probe", "/", Resource::kProbe, 0},
      {"probe with query", "/?wd=1", Resource::kProbe, 0},
      {"page, GBK escaped", "/wubi/%CE%E5.htm", Resource::kPage, U'五'},
      {"page, GBK escaped in lower case", "/wubi/%ce%e5.htm", Resource::kPage, U'五'},
      {"page, UTF-8 escaped", "/wubi/%E4%BA%94.htm", Resource::kPage, U'五'},
      {"page, raw GBK", "/wubi/\xCE\xE5.htm", Resource::kPage, U'五'},
      {"page, GBK with an ASCII trail byte", "/wubi/\x81@.htm", Resource::kPage, U'丂'},
      {"page, query ignored", "/wubi/%CE%E5.htm?x=%00", Resource::kPage, U'五'},
      {"picture, GBK escaped", "/wubis/%B0%A1.jpg", Resource::kPicture, U'啊'},
      {"picture, UTF-8 escaped", "/wubis/%E5%95%8A.jpg", Resource::kPicture, U'啊'},
      {"picture, raw GBK", "/wubis/\xB0\xA1.jpg", Resource::kPicture, U'啊'},
  };
  for (const Case& c : cases) {
    const Route r = RouteTarget(c.target);
    EXPECT_EQ(r.resource, c.resource) << "case: " << c.name;
    EXPECT_EQ(r.character, c.character) << "case: " << c.name;
  }
}

TEST(RouteTarget, MalformedOrHostileTargetsNameNothing) {
  struct Case {
    const char* reason;
    std::string target;
  };
  const std::vector<Case> cases = {
      {"traversal", "/wubi/../../etc/passwd.htm"},
      {"traversal in two bytes", "/wubi/...htm"},
      {"escaped dots", "/wubi/%2e%2e.htm"},
      {"escaped slash and dot", "/wubi/%2F%2E.htm"},
      {"escaped traversal", "/wubi/%2e%2e%2f%2e%2e%2fetc%2fpasswd.htm"},
      {"escaped NUL", "/wubi/%00%CE.htm"},
      {"raw NUL", std::string("/wubi/\0\xCE.htm", 11)},
      {"NUL after the character", "/wubi/%CE%E5%00.htm"},
      {"empty character", "/wubi/.htm"},
      {"one byte", "/wubi/a.htm"},
      {"two characters", "/wubi/%CE%E5%CE%E5.htm"},
      {"GBK lead without a valid trail", "/wubi/%CE%7F.htm"},
      {"lone trail bytes", "/wubi/%A1.htm"},
      {"three bytes that are not UTF-8", "/wubi/%CE%E5a.htm"},
      {"UTF-8 overlong form", "/wubi/%E0%80%AF.htm"},
      {"UTF-8 surrogate", "/wubi/%ED%A0%80.htm"},
      {"four-byte UTF-8", "/wubi/%F0%A0%80%80.htm"},
      {"truncated escape", "/wubi/%CE%E.htm"},
      {"escape at the end", "/wubi/%CE%E5.htm%"},
      {"non-hex escape", "/wubi/%ZZ%E5.htm"},
      {"%u escape", "/wubi/%u4E94.htm"},
      {"wrong suffix", "/wubi/%CE%E5.jpg"},
      {"picture with page suffix", "/wubis/%CE%E5.htm"},
      {"wrong case of the folder", "/WUBI/%CE%E5.htm"},
      {"no folder", "/%CE%E5.htm"},
      {"nested folder", "/wubi/x/%CE%E5.htm"},
      {"absolute form", "http://127.0.0.1/wubi/%CE%E5.htm"},
      {"empty target", ""},
      {"over-long target", "/wubi/%CE%E5.htm?" + std::string(kMaxTargetLength, 'a')},
      {"over-long path", "/wubi/" + std::string(300, '%') + ".htm"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RouteTarget(c.target).resource, Resource::kNone) << "reason: " << c.reason;
  }
}

}  // namespace
}  // namespace zivorna::server
