// Records in the forms real stores hold, through the real binary: hundreds of
// channels of a kind, counts no file could hold, and every public sample
// record beside the project (FLOAT32 values checked against Python's own
// decoding).
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "comtrade_gen/generator.h"
#include "expected_answers.h"
#include "support/e2e_support.h"
#include "support/record_files.h"
#include "support/record_root_test.h"
#include "support/sample_records.h"
#include "support/json_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

Json::Value parse(const std::string& text) { return e2e::parse_json(text); }

// `name` as a JSON string, its bytes >= 0x80 as they are.
std::string json_string(const std::string& name) {
  std::string text = "\"";
  for (const char c : name) {
    if (c == '"' || c == '\\') text += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
      text += escape;
      continue;
    }
    text += c;
  }
  return text + "\"";
}

std::string name_list(const std::vector<std::string>& names) {
  std::string list = "[";
  for (std::size_t i = 0; i < names.size(); ++i) list += (i ? "," : "") + json_string(names[i]);
  return list + "]";
}

// The data type of a configuration text: the line that names one (upper
// case, blanks trimmed), "" when none does.
std::string file_type_of(const std::string& cfg) {
  std::istringstream in(cfg);
  for (std::string line; std::getline(in, line);) {
    std::string word;
    for (const char c : line) {
      if (c != ' ' && c != '\t' && c != '\r') word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (word == "ASCII" || word == "BINARY" || word == "BINARY32" || word == "FLOAT32") return word;
  }
  return "";
}

std::size_t values_in(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')) + 1;
}

class RecordFormsTest : public e2e::RecordRootTest {
 protected:
  Json::Value ask(const std::string& uri, const std::string& body) {
    const e2e::HttpClient::ChunkedReply reply = e2e::RecordRootTest::ask(uri, body);
    EXPECT_TRUE(reply.complete) << uri << " " << body.substr(0, 200);
    return parse(reply.body);
  }
  std::string record_body(const std::string& group, const std::string& file) {
    return "{\"groupName\":" + json_string(group) + ",\"fileName\":" + json_string(file);
  }
};

TEST_F(RecordFormsTest, ListsAndReadsBackSixHundredChannelsOfEachKind) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 600;
  spec.digital_count = 600;
  spec.samples = 40;
  spec.format = comtrade_gen::DataFormat::kBinary32;
  const comtrade_gen::GeneratedRecord record =
      e2e::write_generated_record(m_records.path() / "S", "wide", spec);

  const Json::Value info = ask("/getChannelInfo", record_body("S", "wide") + "}");
  ASSERT_EQ(200, info["result"].asInt());
  ASSERT_EQ(600u, info["aiList"].size());
  ASSERT_EQ(600u, info["diList"].size());
  std::vector<std::string> names;
  for (const Json::Value& analog : info["aiList"]) names.push_back(analog["name"].asString());
  for (const Json::Value& digital : info["diList"]) names.push_back(digital.asString());
  EXPECT_EQ("U600", names[599]);
  EXPECT_EQ("D600", names.back());

  std::vector<std::string> texts;
  for (int i = 0; i < 600; ++i) texts.push_back(expected::analog_text(record, 600, i));
  for (int j = 0; j < 600; ++j) texts.push_back(expected::digital_text(record, 600, j));
  const e2e::HttpClient::ChunkedReply data = e2e::ask(
      m_service.port(),
      e2e::post("/getFileInfo", record_body("S", "wide") + ",\"channelList\":" + name_list(names) + "}"));
  EXPECT_TRUE(data.body == expected::channel_data(texts)) << data.body.substr(0, 300);
}

// A count no file could hold reserves nothing: the three channel lines there
// are make the answer, at once.
TEST_F(RecordFormsTest, AnswersARecordAnnouncingTwoBillionChannelsAtOnce) {
  e2e::write_file(m_records.path() / "S" / "huge.cfg",
                  "S,R,2013\n4000000000,2000000000A,2000000000D\n"
                  "1,Ia,,,A,1,0,0,-1,1,1,1,S\n2,Ib,,,A,1,0,0,-1,1,1,1,S\n3,Ic,,,A,1,0,0,-1,1,1,1,S\n");
  const auto start = std::chrono::steady_clock::now();
  const Json::Value info = ask("/getChannelInfo", record_body("S", "huge") + "}");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(200, info["result"].asInt());
  EXPECT_EQ(3u, info["aiList"].size());
  EXPECT_EQ(Json::Value(0), info["diList"]);
}

// The values Python's struct module decodes from the FLOAT32 .cff sample, one
// "%.4f" text per analog channel: the reference for the service's decoding.
const char kFloat32Reference[] = R"PY(
import struct, sys
data = open(sys.argv[1], 'rb').read()
def section(name):
    at = data.find(b'file type: ' + name)
    return data.index(b'\n', at) + 1
