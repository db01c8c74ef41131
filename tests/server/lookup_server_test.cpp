// The lookup server on loopback (a port chosen by the system): its answers
// for every way of naming a character, its refusals, and its behaviour with
// misbehaving clients, at Stop() and as a standalone process.
#include "server/lookup_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QImage>
#include <gtest/gtest.h>

#include "server/glyph_picture.h"
#include "tests/server/server_test_util.h"

extern char** environ;

namespace zivorna::server {
namespace {

using Clock = std::chrono::steady_clock;
using testing::FieldsAsUtf8;

const std::string kProbeMarker = "\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B";

// --- a raw HTTP client, so that tests control every byte sent ---

class Connection {
 public:
  explicit Connection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Connection() {
    if (fd_ >= 0) ::close(fd_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  [[nodiscard]] bool connected() const { return connected_; }

  bool Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads one response (head and, unless `headOnly`, a Content-Length body).
  // Status 0 when the connection closed or nothing came within `wait`.
  struct Response {
    int status = 0;
    std::string head;
    std::string body;
    [[nodiscard]] std::string Header(const std::string& name) const {
      const std::string key = "\r\n" + name + ": ";
      const size_t at = head.find(key);
      if (at == std::string::npos) return {};
      const size_t start = at + key.size();
      return head.substr(start, head.find("\r\n", start) - start);
    }
  };
  Response Read(bool headOnly = false, std::chrono::milliseconds wait = std::chrono::seconds(8)) {
    Response r;
    const auto until = Clock::now() + wait;
    size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill(until)) return r;
    }
    r.head = buffer_.substr(0, headEnd + 2);
    buffer_.erase(0, headEnd + 4);
    if (r.head.rfind("HTTP/1.1 ", 0) == 0) r.status = std::atoi(r.head.c_str() + 9);
    const size_t length = headOnly ? 0 : std::strtoul(r.Header("Content-Length").c_str(), nullptr, 10);
    while (buffer_.size() < length) {
      if (!Fill(until)) return Response{};
    }
    r.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return r;
  }

  // Whether the server has closed the connection (reads to end of stream).
  bool ClosedByServer(std::chrono::milliseconds wait = std::chrono::seconds(8)) {
    const auto until = Clock::now() + wait;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char b[4096];
      const ssize_t n = ::recv(fd_, b, sizeof b, 0);
      if (n <= 0) return true;
    }
  }

