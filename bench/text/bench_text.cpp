// Throughput of the character-aware text operations on large mixed texts,
// each next to a plain-byte version of the same job run on the same input.
// Compare a BM_X/size line with its BM_X_Bytes/size line (same run), and the
// 64 MiB line with the 1 MiB line of the same benchmark for linearity.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace {

using zivorna::ByteSet;
using zivorna::Text;

// Mixed text: lines of ASCII words, GBK characters (some with second bytes in
// the ASCII range 0x40..0x7E, which a byte search can hit), commas, ASCII and
// full-width spaces. The needles below never occur inside it.
std::string MakeMixed(std::size_t size) {
  std::mt19937 rng(7);
  std::string s;
  s.reserve(size + 64);
  static const char* kWords[] = {"wubi", "code", "stroke", "pinyin", "radical", "86", "98"};
  while (s.size() < size) {
    switch (rng() % 8) {
      case 0:
      case 1:
        s += kWords[rng() % 7];
        break;
      case 2:
        s += rng() % 4 ? ", " : "\xA1\xA1";
        break;
      case 3:
        if (rng() % 8 == 0) s += '\n';
        else s += ' ';
        break;
      default: {
        const int chars = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < chars; ++i) {
          s += static_cast<char>(0xB0 + rng() % 0x40);
          // Mostly GB2312 second bytes, a quarter in the ASCII range.
          s += static_cast<char>(rng() % 4 ? 0xA1 + rng() % 0x5E : 0x40 + rng() % 0x3F);
        }
      }
    }
  }
  s.resize(size);
  // Do not end inside a two-byte character.
  std::size_t i = 0;
  while (i < s.size()) i += static_cast<unsigned char>(s[i]) >= 0x80 ? 2 : 1;
  if (i > s.size()) s.back() = '.';
  return s;
}

const std::string& Mixed(std::size_t size) {
  static std::map<std::size_t, std::string> cache;
  auto it = cache.find(size);
  if (it == cache.end()) it = cache.emplace(size, MakeMixed(size)).first;
  return it->second;
}

// Needles: an ASCII one and two GBK characters whose lead bytes 0xF8 and 0xF9
// are never generated as lead bytes, so neither occurs by chance.
const std::string kAsciiNeedle = "needle-marker";
const std::string kGbkNeedle = "\xF8\xA1\xF9\xA2";

// The text with the needle only at the very end (or start), so the whole
// text is searched.
const std::string& WithNeedleAtEnd(std::size_t size, const std::string& needle) {
  static std::map<std::pair<std::size_t, std::string>, std::string> cache;
  auto key = std::make_pair(size, needle);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, Mixed(size - needle.size()) + needle).first;
  return it->second;
}
const std::string& WithNeedleAtStart(std::size_t size, const std::string& needle) {
  static std::map<std::pair<std::size_t, std::string>, std::string> cache;
  auto key = std::make_pair(size, needle);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, needle + Mixed(size - needle.size())).first;
  return it->second;
}

void SetBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

template <const std::string* Needle>
void BM_FindText(benchmark::State& state) {
  const std::string& text = WithNeedleAtEnd(state.range(0), *Needle);
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::FindText(text, *Needle));
  if (zivorna::FindText(text, *Needle) != static_cast<int>(text.size() - Needle->size() + 1)) {
    state.SkipWithError("needle not found at the end");
  }
  SetBytes(state, text.size());
}
template <const std::string* Needle>
void BM_FindText_Bytes_memmem(benchmark::State& state) {
  const std::string& text = WithNeedleAtEnd(state.range(0), *Needle);
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(text.data(), text.size(), Needle->data(), Needle->size()));
  }
  SetBytes(state, text.size());
}
template <const std::string* Needle>
void BM_FindText_Bytes_find(benchmark::State& state) {
  const std::string& text = WithNeedleAtEnd(state.range(0), *Needle);
  for (auto _ : state) benchmark::DoNotOptimize(std::string_view(text).find(*Needle));
  SetBytes(state, text.size());
}

template <const std::string* Needle>
void BM_FindTextReverse(benchmark::State& state) {
  const std::string& text = WithNeedleAtStart(state.range(0), *Needle);
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::FindTextReverse(text, *Needle));
  if (zivorna::FindTextReverse(text, *Needle) != 1) state.SkipWithError("needle not found");
  SetBytes(state, text.size());
}
template <const std::string* Needle>
void BM_FindTextReverse_Bytes_rfind(benchmark::State& state) {
  const std::string& text = WithNeedleAtStart(state.range(0), *Needle);
  for (auto _ : state) benchmark::DoNotOptimize(std::string_view(text).rfind(*Needle));
  SetBytes(state, text.size());
}

void BM_ReplaceSubtext(benchmark::State& state) {
  const std::string& text = Mixed(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::ReplaceSubtext(text, ", ", ";"));
  SetBytes(state, text.size());
}
// Plain byte replace-all with string_view::find.
void BM_ReplaceSubtext_Bytes(benchmark::State& state) {
  const std::string_view text = Mixed(state.range(0));
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(", ", pos)) != std::string_view::npos; pos = hit + 2) {
      out.append(text.substr(pos, hit - pos));
      out += ';';
    }
    out.append(text.substr(pos));
    benchmark::DoNotOptimize(out);
  }
  SetBytes(state, text.size());
}

