// The group listing: the subdirectories of the fixed group directory.
#ifndef RESTFULSERVER_GROUP_SCAN_H_
#define RESTFULSERVER_GROUP_SCAN_H_

#include <string>
#include <vector>

// The fixed group directory, relative to the working directory on POSIX.
extern const char kGroupDir[];  // "D:/mirel/tools/files/comTradeFiles/test"

// Every name any group listing found; only grows. Single I/O thread only.
extern std::vector<std::string> DIR_VEC;

// Appends the subdirectory names of `dir` to DIR_VEC, printing
// "<name>\t<dir>" for each and then "DIR_VEC.size: <n>". Prints nothing when
// `dir` cannot be read.
void scan_group_dirs(const std::string& dir);

#endif  // RESTFULSERVER_GROUP_SCAN_H_
