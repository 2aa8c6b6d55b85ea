// The request path case: a real server on the loopback interface, one client
// connection per input, and a reader of the reply stream that accepts only
// what the service may send.
#include "harness/request_case.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/value.h>

#include "harness/scratch_dir.h"
#include "logger/logger.h"
#include "restfulserver/restful_server.h"
#include "transport/http_server.h"

namespace fuzz_harness {

namespace {

// Every input ends with the write side shut, so the server has all it will
// ever get; a connection still open after this many polls is a hang.
constexpr int kMaxPolls = 3000;

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kBadRequest[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kTooLarge[] =
    "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kReplyHead[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::unique_ptr<transport::HttpServer> g_server;
std::string g_last_reply;

std::string cfg_text(const std::string& counts, const std::string& channels, int samples,
                     const char* type) {
  return "Store station,R1,1999\n" + counts + "\n" + channels + "50\n1\n1000," +
         std::to_string(samples) + "\n01/01/2020,00:00:00.000000\n" +
         "01/01/2020,00:00:00.001000\n" + type + "\n1\n";
}

// Small records covering both data readers, a name that only matches without
// regard to case, a number that does not convert and a missing .dat.
void make_store(const std::filesystem::path& store) {
  const std::filesystem::path group = store / kStoreGroup;
  std::filesystem::create_directories(group);
  std::filesystem::create_directories(store / "South");

  write_or_die(group / "rec1.cfg",
               cfg_text("4,2A,2D",
                        "1,Ua,A,,kV,0.5,0,0,-32768,32767,1,1,S\n"
                        "2,Ub,B,,kV,0.01,1,0,-32768,32767,1,1,S\n"
                        "1,Trip,,,0\n2,Close,,,1\n",
                        4, "ASCII"));
  // A quote and a backslash in a digital field, a short line and a blank one.
  write_or_die(group / "rec1.dat",
               "1,0,100,-20,0,1\r\n2,1000,102,-22,1,\"q\\\r\n\r\n3,2000,  -7,abc,1,1\n4,3000,5\n");

  std::string digital_lines;
  for (int j = 1; j <= 17; ++j) digital_lines += std::to_string(j) + ",S" + std::to_string(j) + ",,,0\n";
  write_or_die(group / "rec2.cfg",
               cfg_text("19,2A,17D",
                        "1,Ia,A,,A,0.01,0,0,-32768,32767,1,1,S\n"
                        "2,Ib,B,,A,1,0,0,-32768,32767,1,1,S\n" +
                            digital_lines,
                        3, "BINARY"));
  std::string records;
  for (int r = 0; r < 3; ++r) {
    records += little_endian(r + 1, 4) + little_endian(1000 * r, 4);
    records += little_endian(r == 0 ? 1000 : -1000, 2) + little_endian(-32768 + r, 2);
    records += little_endian(0x0005 + r, 2) + little_endian(r, 2);
  }
  records += "\x01\x02\x03";  // a record cut short
  write_or_die(group / "rec2.dat", records);

  write_or_die(group / "REC3.CFG", cfg_text("2,1A,1D",
                                            "1,Ua,A,,kV,1,0,0,-32768,32767,1,1,S\n1,Trip,,,0\n",
                                            2, "ascii"));
  write_or_die(group / "REC3.DAT", "1,0,7,1\n2,1,-7,0\n");
  // Names the answers must escape (a quote, a backslash, a tab) or pass
  // through as they are (GBK bytes).
  write_or_die(group / "gbk.cfg",
               cfg_text("3,2A,1D",
                        "1,\xB5\xE7\xD1\xB9,A,,kV,1,0,0,-1,1,1,1,S\n"
                        "2,a\"b\\c,A,,kV,1,0,0,-1,1,1,1,S\n1,t\tab,,,0\n",
                        2, "ASCII"));
  write_or_die(group / "gbk.dat", "1,0,1,2,\xB9\xD8\n2,1,3,4,\x01\n");
  write_or_die(group / "bad.cfg", cfg_text("1,1A,0D", "1,Ua,A,,kV,x,0,0,-32768,32767,1,1,S\n",
                                           1, "ASCII"));
  write_or_die(group / "bad.dat", "1,0,1\n");
  write_or_die(group / "nodat.cfg", cfg_text("1,1A,0D", "1,Ua,A,,kV,1,0,0,-1,1,1,1,S\n", 1,
                                             "ASCII"));
}

bool starts_with(const std::string& text, std::size_t pos, const char* prefix) {
  return text.compare(pos, std::strlen(prefix), prefix) == 0;
}

std::string describe_at(const std::string& bytes, std::size_t pos) {
  std::ostringstream out;
  out << "unexpected reply bytes at offset " << pos << ": \"";
  for (std::size_t i = pos; i < bytes.size() && i < pos + 48; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out << static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out << hex;
    }
  }
  out << "\"";
  return out.str();
}

std::string check_body(const std::string& body) {
  Json::Value root;
  std::string errors;
  if (!parse_strict_json(body, root, errors)) return "a reply body is not JSON: " + errors;
  if (!root.isObject() || !root["result"].isInt() || !root["errorinfo"].isString()) {
    return "a reply body lacks the envelope";
  }
  if (root.isMember("comDataList")) {
    const Json::Value& list = root["comDataList"];
    if (!list.isArray() || root["result"].asInt() != 200) return "a malformed channel data answer";
    for (const Json::Value& item : list) {
      if (!item.isArray() || item.size() != 1 || !item[0].isString()) {
        return "a channel data item is not a one-text list";
      }
    }
  } else if (!root["typeurl"].isString()) {
    return "a reply body has no typeurl";
  }
  return std::string();
}

// The stream of replies one connection may carry: interim 100 Continue lines,
// chunked 200 replies holding one JSON document each, and at most one
// closing rejection at the very end.
std::string check_replies(const std::string& bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (starts_with(bytes, pos, kContinue)) {
      pos += sizeof kContinue - 1;
      continue;
    }
    for (const char* rejection : {kBadRequest, kTooLarge}) {
      if (starts_with(bytes, pos, rejection)) {
        if (pos + std::strlen(rejection) != bytes.size()) return "bytes after a closing rejection";
        return std::string();
      }
    }
    if (!starts_with(bytes, pos, kReplyHead)) return describe_at(bytes, pos);
    pos += sizeof kReplyHead - 1;
    std::string body;
    for (;;) {
      const std::size_t line_end = bytes.find("\r\n", pos);
      if (line_end == std::string::npos || line_end == pos || line_end - pos > 16) {
        return describe_at(bytes, pos);
      }
      std::size_t length = 0;
      for (std::size_t i = pos; i < line_end; ++i) {
        const char c = bytes[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return describe_at(bytes, pos);
        length = length * 16 + static_cast<std::size_t>(digit);
      }
      pos = line_end + 2;
      if (bytes.size() - pos < length + 2) return "a reply is cut short";
      body.append(bytes, pos, length);
      pos += length;
      if (!starts_with(bytes, pos, "\r\n")) return "a chunk is longer than its size line says";
      pos += 2;
      if (length == 0) break;
    }
    std::string failure = check_body(body);
    if (!failure.empty()) return failure;
  }
  return std::string();
}

// A connected non-blocking socket, or -1 with errno set. The connect is
// non-blocking too, and the server is polled while it completes: a signal
// (the fuzzer's timer) must not cut it short, and nothing may wait on a
// server that only runs inside poll.
int connect_to_server(transport::HttpServer& server) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const auto fail = [fd] {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  };
  // The client ends every exchange first, so each connection leaves a
  // TIME_WAIT entry behind for a minute; hundreds of connections a second
  // from one address use up its port range. Every connection comes from the
  // next address of 127.1.0.0/16 instead (all of 127/8 is the loopback), and
  // its port is chosen at connect time, against the whole address pair.
  static std::uint32_t next_source = 0;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl(0x7F010000u | (1 + next_source++ % 65000));
  const int on = 1;
  (void)::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
  // Should the address not be usable, the kernel's own choice still works.
  (void)::bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.local_port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (errno != EINPROGRESS && errno != EINTR) return fail();
  for (int round = 0; round < kMaxPolls; ++round) {
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, 0) == 1) {
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail();
      if (error == 0) return fd;
      errno = error;
      return fail();
    }
    server.poll(1);
  }
  errno = ETIMEDOUT;
  return fail();
}

}  // namespace