cfg = data[section(b'CFG'):].split(b'\n')
counts = cfg[1].split(b',')
analogs = int(counts[1].strip().rstrip(b'A'))
digitals = int(counts[2].strip().rstrip(b'\rD'))
factors = [(float(line.split(b',')[5]), float(line.split(b',')[6])) for line in cfg[2:2 + analogs]]
head = data[data.find(b'file type: DAT'):]
length = int(head[:head.index(b'\n')].split(b':')[-1].strip(b' -\r'))
start = section(b'DAT')
size = 8 + 4 * analogs + 2 * ((digitals + 15) // 16)
for i, (a, b) in enumerate(factors):
    values = []
    for at in range(start, start + length - size + 1, size):
        value = struct.unpack_from('<f', data, at + 8 + 4 * i)[0]
        values.append('%.4f' % (value * a + b))
    print(','.join(values))
)PY";

std::vector<std::string> python_float32_values(const std::string& cff) {
  const e2e::TempDir scratch;
  e2e::write_file(scratch.path() / "reference.py", kFloat32Reference);
  const std::string command = "python3 '" + (scratch.path() / "reference.py").string() + "' '" + cff + "'";
  std::vector<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every public sample whose data is present is listed, has its header, and
// gives one value per sample for every channel.
TEST_F(RecordFormsTest, AnswersEveryPublicSampleRecord) {
  if (!fs::is_directory(COMTRADE_SAMPLES_DIR)) GTEST_SKIP() << "no sample records here";
  const std::vector<samples::Sample> found = samples::samples_with_data(COMTRADE_SAMPLES_DIR);
  ASSERT_FALSE(found.empty());
  // One station per sample folder, the files copied as they are.
  std::map<std::string, std::string> stations;
  for (const samples::Sample& sample : found) {
    const std::string folder = fs::path(sample.base).parent_path().string();
    if (stations.count(folder) == 0) stations[folder] = "S" + std::to_string(stations.size());
    const fs::path station = m_records.path() / stations[folder];
    fs::create_directories(station);
    for (const fs::path& file : {fs::path(sample.dat), fs::path(platform::resolve_case_insensitive(sample.base + ".cfg"))}) {
      if (fs::exists(file)) fs::copy_file(file, station / file.filename(), fs::copy_options::skip_existing);
    }
  }
  int float32_checked = 0;
  for (const samples::Sample& sample : found) {
    const std::string group = stations[fs::path(sample.base).parent_path().string()];
    const std::string name = fs::path(sample.base).filename().string();
    SCOPED_TRACE(sample.base);
    const bool combined = sample.dat.size() > 4 && sample.dat.compare(sample.dat.size() - 4, 4, ".cff") == 0;

    const Json::Value list = ask("/getFileName_list", "{\"groupName\":\"" + group + "\"}");
    std::set<std::string> listed;
    for (const Json::Value& entry : list["fileName_list"]) listed.insert(entry.asString());
    EXPECT_EQ(1u, listed.count(name));

    const Json::Value info = ask("/getChannelInfo", record_body(group, name) + "}");
    ASSERT_EQ(200, info["result"].asInt());
    std::vector<std::string> analogs, digitals;
    for (const Json::Value& analog : info["aiList"]) analogs.push_back(analog["name"].asString());
    for (const Json::Value& digital : info["diList"]) digitals.push_back(digital.asString());

    const std::string cfg_text =
        e2e::read_file(combined ? sample.dat : platform::resolve_case_insensitive(sample.base + ".cfg")).value_or("");
    const std::string type = file_type_of(cfg_text);
    const bool ascii = type == "ASCII";
    // How many samples the data holds, from the files alone.
    long long present = 0;
    if (ascii) {
      present = samples::ascii_sample_lines(sample.dat, combined);
    } else {
      const long long width = type == "BINARY" ? 2 : 4;
      const long long words = (static_cast<long long>(digitals.size()) + 15) / 16;
      present = samples::binary_data_bytes(sample, combined) /
                (8 + width * static_cast<long long>(analogs.size()) + 2 * words);
    }
    std::vector<std::string> names = analogs;
    names.insert(names.end(), digitals.begin(), digitals.end());
    const Json::Value data = ask("/getFileInfo", record_body(group, name) + ",\"channelList\":" + name_list(names) + "}");
    ASSERT_EQ(200, data["result"].asInt());
    const Json::Value& items = data["comDataList"];
    ASSERT_EQ(names.size(), items.size());
    const std::size_t expected = static_cast<std::size_t>(std::min<long long>(info["samp_count"].asInt(), present));
    ASSERT_GT(expected, 0u) << type;
    for (std::size_t k = 0; k < names.size(); ++k) {
      // The last status field of an ASCII line runs to the line end, and an
      // ASCII status may be empty: only the analog counts are sure there.
      if (k >= analogs.size() && ascii) continue;
      EXPECT_EQ(expected, values_in(items[static_cast<Json::ArrayIndex>(k)][0].asString())) << names[k];
    }
    if (combined && cfg_text.find("float32") != std::string::npos) {
      const std::vector<std::string> reference = python_float32_values(sample.dat);
      ASSERT_EQ(analogs.size(), reference.size());
      for (std::size_t k = 0; k < analogs.size(); ++k) {
        EXPECT_EQ(reference[k], items[static_cast<Json::ArrayIndex>(k)][0].asString()) << analogs[k];
      }
      ++float32_checked;
    }
  }
  EXPECT_EQ(1, float32_checked);
}

}  // namespace
