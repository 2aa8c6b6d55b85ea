// The transport in-process, with handlers of the test's own: big replies to
// slow readers, shared pieces, listen addresses, and handlers that throw.
#include "transport/http_server.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/e2e_support.h"

namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

// Runs the server's loop on a thread of its own until the object goes.
class LoopThread {
 public:
  explicit LoopThread(transport::HttpServer& server)
      : m_thread([this, &server] {
          while (!m_stop) server.poll(20);
        }) {}
  ~LoopThread() {
    m_stop = true;
    m_thread.join();
  }

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

std::string reply_of(const std::string& text) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" + text;
}

TEST(TransportTest, ListensOnEveryAddressForm) {
  for (const char* address : {"0", "127.0.0.1:0", "tcp://127.0.0.1:0", ":0"}) {
    transport::HttpServer server([](transport::Connection&, const transport::Request&) {});
    std::string error;
    EXPECT_TRUE(server.listen(address, error)) << address << ": " << error;
    EXPECT_NE(0, server.local_port()) << address;
  }
}

TEST(TransportTest, SplitsPathAndQueryAndPassesMethodAndBody) {
  transport::Request seen;
  transport::HttpServer server([&seen](transport::Connection& nc, const transport::Request& hm) {
    seen = hm;
    nc.send(reply_of("ok"));
  });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  LoopThread loop(server);
  HttpClient client(server.local_port());
  ASSERT_TRUE(client.send("PATCH /a/b?x=1?y HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz"));
  EXPECT_EQ(reply_of("ok"), client.read_until("ok"));
  EXPECT_EQ("PATCH", seen.method);
  EXPECT_EQ("/a/b", seen.uri);
  EXPECT_EQ("x=1?y", seen.query);
  EXPECT_EQ("xyz", seen.body);
}

TEST(TransportTest, WritesSharedPiecesInQueueOrderWithoutStallingOtherConnections) {
  // 16 MiB queued twice through one shared text: far more than the socket
  // buffers hold, so the first client's reply stays pending while it sleeps.
  auto big = std::make_shared<const std::string>(16 * 1024 * 1024, 'v');
  transport::HttpServer server([&big](transport::Connection& nc, const transport::Request& hm) {
    if (hm.uri == "/big") {
      nc.send("[");
      nc.send(big);
      nc.send(big);
      nc.send("]");
    } else {
      nc.send(reply_of("small"));
    }
  });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  LoopThread loop(server);

  HttpClient slow(server.local_port());
  ASSERT_TRUE(slow.send(e2e::post("/big", "")));
  std::this_thread::sleep_for(100ms);
  HttpClient quick(server.local_port());
  ASSERT_TRUE(quick.send(e2e::post("/small", "")));
  EXPECT_EQ(reply_of("small"), quick.read_until("small", 2s));

  const std::string all = slow.read_until("]", 20s);
  ASSERT_EQ(2 + 2 * big->size(), all.size());
  EXPECT_TRUE(all == "[" + *big + *big + "]");
}

TEST(TransportTest, GivesEveryClientItsOwnAnswerWhenManyAskAtOnce) {
  // Requests that arrive together are answered one after the other and their
  // replies written afterwards; none may end up on another connection.
  transport::HttpServer server([](transport::Connection& nc, const transport::Request& hm) {
    nc.send(reply_of("<" + hm.body + ">"));
  });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  LoopThread loop(server);
  std::vector<std::unique_ptr<HttpClient>> clients;
  for (int i = 0; i < 32; ++i) clients.push_back(std::make_unique<HttpClient>(server.local_port()));
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < clients.size(); ++i) {
      ASSERT_TRUE(clients[i]->send(e2e::post("/echo", std::to_string(round) + "." + std::to_string(i))));
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
      const std::string own = "<" + std::to_string(round) + "." + std::to_string(i) + ">";
      EXPECT_EQ(reply_of(own), clients[i]->read_until(own, 2s)) << i;
    }
  }
}

