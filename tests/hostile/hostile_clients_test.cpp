// Clients that hold connections, dribble, vanish, never read, send too much or
// send no HTTP at all: the service answers the others all the same.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace hostile {
namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

const std::string kBadNumberCfg =
    "S1,BAD,1999\n2,2A,0D\n1,Ia,,,A,0.5,0,0,-100,100,1,1,S\n2,Ib,,,A,x,0,0,-1,1,1,1,S\n";

int count_open_fds(pid_t pid) {
  std::error_code ec;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++count;
  }
  return count;
}

class HostileClientTest : public ServiceTest {
 protected:
  void SetUp() override {
    comtrade_gen::RecordSpec small;
    small.analog_count = 2;
    small.digital_count = 1;
    small.samples = 20;
    write_record("S1", "small", small);

    // Large enough that its answer cannot sit in the socket buffers.
    comtrade_gen::RecordSpec large;
    large.analog_count = 4;
    large.digital_count = 2;
    large.samples = scaled(200000, 4);
    write_record("S1", "large", large);
  }

  std::string small_request() {
    return e2e::post("/getFileInfo", channel_data_body("S1", "small", R"(["U1","D1"])"));
  }
  std::string large_request() {
    return e2e::post("/getFileInfo",
                     channel_data_body("S1", "large", R"(["U1","U2","U3","U4","D1","D2"])"));
  }
  // The large answer as a patient client reads it.
  std::string read_large() {
    HttpClient client(port());
    if (!client.send(large_request())) return "";
    HttpClient::ChunkedReply reply = client.read_chunked_reply(30s);
    return reply.complete ? reply.raw : "";
  }
};

TEST_F(HostileClientTest, AnswersOthersWhileFiveHundredConnectionsSitIdle) {
  constexpr int kIdle = 500;
  // Each idle client costs the service one descriptor and the test one more.
  ASSERT_TRUE(ensure_fd_limit(2 * kIdle + 256)) << "the hard descriptor limit is too low";
  start();
  const std::string reference = ask("/getFileInfo", channel_data_body("S1", "small", R"(["U1"])"));
  ASSERT_NE("", reference);

  std::vector<std::unique_ptr<HttpClient>> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(std::make_unique<HttpClient>(port()));
    ASSERT_TRUE(idle.back()->connected()) << i;
    // A third say nothing, a third stop inside the head, a third inside the body.
    if (i % 3 == 1) {
      ASSERT_TRUE(idle.back()->send("POST /getFileInfo HTTP/1.1\r\nContent-Le"));
    }
    if (i % 3 == 2) {
      ASSERT_TRUE(idle.back()->send("POST /getFileInfo HTTP/1.1\r\nContent-Length: 50\r\n\r\n{"));
    }
  }
  // The service has really accepted them, not left them in the backlog.
  const std::optional<pid_t> pid = pid_with_cwd(m_service->work_dir());
  ASSERT_TRUE(pid);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (count_open_fds(*pid) < kIdle && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GE(count_open_fds(*pid), kIdle);

  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(reference, ask("/getFileInfo", channel_data_body("S1", "small", R"(["U1"])"), 5s))
        << i;
  }
  // The idle ones were held, not dropped: each kind can still finish.
  ASSERT_TRUE(idle[0]->send(e2e::post("/getGroupFile_list", "{}")));
  EXPECT_EQ(kGroupOk, idle[0]->read_chunked_reply(5s).body);
  ASSERT_TRUE(idle[1]->send("ngth: 2\r\n\r\n{}"));
  EXPECT_NE("", idle[1]->read_chunked_reply(5s).body);
  ASSERT_TRUE(idle[2]->send(std::string(49, ' ')));
  EXPECT_NE("", idle[2]->read_chunked_reply(5s).body);
}

// With 64 descriptors, more clients than the service can hold at once: those
// beyond what it holds wait until others leave, and every request can still
// open its record, so every answer is the right one.
TEST_F(HostileClientTest, AnswersEveryClientRightlyWhenDescriptorsAreFew) {
  start({}, false, 64);
  const std::string reference = ask("/getFileInfo", channel_data_body("S1", "small", R"(["U1","D1"])"));
  ASSERT_NE("", reference);
  std::vector<std::unique_ptr<HttpClient>> clients;
  for (int i = 0; i < 80; ++i) clients.push_back(std::make_unique<HttpClient>(port()));
  // All connected and taken in as far as the service takes them before
  // anyone asks.
  std::this_thread::sleep_for(300ms);
  for (std::size_t i = 0; i < clients.size(); ++i) ASSERT_TRUE(clients[i]->send(small_request())) << i;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(reference, clients[i]->read_chunked_reply(5s).body) << i;
    clients[i].reset();
  }
  EXPECT_TRUE(answers());
}

