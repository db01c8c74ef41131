// Helpers shared by the server tests.
#pragma once

#include <string>
#include <vector>

#include "lookup/fields.h"
#include "platform/gbk.h"
#include "server/wubi_data.h"

namespace zivorna::server::testing {

// The data file built with the server, loaded once.
inline const WubiData& BuiltData() {
  static const std::unique_ptr<WubiData> data = [] {
    std::string error;
    auto loaded = WubiData::Load(DefaultDataPath(), &error);
    if (!loaded) throw std::runtime_error(error);
    return loaded;
  }();
  return *data;
}

// The fields of a GBK page as the program cuts them, in UTF-8.
inline std::vector<std::string> FieldsAsUtf8(const std::string& gbkPage) {
  std::vector<std::string> out;
  for (const Text& f : ExtractFields(gbkPage)) out.push_back(platform::GbkToUtf8(f));
  return out;
}

// The GBK bytes of one character given in UTF-8.
inline std::string Gbk(const std::string& utf8) { return platform::Utf8ToGbk(utf8); }

// Number of characters of a UTF-8 text.
inline size_t CharCount(const std::string& utf8) {
  size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace zivorna::server::testing
