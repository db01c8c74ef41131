// The lookup server's costs, each with a baseline in the same run:
//  - loading the character data vs. only reading the file's bytes;
//  - loading a full-size Rime table (the Wubi 86 table standing in for a
//    Wubi 98 one of the same format) vs. only reading its bytes;
//  - building a character's page vs. taking it from the cache;
//  - drawing a picture vs. taking it from the cache.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

#include <QGuiApplication>

#include "server/glyph_picture.h"
#include "server/lookup_content.h"
#include "server/pages.h"
#include "server/wubi_data.h"
#include "server/wubi_tables.h"

namespace zs = zivorna::server;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return std::move(buffer).str();
}

void BM_ReadDataFileBytes(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadAll(zs::DefaultDataPath()));
}
BENCHMARK(BM_ReadDataFileBytes)->Unit(benchmark::kMillisecond);

void BM_LoadWubiData(benchmark::State& state) {
  for (auto _ : state) {
    std::string error;
    auto data = zs::WubiData::Load(zs::DefaultDataPath(), &error);
    if (!data) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_LoadWubiData)->Unit(benchmark::kMillisecond);

void BM_ReadRimeTableBytes(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadAll(ZV_RIME_WUBI86));
}
BENCHMARK(BM_ReadRimeTableBytes)->Unit(benchmark::kMillisecond);

void BM_LoadRimeTable(benchmark::State& state) {
  for (auto _ : state) {
    std::ifstream in(ZV_RIME_WUBI86);
    zs::CharCodeTable table;
    std::string error;
    if (!zs::LoadCharCodes(in, &table, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(table);
  }
}
BENCHMARK(BM_LoadRimeTable)->Unit(benchmark::kMillisecond);

zs::LookupContent& Content() {
  static zs::LookupContent* content = [] {
    std::string error;
    auto painter = zs::GlyphPainter::Create(zs::DefaultFontPath(), &error);
    return new zs::LookupContent(zs::WubiData::Load(zs::DefaultDataPath(), &error), nullptr,
                                 std::move(painter));
  }();
  return *content;
}

// Pages of successive GB2312 characters, none cached before.
void BM_BuildPage(benchmark::State& state) {
  const auto& chars = Content().data().Characters();
  size_t i = 0;
  for (auto _ : state) {
    const char32_t cp = chars[i++ % chars.size()];
    const auto info = Content().data().Find(cp);
    benchmark::DoNotOptimize(zs::BuildCharacterPage(cp, zs::BuildFields(*info, nullptr)));
  }
}
BENCHMARK(BM_BuildPage);

void BM_CachedPage(benchmark::State& state) {
  (void)Content().Page(U'五');
  for (auto _ : state) benchmark::DoNotOptimize(Content().Page(U'五'));
}
BENCHMARK(BM_CachedPage);

void BM_DrawPicture(benchmark::State& state) {
  std::string error;
  static auto painter = zs::GlyphPainter::Create(zs::DefaultFontPath(), &error);
  for (auto _ : state) benchmark::DoNotOptimize(painter->DrawJpeg(U'五', "86: GGHG"));
}
BENCHMARK(BM_DrawPicture)->Unit(benchmark::kMicrosecond);

void BM_CachedPicture(benchmark::State& state) {
  (void)Content().Picture(U'五');
  for (auto _ : state) benchmark::DoNotOptimize(Content().Picture(U'五'));
}
BENCHMARK(BM_CachedPicture);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
