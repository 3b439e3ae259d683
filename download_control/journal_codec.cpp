// The posting journal's one writer and one reader of its record format.

#include "download_control/journal_codec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <optional>

namespace tessarine {
namespace {

constexpr std::string_view kMagic = "tessarine-journal";
constexpr std::string_view kFormat = "3";

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

// A word never holds a blank, a control character or a "%", and an empty value is "-", so that splitting at
// blanks gives every field back.
std::string Escape(std::string_view value) {
  if (value.empty()) return "-";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '%' || (c == '-' && value.size() == 1)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view word) {
  if (word == "-") return std::string();
  std::string out;
  out.reserve(word.size());
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      out += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return std::nullopt;
    const int high = HexValue(word[i + 1]);
    const int low = HexValue(word[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string Frame(const std::vector<std::string>& words) {
  std::string payload;
  for (const std::string& word : words) {
    if (!payload.empty()) payload += ' ';
    payload += word;
  }
  char prefix[32];
  const int n =
      std::snprintf(prefix, sizeof prefix, "%08x %zu ", static_cast<unsigned>(Crc32(payload)), payload.size());
  std::string line(prefix, static_cast<size_t>(n));
  line += payload;
  line += '\n';
  return line;
}

template <typename Number>
bool ParseNumber(std::string_view word, Number& value) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc() && end == word.data() + word.size() && !word.empty();
}

template <typename Number>
Number NumberOr(std::string_view word, Number fallback) {
  Number value{};
  return ParseNumber(word, value) ? value : fallback;
}

std::vector<std::string_view> Split(std::string_view payload) {
  std::vector<std::string_view> words;
  while (!payload.empty()) {
    const size_t blank = std::min(payload.find(' '), payload.size());
    words.push_back(payload.substr(0, blank));
    payload.remove_prefix(std::min(blank + 1, payload.size()));
  }
  return words;
}

// The payload of a line whose length and checksum hold, else why not.
std::optional<std::string_view> Payload(std::string_view line, std::string& why) {
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  uint32_t crc = 0;
  size_t length = 0;
  const bool framed = first == 8 && second != std::string_view::npos &&
                      line.substr(0, 8).find_first_not_of("0123456789abcdef") == std::string_view::npos &&
                      std::from_chars(line.data(), line.data() + 8, crc, 16).ec == std::errc() &&
                      ParseNumber(line.substr(first + 1, second - first - 1), length);
  if (!framed) {
    why = "is not a journal record";
    return std::nullopt;
  }
  const std::string_view payload = line.substr(second + 1);
  if (payload.size() != length) {
    why = "has the wrong length";
    return std::nullopt;
  }
  if (Crc32(payload) != crc) {
    why = "fails its checksum";
    return std::nullopt;
  }
  return payload;
}

}  // namespace

uint32_t Crc32(std::string_view data) {
  uint32_t c = 0xFFFFFFFFu;
  for (const char ch : data) c = kCrcTable[(c ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string HeaderRecord(const JournalHeader& header) {
  return Frame({std::string(kMagic), std::string(kFormat), std::to_string(header.created),
                std::to_string(header.next_sequence), std::to_string(header.last_message_set)});
}

std::string NoteRecord(const JournalEntry& entry) {
  return Frame({"note", std::to_string(entry.noted_at), std::to_string(entry.sequence), Escape(entry.site),
                std::string(RecordTypeCode(entry.type)), Escape(entry.record_id), Escape(entry.item_ids),
                Escape(entry.message_set_id), Escape(entry.request)});
}

std::string AnswerRecord(int64_t time, uint64_t sequence, std::string_view answer) {
  return Frame({"answer", std::to_string(time), std::to_string(sequence), Escape(answer)});
}

std::string ReportedRecord(int64_t time, uint64_t sequence) {
  return Frame({"reported", std::to_string(time), std::to_string(sequence)});
}

std::string StillListedRecord(int64_t time, uint64_t sequence) {
  return Frame({"listed", std::to_string(time), std::to_string(sequence)});
}

std::string RemovedRecord(int64_t time, uint64_t sequence) {
  return Frame({"removed", std::to_string(time), std::to_string(sequence)});
}

std::string SuspectRecord(const SuspectMark& mark) {
  return Frame({"suspect", std::to_string(mark.set_at), std::to_string(mark.sequence), std::to_string(mark.since)});
}

std::string EntryRecords(const JournalEntry& entry) {
  std::string records = NoteRecord(entry);
  // The answer's time is not kept apart from the note's; the report's is what ages the entry.
  if (entry.state != JournalEntry::State::kSent) records += AnswerRecord(entry.noted_at, entry.sequence, entry.answer);
  if (entry.state == JournalEntry::State::kReported) records += ReportedRecord(entry.reported_at, entry.sequence);
  if (entry.listed_at != 0) records += StillListedRecord(entry.listed_at, entry.sequence);
  return records;
}

namespace {

// Applies one whole record; false when its words do not make a record of its kind.
bool Apply(JournalImage& image, const std::vector<std::string_view>& words, bool first, std::string& why) {
  if (first && !words.empty() && words[0] == kMagic) {
    JournalHeader header;
    if (words.size() != 5 || words[1] != kFormat || !ParseNumber(words[2], header.created) ||
        !ParseNumber(words[3], header.next_sequence) || !ParseNumber(words[4], header.last_message_set)) {
      why = "is a header of another format";
      return false;
    }
    image.has_header = true;
    image.header = header;
    return true;
  }
  int64_t time = 0;
  uint64_t sequence = 0;
  why = "is not a journal record";
  if (words.size() < 3 || !ParseNumber(words[1], time) || !ParseNumber(words[2], sequence)) return false;
  const std::string_view kind = words[0];
  if (kind == "note") {
    if (words.size() != 9) return false;
    JournalEntry entry;
    entry.noted_at = time;
    entry.sequence = sequence;
    const auto type = RecordTypeFromCode(words[4]);
    auto site = Unescape(words[3]);
    auto record_id = Unescape(words[5]);
    auto item_ids = Unescape(words[6]);
    auto message_set = Unescape(words[7]);
    auto request = Unescape(words[8]);
    if (!type || !site || !record_id || !item_ids || !message_set || !request) return false;
    entry.type = *type;
    entry.site = std::move(*site);
    entry.record_id = std::move(*record_id);
    entry.item_ids = std::move(*item_ids);
    entry.message_set_id = std::move(*message_set);
    entry.request = std::move(*request);
    if (!entry.message_set_id.empty()) image.last_message_set = std::max(image.last_message_set, entry.sequence);
    image.entries.push_back(std::move(entry));
    return true;
  }
  if (kind == "suspect") {
    int64_t since = 0;
    if (words.size() != 4 || !ParseNumber(words[3], since)) return false;
    image.marks.push_back({sequence, time, since});
    return true;
  }
  const auto found = std::find_if(image.entries.begin(), image.entries.end(),
                                  [&](const JournalEntry& e) { return e.sequence == sequence; });
  if (kind == "answer" || kind == "reported" || kind == "listed" || kind == "removed") {
    if ((kind == "answer") != (words.size() == 4) || (kind != "answer" && words.size() != 3)) return false;
    if (found == image.entries.end()) {
      why = "names an entry no note before it holds";
      return false;
    }
    if (kind == "answer") {
      auto answer = Unescape(words[3]);
      if (!answer) return false;
      found->answer = std::move(*answer);
      if (found->state == JournalEntry::State::kSent) found->state = JournalEntry::State::kAnswered;
    } else if (kind == "reported") {
      found->state = JournalEntry::State::kReported;
      found->reported_at = time;
    } else if (kind == "listed") {
      found->listed_at = std::max(found->listed_at, time);
    } else {
      image.entries.erase(found);
    }
    return true;
  }
  return false;
}

}  // namespace

namespace {

// Reads the line as one record into the image; false, with why, when it is none.
bool TryRecord(JournalImage& image, std::string_view line, bool first, int64_t& last_time, std::string& why) {
  const auto payload = Payload(line, why);
  if (!payload) return false;
  const std::vector<std::string_view> words = Split(*payload);
  if (words.empty() || !Apply(image, words, first, why)) return false;
  ++image.records;
  if (words[0] == kMagic) {
    last_time = image.header.created;
  } else {
    image.max_sequence = std::max(image.max_sequence, NumberOr<uint64_t>(words[2], 0));
    last_time = std::max(last_time, NumberOr<int64_t>(words[1], 0));
  }
  return true;
}

// Where a damaged line holds the start of a whole record after its damage (a record cut short and glued to the
// next one), that record is read.
bool TryRecordInside(JournalImage& image, std::string_view line, int64_t& last_time) {
  for (size_t at = 1; at + 10 < line.size(); ++at) {
    if (line[at + 8] != ' ' || line.substr(at, 8).find_first_not_of("0123456789abcdef") != std::string_view::npos) {
      continue;
    }
    std::string why;
    if (TryRecord(image, line.substr(at), false, last_time, why)) return true;
  }
  return false;
}

}  // namespace

JournalImage ReadJournalImage(std::string_view content) {
  JournalImage image;
  if (content.empty()) {
    image.damage.push_back({"the file is empty", 0});
    return image;
  }
  int64_t last_time = 0;
  size_t number = 0;
  while (!content.empty()) {
    ++number;
    const size_t end = content.find('\n');
    const std::string record = "record " + std::to_string(number);
    if (end == std::string_view::npos) {
      // Never acted on: the note of an add is whole, line end and all, before the add goes out.
      if (number == 1) image.damage.push_back({"the header is missing", 0});
      image.damage.push_back({"the file ends inside a record", last_time});
      break;
    }
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end + 1);
    const int64_t time_before = last_time;
    // A line end changed to CR LF is said, though the record is still read.
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.remove_suffix(1);
    std::string why;
    const bool read = TryRecord(image, line, number == 1, last_time, why);
    if (number == 1 && !image.has_header) image.damage.push_back({"the header is missing", 0});
    if (!read) {
      image.damage.push_back({record + " " + why, time_before});
      TryRecordInside(image, line, last_time);
    } else if (crlf) {
      image.damage.push_back({record + " ends in CR LF", time_before});
    }
  }
  return image;
}

}  // namespace tessarine