void BM_SplitText(benchmark::State& state) {
  const std::string& text = Mixed(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::SplitText(text, "\n"));
  SetBytes(state, text.size());
}
// Plain byte split with string_view::find.
void BM_SplitText_Bytes(benchmark::State& state) {
  const std::string_view text = Mixed(state.range(0));
  for (auto _ : state) {
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find('\n', pos)) != std::string_view::npos; pos = hit + 1) {
      pieces.emplace_back(text.substr(pos, hit - pos));
    }
    if (pos < text.size()) pieces.emplace_back(text.substr(pos));
    benchmark::DoNotOptimize(pieces);
  }
  SetBytes(state, text.size());
}

const std::string& Padded(std::size_t size) {
  static std::map<std::size_t, std::string> cache;
  auto it = cache.find(size);
  if (it == cache.end()) {
    it = cache.emplace(size, "  \xA1\xA1" + Mixed(size - 8) + " \xA1\xA1 ").first;
  }
  return it->second;
}
void BM_TrimBothEnds(benchmark::State& state) {
  const std::string& text = Padded(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::TrimBothEnds(text));
  SetBytes(state, text.size());
}
// Plain copy of the same bytes: what trimming costs at least.
void BM_TrimBothEnds_Bytes_copy(benchmark::State& state) {
  const std::string& text = Padded(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(std::string(text.data() + 4, text.size() - 8));
  SetBytes(state, text.size());
}

const ByteSet& BytesWithNeedleAtEnd(std::size_t size) {
  static std::map<std::size_t, ByteSet> cache;
  auto it = cache.find(size);
  if (it == cache.end()) {
    const std::string& text = WithNeedleAtEnd(size, kAsciiNeedle);
    it = cache.emplace(size, ByteSet(text.begin(), text.end())).first;
  }
  return it->second;
}
void BM_FindBytes(benchmark::State& state) {
  const ByteSet& bytes = BytesWithNeedleAtEnd(state.range(0));
  const ByteSet needle(kAsciiNeedle.begin(), kAsciiNeedle.end());
  for (auto _ : state) benchmark::DoNotOptimize(zivorna::FindBytes(bytes, needle));
  SetBytes(state, bytes.size());
}
void BM_FindBytes_Bytes_memmem(benchmark::State& state) {
  const ByteSet& bytes = BytesWithNeedleAtEnd(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        memmem(bytes.data(), bytes.size(), kAsciiNeedle.data(), kAsciiNeedle.size()));
  }
  SetBytes(state, bytes.size());
}

constexpr std::int64_t kSmall = 1 << 20;
constexpr std::int64_t kLarge = 64 << 20;

#define TEXT_BENCH(...) BENCHMARK(__VA_ARGS__)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond)

TEXT_BENCH(BM_FindText<&kAsciiNeedle>);
TEXT_BENCH(BM_FindText_Bytes_memmem<&kAsciiNeedle>);
TEXT_BENCH(BM_FindText_Bytes_find<&kAsciiNeedle>);
TEXT_BENCH(BM_FindText<&kGbkNeedle>);
TEXT_BENCH(BM_FindText_Bytes_memmem<&kGbkNeedle>);
TEXT_BENCH(BM_FindText_Bytes_find<&kGbkNeedle>);
TEXT_BENCH(BM_FindTextReverse<&kAsciiNeedle>);
TEXT_BENCH(BM_FindTextReverse_Bytes_rfind<&kAsciiNeedle>);
TEXT_BENCH(BM_FindTextReverse<&kGbkNeedle>);
TEXT_BENCH(BM_FindTextReverse_Bytes_rfind<&kGbkNeedle>);
TEXT_BENCH(BM_ReplaceSubtext);
TEXT_BENCH(BM_ReplaceSubtext_Bytes);
TEXT_BENCH(BM_SplitText);
TEXT_BENCH(BM_SplitText_Bytes);
TEXT_BENCH(BM_TrimBothEnds);
TEXT_BENCH(BM_TrimBothEnds_Bytes_copy);
TEXT_BENCH(BM_FindBytes);
TEXT_BENCH(BM_FindBytes_Bytes_memmem);

}  // namespace

int main(int argc, char** argv) {
  // The 64 MiB results are larger than glibc's largest mmap threshold, so by
  // default every one is a fresh mapping whose pages fault in on first write;
  // on a loaded or virtualised machine that costs more than the operation and
  // hides it. Serve all blocks from the heap and keep freed memory, so both
  // the operations and their baselines reuse warm pages. Set
  // TEXT_BENCH_SYSTEM_HEAP=1 to measure with the default allocator behaviour.
  if (std::getenv("TEXT_BENCH_SYSTEM_HEAP") == nullptr) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
