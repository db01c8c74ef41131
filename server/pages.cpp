#include "server/pages.h"

#include <cstdio>

#include <QString>

#include "platform/gbk.h"

namespace zivorna::server {

namespace {

// The radical that names each key (键名字根), a to y.
constexpr std::string_view kKeyNames[25] = {"工", "子", "又", "大", "月", "土", "王", "目", "水",
                                            "日", "口", "田", "山", "已", "火", "之", "金", "白",
                                            "木", "禾", "立", "女", "人", "纟", "言"};

constexpr std::string_view kNone = "（无资料）";
constexpr std::string_view kNo98Table = "未安装98版码表";
constexpr std::string_view kNotIn98Table = "98版码表未收此字";

const char* LevelName(int level) {
  switch (level) {
    case 1: return "一级简码";
    case 2: return "二级简码";
    case 3: return "三级简码";
    default: return "全码";
  }
}

// A reading as the label shows it. The label is plain GBK text, where a
// character reference would show as such; a reading with a tone-marked letter
// that GBK lacks ("ḿ", "m̀", "ǹg") is written with a tone number instead
// ("m2", "m4", "ng4"), the other common way of writing pinyin.
std::string LabelReading(const std::string& reading) {
  bool lossless = false;
  (void)platform::Utf8ToGbk(reading, &lossless);
  if (lossless) return reading;
  const QString decomposed = QString::fromStdString(reading).normalized(QString::NormalizationForm_D);
  QString bare;
  int tone = 0;
  for (const QChar c : decomposed) {
    switch (c.unicode()) {
      case 0x0304: tone = 1; break;  // macron
      case 0x0301: tone = 2; break;  // acute
      case 0x030C: tone = 3; break;  // caron
      case 0x0300: tone = 4; break;  // grave
      default: bare += c;
    }
  }
  std::string out = bare.normalized(QString::NormalizationForm_C).toStdString();
  if (tone > 0) out += static_cast<char>('0' + tone);
  return out;
}

// Advance widths of the ASCII characters 0x20 to 0x7E in the label's
// default 16-pixel font (DejaVu Sans), rounded up.
constexpr unsigned char kAsciiWidths[95] = {
    6,  7,  8,  14, 11, 16, 13, 5,  7,  7,  8,  14, 6,  6,  6,  6,  11, 11, 11, 11, 11, 11, 11, 11,
    11, 11, 6,  6,  14, 14, 14, 9,  16, 11, 11, 12, 13, 11, 10, 13, 13, 5,  5,  11, 9,  14, 12, 13,
    10, 13, 12, 11, 10, 12, 11, 16, 11, 10, 11, 7,  6,  7,  14, 8,  8,  10, 11, 9,  11, 10, 6,  11,
    11, 5,  5,  10, 5,  16, 11, 10, 11, 11, 7,  9,  7,  11, 10, 14, 10, 10, 9,  11, 6,  11, 14};

// The items joined by `sep`, as many whole items as fit in the label
// (at least one), with "…" when some were left out.
std::string FitList(const std::vector<std::string>& items, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    std::string next = out;
    if (i > 0) next += sep;
    next += items[i];
    const bool last = i + 1 == items.size();
    const int limit = kLabelFieldMaxWidth - (last ? 0 : LabelWidth("…"));
    if (i > 0 && LabelWidth(next) > limit) return out + "…";
    out = std::move(next);
  }
  return out;
}

// "xcag 简x/xc/xca": the first full code and the simple codes that fit.
std::string CodeSummary(const std::vector<LeveledCode>& codes) {
  std::string full;
  std::vector<std::string> simple;
  for (const LeveledCode& c : codes) {
    if (c.level == 4 && full.empty()) full = c.code;
    if (c.level < 4) simple.push_back(c.code);
  }
  std::string out = full.empty() ? std::string("无全码") : full;
  std::string tail;
  for (const std::string& s : simple) {
    const std::string next = tail.empty() ? " 简" + s : tail + "/" + s;
    if (LabelWidth(out + next) > kLabelFieldMaxWidth) break;
    tail = next;
  }
  return out + tail;
}

std::string AllCodes(const std::vector<LeveledCode>& codes) {
  std::string out;
  for (const LeveledCode& c : codes) {
    if (!out.empty()) out += "、";
    out += c.code + "（" + LevelName(c.level) + "）";
  }
  return out;
}

std::string Join(const std::vector<std::string>& items, std::string_view sep) {
  std::string out;
  for (const std::string& s : items) {
    if (!out.empty()) out += sep;
    out += s;
  }
  return out;
}

// Key letters of the full code with the radical naming each key. These are
// the keys typed, not a split of the character into its roots.
std::string KeysField(const std::vector<LeveledCode>& codes) {
  for (const LeveledCode& c : codes) {
    if (c.level != 4) continue;
    // Written compactly ("键位g王g王h目g王") so that four keys fit the
    // label; wide letters shorten the heading to "键", and failing that the
    // keys go without their radicals.
    std::string pairs;
    std::string keys;
    for (char k : c.code) {
      if (k < 'a' || k > 'y') continue;
      pairs += k;
      pairs += kKeyNames[k - 'a'];
      keys += k;
    }
    for (std::string candidate : {"键位" + pairs, "键" + pairs}) {
      if (LabelWidth(candidate) <= kLabelFieldMaxWidth) return candidate;
    }
    return "键位 " + keys;
  }
  return std::string(kNone);
}

std::string StrokeField(const std::string& letters) {
  if (letters.empty()) return std::string(kNone);
  // Every stroke name is one full-width character, as is the "…" of a cut.
  const size_t fit = static_cast<size_t>(kLabelFieldMaxWidth / LabelWidth("横"));
  if (letters.size() <= fit) return StrokeNames(letters);
  return StrokeNames(letters.substr(0, fit - 1)) + "…";
}

std::string Explanation(const CharInfo& info, const CharCodeTable* table98) {
  std::string out = "<b>";
  out += info.definition.empty() ? std::string("（暂无英文释义）") : EscapeHtml(info.definition);
  out += "</b><br>";
  out += "读音：" + (info.readings.empty() ? std::string(kNone) : EscapeHtml(Join(info.readings, "、")));
  out += "<br>";
  if (!info.otherReadings.empty()) {
    out += "《汉语大字典》另收：" + EscapeHtml(Join(info.otherReadings, "、")) + "<br>";
  }
  out += "笔画：";
  if (info.totalStrokes > 0) out += std::to_string(info.totalStrokes) + "画";
  if (!info.strokeOrder.empty()) out += "，笔顺 " + StrokeNames(info.strokeOrder);
  out += "<br>";
  out += "86版编码：" + EscapeHtml(AllCodes(info.codes86)) + "<br>";
  out += "98版编码：";
  if (table98 == nullptr) {
    out += kNo98Table;
  } else if (const auto it = table98->find(info.cp); it == table98->end()) {
    out += kNotIn98Table;
  } else {
    out += EscapeHtml(AllCodes(it->second));
  }
  if (!info.words.empty()) {
    out += "<br>常用词（86版词组编码）：";
    for (size_t i = 0; i < info.words.size(); ++i) {
      if (i > 0) out += "、";
      out += EscapeHtml(info.words[i].first) + " " + EscapeHtml(info.words[i].second);
    }
  }
  return out;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

int LabelWidth(std::string_view utf8) {
  const Text gbk = EncodeGbkWithReferences(utf8);
  int width = 0;
  for (size_t i = 0; i < gbk.size(); ++i) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      width += (b >= 0x20 && b <= 0x7E) ? kAsciiWidths[b - 0x20] : 0;
      continue;
    }
    // Row A8 up to A8 C0 holds the pinyin letters, as wide as a Latin
    // letter; every other two-byte character is full width.
    const auto trail = i + 1 < gbk.size() ? static_cast<unsigned char>(gbk[i + 1]) : 0;
    width += (b == 0xA8 && trail >= 0xA1 && trail <= 0xC0) ? 11 : 16;
    ++i;
  }
  return width;
}

