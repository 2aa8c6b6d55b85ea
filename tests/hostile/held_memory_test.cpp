// Clients that make the service hold memory for them: large answers they
// never read, request bodies they never finish. The service's peak resident
// size (VmHWM) shows what it held for them.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace hostile {
namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

constexpr long kMiBInKib = 1024;
constexpr std::size_t kMiB = 1024 * 1024;

class HeldMemoryTest : public ServiceTest {
 protected:
  void start_measured(e2e::Settings settings = {}) {
    shrink_sanitizer_quarantine();
    start(settings);
    m_pid = pid_with_cwd(m_service->work_dir());
    ASSERT_TRUE(m_pid);
  }
  long peak_kib() { return peak_resident_kib(*m_pid).value_or(0); }

  std::optional<pid_t> m_pid;
};

TEST_F(HeldMemoryTest, KeepsAnswersNobodyReadsWithinTheReplyBudget) {
  constexpr long kBudgetMiB = 32;
  comtrade_gen::RecordSpec shape;
  shape.analog_count = 16;
  shape.digital_count = 16;
  shape.samples = 45000;
  write_record("S1", "large", shape);
  std::string channels = "[";
  for (int i = 1; i <= 16; ++i) {
    channels += "\"U" + std::to_string(i) + "\",\"D" + std::to_string(i) + "\"";
    channels += i < 16 ? "," : "]";
  }
  const std::string request =
      e2e::post("/getFileInfo", channel_data_body("S1", "large", channels));
  e2e::Settings settings;
  settings.extra = "replyBudgetMB=" + std::to_string(kBudgetMiB) + "\n";
  start_measured(settings);

  HttpClient first(port());
  ASSERT_TRUE(first.send(request));
  const std::string reference = first.read_chunked_reply(30s).raw;
  ASSERT_GT(reference.size(), 6 * kMiB);
  const long answer_kib = static_cast<long>(reference.size() / 1024);
  const long before = peak_kib();

  // Each asks for the large answer and reads nothing of it.
  const int non_readers = scaled(24, 2);
  std::vector<std::unique_ptr<RawSocket>> stuck;
  for (int i = 0; i < non_readers; ++i) {
    stuck.push_back(std::make_unique<RawSocket>(port(), 4096));
    ASSERT_TRUE(stuck.back()->send(request)) << i;
  }
  // Asked while the budget is spent, a large answer waits its turn...
  HttpClient patient(port());
  ASSERT_TRUE(patient.send(request));
  std::this_thread::sleep_for(500ms);
  // ...and every other query goes at once.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kGroupOk, ask("/getGroupFile_list", "{}", 2s)) << i;
    EXPECT_NE(std::string::npos,
              ask("/getChannelInfo", channel_info_body("S1", "large"), 2s).find("\"result\":200"))
        << i;
  }
  for (auto& client : stuck) client->reset();
  EXPECT_EQ(reference, patient.read_chunked_reply(60s).raw);

  // The budget, the answer that passes it, the one being built, and slack.
  const long peak = peak_kib();
  EXPECT_LT(peak - before, kBudgetMiB * kMiBInKib + 2 * answer_kib + 16 * kMiBInKib)
      << "peak resident " << before << " KiB before, " << peak << " KiB after " << non_readers
      << " clients; one answer is " << answer_kib << " KiB";
}

TEST_F(HeldMemoryTest, HoldsAtMostItsPoolForBodiesThatNeverEnd) {
  constexpr long kPoolMiB = 64;
  constexpr int kStallers = 10;
  start_measured();
  const long before = peak_kib();

  // 16 MiB announced or chunked, one byte short of the end.
  const std::string almost(16 * kMiB - 1, ' ');
  std::string chunked;
  for (int i = 0; i < 15; ++i) chunked += "100000\r\n" + std::string(kMiB, ' ') + "\r\n";
  chunked += "100000\r\n" + std::string(kMiB - 1, ' ');
  struct Shape {
    std::string head;
    const std::string& body;
  };
  const Shape shapes[] = {
      {"POST /getGroupFile_list HTTP/1.1\r\nHost: x\r\nContent-Length: 16777216\r\n\r\n", almost},
      {"POST /nope HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 16777216\r\n\r\n",
       almost},
      {"POST /getFileInfo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", chunked},
  };
  for (const Shape& shape : shapes) {
    const std::string label = shape.head.substr(0, shape.head.find("\r\n\r\n"));
    std::vector<std::unique_ptr<RawSocket>> stalled;
    for (int i = 0; i < kStallers; ++i) {
      stalled.push_back(std::make_unique<RawSocket>(port()));
      stalled.back()->send(shape.head + shape.body);  // a refusal may come first
    }
    int refused = 0;
    for (auto& client : stalled) {
      const std::string answer = client->receive_some(1024, 200ms);
      if (answer.rfind("HTTP/1.1 413 Payload Too Large\r\n", 0) == 0) ++refused;
    }
    EXPECT_GE(refused, kStallers - static_cast<int>(kPoolMiB / 16)) << label;
    EXPECT_TRUE(answers()) << label;
  }

  const long peak = peak_kib();
  EXPECT_LT(peak - before, (kPoolMiB + 32) * kMiBInKib)
      << "peak resident " << before << " KiB before, " << peak << " KiB after";
  // Once the stalled clients are gone, a large body fits again.
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (reply != kGroupOk && std::chrono::steady_clock::now() < deadline) {
    reply = ask("/getGroupFile_list", "{}" + std::string(kMiB, ' '));
  }
  EXPECT_EQ(kGroupOk, reply);
}

}  // namespace
}  // namespace hostile
