// Information pages for tests: each field between "：</span>" and "<bR>",
// amid markup of the kind the lookup server writes.
#pragma once

#include <string>
#include <vector>

#include "text/text.h"

namespace zivorna::testing {

inline std::string PageWithFields(const std::vector<std::string>& fields) {
  std::string page = "<html><body>\r\n";
  for (const std::string& field : fields) {
    page += "<span class=\"k\">x\xA3\xBA</span>" + field + "<bR>\r\n";  // x：</span>field<bR>
  }
  return page + "</body></html>";
}

inline ByteSet Bytes(const std::string& text) { return ByteSet(text.begin(), text.end()); }

// The label and the explanation page a lookup of `entry` shows for six fields,
// written out byte for byte.
inline std::string ExpectedLabel(const std::string& e1, const std::string& e2,
                                 const std::string& e3, const std::vector<std::string>& f) {
  const std::string pinyin = "\xB5\xC4\xBA\xBA\xD3\xEF\xC6\xB4\xD2\xF4\xA3\xBA";    // 的汉语拼音：
  const std::string radicals = "\xB5\xC4\xCE\xE5\xB1\xCA\xD7\xD6\xB8\xF9\xA3\xBA";  // 的五笔字根：
  const std::string strokes = "\xB5\xC4\xB1\xCA\xBB\xAD\xCB\xB3\xD0\xF2\xA3\xBA";   // 的笔画顺序：
  const std::string wubi86 = "86\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA";  // 86版五笔输入：
  const std::string wubi98 = "98\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA";  // 98版五笔输入：
  const std::string gap = "\r\n\r\n";
  return e1 + pinyin + f[0] + gap + e2 + radicals + f[1] + gap + e3 + strokes + f[2] + gap +
         wubi86 + f[3] + gap + wubi98 + f[4];
}
inline std::string ExpectedLabel(const std::string& entry, const std::vector<std::string>& f) {
  return ExpectedLabel(entry, entry, entry, f);
}
inline std::string ExpectedPage(const std::string& entry, const std::string& explanation) {
  return "<style>\r\n  p{color:red;}\r\n</style><p>" + entry +
         "</p>\xB5\xC4\xBD\xE2\xCA\xCD\xA3\xBA<br>" + explanation;  // 的解释：
}

}  // namespace zivorna::testing
