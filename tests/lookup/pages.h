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
  return e1 + "\xB5\xC4\xBA\xBA\xD3\xEF\xC6\xB4\xD2\xF4\xA3\xBA" + f[0] + "\r\n\r\n" +  // 的汉语拼音：
         e2 + "\xB5\xC4\xCE\xE5\xB1\xCA\xD7\xD6\xB8\xF9\xA3\xBA" + f[1] + "\r\n\r\n" +  // 的五笔字根：
         e3 + "\xB5\xC4\xB1\xCA\xBB\xAD\xCB\xB3\xD0\xF2\xA3\xBA" + f[2] +               // 的笔画顺序：
         "\r\n\r\n86\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA" + f[3] +              // 86版五笔输入：
         "\r\n\r\n98\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA" + f[4];               // 98版五笔输入：
}
inline std::string ExpectedLabel(const std::string& entry, const std::vector<std::string>& f) {
  return ExpectedLabel(entry, entry, entry, f);
}
inline std::string ExpectedPage(const std::string& entry, const std::string& explanation) {
  return "<style>\r\n  p{color:red;}\r\n</style><p>" + entry +
         "</p>\xB5\xC4\xBD\xE2\xCA\xCD\xA3\xBA<br>" + explanation;  // 的解释：
}

}  // namespace zivorna::testing
