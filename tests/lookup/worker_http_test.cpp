// The lookup worker with the real fetches, against servers on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "lookup/lookup_worker.h"
#include "pages.h"
#include "platform/transfers.h"
#include "recording_controls.h"
#include "temp_folder.h"

namespace zivorna {
namespace {

using namespace std::chrono_literals;
using testing::ControlEvent;
using testing::ExpectedLabel;
using testing::ExpectedPage;
using testing::PageWithFields;

const std::string kWu = "\xCE\xE5";  // 五
// The page request goes out through a layer that sends non-ASCII URL
// characters as UTF-8, so the server takes either form.
const std::string kWuUtf8 = "\xE4\xBA\x94";

std::vector<std::string> FieldsOf(int serial) {
  const std::string n = std::to_string(serial);
  return {"p" + n, "r" + n, "s" + n, "c" + n, "d" + n, "explanation " + n};
}

// A lookup server on 127.0.0.1 that answers after a random short delay and
// numbers the pages it serves.
class DelayingServer {
 public:
  DelayingServer() {
    server_.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      Pause();
      if (request.path.rfind("/wubis/", 0) == 0) {
        response.set_content("JPEG", "image/jpeg");
      } else if (request.path == "/wubi/" + kWu + ".htm" ||
                 request.path == "/wubi/" + kWuUtf8 + ".htm") {
        response.set_content(PageWithFields(FieldsOf(++pages_)), "text/html; charset=gbk");
      } else {
        response.status = 404;
      }
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The socket listens from here on; requests wait in its backlog until
    // the thread accepts them.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~DelayingServer() {
    server_.stop();
    thread_.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int Pages() const { return pages_; }

 private:
  void Pause() {
    int delay;
    {
      std::lock_guard guard(lock_);
      delay = std::uniform_int_distribution<int>(0, 2000)(random_);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> pages_ = 0;
  std::mutex lock_;
  std::mt19937 random_{11};
};

// A socket on 127.0.0.1 that takes connections into its backlog and never
// answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "cannot open a listening socket";
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class WorkerHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetTransfersForTesting();
    InitProgramState(state_);
    settings_.resultFolder = folder_.path();
    controls_.SetEntry(kWu);
  }
  void TearDown() override { platform::ResetTransfersForTesting(); }

  testing::TempFolder folder_;
  ProgramState state_;
  testing::RecordingControls controls_;
  LookupSettings settings_;
};

TEST_F(WorkerHttpTest, ManyLookupsAgainstASlowServerEndWithTheLastResult) {
  DelayingServer server;
  settings_.serverBase = server.Base();
  LookupWorker worker(state_, controls_, settings_);
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(worker.WaitIdle(120s));
  ASSERT_EQ(server.Pages(), 200);
  const std::vector<std::string> last = FieldsOf(200);
  EXPECT_EQ(controls_.LabelText(), ExpectedLabel(kWu, last));
  EXPECT_EQ(testing::ReadFile(folder_.path() / "ls.html"), ExpectedPage(kWu, last[5]));
  const std::vector<ControlEvent> events = controls_.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(),
            (ControlEvent{ControlEvent::kNavigate, (folder_.path() / "ls.html").string()}));
}

TEST_F(WorkerHttpTest, StopReturnsPromptlyWhileALookupWaitsOnASilentServer) {
  SilentServer server;
  settings_.serverBase = server.Base();
  LookupWorker worker(state_, controls_, settings_);
  worker.Start();
  std::this_thread::sleep_for(300ms);  // the picture request is now waiting
  ASSERT_FALSE(worker.Idle());

  const auto begun = std::chrono::steady_clock::now();
  worker.Stop();
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, 5s) << "Stop waited for the network";
  EXPECT_TRUE(controls_.Events().empty());
}

}  // namespace
}  // namespace zivorna