TEST_F(HostileClientTest, AnswersARequestSentOneByteAtATime) {
  start();
  const std::string reference = e2e::ask(port(), small_request()).raw;
  ASSERT_NE("", reference);

  RawSocket slow(port());
  const std::string request = small_request();
  for (std::size_t i = 0; i < request.size(); ++i) {
    ASSERT_TRUE(slow.send(request.substr(i, 1))) << i;
    std::this_thread::sleep_for(1ms);
    // Others are not held up by the one being read.
    if (i % 40 == 0) {
      EXPECT_TRUE(answers()) << i;
    }
  }
  EXPECT_EQ(reference, slow.receive_exactly(reference.size(), 5s));
}

TEST_F(HostileClientTest, GoesOnAfterClientsLeaveInTheMiddleOfALargeReply) {
  start();
  const std::string reference = read_large();
  ASSERT_GT(reference.size(), 1000000u);

  for (int round = 0; round < 6; ++round) {
    RawSocket client(port());
    ASSERT_TRUE(client.send(large_request()));
    EXPECT_EQ(65536u, client.receive_exactly(65536, 10s).size()) << round;
    // Half leave with a reset, half with an orderly close of a socket that
    // still holds unread bytes (which the kernel turns into a reset anyway).
    if (round % 2 == 0) {
      client.reset();
    } else {
      client.close();
    }
    EXPECT_TRUE(answers()) << round;
  }
  EXPECT_EQ(reference, read_large());
}

TEST_F(HostileClientTest, KeepsMemoryBoundedAndOthersServedWhileAClientNeverReads) {
  shrink_sanitizer_quarantine();
  start();
  const std::string reference = read_large();
  ASSERT_FALSE(reference.empty());
  const std::optional<pid_t> pid = pid_with_cwd(m_service->work_dir());
  ASSERT_TRUE(pid);
  const std::optional<long> before = resident_kib(*pid);
  ASSERT_TRUE(before);

  // Thirty large answers asked for at once and never read: the service may
  // hold the one it is writing, not all thirty.
  constexpr int kPipelined = 30;
  RawSocket stuck(port(), 4096);
  std::string many;
  for (int i = 0; i < kPipelined; ++i) many += large_request();
  ASSERT_TRUE(stuck.send(many));
  std::this_thread::sleep_for(500ms);

  for (int i = 0; i < 10; ++i) EXPECT_TRUE(answers()) << i;
  EXPECT_EQ(reference, read_large());

  const std::optional<long> after = resident_kib(*pid);
  ASSERT_TRUE(after);
  const long reply_kib = static_cast<long>(reference.size() / 1024);
  EXPECT_LT(*after - *before, 4 * reply_kib + 32 * 1024)
      << "resident " << *before << " KiB before, " << *after << " KiB after; one answer is "
      << reply_kib << " KiB";
}

// Heap pages freed after large answers go back to the system within a few
// seconds, so the resident size tracks what is live, not the peak.
TEST_F(HostileClientTest, GivesMemoryBackAfterLargeAnswers) {
  if (sanitized()) GTEST_SKIP() << "the sanitizer's allocator keeps freed memory by design";
  start();
  const std::optional<pid_t> pid = pid_with_cwd(m_service->work_dir());
  ASSERT_TRUE(pid);
  ASSERT_TRUE(answers());
  const std::optional<long> idle = resident_kib(*pid);
  ASSERT_TRUE(idle);
  std::string reference;
  for (int i = 0; i < 3; ++i) reference = read_large();
  ASSERT_GT(reference.size(), 1000000u);
  const long reply_kib = static_cast<long>(reference.size() / 1024);

  std::optional<long> now = resident_kib(*pid);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (now && *now - *idle >= reply_kib / 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
    now = resident_kib(*pid);
  }
  ASSERT_TRUE(now);
  EXPECT_LT(*now - *idle, reply_kib / 2)
      << "resident " << *idle << " KiB idle, " << *now << " KiB after; one answer is " << reply_kib
      << " KiB";
}

// Error paths

TEST_F(HostileClientTest, RefusesOversizedHeadsAndBodiesInEveryForm) {
  start();
  std::string chunked_body;
  for (int i = 0; i < 17; ++i) chunked_body += "100000\r\n" + std::string(1 << 20, 'x') + "\r\n";
  std::string many_fields;
  for (int i = 0; i < 2000; ++i) many_fields += "X-A: b\r\n";
  const std::string cases[] = {
      // A body of more than 16 MiB in chunks, where no length announces it.
      "POST /getGroupFile_list HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked_body,
      // A request line that never ends.
      "GET /" + std::string(100 * 1024, 'a'),
      // Many small fields that only together pass the head limit.
      "GET /getGroupFile_list HTTP/1.1\r\n" + many_fields + "\r\n",
      // Lengths past the limit, with no body following.
      "POST /getGroupFile_list HTTP/1.1\r\nContent-Length: 16777217\r\n\r\n",
      "POST /getGroupFile_list HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
  };
  for (const std::string& bytes : cases) {
    const std::string label = bytes.substr(0, 60);
    RawSocket client(port());
    client.send(bytes);  // the service may refuse before it has read it all
    bool closed = false;
    const std::string answer = client.receive_until_closed(10s, &closed);
    EXPECT_TRUE(answer.rfind("HTTP/1.1 413 ", 0) == 0 || answer.rfind("HTTP/1.1 400 ", 0) == 0)
        << label << "\n" << answer.substr(0, 200);
    EXPECT_TRUE(closed) << label;
    EXPECT_TRUE(answers()) << label;
  }
}