TEST(TransportTest, WritesWaitingAnswersBeforeBuildingALargeOne) {
  // Small answers made in the same turn of the loop as a large request are
  // written before the large one is built, not after.
  transport::HttpServer server(
      [](transport::Connection& nc, const transport::Request& hm) {
        if (hm.uri == "/block") std::this_thread::sleep_for(150ms);
        if (hm.uri == "/large") std::this_thread::sleep_for(800ms);
        nc.send(reply_of(hm.uri));
      },
      [](const transport::Request& hm) { return hm.uri == "/large"; });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  LoopThread loop(server);
  HttpClient blocker(server.local_port()), large(server.local_port());
  std::vector<std::unique_ptr<HttpClient>> small;
  for (int i = 0; i < 8; ++i) small.push_back(std::make_unique<HttpClient>(server.local_port()));
  std::this_thread::sleep_for(50ms);
  // While the loop is held up, the small requests and then the large one
  // arrive, so that the next turn of the loop finds them all.
  ASSERT_TRUE(blocker.send(e2e::post("/block", "")));
  std::this_thread::sleep_for(40ms);
  const auto sent = std::chrono::steady_clock::now();
  for (auto& client : small) ASSERT_TRUE(client->send(e2e::post("/small", "")));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(large.send(e2e::post("/large", "")));
  for (auto& client : small) EXPECT_EQ(reply_of("/small"), client->read_until("/small", 2s));
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 600ms);
  EXPECT_EQ(reply_of("/large"), large.read_until("/large", 3s));
}

// "/large?N" answers N MiB and waits for the reply budget, which the test
// sets to one byte: one large answer at a time.
class BudgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(m_server.listen("127.0.0.1:0", error));
    m_server.set_reply_budget(1);
    m_loop.emplace(m_server);
  }
  std::unique_ptr<HttpClient> ask_large(int mib, int receive_buffer = 0) {
    auto client = std::make_unique<HttpClient>(m_server.local_port(), receive_buffer);
    EXPECT_TRUE(client->send("GET /large?" + std::to_string(mib) + " HTTP/1.1\r\n\r\n"));
    // Queued in the order asked.
    std::this_thread::sleep_for(50ms);
    return client;
  }
  static std::string answer(int mib) { return reply_of(std::string(mib << 20, 'v')); }
  // Reads one answer of `mib` MiB, 64 KiB at a time with `pause` between.
  static bool read_answer(HttpClient& client, int mib, std::chrono::milliseconds pause = 0ms) {
    std::string text;
    const std::size_t size = answer(mib).size();
    while (text.size() < size) {
      const std::string piece = client.read_some(64 * 1024, 5s);
      if (piece.empty()) return false;
      text += piece;
      std::this_thread::sleep_for(pause);
    }
    return text == answer(mib);
  }

  std::atomic<int> m_built{0};
  transport::HttpServer m_server{
      [this](transport::Connection& nc, const transport::Request& hm) {
        ++m_built;
        nc.send(answer(std::atoi(hm.query.c_str())));
      },
      [](const transport::Request& hm) { return hm.uri == "/large"; }};
  std::optional<LoopThread> m_loop;
};

TEST_F(BudgetTest, BuildsNoAnswerForClientsThatLeftWhileTheyWaited) {
  auto first = ask_large(16, 4096);
  auto ended = ask_large(16);
  ended->end_sending();
  auto last = ask_large(1);
  first.reset();  // leaves with its answer unread: the budget is free
  EXPECT_TRUE(read_answer(*last, 1));
  EXPECT_EQ(2, m_built.load()) << "an answer was built for a client that had left";
}

