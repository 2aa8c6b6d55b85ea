// Files the fuzz harnesses hand to the code under test. Every execution
// rewrites the same few small files, so they live on a tmpfs when there is
// one and the directory goes away when the process ends.
#ifndef FUZZ_HARNESS_SCRATCH_DIR_H_
#define FUZZ_HARNESS_SCRATCH_DIR_H_

#include <cstddef>
#include <string>

namespace fuzz_harness {

// A directory private to this process, made on first use (under /dev/shm when
// it is writable, else the system temporary directory) and removed at exit.
const std::string& scratch_dir();

// Replaces the file at `path` with `size` bytes from `data`. False when it
// cannot be written.
bool write_file(const std::string& path, const void* data, std::size_t size);
bool write_file(const std::string& path, const std::string& text);

}  // namespace fuzz_harness

#endif  // FUZZ_HARNESS_SCRATCH_DIR_H_
