// The HTTP front of the real binary: exact reply bytes, dispatch by exact
// URI, keep-alive and pipelining, "Expect: 100-continue", and requests the
// service refuses.
#include <chrono>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "running_service_test.h"
#include "support/e2e_support.h"

namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

const std::string kBadRequestText =
    "\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1";
const std::string kGroupOk =
    "{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n";
const std::string kGroupBad =
    "{\"errorinfo\":\"" + kBadRequestText + "\",\"result\":0,\"typeurl\":\"getGroupFile_list\"}\n";

using HttpTest = RunningServiceTest;

TEST_F(HttpTest, AnswersTheGroupListWithExactlyTheseBytes) {
  HttpClient::ChunkedReply reply =
      e2e::ask(port(), e2e::post("/getGroupFile_list", "{\"type\":\"all\"}"));
  ASSERT_TRUE(reply.complete);
  EXPECT_EQ(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3C\r\n"
      "{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n\r\n0\r\n\r\n",
      reply.raw);
}

TEST_F(HttpTest, AnswersResultZeroWithGbkTextForDocumentsThatAreNoObject) {
  for (const char* body : {"", "123", "\"text\"", "[1,2]"}) {
    HttpClient::ChunkedReply reply = e2e::ask(port(), e2e::post("/getGroupFile_list", body));
    EXPECT_EQ(e2e::chunked_reply_bytes(kGroupBad), reply.raw) << body;
  }
}

TEST_F(HttpTest, AcceptsAMissingOrNonStringType) {
  for (const char* body : {"{}", "{\"type\":110}", "{\"type\":[\"a\"]}"}) {
    EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list", body)).body) << body;
  }
}

TEST_F(HttpTest, ReadsTheBodyOnlyUpToItsFirstNulByte) {
  const std::string body("{\"type\":\"a\"}\0tail", 17);
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list", body)).body);
}

TEST_F(HttpTest, IgnoresTheQueryStringAndTheMethod) {
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list?type=x&a=1", "{}")).body);
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::get("/getGroupFile_list", "{}")).body);
  EXPECT_EQ(kGroupBad, e2e::ask(port(), e2e::get("/getGroupFile_list")).body);
  const std::string put = "PUT /getGroupFile_list HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
  EXPECT_EQ(kGroupOk, e2e::ask(port(), put).body);
}

TEST_F(HttpTest, SendsNothingForUnknownUrisAndSaysSoOnStdout) {
  // The extension URIs match exactly too.
  const char* const uris[] = {"/getgroupfile_list", "/getGroupFile_list/", "/", "/getwaveform",
                              "/getStationList/x", "/viewerx"};
  for (const char* uri : uris) {
    HttpClient client(port());
    ASSERT_TRUE(client.send(e2e::post(uri, "{}")));
    EXPECT_EQ("", client.read_for(300ms)) << uri;
  }
  std::string printed;
  for (std::size_t i = 0; i < std::size(uris); ++i) printed += "error url\n";
  ASSERT_TRUE(m_service.process().wait_stdout_contains(printed));
}

TEST_F(HttpTest, KeepsTheConnectionForTheNextRequest) {
  HttpClient client(port());
  ASSERT_TRUE(client.send(e2e::post("/getGroupFile_list", "{}")));
  EXPECT_EQ(kGroupOk, client.read_chunked_reply().body);
  ASSERT_TRUE(client.send(e2e::post("/getGroupFile_list", "1")));
  EXPECT_EQ(kGroupBad, client.read_chunked_reply().body);
}

TEST_F(HttpTest, AnswersPipelinedRequestsInOrder) {
  HttpClient client(port());
  ASSERT_TRUE(client.send(e2e::post("/getGroupFile_list", "{}") +
                          e2e::post("/unknown", "{}") +
                          e2e::post("/getGroupFile_list", "[]")));
  HttpClient::ChunkedReply first = client.read_chunked_reply();
  HttpClient::ChunkedReply second = client.read_chunked_reply();
  EXPECT_EQ(e2e::chunked_reply_bytes(kGroupOk), first.raw);
  EXPECT_EQ(e2e::chunked_reply_bytes(kGroupBad), second.raw);
  EXPECT_EQ("", client.read_for(100ms));
}

// A body after a HEAD reply would be read as the reply to the next request.
TEST_F(HttpTest, AnswersHeadWithTheHeaderOnlyAndTakesTheNextRequest) {
  HttpClient client(port());
  const std::string head = "HEAD /getGroupFile_list HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
  const std::string station_list = "HEAD /getStationList HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
  ASSERT_TRUE(client.send(head + station_list + e2e::post("/getGroupFile_list", "{}")));
  const std::string header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(header + header + e2e::chunked_reply_bytes(kGroupOk),
            client.read_until(kGroupOk + "\r\n0\r\n\r\n"));
  EXPECT_EQ("", client.read_for(100ms));
}

