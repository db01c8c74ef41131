// Throughput of the character-aware text operations on large mixed texts,
// each next to a plain-byte version of the same job run on the same inputs.
//
// Arguments: /size/copies. Each iteration works on the next of `copies`
// distinct texts of `size` bytes. /1048576/1 runs one 1 MiB text from cache;
// /1048576/64 cycles through 64 MiB of 1 MiB texts, so every call reads from
// memory as a 64 MiB call does. Linearity: compare /67108864/1 with 64 times
// /1048576/64. Relative speed: compare BM_X with BM_X_Bytes_* at equal args.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "text/text.h"

namespace {

using zivorna::ByteSet;

// Mixed text: lines of ASCII words, GBK characters (some with second bytes in
// the ASCII range 0x40..0x7E, which a byte search can hit), commas, ASCII and
// full-width spaces. The needles below never occur inside it.
std::string MakeMixed(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
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
        s += rng() % 8 == 0 ? '\n' : ' ';
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

// Needles: an ASCII one and two GBK characters whose lead bytes 0xF8 and 0xF9
// are never generated as lead bytes, so neither occurs by chance.
const std::string kAsciiNeedle = "needle-marker";
const std::string kGbkNeedle = "\xF8\xA1\xF9\xA2";

enum class Shape {
  kPlain,         // mixed text only
  kAsciiAtEnd,    // the ASCII needle only as the last bytes
  kGbkAtEnd,      // the GBK needle only as the last bytes
  kAsciiAtStart,  // the ASCII needle only as the first bytes
  kGbkAtStart,    // the GBK needle only as the first bytes
  kPadded,        // ASCII and full-width spaces at both ends
};

std::string MakeInput(Shape shape, std::size_t size, unsigned seed) {
  switch (shape) {
    case Shape::kPlain: return MakeMixed(size, seed);
    case Shape::kAsciiAtEnd: return MakeMixed(size - kAsciiNeedle.size(), seed) + kAsciiNeedle;
    case Shape::kGbkAtEnd: return MakeMixed(size - kGbkNeedle.size(), seed) + kGbkNeedle;
    case Shape::kAsciiAtStart: return kAsciiNeedle + MakeMixed(size - kAsciiNeedle.size(), seed);
    case Shape::kGbkAtStart: return kGbkNeedle + MakeMixed(size - kGbkNeedle.size(), seed);
    case Shape::kPadded: return "  \xA1\xA1" + MakeMixed(size - 8, seed) + " \xA1\xA1 ";
  }
  return {};
}

// The `copies` distinct texts of one shape and size, made once.
const std::vector<std::string>& Inputs(Shape shape, const benchmark::State& state) {
  static std::map<std::tuple<Shape, std::int64_t, std::int64_t>, std::vector<std::string>> cache;
  const auto key = std::make_tuple(shape, state.range(0), state.range(1));
  auto it = cache.find(key);
  if (it == cache.end()) {
    std::vector<std::string> texts;
    for (std::int64_t i = 0; i < state.range(1); ++i) {
      texts.push_back(MakeInput(shape, static_cast<std::size_t>(state.range(0)),
                                static_cast<unsigned>(7 + i)));
    }
    it = cache.emplace(key, std::move(texts)).first;
  }
  return it->second;
}

// Runs `op` once per iteration on the inputs in turn.
template <class Op>
void Run(benchmark::State& state, Shape shape, Op op) {
  const std::vector<std::string>& texts = Inputs(shape, state);
  std::size_t k = 0;
  for (auto _ : state) {
    op(texts[k]);
    if (++k == texts.size()) k = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

Shape AtEnd(const std::string* needle) {
  return needle == &kAsciiNeedle ? Shape::kAsciiAtEnd : Shape::kGbkAtEnd;
}
Shape AtStart(const std::string* needle) {
  return needle == &kAsciiNeedle ? Shape::kAsciiAtStart : Shape::kGbkAtStart;
}

template <const std::string* Needle>
void BM_FindText(benchmark::State& state) {
  for (const std::string& text : Inputs(AtEnd(Needle), state)) {
    if (zivorna::FindText(text, *Needle) != static_cast<int>(text.size() - Needle->size() + 1)) {
      state.SkipWithError("needle not found at the end");
      return;
    }
  }
  Run(state, AtEnd(Needle), [](const std::string& text) {
    benchmark::DoNotOptimize(zivorna::FindText(text, *Needle));
  });
}
template <const std::string* Needle>
void BM_FindText_Bytes_memmem(benchmark::State& state) {
  Run(state, AtEnd(Needle), [](const std::string& text) {
    benchmark::DoNotOptimize(memmem(text.data(), text.size(), Needle->data(), Needle->size()));
  });
}
template <const std::string* Needle>
void BM_FindText_Bytes_find(benchmark::State& state) {
  Run(state, AtEnd(Needle), [](const std::string& text) {
    benchmark::DoNotOptimize(std::string_view(text).find(*Needle));
  });
}

template <const std::string* Needle>
void BM_FindTextReverse(benchmark::State& state) {
  for (const std::string& text : Inputs(AtStart(Needle), state)) {
    if (zivorna::FindTextReverse(text, *Needle) != 1) {
      state.SkipWithError("needle not found at the start");
      return;
    }
  }
  Run(state, AtStart(Needle), [](const std::string& text) {
    benchmark::DoNotOptimize(zivorna::FindTextReverse(text, *Needle));
  });
}
template <const std::string* Needle>
void BM_FindTextReverse_Bytes_rfind(benchmark::State& state) {
  Run(state, AtStart(Needle), [](const std::string& text) {
    benchmark::DoNotOptimize(std::string_view(text).rfind(*Needle));
  });
}

void BM_ReplaceSubtext(benchmark::State& state) {
  Run(state, Shape::kPlain, [](const std::string& text) {
    benchmark::DoNotOptimize(zivorna::ReplaceSubtext(text, ", ", ";"));
  });
}
// Plain byte replace-all with string_view::find.
void BM_ReplaceSubtext_Bytes(benchmark::State& state) {
  Run(state, Shape::kPlain, [](std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(", ", pos)) != std::string_view::npos; pos = hit + 2) {
      out.append(text.substr(pos, hit - pos));
      out += ';';
    }
    out.append(text.substr(pos));
    benchmark::DoNotOptimize(out);
  });
}

void BM_SplitText(benchmark::State& state) {
  Run(state, Shape::kPlain, [](const std::string& text) {
    benchmark::DoNotOptimize(zivorna::SplitText(text, "\n"));
  });
}
// Plain byte split with string_view::find.
void BM_SplitText_Bytes(benchmark::State& state) {
  Run(state, Shape::kPlain, [](std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find('\n', pos)) != std::string_view::npos; pos = hit + 1) {
      pieces.emplace_back(text.substr(pos, hit - pos));
    }
    if (pos < text.size()) pieces.emplace_back(text.substr(pos));
    benchmark::DoNotOptimize(pieces);
  });
}

