// MergeCookies on cookie strings of 10, 1,000 and 10,000 entries, next to the
// plain list-scanning merge (every name test a scan of the entry list) as the
// baseline of the same run. Both produce identical strings; the tests check
// that on random input.
//
// Input for N: cookies holds N entries "nI=vI"; the response sets N / 2 of
// those names again (every even I) with new values, every tenth of them as
// "=deleted". Each iteration copies the two strings, since the merge
// rewrites them.
#include <benchmark/benchmark.h>

#include <string>

#include "tests/web/cookie_merge_reference.h"
#include "web/cookies.h"

namespace zivorna {
namespace {

struct CookieInput {
  Text cookies;
  Text received;
};

CookieInput MakeInput(int entries) {
  CookieInput input;
  for (int i = 0; i < entries; ++i) {
    if (i > 0) {
      input.cookies += "; ";
    }
    input.cookies += "n" + std::to_string(i) + "=v" + std::to_string(i);
  }
  for (int i = 0; i < entries; i += 2) {
    if (i > 0) {
      input.received += "; ";
    }
    input.received +=
        "n" + std::to_string(i) + (i % 20 == 0 ? std::string("=deleted") : "=w" + std::to_string(i));
  }
  return input;
}

template <Text (*Merge)(Text&, Text&)>
void BM_Merge(benchmark::State& state) {
  const CookieInput input = MakeInput(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Text cookies = input.cookies;
    Text received = input.received;
    benchmark::DoNotOptimize(Merge(cookies, received));
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_Merge<MergeCookies>)
    ->Name("MergeCookies")
    ->Arg(10)->Arg(1000)->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();
BENCHMARK(BM_Merge<reference::MergeCookiesByScan>)
    ->Name("MergeCookiesByScan")
    ->Arg(10)->Arg(1000)->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace
}  // namespace zivorna