std::string StrokeNames(std::string_view letters) {
  std::string out;
  for (char c : letters) {
    switch (c) {
      case 'h': out += "横"; break;
      case 's': out += "竖"; break;
      case 'p': out += "撇"; break;
      case 'n': out += "捺"; break;
      case 'z': out += "折"; break;
      default: break;
    }
  }
  return out;
}

std::vector<std::string> BuildFields(const CharInfo& info, const CharCodeTable* table98) {
  std::vector<std::string> fields(6);
  std::vector<std::string> readings;
  for (const std::string& r : info.readings) readings.push_back(LabelReading(r));
  fields[0] = readings.empty() ? std::string(kNone) : EscapeHtml(FitList(readings, " "));
  fields[1] = KeysField(info.codes86);
  fields[2] = StrokeField(info.strokeOrder);
  fields[3] = EscapeHtml(CodeSummary(info.codes86));
  if (table98 == nullptr) {
    fields[4] = kNo98Table;
  } else if (const auto it = table98->find(info.cp); it == table98->end()) {
    fields[4] = kNotIn98Table;
  } else {
    fields[4] = EscapeHtml(CodeSummary(it->second));
  }
  fields[5] = Explanation(info, table98);
  return fields;
}

Text BuildCharacterPage(char32_t cp, const std::vector<std::string>& fields) {
  static constexpr std::string_view kLabels[6] = {"汉语拼音", "五笔字根", "笔画顺序",
                                                  "86版五笔", "98版五笔", "解释"};
  std::string ch;
  AppendUtf8(cp, &ch);
  ch = EscapeHtml(ch);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
      "content=\"text/html; charset=gbk\">\n<title>" +
      ch + " - 五笔编码查询</title></head>\n<body>\n<h1>" + ch + "</h1>\n<p>";
  for (size_t i = 0; i < 6; ++i) {
    page += "<span>";
    page += kLabels[i];
    page += "：</span>";
    if (i < fields.size()) page += fields[i];
    page += "<bR>\n";
  }
  page += "</p>\n</body></html>\n";
  return EncodeGbkWithReferences(page);
}

