// The one pool that unfinished large request bodies of all connections count
// against. Bodies up to kSmallBody are never refused for room; larger ones
// count by the bytes they hold: a client that announces 16 MiB and stalls
// one byte short would otherwise pin 16 MiB per connection, as often as it
// reconnects.
#ifndef TRANSPORT_BODY_POOL_H_
#define TRANSPORT_BODY_POOL_H_

#include <cstdint>

namespace transport {

class BodyPool {
 public:
  static constexpr std::uint64_t kSmallBody = 64 * 1024;
  static constexpr std::uint64_t kDefaultBytes = 64 * 1024 * 1024;

  explicit BodyPool(std::uint64_t bytes = kDefaultBytes) : m_bytes(bytes) {}

  // Counts a body that now holds `bytes`, of which `held` were counted
  // before, and updates `held`; false when a large body does not fit.
  bool hold(std::uint64_t& held, std::uint64_t bytes) {
    if (bytes <= kSmallBody || bytes <= held) return true;
    const std::uint64_t more = bytes - held;
    if (m_used + more > m_bytes) return false;
    m_used += more;
    held = bytes;
    return true;
  }
  // Gives back what a body held; `held` is 0 afterwards.
  void release(std::uint64_t& held) {
    m_used -= held;
    held = 0;
  }

 private:
  std::uint64_t m_bytes;
  std::uint64_t m_used = 0;
};

}  // namespace transport

#endif  // TRANSPORT_BODY_POOL_H_
