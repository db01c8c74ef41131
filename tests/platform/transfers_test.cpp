// AbortAllTransfers() against transfers of both layers that would otherwise
// wait for their full (default, long) time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/request_object.h"
#include "platform/transfers.h"
#include "tests/platform/inet_exchange.h"
#include "tests/support/http_test_server.h"
#include "tests/support/raw_test_server.h"

namespace zivorna::testing {
namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

class AbortTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetTransfersForTesting(); }
};

TEST_F(AbortTest, StopsEveryWaitingTransferAndLaterOnesFailAtOnce) {
  RawTestServer silent(RawTestServer::NeverAnswer());
  RawTestServer stallsInBody([](RawConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst");
    c.HoldUntilClosed();
  });
  ASSERT_TRUE(silent.ok() && stallsInBody.ok());

  auto inet = [](int port) {
    return std::async(std::launch::async, [port] {
      InetCall call;
      call.port = port;
      return InetExchange(call);
    });
  };
  auto waitingForHeaders = inet(silent.port());
  auto waitingForBody = inet(stallsInBody.port());
  auto object = std::async(std::launch::async, [&] {
    auto request = CurlRequestObjects().Create(u"WinHttp.WinHttpRequest.5.1");
    const std::string url = silent.Url("/object");
    return request->Open(u"GET", std::u16string(url.begin(), url.end()), false) &&
           request->Send(std::u16string());
  });
  // Let all three get to their waits (the servers see three connections).
  const auto connected = Clock::now() + std::chrono::seconds(5);
  while ((silent.ConnectionCount() < 2 || stallsInBody.ConnectionCount() < 1) && Clock::now() < connected) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto start = Clock::now();
  AbortAllTransfers();
  EXPECT_TRUE(TransfersAborted());
  const InetOutcome headers = waitingForHeaders.get();
  const InetOutcome body = waitingForBody.get();
  const bool objectSent = object.get();
  // A generous bound: the layers stop within about 100 ms.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(headers.sent);
  EXPECT_TRUE(body.sent);
  EXPECT_EQ(AsString(body.body), "first") << "bytes before the abort are kept";
  EXPECT_FALSE(body.lastReadOk);
  EXPECT_FALSE(objectSent);

  // After the abort nothing goes out at all, until the test resets it.
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  InetCall call;
  call.port = server.port();
  EXPECT_FALSE(InetExchange(call).sent);
  EXPECT_EQ(server.RequestCount(), 0u);
  ResetTransfersForTesting();
  EXPECT_FALSE(TransfersAborted());
  EXPECT_TRUE(InetExchange(call).sent);
  EXPECT_EQ(server.RequestCount(), 1u);
}

}  // namespace
}  // namespace zivorna::testing
