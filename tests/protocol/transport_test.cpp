// The transport against real loopback peers, and through the socket seam for failures that a
// peer cannot produce on demand (interrupted calls, short sends, refused attempts).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "common/error.h"
#include "protocol/scale_link.h"
#include "protocol/tcp_client.h"
#include "protocol/wire_format.h"

#include "support/loopback_peer.h"
#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

using Peer = test::LoopbackPeer;
using Connection = test::LoopbackPeer::Connection;

TEST(Transport, AddressAndPortAreCheckedBeforeAnySocketExists) {
  TcpClient s;
  for (const char16_t* bad : {u"", u"scale.local", u"255.255.255.255", u"10.0.0", u"1.2.3.4.5"}) {
    EXPECT_EQ(test::ErrorOf([&] { s.Connect(bad, 1111); }), "Синтаксическая ошибка в IP-адресе");
    EXPECT_FALSE(s.connected());
  }
  for (int port : {0, 65536, -1}) {
    EXPECT_EQ(test::ErrorOf([&] { s.Connect(u"127.0.0.1", port); }),
              "Номер порта должен лежать в диапазоне 1-65535");
  }
}

TEST(Transport, RefusedPortFailsAndLeavesItClosed) {
  int port;
  {
    Peer gone;  // a port that was free a moment ago and has no listener now
    port = gone.port();
  }
  TcpClient s;
  EXPECT_EQ(test::ErrorOf([&] { s.Connect(u" 127.0.0.1\t", port); }),
            "Ошибка при установлении подключения");
  EXPECT_FALSE(s.connected());
  try {
    s.Connect(u" 127.0.0.1\t", port);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kIo);
  }
}

TEST(Transport, ReadsOneByteOrZeroWhenThePeerCloses) {
  Peer peer;
  peer.Serve([](Connection& c) {
    char buf[2];
    c.Receive(buf, 2, true);
    c.Send("\x06\x15\x15");
    c.Receive(buf, 1);  // then the next request, which it leaves unanswered by closing
  });
  TcpClient s;
  s.Connect(u"127.0.0.1", peer.port());
  s.Send("\xF2\x25");
  char answer = 0;
  ASSERT_EQ(s.ReceiveSome(&answer, 1), 1u);
  EXPECT_EQ(answer, '\x06');
  s.Send("X");
  // The two extra bytes stay on the connection; after them the peer has closed.
  ASSERT_EQ(s.ReceiveSome(&answer, 1), 1u);
  EXPECT_EQ(answer, '\x15');
  ASSERT_EQ(s.ReceiveSome(&answer, 1), 1u);
  EXPECT_EQ(s.ReceiveSome(&answer, 1), 0u);
  s.Close();
  s.Close();  // a closed transport: no effect
}

TEST(Transport, PendingCountsWhatHasArrivedWithoutWaiting) {
  Peer peer;
  peer.Serve([](Connection& c) {
    char buf[1];
    c.Receive(buf, 1);
    c.Send("\x06\x06");
    c.Receive(buf, 1);  // until the client closes
  });
  platform::SocketApi& api = platform::RealSockets();
  platform::SocketHandle s = api.OpenTcp();
  ASSERT_TRUE(api.Connect(s, 0x7F000001u, static_cast<std::uint16_t>(peer.port()), 2000));
  EXPECT_EQ(api.Pending(s), 0);  // nothing sent yet, and no waiting for it
  ASSERT_EQ(api.Send(s, "x", 1).bytes, 1);
  char byte = 0;
  ASSERT_EQ(api.Receive(s, &byte, 1).bytes, 1);
  EXPECT_EQ(api.Pending(s), 1);  // the second byte came with the first
  ASSERT_EQ(api.Receive(s, &byte, 1).bytes, 1);
  EXPECT_EQ(api.Pending(s), 0);
  api.ShutdownAndClose(s);
}

TEST(Transport, BytesWaitingBeforeAFrameFailItAndNothingIsSent) {
  Peer peer;
  std::string received;
  peer.Serve([&](Connection& c) {
    char buf[64];
    long n = c.Receive(buf, 2, true);  // the first frame
    c.Send("\x06");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    c.Send("\x15");  // a late byte no frame asked for
    while ((n = c.Receive(buf, sizeof buf)) > 0) received.append(buf, static_cast<std::size_t>(n));
  });
  test::NoLog no_log;
  ScaleLink link(no_log);
  link.Connect(u"127.0.0.1", peer.port());
  link.Run(TableClear(kTablePlu));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(test::ErrorOf([&] { link.Run(TableClear(kTableMainGroup)); }),
            "Ошибка протокола обмена: данные от весов до отправки команды: 15");
  link.Close();
  peer.Join();
  EXPECT_EQ(received, "") << "the frame after the stray byte must not go out";
}

