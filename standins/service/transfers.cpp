// The transferred records of a site and the pending lines a download lists without them.

#include "standins/service/transfers.h"

#include "platform/base/text.h"

namespace standins::service {
namespace {

// The lines of a text, each with its own line end, so that what is kept goes out byte for byte.
std::vector<std::string_view> LinesWithEnds(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const size_t size = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return lines;
}

std::string_view Content(std::string_view line) {
  return kv::TrimTrailingLineBreaks(line);
}

bool IsExpenseHeader(std::string_view line) {
  return kv::ToUpperAscii(line.substr(0, 3)) == "EXP";
}

// "TA5001" is the time record 5001; the control reads the id from the third character on.
RecordKey TimeKeyOf(std::string_view header) {
  const std::string_view line = Content(header);
  return {kv::ToUpperAscii(line.substr(0, 2)),
          std::string(kv::TrimBlanks(line.substr(std::min<size_t>(2, line.size()))))};
}

RecordKey ItemKeyOf(std::string_view item) {
  const std::string_view line = Content(item);
  return {"EI", std::string(kv::TrimBlanks(line.substr(0, line.find('|'))))};
}

void AddIds(std::vector<RecordKey>& records, std::string_view kind, std::string_view ids) {
  for (const std::string& id : kv::Split(ids, ",")) {
    const std::string_view trimmed = kv::TrimBlanks(id);
    if (!trimmed.empty()) records.emplace_back(std::string(kind), std::string(trimmed));
  }
}

}  // namespace

std::vector<RecordKey> ReportedRecords(std::string_view ta_ids, std::string_view la_ids, std::string_view item_ids) {
  std::vector<RecordKey> records;
  AddIds(records, "TA", ta_ids);
  AddIds(records, "LA", la_ids);
  AddIds(records, "EI", item_ids);
  return records;
}

std::set<RecordKey> ListedRecords(std::string_view pending_time, std::string_view pending_expenses) {
  std::set<RecordKey> listed;
  const std::vector<std::string_view> time = LinesWithEnds(pending_time);
  for (size_t i = 0; i < time.size(); i += 3) listed.insert(TimeKeyOf(time[i]));
  bool in_expense = false;
  for (std::string_view line : LinesWithEnds(pending_expenses)) {
    if (IsExpenseHeader(line)) {
      in_expense = true;
    } else if (in_expense && !Content(line).empty()) {
      listed.insert(ItemKeyOf(line));
    }
  }
  return listed;
}

std::string PendingTimeLines(std::string_view text, const std::set<RecordKey>& transferred) {
  const std::vector<std::string_view> lines = LinesWithEnds(text);
  std::string out;
  for (size_t i = 0; i < lines.size(); i += 3) {
    // A short last record is no whole record of the service's: it goes out as it is.
    if (i + 3 <= lines.size() && transferred.contains(TimeKeyOf(lines[i]))) continue;
    for (size_t j = i; j < std::min(i + 3, lines.size()); ++j) out += lines[j];
  }
  return out;
}

std::string PendingExpenseLines(std::string_view text, const std::set<RecordKey>& transferred) {
  std::string out;
  std::string_view header;
  std::string items;
  bool any_item = false;   // the current expense had item lines at all
  bool kept_item = false;  // and one of them is still pending
  const auto flush = [&] {
    if (!header.empty() && (!any_item || kept_item)) out.append(header).append(items);
    header = {};
    items.clear();
    any_item = kept_item = false;
  };
  for (std::string_view line : LinesWithEnds(text)) {
    if (IsExpenseHeader(line)) {
      flush();
      header = line;
    } else if (header.empty()) {
      out += line;
    } else if (Content(line).empty()) {
      items += line;
    } else {
      any_item = true;
      if (transferred.contains(ItemKeyOf(line))) continue;
      kept_item = true;
      items += line;
    }
  }
  flush();
  return out;
}

std::string CanonicalSite(std::string_view code) {
  return kv::ToUpperAscii(kv::TrimBlanks(code));
}

std::set<RecordKey> TransferredOf(std::string_view file_text, std::string_view site) {
  std::set<RecordKey> records;
  for (std::string_view line : LinesWithEnds(file_text)) {
    const std::vector<std::string> fields = kv::Split(Content(line), "\t");
    if (fields.size() == 3 && fields[0] == site) records.emplace(fields[1], fields[2]);
  }
  return records;
}

std::string WithTransferred(std::string_view file_text, std::string_view site, const std::vector<RecordKey>& records) {
  std::string out(file_text);
  if (!out.empty() && out.back() != '\n') out += '\n';
  std::set<RecordKey> known = TransferredOf(file_text, site);
  for (const RecordKey& record : records) {
    if (!known.insert(record).second) continue;
    out.append(site).append("\t").append(record.first).append("\t").append(record.second).append("\n");
  }
  return out;
}

}  // namespace standins::service
