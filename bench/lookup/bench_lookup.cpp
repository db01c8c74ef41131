// Field extraction over pages of 10 KiB, 1 MiB and 16 MiB with the six fields
// spread through them, beside the plain regex search of the same pattern as
// the baseline; then the whole ShowLookupResult (with the result file).
//
//   build/<dir>/bench/lookup/bench_lookup
#include <benchmark/benchmark.h>

#include <boost/regex.hpp>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "lookup/fields.h"
#include "lookup/lookup.h"

namespace zivorna {
namespace {

// Markup and GBK text without a field marker or "<bR>", repeated to `size`
// bytes, with the six fields at even distances.
std::string SpreadPage(std::size_t size) {
  static const std::string filler =
      "<div class=\"c\">\xCE\xE5\xB1\xCA\xD7\xD6\xD0\xCD<br>abc def</div>\r\n<span>\xA3\xBA "
      "x</span>";
  std::string page;
  page.reserve(size + 256);
  for (int field = 1; field <= 6; ++field) {
    const std::size_t until = size * static_cast<std::size_t>(field) / 7;
    while (page.size() < until) page += filler;
    page += "<span>\xA3\xBA</span>field " + std::to_string(field) + "<bR>";
  }
  while (page.size() < size) page += filler;
  return page;
}

// Many markers and no "<bR>": the case the regex engine gives up on.
std::string MarkersWithoutEnd(std::size_t size) {
  std::string page;
  page.reserve(size + 16);
  while (page.size() < size) page += "\xA3\xBA</span>x";
  return page;
}

const std::string& PageOf(std::size_t size) {
  static std::map<std::size_t, std::string> pages;
  auto [it, inserted] = pages.try_emplace(size);
  if (inserted) it->second = SpreadPage(size);
  return it->second;
}

void BM_ExtractFields(benchmark::State& state) {
  const std::string& page = PageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    TextArray fields = ExtractFields(page);
    if (fields.size() != 6) state.SkipWithError("not six fields");
    benchmark::DoNotOptimize(fields);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_PlainRegexSearch(benchmark::State& state) {
  const std::string& page = PageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::size_t matches = 0;
    for (boost::sregex_iterator it(page.begin(), page.end(), FieldRegex()), end; it != end; ++it) {
      ++matches;
    }
    if (matches != 6) state.SkipWithError("not six matches");
    benchmark::DoNotOptimize(matches);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_ExtractFieldsMarkersWithoutEnd(benchmark::State& state) {
  const std::string page = MarkersWithoutEnd(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ExtractFields(page));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

class NullControls : public WindowControls {
 public:
  Text EntryText() override { return "\xCE\xE5"; }
  Text LabelText() override { return {}; }
  void SetLabelText(const Text&) override {}
  void SetPicture(const ByteSet&) override {}
  void Navigate(const std::string&) override {}
  void ShowHtml(const Text&) override {}
};

void BM_ShowLookupResult(benchmark::State& state) {
  const std::string& page = PageOf(static_cast<std::size_t>(state.range(0)));
  const ByteSet body(page.begin(), page.end());
  std::string folder = (std::filesystem::temp_directory_path() / "bench-lookup-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  ProgramState programState;
  NullControls controls;
  for (auto _ : state) ShowLookupResult(programState, controls, folder, body);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  std::filesystem::remove_all(folder);
}

constexpr std::int64_t kSizes[] = {10 << 10, 1 << 20, 16 << 20};

void Sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t size : kSizes) b->Arg(size);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_ExtractFields)->Apply(Sizes);
BENCHMARK(BM_PlainRegexSearch)->Apply(Sizes);
BENCHMARK(BM_ExtractFieldsMarkersWithoutEnd)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShowLookupResult)->Apply(Sizes);

}  // namespace
}  // namespace zivorna

BENCHMARK_MAIN();