// A client that takes nothing of its answer loses its place to those that
// wait; one that reads, however slowly, keeps it.
TEST_F(BudgetTest, GivesUpTheAnswersOfClientsThatStopReadingWhileOthersWait) {
  auto slow = ask_large(3, 64 * 1024);
  auto stalled = ask_large(16, 4096);
  auto patient = ask_large(1);
  const auto start = std::chrono::steady_clock::now();
  // About 3 s at 64 KiB every 60 ms: longer than a stall may last.
  EXPECT_TRUE(read_answer(*slow, 3, 60ms));
  EXPECT_GT(std::chrono::steady_clock::now() - start, 2500ms);
  EXPECT_TRUE(read_answer(*patient, 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 9s);
  EXPECT_TRUE(stalled->wait_closed(1s)) << "the client that stopped reading still holds its answer";
  EXPECT_EQ(3, m_built.load());
}

TEST(TransportTest, KeepsServingWhenAHandlerThrows) {
  transport::HttpServer server([](transport::Connection& nc, const transport::Request& hm) {
    nc.send("partial");
    if (hm.uri == "/throw") throw std::runtime_error("bad number");
  });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  LoopThread loop(server);
  HttpClient client(server.local_port());
  ASSERT_TRUE(client.send(e2e::post("/throw", "") + e2e::post("/fine", "")));
  EXPECT_EQ("partialpartial", client.read_for(300ms));
}

// Stopped behind a proxy: nothing half-answered, nothing new taken, and
// the loop learns when it may end.
TEST(TransportTest, DrainsByFinishingAnswersInHandAndTakingNoNewConnections) {
  auto big = std::make_shared<const std::string>(16 * 1024 * 1024, 'v');
  transport::HttpServer server([&big](transport::Connection& nc, const transport::Request& hm) {
    if (hm.uri == "/big") nc.send(reply_of(*big));
    if (hm.uri == "/small") nc.send(reply_of("small"));
  });
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", error));
  const unsigned short port = server.local_port();
  auto idle = std::make_unique<HttpClient>(port);
  auto reading = std::make_unique<HttpClient>(port, 4096);
  auto partial = std::make_unique<HttpClient>(port);
  std::atomic<bool> drained{false};
  std::thread loop([&server, &drained] {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!server.drained() && std::chrono::steady_clock::now() < end) server.poll(20);
    drained = server.drained();
  });
  EXPECT_TRUE(idle->send(e2e::post("/small", "")));
  EXPECT_EQ(reply_of("small"), idle->read_until("small"));
  EXPECT_TRUE(reading->send(e2e::post("/big", "")));
  const std::string request = e2e::post("/small", "");
  EXPECT_TRUE(partial->send(request.substr(0, 10)));
  std::this_thread::sleep_for(100ms);

  server.drain(10s);
  EXPECT_TRUE(idle->wait_closed(2s)) << "an idle connection outlived the drain";
  const int late = e2e::connect_loopback(port);
  EXPECT_EQ(-1, late) << "a new connection was taken while draining";
  if (late >= 0) ::close(late);
  EXPECT_TRUE(partial->send(request.substr(10)));
  EXPECT_EQ(reply_of("small"), partial->read_for(2s)) << "a request begun before the drain";
  EXPECT_TRUE(reading->read_for(10s) == reply_of(*big)) << "the answer in hand was cut";
  // Each connection ends when its client leaves.
  idle.reset();
  reading.reset();
  partial.reset();
  loop.join();
  EXPECT_TRUE(drained.load());
}

// Error paths

TEST(TransportTest, RefusesAddressesItCannotUse) {
  transport::HttpServer first([](transport::Connection&, const transport::Request&) {});
  std::string error;
  ASSERT_TRUE(first.listen("0", error));
  const std::string taken = std::to_string(first.local_port());

  struct Case {
    std::string address;
    std::string reason;  // empty: any reason
  };
  const Case cases[] = {
      {taken, "Address already in use"},
      {"127.0.0.1:" + taken, "Address already in use"},
      {"eighty", ""},
      {"70000", ""},
      {"", ""},
      {"127.0.0.1:", ""},
  };
  for (const Case& c : cases) {
    transport::HttpServer server([](transport::Connection&, const transport::Request&) {});
    std::string reason;
    EXPECT_FALSE(server.listen(c.address, reason)) << c.address;
    EXPECT_FALSE(reason.empty()) << c.address;
    if (!c.reason.empty()) {
      EXPECT_EQ(c.reason, reason) << c.address;
    }
  }
}

}  // namespace
