// Command-line front of the record generator: writes one record pair.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comtrade_gen/generator.h"

namespace {

const char kUsage[] =
    "usage: comtrade_gen --out BASE --analog N --digital M --samples S\n"
    "                    [--binary | --format ascii|binary|binary32|float32] [--cff]\n"
    "                    [--seed K] [--rate HZ] [--station NAME]\n"
    "                    [--analog-names a,b,..] [--digital-names a,b,..]\n"
    "Writes BASE.cfg and BASE.dat, or BASE.cff with --cff. Names are taken as\n"
    "bytes (GBK is fine).\n";

// Names are bytes; only the comma separates them, as in the .cfg itself.
std::vector<std::string> split_names(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    names.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

bool parse_format(const std::string& text, comtrade_gen::DataFormat* format) {
  for (auto candidate : {comtrade_gen::DataFormat::kAscii, comtrade_gen::DataFormat::kBinary,
                         comtrade_gen::DataFormat::kBinary32, comtrade_gen::DataFormat::kFloat32}) {
    std::string name = comtrade_gen::format_name(candidate);
    for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (text == name) {
      *format = candidate;
      return true;
    }
  }
  return false;
}

bool parse_int(const char* text, long long low, long long high, long long* value) {
  char* end = nullptr;
  long long parsed = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  comtrade_gen::RecordSpec spec;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--binary") {
      spec.format = comtrade_gen::DataFormat::kBinary;
      continue;
    }
    if (arg == "--cff") {
      spec.combined = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "comtrade_gen: %s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const char* value = argv[++i];
    long long number = 0;
    bool ok = true;
    if (arg == "--out") {
      out = value;
    } else if (arg == "--format") {
      ok = parse_format(value, &spec.format);
    } else if (arg == "--station") {
      spec.station = value;
    } else if (arg == "--analog-names") {
      spec.analog_names = split_names(value);
    } else if (arg == "--digital-names") {
      spec.digital_names = split_names(value);
    } else if (arg == "--analog") {
      ok = parse_int(value, 0, 999999, &number);
      spec.analog_count = static_cast<int>(number);
    } else if (arg == "--digital") {
      ok = parse_int(value, 0, 999999, &number);
      spec.digital_count = static_cast<int>(number);
    } else if (arg == "--samples") {
      ok = parse_int(value, 0, 2000000000, &number);
      spec.samples = static_cast<int>(number);
    } else if (arg == "--rate") {
      ok = parse_int(value, 1, 100000000, &number);
      spec.sample_rate = static_cast<int>(number);
    } else if (arg == "--seed") {
      ok = parse_int(value, 0, 4294967295LL, &number);
      spec.seed = static_cast<std::uint32_t>(number);
    } else {
      std::fprintf(stderr, "comtrade_gen: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "comtrade_gen: bad value for %s: %s\n", arg.c_str(), value);
      return 2;
    }
  }
  if (out.empty()) {
    std::fprintf(stderr, "comtrade_gen: --out is required\n%s", kUsage);
    return 2;
  }
  if (!comtrade_gen::spec_is_valid(spec)) {
    std::fprintf(stderr, "comtrade_gen: more names than channels\n");
    return 2;
  }
  if (!comtrade_gen::write_record(out, spec)) {
    std::fprintf(stderr, "comtrade_gen: cannot write the files of %s\n", out.c_str());
    return 1;
  }
  return 0;
}
