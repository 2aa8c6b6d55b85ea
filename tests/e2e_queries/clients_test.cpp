// Real HTTP clients read the four answers exactly as the raw client does:
// curl (also with a 2 KB body sent after "Expect: 100-continue"), Python's
// http.client and Node's fetch. Each test skips when its tool is missing.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/e2e_support.h"
#include "support/record_root_test.h"

namespace {

const std::string kCfg =
    "S1,REC,1999\r\n3,2A,1D\r\n1,Ia,,,A,0.5,0,0,-100,100,1,1,S\r\n"
    "2,\xB5\xE7\xD1\xB9,,,kV,0.25,1,0,-200,200,1,1,S\r\n1,Trip,,,0\r\n50\r\n1\r\n1000,2\r\n"
    "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.001000\r\nASCII\r\n1\r\n";
const std::string kDat = "1,0,100,-20,0\r\n2,1000,102,-22,1\r\n";

// Both scripts take the port and then "<uri> <body file> <answer file>" per
// request, and send the requests one after the other on one connection.
const char kPythonClient[] =
    "import http.client, sys\n"
    "args = sys.argv[2:]\n"
    "conn = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]), timeout=10)\n"
    "for uri, body_path, answer_path in zip(args[0::3], args[1::3], args[2::3]):\n"
    "    conn.request('POST', uri, body=open(body_path, 'rb').read())\n"
    "    open(answer_path, 'wb').write(conn.getresponse().read())\n";

const char kNodeClient[] =
    "const fs = require('fs');\n"
    "const [port, ...args] = process.argv.slice(2);\n"
    "(async () => {\n"
    "  for (let i = 0; i + 2 < args.length; i += 3) {\n"
    "    const reply = await fetch(`http://127.0.0.1:${port}${args[i]}`,\n"
    "                              {method: 'POST', body: fs.readFileSync(args[i + 1])});\n"
    "    fs.writeFileSync(args[i + 2], Buffer.from(await reply.arrayBuffer()));\n"
    "  }\n"
    "})().catch((error) => { console.error(error); process.exit(1); });\n";

bool have_tool(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

// Standard output of `command`, run by the shell under a time limit.
std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(("timeout 20 " + command).c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

struct Query {
  const char* uri;
  std::string body;
};

class ClientsTest : public e2e::RecordRootTest {
 protected:
  void SetUp() override {
    e2e::RecordRootTest::SetUp();
    e2e::write_record_files(m_records.path() / "S1", "r", kCfg, kDat);
    m_queries = {
        {"/getFileName_list", R"({"groupName":"S1","type":"all"})"},
        {"/getChannelInfo", R"({"groupName":"S1","fileName":"r"})"},
        {"/getFileInfo",
         "{\"groupName\":\"S1\",\"fileName\":\"r\",\"channelList\":[\"\xB5\xE7\xD1\xB9\",\"Trip\"]}"},
        {"/getGroupFile_list", R"({"type":"all"})"},
    };
  }

  std::string body_file(const std::string& body) {
    const std::string path = m_scratch / ("body" + std::to_string(m_files++));
    e2e::write_file(path, body);
    return path;
  }
  std::string url(const char* uri) const {
    return "http://127.0.0.1:" + std::to_string(m_service.port()) + uri;
  }
  struct Exchange {
    std::string uri;
    std::string body_path;
    std::string answer_path;
  };
  // Runs the command that `command_for` builds for all four queries once, and
  // compares each answer file with the answer the raw client reads.
  void expect_same_answers(
      const std::function<std::string(const std::vector<Exchange>&)>& command_for) {
    std::vector<Exchange> exchanges;
    for (const Query& q : m_queries) {
      exchanges.push_back({q.uri, body_file(q.body), m_scratch / ("answer" + std::to_string(m_files++))});
    }
    run(command_for(exchanges));
    for (std::size_t i = 0; i < m_queries.size(); ++i) {
      const Query& q = m_queries[i];
      const std::string raw = e2e::ask(m_service.port(), e2e::post(q.uri, q.body)).body;
      ASSERT_FALSE(raw.empty()) << q.uri;
      EXPECT_EQ(raw, e2e::read_file(exchanges[i].answer_path).value_or("<none>")) << q.uri;
    }
  }
  // "<port> <uri> <body file> <answer file> ..." for the client scripts.
  std::string script_args(const std::vector<Exchange>& exchanges) const {
    std::string args = std::to_string(m_service.port());
    for (const Exchange& e : exchanges) args += " " + e.uri + " " + e.body_path + " " + e.answer_path;
    return args;
  }

  e2e::TempDir m_scratch;
  std::vector<Query> m_queries;
  int m_files = 0;
};

TEST_F(ClientsTest, CurlReadsTheFourAnswers) {
  if (!have_tool("curl")) GTEST_SKIP() << "curl is not installed";
  for (const std::string options : {"-sS", "-sS --http1.1"}) {
    // One curl for all four, through "--next", so it may reuse its connection.
    expect_same_answers([&](const std::vector<Exchange>& exchanges) {
      std::string command = "curl";
      for (const Exchange& e : exchanges) {
        if (&e != &exchanges.front()) command += " --next";
        command += " " + options + " --data-binary @" + e.body_path + " -o " + e.answer_path + " " +
                   url(e.uri.c_str());
      }
      return command;
    });
  }
}

TEST_F(ClientsTest, CurlWaitsForContinueBeforeALargeBody) {
  if (!have_tool("curl")) GTEST_SKIP() << "curl is not installed";
  const std::string padded = R"({"groupName":"S1","type":")" + std::string(2048, 'x') + "\"}";
  const std::string expected = e2e::ask(m_service.port(), e2e::post("/getFileName_list", padded)).body;
  ASSERT_NE(std::string::npos, expected.find("\"result\":200"));
  EXPECT_EQ(expected, run("curl -sS --data-binary @" + body_file(padded) + " " +
                          url("/getFileName_list")));
  // Some curl versions announce the body only above a larger size: ask for
  // the interim answer explicitly, and see that it came.
  const std::string trace = m_scratch / "trace";
  EXPECT_EQ(expected, run("curl -sS -v -H 'Expect: 100-continue' --data-binary @" +
                          body_file(padded) + " " + url("/getFileName_list") + " 2> " + trace));
  const std::string log = e2e::read_file(trace).value_or("");
  EXPECT_NE(std::string::npos, log.find("HTTP/1.1 100 Continue")) << log;
}

TEST_F(ClientsTest, PythonHttpClientReadsTheFourAnswers) {
  if (!have_tool("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::string script = m_scratch / "client.py";
  e2e::write_file(script, kPythonClient);
  expect_same_answers([&](const std::vector<Exchange>& exchanges) {
    return "python3 " + script + " " + script_args(exchanges);
  });
}

TEST_F(ClientsTest, NodeFetchReadsTheFourAnswers) {
  if (!have_tool("node") ||
      run("node -e \"process.stdout.write(typeof fetch)\"") != "function") {
    GTEST_SKIP() << "node with a global fetch is not installed";
  }
  const std::string script = m_scratch / "client.js";
  e2e::write_file(script, kNodeClient);
  expect_same_answers([&](const std::vector<Exchange>& exchanges) {
    return "node " + script + " " + script_args(exchanges);
  });
}

}  // namespace