std::string BuildProbePage() {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>五笔查询服务</title></head>\n"
         "<body><p>本机五笔查询服务运行中。</p><p>连通标记：百度一下</p></body></html>\n";
}

Text BuildNotFoundPage() {
  return EncodeGbkWithReferences(
      "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
      "content=\"text/html; charset=gbk\"><title>404</title></head>\n"
      "<body><p>404：没有这个页面，或未收录这个字。</p></body></html>\n");
}

Text BuildMethodNotAllowedPage() {
  return EncodeGbkWithReferences(
      "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
      "content=\"text/html; charset=gbk\"><title>405</title></head>\n"
      "<body><p>405：只接受 GET 和 HEAD 请求。</p></body></html>\n");
}

Text EncodeGbkWithReferences(std::string_view utf8) {
  bool lossless = false;
  Text whole = platform::Utf8ToGbk(utf8, &lossless);
  // A byte the program's GBK reading would reject (0x80, which one codec
  // gives the euro sign) counts as having no GBK form too.
  if (lossless && platform::IsValidGbk(whole)) return whole;
  // Some character has no GBK form: convert character by character.
  Text out;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out += static_cast<char>(b0);
      ++i;
      continue;
    }
    size_t len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
    std::u32string cps;
    char32_t cp = 0xFFFD;
    if (i + len <= utf8.size() && DecodeUtf8(utf8.substr(i, len), &cps) && cps.size() == 1) {
      cp = cps[0];
    } else {
      len = 1;  // a stray byte: skip it alone
    }
    bool ok = false;
    Text gbk = cp == 0xFFFD ? Text() : platform::Utf8ToGbk(utf8.substr(i, len), &ok);
    if (ok && platform::IsValidGbk(gbk)) {
      out += gbk;
    } else {
      char ref[16];
      std::snprintf(ref, sizeof ref, "&#x%X;", static_cast<unsigned>(cp));
      out += ref;
    }
    i += len;
  }
  return out;
}

}  // namespace zivorna::server
