// Throughput and latency of the request routines next to a plain libcurl
// easy transfer of the same URL, all served from memory by one loopback
// server started in this process. Compare each routine with the baseline of
// the same run:
//   bench_fetch --benchmark_counters_tabular=true
// Body sizes 1, 16 and 64 MiB show whether the routines grow linearly; the
// 1 KiB page shows the fixed cost of one request.
#include <curl/curl.h>
#include <httplib.h>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "web/com_fetch.h"
#include "web/http_get.h"
#include "web/inet_fetch.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kLargest = 64 * kMiB;
constexpr std::size_t kSmall = 1024;

// One server for the whole run, serving /body/<bytes> out of one buffer.
class Server {
 public:
  Server() : data_(kLargest, '\0') {
    for (std::size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<char>(i * 131 + (i >> 12));
    server_.Get(R"(/body/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::size_t size = std::min<std::size_t>(std::stoull(req.matches[1]), data_.size());
      res.set_content_provider(size, "application/octet-stream",
                               [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 return sink.write(data_.data() + offset, std::min(length, kChunk));
                               });
    });
    // Without TCP_NODELAY a kept-alive connection meets Nagle's algorithm on
    // the server (headers and body are two writes) and the client's delayed
    // ACK: every reused-connection request would wait ~30 ms for nothing.
    server_.set_tcp_nodelay(true);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
      std::fprintf(stderr, "bench_fetch: cannot bind a loopback port\n");
      std::exit(1);
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url(std::size_t bytes) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/body/" + std::to_string(bytes);
  }

 private:
  static constexpr std::size_t kChunk = 256 * 1024;
  std::string data_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

Server& TheServer() {
  static Server server;
  return server;
}

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
  auto* body = static_cast<zivorna::ByteSet*>(out);
  body->insert(body->end(), data, data + size * count);
  return size * count;
}

// The baseline: one fresh easy handle per transfer, body collected in memory.
zivorna::ByteSet CurlGet(const std::string& url) {
  zivorna::ByteSet body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (curl_easy_perform(curl) != CURLE_OK) body.clear();
  curl_easy_cleanup(curl);
  return body;
}

template <class Fetch>
void Run(benchmark::State& state, std::size_t bytes, Fetch fetch) {
  const std::string url = TheServer().Url(bytes);
  for (auto _ : state) {
    const zivorna::ByteSet body = fetch(url);
    if (body.size() != bytes) {
      state.SkipWithError("short body");
      break;
    }
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Body_Curl(benchmark::State& state) {
  Run(state, static_cast<std::size_t>(state.range(0)) * kMiB, CurlGet);
}
void BM_Body_InetFetch(benchmark::State& state) {
  Run(state, static_cast<std::size_t>(state.range(0)) * kMiB,
      [](const std::string& url) { return zivorna::InetFetch(url); });
}
void BM_Body_ComFetch(benchmark::State& state) {
  Run(state, static_cast<std::size_t>(state.range(0)) * kMiB,
      [](const std::string& url) { return zivorna::ComFetch(url); });
}
BENCHMARK(BM_Body_Curl)->ArgName("MiB")->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Body_InetFetch)->ArgName("MiB")->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Body_ComFetch)->ArgName("MiB")->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Page_Curl(benchmark::State& state) { Run(state, kSmall, CurlGet); }
void BM_Page_InetFetch(benchmark::State& state) {
  Run(state, kSmall, [](const std::string& url) { return zivorna::InetFetch(url); });
}
void BM_Page_ComFetch(benchmark::State& state) {
  Run(state, kSmall, [](const std::string& url) { return zivorna::ComFetch(url); });
}
void BM_Page_HttpGetBytes(benchmark::State& state) {
  Run(state, kSmall, [](const std::string& url) { return zivorna::HttpGetBytes(url); });
}
BENCHMARK(BM_Page_Curl)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Page_InetFetch)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Page_ComFetch)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Page_HttpGetBytes)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Keep freed bodies in the heap instead of handing them back to the kernel
  // after every transfer, so that the figures show the HTTP path rather than
  // the cost of mapping and zeroing fresh pages (large on virtual machines).
  // Applies alike to the baseline and to the routines.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheServer();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
