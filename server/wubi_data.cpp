#include "server/wubi_data.h"

#include <charconv>
#include <fstream>
#include <sstream>

#ifndef ZV_SERVER_DATA_PATH
#define ZV_SERVER_DATA_PATH "wubi_data.tsv"
#endif

namespace zivorna::server {

namespace {

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t i = 0;
  for (;;) {
    const size_t j = s.find(sep, i);
    out.push_back(s.substr(i, j == std::string_view::npos ? std::string_view::npos : j - i));
    if (j == std::string_view::npos) return out;
    i = j + 1;
  }
}

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> out;
  for (std::string_view w : Split(s, ' ')) {
    if (!w.empty()) out.emplace_back(w);
  }
  return out;
}

template <class T>
std::string Join(const std::vector<T>& items, auto&& format) {
  std::string out;
  for (const T& item : items) {
    if (!out.empty()) out += ' ';
    out += format(item);
  }
  return out;
}

}  // namespace

std::string FormatCharLine(const CharInfo& info) {
  std::string line;
  AppendUtf8(info.cp, &line);
  auto same = [](const std::string& s) { return s; };
  line += '\t' + Join(info.readings, same);
  line += '\t' + Join(info.otherReadings, same);
  line += '\t' + info.definition;
  line += '\t' + std::to_string(info.totalStrokes);
  line += '\t' + info.strokeOrder;
  line += '\t' + Join(info.codes86, [](const LeveledCode& c) {
    return c.code + ':' + std::to_string(c.level);
  });
  line += '\t' + Join(info.words, [](const std::pair<std::string, std::string>& w) {
    return w.first + ':' + w.second;
  });
  return line;
}

std::optional<CharInfo> ParseCharLine(std::string_view line) {
  const std::vector<std::string_view> cols = Split(line, '\t');
  if (cols.size() != 8) return std::nullopt;
  CharInfo info;
  info.cp = SingleCodePoint(cols[0]);
  if (info.cp == 0) return std::nullopt;
  info.readings = Words(cols[1]);
  info.otherReadings = Words(cols[2]);
  info.definition = std::string(cols[3]);
  std::from_chars(cols[4].data(), cols[4].data() + cols[4].size(), info.totalStrokes);
  info.strokeOrder = std::string(cols[5]);
  for (const std::string& item : Words(cols[6])) {
    const size_t colon = item.find(':');
    if (colon == std::string::npos) return std::nullopt;
    LeveledCode code{item.substr(0, colon), 0};
    std::from_chars(item.data() + colon + 1, item.data() + item.size(), code.level);
    if (code.level < 1 || code.level > 4) return std::nullopt;
    info.codes86.push_back(std::move(code));
  }
  for (const std::string& item : Words(cols[7])) {
    const size_t colon = item.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    info.words.emplace_back(item.substr(0, colon), item.substr(colon + 1));
  }
  return info;
}

std::unique_ptr<WubiData> WubiData::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read the character data " + path;
    return nullptr;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::unique_ptr<WubiData> data = FromText(std::move(buffer).str(), error);
  if (!data && error != nullptr) *error = path + ": " + *error;
  return data;
}

std::unique_ptr<WubiData> WubiData::FromText(std::string text, std::string* error) {
  auto data = std::unique_ptr<WubiData>(new WubiData());
  data->text_ = std::move(text);
  const std::string_view all = data->text_;
  size_t pos = 0;
  bool first = true;
  while (pos < all.size()) {
    size_t end = all.find('\n', pos);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = all.substr(pos, end - pos);
    if (first) {
      if (line != kWubiDataHeader) {
        if (error != nullptr) *error = "not a character data file (wrong header line)";
        return nullptr;
      }
      first = false;
    } else if (!line.empty()) {
      const size_t tab = line.find('\t');
      const char32_t cp = SingleCodePoint(line.substr(0, tab == std::string_view::npos ? 0 : tab));
      if (cp != 0 && data->index_.emplace(cp, std::make_pair(pos, line.size())).second) {
        data->order_.push_back(cp);
      }
    }
    pos = end + 1;
  }
  if (data->index_.empty()) {
    if (error != nullptr) *error = "no characters in the character data";
    return nullptr;
  }
  return data;
}

std::optional<CharInfo> WubiData::Find(char32_t cp) const {
  const auto it = index_.find(cp);
  if (it == index_.end()) return std::nullopt;
  return ParseCharLine(std::string_view(text_).substr(it->second.first, it->second.second));
}

std::string DefaultDataPath() { return ZV_SERVER_DATA_PATH; }

}  // namespace zivorna::server
