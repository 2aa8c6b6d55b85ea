// "/viewer" on the real binary: the page's files and the chart library's with
// ordinary HTTP/1.1 heads, 404 for every other name, and the connection kept
// for the queries that follow.
#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "running_service_test.h"
#include "support/e2e_support.h"

namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

const std::string kCacheHeaders = "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n";
const std::string kNotFound =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 10\r\n" + kCacheHeaders + "\r\nnot found\n";

std::string get_and_close(const std::string& uri) {
  return "GET " + uri + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
}

// The reply to one request on a connection the service closes after it.
std::string fetch(unsigned short port, const std::string& request) {
  HttpClient client(port);
  EXPECT_TRUE(client.send(request));
  return client.read_for(5s);
}

std::string file_bytes(const std::string& path) {
  std::optional<std::string> bytes = e2e::read_file(path);
  EXPECT_TRUE(bytes) << path;
  return bytes.value_or("");
}

// The ETag header's value in `reply`, or "".
std::string etag_in(const std::string& reply) {
  const std::size_t at = reply.find("\r\nETag: ");
  if (at == std::string::npos) return "";
  return reply.substr(at + 8, reply.find("\r\n", at + 2) - at - 8);
}

// The reply to a file, with the ETag that `reply` carries (a quoted tag).
std::string ok_reply(const std::string& content_type, const std::string& body, const std::string& reply) {
  const std::string etag = etag_in(reply);
  EXPECT_EQ('"', etag.empty() ? ' ' : etag.front()) << reply.substr(0, 300);
  return "HTTP/1.1 200 OK\r\nContent-Type: " + content_type + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nETag: " + etag + "\r\n" + kCacheHeaders + "\r\n" + body;
}

using ViewerServingTest = RunningServiceTest;

TEST_F(ViewerServingTest, ServesThePageAndTheLibraryFilesWithTheirHeads) {
  const std::string page_dir = COMTRADE_VIEWER_SOURCE_DIR;
  const std::string library_dir = "/usr/share/javascript/dygraphs";
  const struct {
    const char* uri;
    std::string path;
    const char* content_type;
  } cases[] = {
      {"/viewer", page_dir + "/index.html", "text/html; charset=utf-8"},
      {"/viewer/", page_dir + "/index.html", "text/html; charset=utf-8"},
      {"/viewer/index.html?x=1", page_dir + "/index.html", "text/html; charset=utf-8"},
      {"/viewer/viewer.js", page_dir + "/viewer.js", "text/javascript; charset=utf-8"},
      {"/viewer/names.js", page_dir + "/names.js", "text/javascript; charset=utf-8"},
      {"/viewer/samples.js", page_dir + "/samples.js", "text/javascript; charset=utf-8"},
      {"/viewer/queries.js", page_dir + "/queries.js", "text/javascript; charset=utf-8"},
      {"/viewer/charts.js", page_dir + "/charts.js", "text/javascript; charset=utf-8"},
      {"/viewer/viewer.css", page_dir + "/viewer.css", "text/css; charset=utf-8"},
      {"/viewer/dygraph.min.js", library_dir + "/dygraph.min.js", "text/javascript; charset=utf-8"},
      {"/viewer/dygraph.css", library_dir + "/dygraph.css", "text/css; charset=utf-8"},
  };
  for (const auto& c : cases) {
    const std::string reply = fetch(port(), get_and_close(c.uri));
    EXPECT_EQ(ok_reply(c.content_type, file_bytes(c.path), reply), reply) << c.uri;
  }
}

// A browser that holds the version served revalidates it for a head alone;
// any other tag gets the file again.
TEST_F(ViewerServingTest, AnswersNotModifiedToTheTagOfTheVersionServed) {
  const std::string first = fetch(port(), get_and_close("/viewer/viewer.js"));
  const std::string etag = etag_in(first);
  ASSERT_FALSE(etag.empty()) << first.substr(0, 300);
  const std::string not_modified = "HTTP/1.1 304 Not Modified\r\nETag: " + etag + "\r\n" + kCacheHeaders + "\r\n";
  for (const std::string& header : {etag, "W/" + etag, "\"old\", " + etag, std::string("*")}) {
    const std::string asked = "GET /viewer/viewer.js HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + header +
                              "\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(not_modified, fetch(port(), asked)) << header;
  }
  const std::string other = "GET /viewer/viewer.js HTTP/1.1\r\nHost: x\r\nIf-None-Match: \"old\"\r\n"
                            "Connection: close\r\n\r\n";
  EXPECT_EQ(first, fetch(port(), other));
}

TEST_F(ViewerServingTest, AnswersNotFoundForEveryNameOffTheList) {
  for (const char* uri :
       {"/viewer/nope.js", "/viewer/../README.md", "/viewer/%2e%2e/README.md",
        "/viewer/..%2fREADME.md", "/viewer//index.html", "/viewer/index.html/",
        "/viewer/INDEX.HTML", "/viewer/dygraph.js", "/viewer/src/dygraph.js"}) {
    EXPECT_EQ(kNotFound, fetch(port(), get_and_close(uri))) << uri;
  }
}

TEST_F(ViewerServingTest, KeepsTheConnectionOpenAndAnswersHeadWithoutABody) {
  HttpClient client(port());
  ASSERT_TRUE(client.send("HEAD /viewer HTTP/1.1\r\nHost: x\r\n\r\n"));
  const std::string page = file_bytes(COMTRADE_VIEWER_SOURCE_DIR "/index.html");
  const std::string got = client.read_until("\r\n\r\n");
  const std::string head = ok_reply("text/html; charset=utf-8", page, got);
  EXPECT_EQ(head.substr(0, head.size() - page.size()), got);
  ASSERT_TRUE(client.send(e2e::post("/getGroupFile_list", "{}")));
  HttpClient::ChunkedReply reply = client.read_chunked_reply();
  ASSERT_TRUE(reply.complete);
  EXPECT_EQ("{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n", reply.body);
}

TEST_F(ViewerServingTest, LeavesUrisThatOnlyBeginWithViewerUnknown) {
  HttpClient client(port());
  ASSERT_TRUE(client.send(e2e::get("/viewerx")));
  EXPECT_EQ("", client.read_for(300ms));
  EXPECT_TRUE(m_service.process().wait_stdout_contains("error url\n"));
}

}  // namespace
