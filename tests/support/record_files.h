// Generated records put into a test's folder, the way a record store holds
// them.
#ifndef TESTS_SUPPORT_RECORD_FILES_H_
#define TESTS_SUPPORT_RECORD_FILES_H_

#include <filesystem>
#include <string>

#include "comtrade_gen/generator.h"
#include "support/test_files.h"

namespace e2e {

// Generates the record of `spec` and writes <folder>/<name>.cfg and .dat (or
// <name>.cff for a combined spec), creating missing folders. Returns what
// was written, for the expected answers.
inline comtrade_gen::GeneratedRecord write_generated_record(const std::filesystem::path& folder,
                                                            const std::string& name,
                                                            const comtrade_gen::RecordSpec& spec) {
  comtrade_gen::GeneratedRecord record = comtrade_gen::generate(spec);
  if (spec.combined) {
    write_file(folder / (name + ".cff"), record.cff);
  } else {
    write_record_files(folder, name, record.cfg, record.dat);
  }
  return record;
}

}  // namespace e2e

#endif  // TESTS_SUPPORT_RECORD_FILES_H_