 private:
  bool Fill(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char b[8192];
    const ssize_t n = ::recv(fd_, b, sizeof b, 0);
    if (n <= 0) return false;
    buffer_.append(b, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

std::string Get(const std::string& target, const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

Connection::Response Fetch(int port, const std::string& target, const std::string& method = "GET") {
  Connection c(port);
  if (!c.connected() || !c.Send(Get(target, method))) return {};
  return c.Read(method == "HEAD");
}

// A folder of small files for this process, removed at exit.
const std::filesystem::path& TempDir() {
  static const struct Dir {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("zv_server_test_" + std::to_string(::getpid()));
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } dir;
  return dir.path;
}

std::filesystem::path TempFile(const std::string& name, const std::string& content) {
  const auto& dir = TempDir();
  std::filesystem::create_directories(dir);
  const auto path = dir / name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

ServerOptions Hermetic() {
  ServerOptions o;
  o.findWubi98 = false;  // a table on the test machine must not change the pages
  return o;
}

class LookupServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    server_ = LookupServer::Start(Hermetic(), &error).release();
    ASSERT_NE(server_, nullptr) << error;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static int port() { return server_->Port(); }
  static LookupServer* server_;
};
LookupServer* LookupServerTest::server_ = nullptr;

TEST_F(LookupServerTest, ListensOnLoopbackAtTheReportedAddress) {
  EXPECT_GT(port(), 0);
  EXPECT_EQ(server_->BaseUrl(), "http://127.0.0.1:" + std::to_string(port()));
  EXPECT_EQ(server_->Wubi98Table(), "");
}

TEST_F(LookupServerTest, EveryEncodingOfACharacterGetsTheSamePage) {
  const std::vector<std::string> targets = {"/wubi/%CE%E5.htm", "/wubi/%E4%BA%94.htm",
                                            "/wubi/\xCE\xE5.htm"};
  std::string first;
  for (const std::string& target : targets) {
    const auto r = Fetch(port(), target);
    ASSERT_EQ(r.status, 200) << target;
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=gbk") << target;
    if (first.empty()) first = r.body;
    EXPECT_EQ(r.body, first) << target;
  }
  const std::vector<std::string> fields = FieldsAsUtf8(first);
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[0], "wǔ");
  EXPECT_EQ(fields[3].substr(0, 4), "gghg");
}

TEST_F(LookupServerTest, ProbePageCarriesTheMarker) {
  const auto r = Fetch(port(), "/");
  ASSERT_EQ(r.status, 200);
  EXPECT_NE(r.body.find(kProbeMarker), std::string::npos);
}

TEST_F(LookupServerTest, PicturesAreJpegsOfTheCharacter) {
  const auto wu = Fetch(port(), "/wubis/%CE%E5.jpg");
  const auto a = Fetch(port(), "/wubis/%E5%95%8A.jpg");
  for (const auto* r : {&wu, &a}) {
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(r->Header("Content-Type"), "image/jpeg");
    QImage image;
    ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(r->body.data()),
                                   static_cast<int>(r->body.size()), "JPG"));
    EXPECT_EQ(image.width(), kPictureWidth);
    EXPECT_EQ(image.height(), kPictureHeight);
  }
  EXPECT_NE(wu.body, a.body);
  EXPECT_EQ(Fetch(port(), "/wubis/\xCE\xE5.jpg").body, wu.body) << "raw GBK names the same picture";
}

TEST_F(LookupServerTest, UnknownAndHostileTargetsGetAGbk404) {
  const std::vector<std::string> targets = {
      "/wubi/../../etc/passwd.htm",
      "/wubis/../../etc/passwd.jpg",
      "/wubi/%2e%2e%2f%2e%2e%2fetc%2fpasswd.htm",
      "/wubi/..%2f..%2fetc%2fpasswd.htm",
      "/wubi/%00%00.htm",
      "/wubi/%A1%A2.htm",       // "、": GBK, but not a character with data
      "/wubi/%E2%98%83.htm",    // a snowman: UTF-8, no data
      "/wubis/%A1%A2.jpg",
      "/wubi/%CE%E5%CE%E5.htm",
      "/wubi/" + std::string(400, 'a') + ".htm",
      "/index.html",
      "/wubi/",
  };
  for (const std::string& target : targets) {
    const auto r = Fetch(port(), target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=gbk") << target;
    EXPECT_TRUE(platform::IsValidGbk(r.body)) << target;
    EXPECT_NE(r.body.find("404"), std::string::npos) << target;
  }
}

TEST_F(LookupServerTest, HeadGivesTheHeadersOfGetWithoutABody) {
  Connection c(port());
  ASSERT_TRUE(c.connected());
  // Both requests at once: if HEAD sent a body, the GET's answer would be
  // read from the middle of it.
  ASSERT_TRUE(c.Send(Get("/wubi/%CE%E5.htm", "HEAD") + Get("/wubi/%CE%E5.htm")));
  const auto head = c.Read(/*headOnly=*/true);
  const auto get = c.Read();
  ASSERT_EQ(head.status, 200);
  ASSERT_EQ(get.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(get.body.size()));
  EXPECT_EQ(head.Header("Content-Type"), get.Header("Content-Type"));
}

TEST_F(LookupServerTest, OtherMethodsGet405AndTheConnectionCloses) {
  for (const std::string method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH"}) {
    Connection c(port());
    ASSERT_TRUE(c.connected());
    // A body that, were the connection kept, would be read as a request.
    const std::string smuggled = Get("/wubi/%CE%E5.htm");
    ASSERT_TRUE(c.Send(method + " /wubi/%CE%E5.htm HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                       std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled));
    const auto r = c.Read();
    EXPECT_EQ(r.status, 405) << method;
    EXPECT_EQ(r.Header("Allow"), "GET, HEAD") << method;
    EXPECT_TRUE(c.ClosedByServer()) << method;
  }
}

TEST_F(LookupServerTest, KeepAliveConnectionServesRequestsInTurn) {
  Connection c(port());
  ASSERT_TRUE(c.connected());
  std::string burst;
  for (int i = 0; i < 20; ++i) burst += Get(i % 2 ? "/wubi/%B0%A1.htm" : "/wubis/%B0%A1.jpg");
  ASSERT_TRUE(c.Send(burst));
  for (int i = 0; i < 20; ++i) {
    const auto r = c.Read();
    ASSERT_EQ(r.status, 200) << "request " << i;
    EXPECT_EQ(r.Header("Content-Type"), i % 2 ? "text/html; charset=gbk" : "image/jpeg");
  }
}

TEST_F(LookupServerTest, OversizedRequestHeadsAreRefusedAndTheServerCarriesOn) {
  struct Case {
    const char* name;
    std::string request;
  };
  std::string manyHeaders = "GET /wubi/%CE%E5.htm HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 2000; ++i) manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(80, 'v') + "\r\n";
  manyHeaders += "\r\n";
  const std::vector<Case> cases = {
      {"request line of 64 KiB", "GET /wubi/" + std::string(64 * 1024, 'a') + ".htm HTTP/1.1\r\n\r\n"},
      {"one header line of 64 KiB", "GET / HTTP/1.1\r\nX-Big: " + std::string(64 * 1024, 'b') + "\r\n\r\n"},
      {"two thousand headers", manyHeaders},
  };
  for (const Case& c : cases) {
    Connection conn(port());
    ASSERT_TRUE(conn.connected());
    conn.Send(c.request);  // the server may close before it has all of it
    const auto r = conn.Read();
    EXPECT_NE(r.status, 200) << "case: " << c.name;
    EXPECT_TRUE(conn.ClosedByServer()) << "case: " << c.name;
  }
  EXPECT_EQ(Fetch(port(), "/wubi/%CE%E5.htm").status, 200);
}

TEST_F(LookupServerTest, StalledClientsDoNotHoldUpOthers) {
  // Clients that send half a request and then nothing, and clients that wait
  // for their answer and then keep the connection open; more of each than
  // there are workers.
  const auto start = Clock::now();
  std::vector<std::unique_ptr<Connection>> stalled;
  std::vector<std::unique_ptr<Connection>> idle;
  for (int i = 0; i < 80; ++i) {
    stalled.push_back(std::make_unique<Connection>(port()));
    ASSERT_TRUE(stalled.back()->Send("GET /wubi/%CE"));
  }
  for (int i = 0; i < 80; ++i) {
    idle.push_back(std::make_unique<Connection>(port()));
    ASSERT_TRUE(idle.back()->Send(Get("/")));
  }
  // A stalled request is cut off after its 5 s read time-out at the latest,
  // an idle connection after 5 s: an answer well within that shows that the
  // server did not wait for those clients.
  const auto r = Fetch(port(), "/wubi/%B0%A1.htm");
  EXPECT_EQ(r.status, 200);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  int answered = 0;
  for (auto& c : idle) answered += c->Read().status == 200;
  EXPECT_EQ(answered, 80) << "every patient client is answered";
}

TEST_F(LookupServerTest, ConcurrentClientsGetConsistentAnswers) {
  const std::vector<std::string> targets = {"/wubi/%CE%E5.htm", "/wubis/%CE%E5.jpg", "/wubi/%B0%A1.htm",
                                            "/wubis/%D6%D0.jpg", "/wubi/%D0%D0.htm", "/wubis/%D0%D0.jpg"};
  std::vector<std::string> expected;
  for (const auto& t : targets) expected.push_back(Fetch(port(), t).body);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Connection c(port());
      for (int i = 0; i < 30; ++i) {
        const size_t k = static_cast<size_t>(t + i) % targets.size();
        if (!c.Send(Get(targets[k])) || c.Read().body != expected[k]) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(LookupServerTest, ExportedFilesHoldWhatTheServerServes) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zv_server_export_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  int exported = 0;
  std::string error;
  // "a" has no page and U+20000 no GBK form: both are skipped.
  ASSERT_TRUE(ExportStaticFiles(Hermetic(), U"五a\U00020000啊", dir.string(), &exported, &error))
      << error;
  EXPECT_EQ(exported, 2);
  auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(dir / "wubi" / "\xCE\xE5.htm"), Fetch(port(), "/wubi/%CE%E5.htm").body);
  EXPECT_EQ(read(dir / "wubis" / "\xB0\xA1.jpg"), Fetch(port(), "/wubis/%B0%A1.jpg").body);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "wubi"), {}), 2);
  std::filesystem::remove_all(dir);
}

TEST(LookupServerStart, ReportsWhyItCannotStart) {
  struct Case {
    const char* name;
    ServerOptions options;
    std::string errorMentions;
  };
  ServerOptions badData = Hermetic();
  badData.dataPath = "/nonexistent/wubi_data.tsv";
  ServerOptions notData = Hermetic();
  notData.dataPath = TempFile("not_data.tsv", "五\tgghg\n").string();
  ServerOptions missing98 = Hermetic();
  missing98.wubi98Path = "/nonexistent/wubi98.dict.yaml";
  ServerOptions empty98 = Hermetic();
  empty98.wubi98Path = TempFile("empty98.dict.yaml", "---\nname: wubi98\n...\n").string();
  ServerOptions badFont = Hermetic();
  badFont.fontPath = "/nonexistent/font.ttc";
  ServerOptions badHost = Hermetic();
  badHost.host = "256.0.0.1";
  const std::vector<Case> cases = {
      {"missing data file", badData, "/nonexistent/wubi_data.tsv"},
      {"file that is not character data", notData, "header"},
      {"missing Wubi 98 table", missing98, "/nonexistent/wubi98.dict.yaml"},
      {"Wubi 98 table without characters", empty98, "no character"},
      {"missing font", badFont, "font"},
      {"address that cannot be bound", badHost, "256.0.0.1"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(LookupServer::Start(c.options, &error), nullptr) << "case: " << c.name;
    EXPECT_NE(error.find(c.errorMentions), std::string::npos) << "case: " << c.name << ": " << error;
  }
}

TEST(LookupServerStart, PortInUseIsAnError) {
  std::string error;
  auto first = LookupServer::Start(Hermetic(), &error);
  ASSERT_NE(first, nullptr) << error;
  ServerOptions same = Hermetic();
  same.port = first->Port();
  EXPECT_EQ(LookupServer::Start(same, &error), nullptr);
  EXPECT_NE(error.find(std::to_string(first->Port())), std::string::npos) << error;
}

TEST(LookupServerStart, Wubi98TableGivenByPathFillsField5) {
  const auto table = TempFile("wubi98.dict.yaml",
                              "# test table\n---\nname: wubi98\nversion: \"1\"\n...\n"
                              "五\tgg\t100\n五\tgghg\t50\n啊\tkbsk\t10\n");
  ServerOptions options = Hermetic();
  options.wubi98Path = table.string();
  std::string error;
  auto server = LookupServer::Start(options, &error);
  ASSERT_NE(server, nullptr) << error;
  EXPECT_EQ(server->Wubi98Table(), table.string());
  const std::vector<std::string> wu = FieldsAsUtf8(Fetch(server->Port(), "/wubi/%CE%E5.htm").body);
  ASSERT_EQ(wu.size(), 6u);
  EXPECT_EQ(wu[4], "gghg 简gg");
  const std::vector<std::string> xing = FieldsAsUtf8(Fetch(server->Port(), "/wubi/%D0%D0.htm").body);
  ASSERT_EQ(xing.size(), 6u);
  EXPECT_EQ(xing[4], "98版码表未收此字");
}

TEST(LookupServerStop, StopsPromptlyWithAClientMidRequestAndIsIdempotent) {
  std::string error;
  auto server = LookupServer::Start(Hermetic(), &error);
  ASSERT_NE(server, nullptr) << error;
  const int port = server->Port();
  Connection stalled(port);
  ASSERT_TRUE(stalled.Send("GET /wubi/%CE"));
  Connection idle(port);
  ASSERT_TRUE(idle.Send(Get("/")));
  ASSERT_EQ(idle.Read().status, 200);

  const auto start = Clock::now();
  server->Stop();
  // Neither the 10 s request deadline nor the 5 s keep-alive was waited out.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  server->Stop();
  EXPECT_TRUE(stalled.ClosedByServer(std::chrono::seconds(1)));
  EXPECT_TRUE(idle.ClosedByServer(std::chrono::seconds(1)));
  Connection after(port);
  EXPECT_FALSE(after.connected() && after.Send(Get("/")) && after.Read().status == 200);
}

// The standalone server: prints its address, serves, and exits 0 on SIGTERM
// and SIGINT.
TEST(StandaloneServer, ServesUntilAStopSignal) {
  for (int sig : {SIGTERM, SIGINT}) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {ZV_SERVER_EXE, "--listen", "127.0.0.1:0"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, ZV_SERVER_EXE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string printed;
    char b[256];
    while (printed.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) break;
      const ssize_t n = ::read(out[0], b, sizeof b);
      if (n <= 0) break;
      printed.append(b, static_cast<size_t>(n));
    }
    const size_t at = printed.find("http://127.0.0.1:");
    const int port = at == std::string::npos ? 0 : std::atoi(printed.c_str() + at + 17);
    EXPECT_GT(port, 0) << printed;
    if (port > 0) {
      EXPECT_EQ(Fetch(port, "/wubi/%CE%E5.htm").status, 200);
    }

    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << sig << ", status " << status;
    ::close(out[0]);
  }
}

}  // namespace
}  // namespace zivorna::server