TEST(Transport, ASilentPeerTimesOut) {
  Peer peer;
  peer.Serve([](Connection& c) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    (void)c;
  });
  TcpClient s(platform::RealSockets(), 2000, 200);
  s.Connect(u"127.0.0.1", peer.port());
  char answer;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(test::ErrorOf([&] { s.ReceiveSome(&answer, 1); }),
            "Ошибка при получении ответа от сервера");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550));
}

#if !defined(_WIN32)
// A host with a timer signal (a handler without restart) interrupts the wait many times: the
// time-out still ends it, it does not start over with each signal.
TEST(Transport, SignalsDoNotProlongTheWaitForASilentPeer) {
  struct sigaction action {
  }, old{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  Peer peer;
  peer.Serve([](Connection&) { std::this_thread::sleep_for(std::chrono::milliseconds(3000)); });
  TcpClient s(platform::RealSockets(), 2000, 200);
  s.Connect(u"127.0.0.1", peer.port());
  std::atomic<bool> done{false};
  pthread_t waiting = pthread_self();
  std::thread timer([&] {
    while (!done) {
      pthread_kill(waiting, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  char answer;
  auto start = std::chrono::steady_clock::now();
  std::string error = test::ErrorOf([&] { s.ReceiveSome(&answer, 1); });
  auto waited = std::chrono::steady_clock::now() - start;
  done = true;
  timer.join();
  sigaction(SIGUSR1, &old, nullptr);
  // Without the fix the wait lasts until the peer closes (3 s) and ends as a closed connection.
  EXPECT_EQ(error, "Ошибка при получении ответа от сервера");
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
  peer.Join();
}
#endif

TEST(Transport, ReceivesCollectEverythingUntilThePeerCloses) {
  Peer peer;
  std::string payload(2500, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  peer.Serve([&](Connection& c) { c.Send(payload); });
  TcpClient s;
  s.Connect(u"127.0.0.1", peer.port());
  ByteString all;
  char buffer[1024];
  while (std::size_t n = s.ReceiveSome(buffer, sizeof buffer)) all.append(buffer, n);
  peer.Join();  // the peer's thread reads `payload`, which goes before the peer does
  EXPECT_EQ(all, payload);
}

// The seam: a socket API that fails as the test says.
class ScriptedSockets : public platform::SocketApi {
 public:
  int refuse_connects = 0;
  int interrupt_each = 0;  // interruptions before each real send/receive
  std::size_t send_chunk = 1 << 20;
  std::string sent;
  int opened = 0, closed = 0;

  platform::SocketHandle OpenTcp() override {
    ++opened;
    return 42;
  }
  bool Connect(platform::SocketHandle, std::uint32_t, std::uint16_t, int) override {
    return refuse_connects-- <= 0;
  }
  bool SetReceiveTimeout(platform::SocketHandle, int) override { return true; }
  platform::IoResult Send(platform::SocketHandle, const void* data, std::size_t size) override {
    if (pending_-- > 0) return {-1, true};
    pending_ = interrupt_each;
    std::size_t n = std::min(size, send_chunk);
    sent.append(static_cast<const char*>(data), n);
    return {static_cast<long>(n), false};
  }
  platform::IoResult Receive(platform::SocketHandle, void* data, std::size_t) override {
    if (pending_-- > 0) return {-1, true};
    pending_ = interrupt_each;
    *static_cast<char*>(data) = 0x06;
    return {1, false};
  }
  long Pending(platform::SocketHandle) override { return 0; }
  void ShutdownAndClose(platform::SocketHandle) override { ++closed; }

 private:
  int pending_ = 0;
};

TEST(TransportSeam, ShortAndInterruptedSendsStillDeliverEveryByte) {
  ScriptedSockets api;
  api.send_chunk = 3;
  api.interrupt_each = 1;
  TcpClient s(api);
  s.Connect(u"10.0.0.5", 1111);
  s.Send("0123456789");
  EXPECT_EQ(api.sent, "0123456789");
  char answer = 0;
  ASSERT_EQ(s.ReceiveSome(&answer, 1), 1u);
  EXPECT_EQ(answer, '\x06');
}

TEST(TransportSeam, ConnectSucceedsOnTheThirdAttemptAndClosesOldSockets) {
  test::NoLog no_log;
  ScriptedSockets api;
  api.refuse_connects = 2;
  ScaleLink link(no_log, std::make_unique<TcpClient>(api));
  link.Connect(u"10.0.0.5", 1111);
  EXPECT_EQ(api.opened, 3);
  EXPECT_EQ(api.closed, 2);         // the two refused sockets
  link.Connect(u"10.0.0.5", 1111);  // reconnecting closes the open one first
  EXPECT_EQ(api.closed, 3);

  ScriptedSockets never;
  never.refuse_connects = 3;
  ScaleLink unreachable(no_log, std::make_unique<TcpClient>(never));
  EXPECT_EQ(test::ErrorOf([&] { unreachable.Connect(u"10.0.0.5", 1111); }),
            "Ошибка при установлении подключения");
  EXPECT_EQ(never.opened, 3);
}

}  // namespace
}  // namespace velquora::protocol
