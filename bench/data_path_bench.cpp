// Speed of the data path: generates large records in each data format
// (ASCII, BINARY, BINARY32, FLOAT32), then times a plain read of each .dat
// beside the readers loading a few channels and all channels. Prints
// figures; checks nothing.
//
//   data_path_bench [--record SAMPLES,ANALOG,DIGITAL]... [--runs N] [--keep]
//
// Without --record: 1000000,8,16 and 200000,64,128.
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "comtrade_gen/generator.h"
#include "platform/platform.h"

namespace {

struct RecordSize {
  int samples;
  int analog_count;
  int digital_count;
};

struct Options {
  std::vector<RecordSize> records;
  int runs = 3;
  bool keep = false;
};

bool parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--record" && i + 1 < argc) {
      RecordSize size{};
      if (std::sscanf(argv[++i], "%d,%d,%d", &size.samples, &size.analog_count,
                      &size.digital_count) != 3 ||
          size.samples < 1 || size.analog_count < 0 || size.digital_count < 0 ||
          size.analog_count > 999999 || size.digital_count > 999999) {
        return false;
      }
      options.records.push_back(size);
    } else if (arg == "--runs" && i + 1 < argc) {
      options.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      return false;
    }
  }
  if (options.records.empty()) options.records = {{1000000, 8, 16}, {200000, 64, 128}};
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU time of each timed action, beside its wall time: on a busy machine
// the wall time also holds the waits for a core.
std::vector<double> g_cpu_times;

template <typename Action>
double seconds_of(Action action) {
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  action();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  g_cpu_times.push_back(cpu_seconds() - cpu_start);
  return wall;
}

// The floor any reader has to beat: the file's bytes read and dropped, as
// `cat FILE > /dev/null` does.
void read_whole_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  std::vector<char> buffer(4 * 1024 * 1024);
  while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
  }
  std::fclose(file);
}

// Silences the readers' diagnostics while they are timed.
class QuietCout {
 public:
  QuietCout() : m_saved(std::cout.rdbuf(m_sink.rdbuf())) {}
  ~QuietCout() { std::cout.rdbuf(m_saved); }

 private:
  std::ostringstream m_sink;
  std::streambuf* m_saved;
};

// One load of `base` with `names` selected; returns the values produced.
long long load_once(const std::string& base, const std::vector<std::string>& names) {
  QuietCout quiet;
  ComTrade_format record(base);
  if (record.Get_cmtr_cfg_info() != kCfgReadOk) return -1;
  record.Select_channels(names, static_cast<int>(names.size()));
  if (record.Get_file_type() == kFileTypeAscii) {
    record.loadAsciiData();
  } else {
    record.loadBinaryData();
  }
  long long values = 0;
  for (const auto& entry : CHAN_DATA_MAP) {
    values += static_cast<long long>(std::count(entry.second.begin(), entry.second.end(), ',')) + 1;
  }
  return values;
}

void bench_record(const std::string& dir, const RecordSize& size, comtrade_gen::DataFormat format,
                  int runs, bool keep) {
  comtrade_gen::RecordSpec spec;
  spec.samples = size.samples;
  spec.analog_count = size.analog_count;
  spec.digital_count = size.digital_count;
  spec.format = format;
  const char* format_name = comtrade_gen::format_name(format);
  const std::string base = platform::join_path(
      dir, std::string(format_name) + "_" + std::to_string(size.samples) + "_" +
               std::to_string(size.analog_count) + "_" + std::to_string(size.digital_count));
  if (!comtrade_gen::write_record(base, spec)) {
    std::cerr << "cannot write " << base << '\n';
    return;
  }
  const std::string dat = base + ".dat";
  const double megabytes = static_cast<double>(platform::file_size(dat).value_or(0)) / 1e6;

  std::vector<double> times;
  for (int r = 0; r < runs; ++r) times.push_back(seconds_of([&] { read_whole_file(dat); }));
  std::printf("%-8s %8d samples, %3d A + %3d D, %8.1f MB: plain read %8.1f MB/s\n",
              format_name, size.samples, size.analog_count, size.digital_count,
              megabytes, megabytes / median(times));

  std::vector<std::string> few, all;
  for (int i = 0; i < size.analog_count; ++i) {
    const std::string name = "U" + std::to_string(i + 1);
    all.push_back(name);
    if (i < 4) few.push_back(name);
  }
  for (int j = 0; j < size.digital_count; ++j) {
    const std::string name = "D" + std::to_string(j + 1);
    all.push_back(name);
    if (j < 2) few.push_back(name);
  }
  const struct {
    const char* label;
    const std::vector<std::string>& names;
  } selections[] = {{"4 A + 2 D", few}, {"all", all}};
  for (const auto& selection : selections) {
    long long values = 0;
    times.clear();
    g_cpu_times.clear();
    for (int r = 0; r < runs; ++r) {
      times.push_back(seconds_of([&] { values = load_once(base, selection.names); }));
    }
    const double seconds = median(times);
    std::printf("         load %-10s %8.3f s (cpu %.3f s)  %8.1f MB/s  %8.1f M values/s  (%lld values)\n",
                selection.label, seconds, median(g_cpu_times), megabytes / seconds,
                values / seconds / 1e6, values);
  }
  clear_channel_store();
  std::fflush(stdout);
  if (keep) return;
  // Large records go at once, so the next one has the disk cache to itself.
  std::error_code ignored;
  std::filesystem::remove(base + ".cfg", ignored);
  std::filesystem::remove(dat, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  // The service's allocator settings (src/main/main.cpp), so that the loads
  // measured here reuse memory as the service's do.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  Options options;
  if (!parse_options(argc, argv, options)) {
    std::cerr << "usage: data_path_bench [--record SAMPLES,ANALOG,DIGITAL]... [--runs N] [--keep]\n";
    return 2;
  }
  std::string pattern =
      (std::filesystem::temp_directory_path() / "comtrade_bench_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "cannot create a temporary folder\n";
    return 1;
  }
  std::printf("median of %d runs; load = .cfg read, selection and .dat read into the store\n",
              options.runs);
  for (const RecordSize& size : options.records) {
    for (const auto format : {comtrade_gen::DataFormat::kAscii, comtrade_gen::DataFormat::kBinary,
                              comtrade_gen::DataFormat::kBinary32, comtrade_gen::DataFormat::kFloat32}) {
      bench_record(pattern, size, format, options.runs, options.keep);
    }
  }
  if (options.keep) {
    std::printf("records kept in %s\n", pattern.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
  }
  return 0;
}
