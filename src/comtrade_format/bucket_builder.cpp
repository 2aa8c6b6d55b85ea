// Opening and closing a set of buckets.
#include "comtrade_format/bucket_builder.h"

#include <algorithm>

namespace comtrade_detail {

BucketBuilder::BucketBuilder(Buckets& out, std::size_t channels, std::int64_t step)
    : m_out(out), m_step(std::max<std::int64_t>(step, 1)) {
  m_out = Buckets();
  m_out.channels.resize(channels);
}

void BucketBuilder::finish() {
  const std::size_t count = static_cast<std::size_t>((m_out.samples + m_step - 1) / m_step);
  for (Buckets::Channel& channel : m_out.channels) {
    channel.min.resize(count, kNaN);
    channel.max.resize(count, kNaN);
  }
}

}  // namespace comtrade_detail
