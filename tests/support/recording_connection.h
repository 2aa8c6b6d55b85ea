// A connection that keeps what a handler queues on it instead of writing it,
// so replies can be checked byte for byte without a socket.
#ifndef TESTS_SUPPORT_RECORDING_CONNECTION_H_
#define TESTS_SUPPORT_RECORDING_CONNECTION_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "transport/http_server.h"

namespace e2e {

class RecordingConnection : public transport::Connection {
 public:
  void send(std::string bytes) override { pieces.push_back(std::move(bytes)); }
  void send(std::shared_ptr<const std::string> text) override {
    pieces.push_back(*text);
    shared.push_back(text.get());
  }
  // Everything queued, in order.
  std::string wire() const {
    std::string all;
    for (const std::string& piece : pieces) all += piece;
    return all;
  }

  std::vector<std::string> pieces;  // one per send, in order
  // The texts that came by pointer, which a handler may share rather than copy.
  std::vector<const std::string*> shared;
};

}  // namespace e2e

#endif  // TESTS_SUPPORT_RECORDING_CONNECTION_H_
