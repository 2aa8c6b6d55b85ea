// Generated records written as files.
#include "support/record_files.h"

#include "support/test_files.h"

namespace e2e {

comtrade_gen::GeneratedRecord write_generated_record(const std::filesystem::path& folder,
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