void BM_TrimBothEnds(benchmark::State& state) {
  Run(state, Shape::kPadded, [](const std::string& text) {
    benchmark::DoNotOptimize(zivorna::TrimBothEnds(text));
  });
}
// Plain copy of the same bytes: what trimming costs at least.
void BM_TrimBothEnds_Bytes_copy(benchmark::State& state) {
  Run(state, Shape::kPadded, [](const std::string& text) {
    benchmark::DoNotOptimize(std::string(text.data() + 4, text.size() - 8));
  });
}

// FindBytes takes byte sets; the conversion is made once, outside the timing.
const std::vector<ByteSet>& ByteInputs(const benchmark::State& state) {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::vector<ByteSet>> cache;
  const auto key = std::make_pair(state.range(0), state.range(1));
  auto it = cache.find(key);
  if (it == cache.end()) {
    std::vector<ByteSet> sets;
    for (const std::string& text : Inputs(Shape::kAsciiAtEnd, state)) {
      sets.emplace_back(text.begin(), text.end());
    }
    it = cache.emplace(key, std::move(sets)).first;
  }
  return it->second;
}
template <class Op>
void RunBytes(benchmark::State& state, Op op) {
  const std::vector<ByteSet>& sets = ByteInputs(state);
  std::size_t k = 0;
  for (auto _ : state) {
    op(sets[k]);
    if (++k == sets.size()) k = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
void BM_FindBytes(benchmark::State& state) {
  const ByteSet needle(kAsciiNeedle.begin(), kAsciiNeedle.end());
  RunBytes(state, [&](const ByteSet& bytes) {
    benchmark::DoNotOptimize(zivorna::FindBytes(bytes, needle));
  });
}
void BM_FindBytes_Bytes_memmem(benchmark::State& state) {
  RunBytes(state, [](const ByteSet& bytes) {
    benchmark::DoNotOptimize(
        memmem(bytes.data(), bytes.size(), kAsciiNeedle.data(), kAsciiNeedle.size()));
  });
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({1 << 20, 1})->Args({1 << 20, 64})->Args({64 << 20, 1});
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_FindText<&kAsciiNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindText_Bytes_memmem<&kAsciiNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindText_Bytes_find<&kAsciiNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindText<&kGbkNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindText_Bytes_memmem<&kGbkNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindText_Bytes_find<&kGbkNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindTextReverse<&kAsciiNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindTextReverse_Bytes_rfind<&kAsciiNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindTextReverse<&kGbkNeedle>)->Apply(Sizes);
BENCHMARK(BM_FindTextReverse_Bytes_rfind<&kGbkNeedle>)->Apply(Sizes);
BENCHMARK(BM_ReplaceSubtext)->Apply(Sizes);
BENCHMARK(BM_ReplaceSubtext_Bytes)->Apply(Sizes);
BENCHMARK(BM_SplitText)->Apply(Sizes);
BENCHMARK(BM_SplitText_Bytes)->Apply(Sizes);
BENCHMARK(BM_TrimBothEnds)->Apply(Sizes);
BENCHMARK(BM_TrimBothEnds_Bytes_copy)->Apply(Sizes);
BENCHMARK(BM_FindBytes)->Apply(Sizes);
BENCHMARK(BM_FindBytes_Bytes_memmem)->Apply(Sizes);

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