TEST_F(HostileClientTest, ClosesOnBytesThatAreNotHttpAndServesTheNext) {
  start();
  std::vector<std::string> cases = {
      std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(64, '\x5a'),
      "SSH-2.0-OpenSSH_9.0\r\n",
      std::string(300, '\0'),
      "\r\n\r\n\r\n\r\n",
      "GET / HTTP/1.1\r\n\x01\x02\x03: \xff\xfe\r\n\r\n",
      "POST /getFileInfo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
      "POST /getFileInfo HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 7\r\n\r\n{}",
      "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n",
  };
  std::mt19937 random(20260112);
  for (int i = 0; i < 40; ++i) {
    std::string bytes(1 + random() % 2000, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    cases.push_back(bytes);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    RawSocket client(port());
    ASSERT_TRUE(client.send(cases[i])) << i;
    // Whatever the service makes of it, the end of the stream settles it.
    client.shutdown_send();
    bool closed = false;
    const std::string answer = client.receive_until_closed(10s, &closed);
    EXPECT_TRUE(closed) << i;
    EXPECT_TRUE(answer.empty() || answer.rfind("HTTP/1.1 4", 0) == 0) << i << ": " << answer;
  }
  EXPECT_NE("", ask("/getFileInfo", channel_data_body("S1", "small", R"(["U1"])")));
}

// Transfer codings whose last one is not "chunked" leave the body's end
// unknown: the request is refused and the connection closed, so what follows
// it can never be taken for a request of its own.
TEST_F(HostileClientTest, RefusesTransferCodingsThatDoNotEndInChunked) {
  start();
  const std::string smuggled = e2e::post("/getGroupFile_list", "{}");
  const std::string head = "POST /getGroupFile_list HTTP/1.1\r\nHost: x\r\n";
  const std::string refused[] = {
      "gzip", "chunked, gzip", "chunked, identity", "xchunked", "chunked, chunked", "",
      "chunked\r\nTransfer-Encoding: gzip", "gzip\r\nTransfer-Encoding: identity",
  };
  for (const std::string& coding : refused) {
    RawSocket client(port());
    ASSERT_TRUE(client.send(head + "Transfer-Encoding: " + coding + "\r\n\r\n" + smuggled));
    bool closed = false;
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
              client.receive_until_closed(10s, &closed))
        << coding;
    EXPECT_TRUE(closed) << coding;
  }
  // A list that ends in "chunked" is read as chunks.
  for (const std::string coding : {"chunked", "Chunked", "gzip, chunked"}) {
    HttpClient client(port());
    ASSERT_TRUE(client.send(head + "Transfer-Encoding: " + coding + "\r\n\r\n2\r\n{}\r\n0\r\n\r\n"));
    EXPECT_EQ(kGroupOk, client.read_chunked_reply().body) << coding;
  }
}

// A number that does not convert ends its request without a reply and closes
// its connection at once, after what was queued before it; the requests
// pipelined behind it go with it, and other connections carry on.
TEST_F(HostileClientTest, ClosesTheConnectionAfterTheCatchAllAndServesTheOthers) {
  write_record("S1", "bad", kBadNumberCfg, "1,0,1,2\n");
  start();
  const std::string good = small_request();
  const std::string good_reply = e2e::ask(port(), good).raw;
  ASSERT_NE("", good_reply);
  const std::string bad_info = e2e::post("/getChannelInfo", channel_info_body("S1", "bad"));
  const std::string bad_data =
      e2e::post("/getFileInfo", channel_data_body("S1", "bad", R"(["Ia","U1","D1"])"));

  HttpClient other(port());
  ASSERT_TRUE(other.send(good));
  ASSERT_EQ(good_reply, other.read_chunked_reply().raw);
  for (const std::string& bad : {bad_info, bad_data}) {
    RawSocket client(port());
    ASSERT_TRUE(client.send(good + bad + good));
    bool closed = false;
    EXPECT_EQ(good_reply, client.receive_until_closed(5s, &closed));
    EXPECT_TRUE(closed);
    ASSERT_TRUE(other.send(good));
    EXPECT_EQ(good_reply, other.read_chunked_reply().raw);
  }

  // The half-read record leaves nothing behind for the next request.
  for (const std::string& bad : {bad_info, bad_data}) {
    HttpClient client(port());
    ASSERT_TRUE(client.send(bad));
    EXPECT_TRUE(client.wait_closed());
  }
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S1", "missing")).find("\"aiList\":0"));
  EXPECT_EQ(kNoChannelData,
            ask("/getFileInfo", channel_data_body("S1", "missing", R"(["Ia","U1","D1"])")));

  const std::string out = process().stdout_text();
  std::size_t exceptions = 0;
  for (std::size_t at = out.find("unknow  exception\n"); at != std::string::npos;
       at = out.find("unknow  exception\n", at + 1)) {
    ++exceptions;
  }
  EXPECT_EQ(4u, exceptions);
}

}  // namespace
}  // namespace hostile
