// Build-time tool: merges the Wubi 86 table, the stroke-order table and the
// Unihan readings, definitions and stroke counts into the server's data file.
//
//   zv_make_wubi_data --wubi86 wubi86.dict.yaml --stroke stroke.dict.yaml
//       --readings Unihan_Readings.txt.bz2 --irg Unihan_IRGSources.txt.bz2
//       --out wubi_data.tsv
//
// The Unihan files are read through `bzip2 -dc`. Output: a UTF-8 text file,
// a header line and then one line per character of the Wubi 86 table in the
// Basic Multilingual Plane, sorted by code point; the format is read by
// WubiData (wubi_data.h), which documents its columns.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/wubi_data.h"
#include "server/wubi_tables.h"

namespace zs = zivorna::server;

namespace {

constexpr size_t kWordsPerCharacter = 6;

struct Collected {
  std::vector<std::pair<std::string, double>> codes;
  std::vector<std::string> mandarin, pinlu, xhc, tghz, hanyuPinyin;
  std::string definition;
  int totalStrokes = 0;
  std::string strokeOrder;
  int strokeSection = -1;
  std::vector<size_t> words;  // indexes into the word list
};

struct Word {
  std::string text;
  std::string code;
  double weight = 0;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "zv_make_wubi_data: " << message << "\n";
  std::exit(1);
}

std::vector<std::string> SplitSpaces(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    const size_t j = s.find(' ', i);
    const size_t end = j == std::string_view::npos ? s.size() : j;
    if (end > i) out.emplace_back(s.substr(i, end - i));
    i = end;
  }
  return out;
}

// Runs `bzip2 -dc` on a file and calls `onLine` for each line of its output.
template <class OnLine>
void ReadBzip2Lines(const std::string& path, OnLine&& onLine) {
  std::ifstream probe(path, std::ios::binary);
  if (!probe) Fail("cannot read " + path + " (Debian package unicode-data)");
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  const std::string command = "bzip2 -dc -- " + quoted;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) Fail("cannot run: " + command);
  std::string line;
  char buffer[1 << 16];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
    for (size_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        onLine(std::string_view(line));
        line.clear();
      } else {
        line += buffer[i];
      }
    }
  }
  if (!line.empty()) onLine(std::string_view(line));
  FILE* raw = pipe.release();
  if (pclose(raw) != 0) Fail("decompression failed: " + command);
}

// "U+4E94" -> 0x4E94; 0 when malformed.
char32_t ParseUPlus(std::string_view s) {
  if (s.size() < 6 || s.substr(0, 2) != "U+") return 0;
  char32_t cp = 0;
  for (char c : s.substr(2)) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) return 0;
    cp = cp * 16 + static_cast<char32_t>(v);
  }
  return cp;
}

void AddUnique(std::vector<std::string>* list, const std::string& value) {
  if (!value.empty() && std::find(list->begin(), list->end(), value) == list->end()) {
    list->push_back(value);
  }
}

// Readings after the last ':' of each space-separated entry, commas
// separating several readings: "10048.060:liǎo,le,liào" -> liǎo le liào.
std::vector<std::string> ReadingsAfterColons(std::string_view value) {
  std::vector<std::string> out;
  for (const std::string& entry : SplitSpaces(value)) {
    const size_t colon = entry.rfind(':');
    std::string_view readings = colon == std::string::npos ? std::string_view(entry)
                                                           : std::string_view(entry).substr(colon + 1);
    size_t i = 0;
    while (i <= readings.size()) {
      const size_t comma = readings.find(',', i);
      const size_t end = comma == std::string_view::npos ? readings.size() : comma;
      AddUnique(&out, std::string(readings.substr(i, end - i)));
      i = end + 1;
    }
  }
  return out;
}

