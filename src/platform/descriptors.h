// How many file descriptors the process may still open. Every connection
// holds one and every request opens its record files, so the service counts
// them at start instead of finding out when a request fails.
#ifndef PLATFORM_DESCRIPTORS_H_
#define PLATFORM_DESCRIPTORS_H_

#include <cstddef>

namespace platform {

struct DescriptorRoom {
  std::size_t limit;  // the most the process may hold open
  std::size_t free;   // how many more it may open now
};

// Raises the process's soft limit on open descriptors to its hard limit (a
// service with many clients wants all it is allowed), then counts. Call
// once, at start, before anything else opens a file.
DescriptorRoom make_room_for_descriptors();

// The descriptors the process may still open now; 0 when even the count
// cannot be made for want of one.
DescriptorRoom descriptor_room();

}  // namespace platform

#endif  // PLATFORM_DESCRIPTORS_H_
