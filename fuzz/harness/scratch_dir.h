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
// write_file, or an abort naming the file: the harness cannot run without it.
void write_or_die(const std::string& path, const std::string& text);

// The low `bytes` bytes of `value`, least significant first, as records
// store their numbers.
std::string little_endian(long value, int bytes);

}  // namespace fuzz_harness

#endif  // FUZZ_HARNESS_SCRATCH_DIR_H_
