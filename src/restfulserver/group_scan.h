// The group listing: the subdirectories of the fixed group directory.
#ifndef RESTFULSERVER_GROUP_SCAN_H_
#define RESTFULSERVER_GROUP_SCAN_H_

#include <cstddef>
#include <string>

// The fixed group directory, relative to the working directory on POSIX.
extern const char kGroupDir[];  // "D:/mirel/tools/files/comTradeFiles/test"

// The size of DIR_VEC, the list of every group name any listing found: it
// only grows and nothing reads its entries, so only the count is kept, which
// keeps memory flat however often the groups are listed. Single I/O thread
// only.
extern std::size_t g_dir_vec_size;

// Counts the subdirectories of `dir` into g_dir_vec_size, printing the name, a
// tab and "<dir>" for each and then "DIR_VEC.size: <n>". Prints nothing when
// `dir` cannot be read.
void scan_group_dirs(const std::string& dir);

#endif  // RESTFULSERVER_GROUP_SCAN_H_
