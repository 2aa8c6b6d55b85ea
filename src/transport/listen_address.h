// The text of the "port" setting split into the host and port to listen on.
#ifndef TRANSPORT_LISTEN_ADDRESS_H_
#define TRANSPORT_LISTEN_ADDRESS_H_

#include <optional>
#include <string>

namespace transport {

struct Endpoint {
  std::string host;
  std::string port;
};

// "8000" (all interfaces), "host:8000", "tcp://host:8000" or "[::1]:8000";
// nullopt when the port is no number up to 65535.
std::optional<Endpoint> split_address(std::string text);

}  // namespace transport

#endif  // TRANSPORT_LISTEN_ADDRESS_H_