bool parse_strict_json(const std::string& text, Json::Value& root, std::string& errors) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
}

const std::filesystem::path& install_store() {
  static const std::filesystem::path store = [] {
    const std::filesystem::path root = std::filesystem::path(scratch_dir()) / "install";
    std::filesystem::create_directories(root / "cfg");
    make_store(root / "store");
    write_or_die(root / "cfg" / "ComTrade.ini",
                 "[base]\nport = 0\nfileDir = " + (root / "store").string() + "\n");
    ::setenv("TAVROOT", root.c_str(), 1);
    // Log lines are formatted with request texts in them; the lines
    // themselves are not wanted.
    CSingleton<CLogger>::GetInstance()->Open("/dev/null");
    return root / "store";
  }();
  return store;
}

void start_request_server() {
  if (g_server) return;
  install_store();
  g_server = std::make_unique<transport::HttpServer>(&RestfulServer::ev_handler);
  std::string error;
  if (!g_server->listen("127.0.0.1:0", error)) {
    std::fprintf(stderr, "cannot listen on the loopback interface: %s\n", error.c_str());
    std::abort();
  }
}

std::string run_request_case(const std::uint8_t* data, std::size_t size) {
  start_request_server();
  g_last_reply.clear();
  const int fd = connect_to_server(*g_server);
  if (fd < 0) return std::string("cannot connect to the server: ") + std::strerror(errno);

  std::size_t sent = 0;
  bool write_closed = false;
  bool server_closed = false;
  for (int round = 0; round < kMaxPolls && !server_closed; ++round) {
    if (!write_closed) {
      const ssize_t n = size > sent ? ::send(fd, data + sent, size - sent, MSG_NOSIGNAL) : 0;
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (sent == size || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        ::shutdown(fd, SHUT_WR);
        write_closed = true;
      }
    }
    g_server->poll(1);
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        g_last_reply.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      // A reset also ends the exchange: the server gave up on the input.
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        server_closed = true;
      }
      break;
    }
  }
  ::close(fd);
  if (!server_closed) return "the server did not close a connection whose input had ended";
  return check_replies(g_last_reply);
}

const std::string& last_reply() { return g_last_reply; }

}  // namespace fuzz_harness