TEST_F(HttpTest, SendsContinueBeforeTheBodyIsSent) {
  HttpClient client(port());
  ASSERT_TRUE(client.send(
      "POST /getGroupFile_list HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
      "Content-Length: 2\r\n\r\n"));
  EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", client.read_until("\r\n\r\n"));
  ASSERT_TRUE(client.send("{}"));
  EXPECT_EQ(e2e::chunked_reply_bytes(kGroupOk), client.read_chunked_reply().raw);
}

TEST_F(HttpTest, ClosesAfterTheReplyWhenTheClientAsksForIt) {
  HttpClient client(port());
  ASSERT_TRUE(client.send(
      "POST /getGroupFile_list HTTP/1.1\r\nConnection: close\r\nContent-Length: 2\r\n\r\n{}"));
  EXPECT_EQ(kGroupOk, client.read_chunked_reply().body);
  EXPECT_TRUE(client.wait_closed());

  HttpClient eager(port());
  ASSERT_TRUE(eager.send(
      "POST /getGroupFile_list HTTP/1.1\r\nConnection: close\r\nContent-Length: 2\r\n\r\n{}" +
      std::string(1024 * 1024, 'x')));
  EXPECT_EQ(kGroupOk, eager.read_chunked_reply().body);
  EXPECT_TRUE(eager.wait_closed());

  HttpClient old_client(port());
  ASSERT_TRUE(old_client.send("POST /getGroupFile_list HTTP/1.0\r\nContent-Length: 2\r\n\r\n{}"));
  EXPECT_EQ(kGroupOk, old_client.read_chunked_reply().body);
  EXPECT_TRUE(old_client.wait_closed());

  HttpClient unknown(port());
  ASSERT_TRUE(unknown.send("GET /nowhere HTTP/1.1\r\nConnection: close\r\n\r\n"));
  EXPECT_TRUE(unknown.wait_closed());
}

// Error paths

TEST_F(HttpTest, RefusesAnOversizedBodyAndKeepsServingOthers) {
  HttpClient other(port());
  ASSERT_TRUE(other.connected());

  // Part of the body follows at once: the refusal must still arrive intact
  // rather than be lost to a reset of a connection closed with unread bytes.
  HttpClient client(port());
  ASSERT_TRUE(client.send("POST /getGroupFile_list HTTP/1.1\r\nContent-Length: 16777217\r\n\r\n" +
                          std::string(1024 * 1024, ' ')));
  EXPECT_EQ("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
            client.read_until("\r\n\r\n"));
  EXPECT_TRUE(client.wait_closed());

  ASSERT_TRUE(other.send(e2e::post("/getGroupFile_list", "{}")));
  EXPECT_EQ(kGroupOk, other.read_chunked_reply().body);
}

TEST_F(HttpTest, AcceptsABodyOfExactlyTheLimit) {
  std::string body = "{\"type\":\"" + std::string(16 * 1024 * 1024 - 11, 'x') + "\"}";
  ASSERT_EQ(16u * 1024 * 1024, body.size());
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list", body)).body);
}

TEST_F(HttpTest, RefusesAnOversizedHead) {
  HttpClient client(port());
  ASSERT_TRUE(client.send("POST /getGroupFile_list HTTP/1.1\r\nX-Big: " +
                          std::string(9000, 'a') + "\r\nContent-Length: 2\r\n\r\n{}"));
  const std::string answer = client.read_until("\r\n\r\n");
  EXPECT_TRUE(answer.rfind("HTTP/1.1 413 ", 0) == 0 || answer.rfind("HTTP/1.1 400 ", 0) == 0)
      << answer;
  EXPECT_TRUE(client.wait_closed());
}

TEST_F(HttpTest, AnswersMalformedRequestsWith400AndCloses) {
  for (const char* bytes : {"GARBAGE\r\n\r\n", "POST /x HTTP/9.9\r\n\r\n",
                            "POST /x HTTP/1.1\r\nContent-Length: zz\r\n\r\n"}) {
    HttpClient client(port());
    ASSERT_TRUE(client.send(bytes));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
              client.read_until("\r\n\r\n"))
        << bytes;
    EXPECT_TRUE(client.wait_closed()) << bytes;
  }
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list", "{}")).body);
}

TEST_F(HttpTest, SurvivesClientsThatLeaveMidRequestOrMidReply) {
  {
    HttpClient client(port());
    ASSERT_TRUE(client.send("POST /getGroupFile_list HTTP/1.1\r\nContent-Length: 100\r\n\r\n{"));
  }
  {
    HttpClient client(port());
    std::string many;
    for (int i = 0; i < 200; ++i) many += e2e::post("/getGroupFile_list", "{}");
    ASSERT_TRUE(client.send(many));
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(kGroupOk, e2e::ask(port(), e2e::post("/getGroupFile_list", "{}")).body);
}

}  // namespace