// "xíng(2943) háng(218)" -> readings by falling frequency.
std::vector<std::string> PinluReadings(std::string_view value) {
  std::vector<std::pair<long, std::string>> counted;
  for (const std::string& entry : SplitSpaces(value)) {
    const size_t open = entry.find('(');
    const std::string reading = entry.substr(0, open);
    const long count = open == std::string::npos ? 0 : std::atol(entry.c_str() + open + 1);
    counted.emplace_back(count, reading);
  }
  std::stable_sort(counted.begin(), counted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> out;
  for (const auto& c : counted) AddUnique(&out, c.second);
  return out;
}

std::string Sanitize(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

bool IsHan(char32_t cp) {
  return (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) || cp >= 0x20000;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
  for (const char* need : {"--wubi86", "--stroke", "--readings", "--irg", "--out"}) {
    if (args[need].empty()) Fail(std::string("missing argument ") + need);
  }

  std::unordered_map<char32_t, Collected> chars;

  // Wubi 86: the characters' codes, and the words with their codes.
  std::vector<Word> words;
  {
    std::ifstream in(args["--wubi86"]);
    if (!in) Fail("cannot read " + args["--wubi86"] + " (Debian package rime-data-wubi)");
    std::unordered_map<std::string, size_t> wordIndex;
    std::u32string cps;
    zs::ReadRimeTable(in, [&](const zs::RimeEntry& e) {
      if (!zs::DecodeUtf8(e.text, &cps) || cps.empty()) return;
      if (cps.size() == 1) {
        chars[cps[0]].codes.emplace_back(e.code, e.weight);
        return;
      }
      if (e.code.empty() || e.code[0] == 'z' ||
          !std::all_of(cps.begin(), cps.end(), IsHan)) {
        return;
      }
      auto [it, added] = wordIndex.emplace(e.text, words.size());
      if (added) {
        words.push_back({e.text, e.code, e.weight});
      } else if (e.weight > words[it->second].weight) {
        words[it->second].code = e.code;
        words[it->second].weight = e.weight;
      }
    });
    for (size_t w = 0; w < words.size(); ++w) {
      if (!zs::DecodeUtf8(words[w].text, &cps)) continue;
      std::sort(cps.begin(), cps.end());
      cps.erase(std::unique(cps.begin(), cps.end()), cps.end());
      for (char32_t cp : cps) {
        auto it = chars.find(cp);
        if (it != chars.end()) it->second.words.push_back(w);
      }
    }
  }
  if (chars.empty()) Fail("no characters in " + args["--wubi86"]);

  // Stroke order. The table has sections separated by comment lines; a later
  // section holds the mainland-standard order of characters whose order
  // differs between standards, so its entry wins. Within a section the first
  // entry counts.
  {
    std::ifstream in(args["--stroke"]);
    if (!in) Fail("cannot read " + args["--stroke"] + " (Debian package rime-data-stroke)");
    std::string line;
    bool body = false;
    int section = 0;
    bool lastWasEntry = false;
    while (std::getline(in, line)) {
      if (!body) {
        body = line == "...";
        continue;
      }
      if (!line.empty() && line[0] == '#') {
        if (lastWasEntry) ++section;
        lastWasEntry = false;
        continue;
      }
      const size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      lastWasEntry = true;
      const char32_t cp = zs::SingleCodePoint(std::string_view(line).substr(0, tab));
      std::string order = line.substr(tab + 1);
      order = order.substr(0, order.find('\t'));
      if (cp == 0 || order.empty() ||
          order.find_first_not_of("hspnz") != std::string::npos) {
        continue;
      }
      auto it = chars.find(cp);
      if (it == chars.end()) continue;
      if (section > it->second.strokeSection) {
        it->second.strokeOrder = order;
        it->second.strokeSection = section;
      }
    }
  }

  // Unihan readings and definitions.
  ReadBzip2Lines(args["--readings"], [&](std::string_view line) {
    if (line.empty() || line[0] == '#') return;
    const size_t t1 = line.find('\t');
    const size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) return;
    auto it = chars.find(ParseUPlus(line.substr(0, t1)));
    if (it == chars.end()) return;
    const std::string_view field = line.substr(t1 + 1, t2 - t1 - 1);
    const std::string_view value = line.substr(t2 + 1);
    Collected& c = it->second;
    if (field == "kMandarin") {
      for (const std::string& r : SplitSpaces(value)) AddUnique(&c.mandarin, r);
    } else if (field == "kHanyuPinlu") {
      c.pinlu = PinluReadings(value);
    } else if (field == "kXHC1983") {
      c.xhc = ReadingsAfterColons(value);
    } else if (field == "kTGHZ2013") {
      c.tghz = ReadingsAfterColons(value);
    } else if (field == "kHanyuPinyin") {
      c.hanyuPinyin = ReadingsAfterColons(value);
    } else if (field == "kDefinition") {
      c.definition = Sanitize(value);
    }
  });
  ReadBzip2Lines(args["--irg"], [&](std::string_view line) {
    if (line.empty() || line[0] == '#') return;
    const size_t t1 = line.find('\t');
    const size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos || line.substr(t1 + 1, t2 - t1 - 1) != "kTotalStrokes") return;
    auto it = chars.find(ParseUPlus(line.substr(0, t1)));
    // The first value is the count for the simplified (mainland) form.
    if (it != chars.end()) it->second.totalStrokes = std::atoi(std::string(line.substr(t2 + 1)).c_str());
  });

  std::vector<char32_t> order;
  for (const auto& [cp, c] : chars) {
    if (cp <= 0xFFFF && !zs::ClassifyCodes(c.codes).empty()) order.push_back(cp);
  }
  std::sort(order.begin(), order.end());

  const std::string outPath = args["--out"];
  const std::string tmpPath = outPath + ".tmp";
  {
    std::ofstream out(tmpPath, std::ios::binary | std::ios::trunc);
    if (!out) Fail("cannot write " + tmpPath);
    out << zs::kWubiDataHeader << "\n";
    for (char32_t cp : order) {
      Collected& c = chars[cp];
      zs::CharInfo info;
      info.cp = cp;
      // Readings in use today, the most frequent first; readings found only in
      // the historical dictionary are kept apart.
      for (const auto* list : {&c.mandarin, &c.pinlu, &c.xhc, &c.tghz}) {
        for (const std::string& r : *list) AddUnique(&info.readings, r);
      }
      for (const std::string& r : c.hanyuPinyin) {
        if (std::find(info.readings.begin(), info.readings.end(), r) == info.readings.end()) {
          AddUnique(&info.otherReadings, r);
        }
      }
      if (info.readings.empty()) info.readings.swap(info.otherReadings);
      info.definition = c.definition;
      info.strokeOrder = c.strokeOrder;
      info.totalStrokes = c.totalStrokes > 0 ? c.totalStrokes : static_cast<int>(c.strokeOrder.size());
      info.codes86 = zs::ClassifyCodes(c.codes);
      std::stable_sort(c.words.begin(), c.words.end(),
                       [&](size_t a, size_t b) { return words[a].weight > words[b].weight; });
      for (size_t k = 0; k < c.words.size() && k < kWordsPerCharacter; ++k) {
        info.words.emplace_back(words[c.words[k]].text, words[c.words[k]].code);
      }
      out << zs::FormatCharLine(info) << "\n";
    }
    out.flush();
    if (!out) Fail("write failed: " + tmpPath);
  }
  if (std::rename(tmpPath.c_str(), outPath.c_str()) != 0) Fail("cannot rename to " + outPath);
  std::cout << "zv_make_wubi_data: " << order.size() << " characters, " << words.size()
            << " words -> " << outPath << "\n";
  return 0;
}
