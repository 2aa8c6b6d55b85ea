// The channel-data query: its decision, and its hand-built answer put on the
// wire in pieces.
#include "restfulserver/channel_data_answer.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "restfulserver/request.h"
#include "restfulserver/settings.h"

namespace {

constexpr char kAnswerHead[] = "{\"comDataList\":[";
constexpr char kAnswerTail[] = "], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}";
constexpr char kItemOpen[] = "[\"";
constexpr char kItemClose[] = "\"]";

bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// Whether any byte of `text` needs escaping. Digital texts run to megabytes
// and almost never do, so the bytes are tested in fixed-size runs without a
// branch per byte (the compiler turns a run into a few vector operations).
bool any_needs_escape(const std::string& text) {
  constexpr std::size_t kRun = 64;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t at = 0;
  for (; at + kRun <= size; at += kRun) {
    unsigned char found = 0;
    for (std::size_t k = 0; k < kRun; ++k) {
      const unsigned char c = bytes[at + k];
      found |= static_cast<unsigned char>((c < 0x20) | (c == '"') | (c == '\\'));
    }
    if (found != 0) return true;
  }
  for (; at < size; ++at) {
    if (needs_escape(bytes[at])) return true;
  }
  return false;
}

// The text as a JSON string body. Bytes >= 0x80 pass unchanged, so GBK
// stays GBK, as everywhere else in the answers.
std::string json_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  append_json_escaped(out, text.data(), text.data() + text.size());
  return out;
}

// Moves a value text out of the store into the shared form the answer
// queues. Analog texts are "%.4f" numbers and never need escaping; digital
// texts of ASCII records are copied from the data file as written.
SharedText take_text(std::string&& text, bool is_analog) {
  if (!is_analog && any_needs_escape(text)) {
    return std::make_shared<const std::string>(json_escaped(text));
  }
  return std::make_shared<const std::string>(std::move(text));
}

// "JsonBody Chan%d outStr:[%s]" with the position and the value text, which
// goes from the answer to the file without a copy (the texts hold no NUL: the
// digital ones are escaped).
void log_item(int position, const std::string& text) {
  char head[48];
  const int length = std::snprintf(head, sizeof head, "JsonBody Chan%d outStr:[", position);
  LOG_WRITE_TEXT(LOG_INFO, std::string_view(head, static_cast<std::size_t>(length)), text, "]");
}

void load_data(ComTrade_format& record) {
  // The readers' results are not needed: a failed load leaves the store
  // empty, and the answer then lists nothing.
  switch (record.Get_file_type()) {
    case kFileTypeAscii:
      record.loadAsciiData();
      break;
    // The 32-bit types are BINARY records with wider analog samples, and log
    // the same lines.
    case kFileTypeBinary:
    case kFileTypeBinary32:
    case kFileTypeFloat32:
      LOG_WRITE(LOG_ERROR, "0TimeStamp: %ld-loadBinaryData Start",
                static_cast<long>(platform::now_seconds()));
      record.loadBinaryData();
      LOG_WRITE(LOG_ERROR, "1TimeStamp: %ld-loadBinaryData End",
                static_cast<long>(platform::now_seconds()));
      break;
    default:
      break;
  }
}

}  // namespace

Answer answer_channel_data(const Json::Value& request, const std::string& typeurl) {
  clear_channel_store();
  const auto fail = [&](int result, const char* errorinfo) {
    return Answer::envelope(result, errorinfo, typeurl);
  };
  if (!request.isObject()) return fail(0, kTextBadRequest);

  ChannelRequest asked;
  if (const std::optional<RequestFailure> failed = read_record_names(request, asked)) {
    return fail(failed->result, failed->errorinfo);
  }
  const std::string& groupName = asked.groupName;
  const std::string& fileName = asked.fileName;
  const std::string vol_type = string_member(request, "type", "all");
  LOG_WRITE(LOG_INFO, "GetChannelInfo receive groupName:%s,vol_type:%s, fileName:%s ",
            groupName.c_str(), vol_type.c_str(), fileName.c_str());
  const std::optional<RequestFailure> bad_list =
      read_channel_list(request, asked, [](std::size_t i, const std::string& channel) {
        LOG_WRITE(LOG_INFO, "receive channel_list i:%d channel: %s", static_cast<int>(i + 1), channel.c_str());
      });
  if (bad_list) return fail(bad_list->result, bad_list->errorinfo);
  const std::vector<std::string>& channel_list = asked.channels;

  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();

  // A name that could leave the record root names a record that does not
  // exist: it is answered like one, without touching the file system.
  if (const std::optional<std::string> path = record_path(*file_dir, groupName, fileName)) {
    auto record = std::make_unique<ComTrade_format>(*path);
    if (record->Get_cmtr_cfg_info() == kCfgReadOk) {
      if (record->Select_channels(channel_list, static_cast<int>(channel_list.size())) < 1) {
        return fail(0, kTextChannelNotFound);
      }
      load_data(*record);
    }
  }

  // Each text is moved out of the store once; a name mentioned again reuses
  // it, so the answer never holds two copies of one channel.
  const std::unordered_set<std::string> analog_names(AI_VEC.begin(), AI_VEC.end());
  std::map<std::string, SharedText> taken;
  std::vector<SharedText> parts;
  std::string frame = kAnswerHead;
  for (std::size_t i = 0; i < channel_list.size(); ++i) {
    const std::string& name = channel_list[i];
    SharedText text;
    const auto done = taken.find(name);
    if (done != taken.end()) {
      text = done->second;
    } else {
      const auto found = CHAN_DATA_MAP.find(name);
      if (found == CHAN_DATA_MAP.end()) continue;
      text = take_text(std::move(found->second), analog_names.count(name) > 0);
      CHAN_DATA_MAP.erase(found);
      taken.emplace(name, text);
    }
    log_item(static_cast<int>(i + 1), *text);
    // Frames and texts in turn: the texts go out by pointer, the frames
    // between them are the few bytes that are copied.
    if (!parts.empty()) frame += ',';
    frame += kItemOpen;
    parts.push_back(std::make_shared<const std::string>(std::move(frame)));
    parts.push_back(std::move(text));
    frame = kItemClose;
  }
  frame += kAnswerTail;
  parts.push_back(std::make_shared<const std::string>(std::move(frame)));
  return Answer::text(std::move(parts));
}
