// Which transactions a time-tracking, bill or check query asks for: a list of TxnIDs, or the date ranges, the
// entity filter and MaxReturned, all of which must hold.

#include <charconv>
#include <ctime>
#include <map>

#include "platform/base/text.h"
#include "standins/quickbooks/handlers.h"

namespace standins::quickbooks {

namespace {

// The lists whose records a transaction's entity can be.
const std::vector<std::string> kEntityKinds = {"EmployeeRet", "VendorRet", "CustomerRet", "OtherNameRet"};

std::string_view EntityRefOf(std::string_view recordKind) {
  if (recordKind == "BillRet") return "VendorRef";
  if (recordKind == "CheckRet") return "PayeeEntityRef";
  return "EntityRef";
}

std::string Trimmed(std::string_view text) {
  return std::string(kv::TrimXmlSpace(text));
}

struct Ref {
  std::string listID;
  std::string fullName;
};

// A reference child of a record; the company file keeps its markup, read here as any XML is read.
Ref ReadRef(const Record& record, std::string_view element) {
  std::optional<std::string_view> markup = FieldText(record, element);
  if (!markup) return {};
  const std::string wrapped = "<r><x>" + std::string(*markup) + "</x></r>";
  platform::xml::ChildPlaces places(wrapped, {"ListID", "FullName"});
  if (!places.parsed() || places.children().size() != 1) return {};
  const platform::xml::ChildPlaces::Child& child = places.children()[0];
  Ref ref;
  for (uint32_t i = 0; i < child.fieldsCount; ++i) {
    const platform::xml::ChildPlaces::Field& field = places.fields()[child.fieldsBegin + i];
    (field.name == 0 ? ref.listID : ref.fullName) = Trimmed(std::string(places.Text(child, field)));
  }
  return ref;
}

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + count, value);
  return ec == std::errc() && end == text.data() + at + count && text[at] != '-' && text[at] != '+';
}

// A qbXML date, "YYYY-MM-DD", of a day the calendar has.
bool ReadDate(std::string_view text, tm& date) {
  int year = 0, month = 0, day = 0;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-' || !Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) ||
      !Digits(text, 8, 2, day) || month < 1 || month > 12 || day < 1) {
    return false;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  date = tm{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  return true;
}

bool IsDate(std::string_view text) {
  tm date{};
  return text.size() == 10 && ReadDate(text, date);
}

// A qbXML date-time as seconds since the epoch: "YYYY-MM-DDTHH:MM:SS" with an offset ("-05:00", "Z") or in local
// time without one; a date alone is the first second of that day, or its last one for the end of a range.
std::optional<int64_t> ReadDateTime(std::string_view text, bool endOfDay) {
  tm when{};
  if (!ReadDate(text, when)) return std::nullopt;
  if (text.size() == 10) {
    if (endOfDay) {
      when.tm_hour = 23;
      when.tm_min = 59;
      when.tm_sec = 59;
    }
    when.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&when));
  }
  int hour = 0, minute = 0, second = 0;
  if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':' || !Digits(text, 11, 2, hour) ||
      !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  std::string_view zone = text.substr(19);
  if (zone.empty()) {
    when.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&when));
  }
  int offset = 0;
  if (zone != "Z") {
    int zoneHours = 0, zoneMinutes = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !Digits(zone, 1, 2, zoneHours) ||
        !Digits(zone, 4, 2, zoneMinutes)) {
      return std::nullopt;
    }
    offset = (zoneHours * 60 + zoneMinutes) * 60 * (zone[0] == '-' ? -1 : 1);
  }
  return static_cast<int64_t>(timegm(&when)) - offset;
}

Status DateError(const std::string& value, const std::string& field) {
  return Status::Error(kStatusInvalidDate, "There was an error when converting the date value \"" + value +
                                               "\" in the field \"" + field + "\".");
}

Status RangeError() {
  return Status::Error(kStatusInvalidDateRange, "Invalid date range: From date is greater than To date.");
}

// The parts of a transaction query other than its ids, read as QuickBooks reads them.
struct Filters {
  long maxReturned = -1;
  std::optional<std::string> fromTxnDate, toTxnDate;
  std::optional<int64_t> fromModified, toModified;
  // The entity filter: the entities' ids; names also match a reference by its text, letter case ignored, and
  // with children also the names below them ("Acme Widgets:Plant Expansion" under "Acme Widgets").
  bool entity = false;
  std::vector<std::string> listIDs;
  std::vector<std::string> names;
  bool withChildren = false;
};

Status ReadTxnDateRange(const Node& filter, Filters& filters) {
  for (const Node& bound : ElementChildren(filter)) {
    const std::string name = bound.nodeName();
    const std::string value = Trimmed(bound.text());
    if (!IsDate(value)) return DateError(value, name);
    (name == "FromTxnDate" ? filters.fromTxnDate : filters.toTxnDate) = value;
  }
  if (filters.fromTxnDate && filters.toTxnDate && *filters.fromTxnDate > *filters.toTxnDate) return RangeError();
  return {};
}

Status ReadModifiedDateRange(const Node& filter, Filters& filters) {
  for (const Node& bound : ElementChildren(filter)) {
    const std::string name = bound.nodeName();
    const std::string value = Trimmed(bound.text());
    const bool from = name == "FromModifiedDate";
    std::optional<int64_t> seconds = ReadDateTime(value, !from);
    if (!seconds) return DateError(value, name);
    (from ? filters.fromModified : filters.toModified) = seconds;
  }
  if (filters.fromModified && filters.toModified && *filters.fromModified > *filters.toModified) return RangeError();
  return {};
}

void ReadEntityFilter(const Node& filter, Workspace& workspace, Filters& filters) {
  filters.entity = true;
  for (const Node& part : ElementChildren(filter)) {
    const std::string name = part.nodeName();
    const std::string value = Trimmed(part.text());
    filters.withChildren = name.ends_with("WithChildren");
    const bool byID = name.starts_with("ListID");
    std::optional<ListEntry> entity = workspace.Find(kEntityKinds, byID ? value : "", byID ? "" : value);
    if (byID) filters.listIDs.push_back(value);
    if (entity) {
      if (!byID) filters.listIDs.push_back(entity->listID);
      filters.names.push_back(entity->fullName);
    } else if (!byID) {
      filters.names.push_back(value);
    }
  }
}

bool EntityMatches(const Filters& filters, const Ref& ref) {
  for (const std::string& id : filters.listIDs) {
    if (!ref.listID.empty() && ref.listID == id) return true;
  }
  for (const std::string& name : filters.names) {
    if (kv::EqualsIgnoreCase(ref.fullName, name)) return true;
    if (filters.withChildren && ref.fullName.size() > name.size() && ref.fullName[name.size()] == ':' &&
        kv::EqualsIgnoreCase(std::string_view(ref.fullName).substr(0, name.size()), name)) {
      return true;
    }
  }
  return false;
}

bool Passes(const Filters& filters, const Record& record) {
  if (filters.fromTxnDate || filters.toTxnDate) {
    const std::string date = Trimmed(std::string(FieldText(record, "TxnDate").value_or("")));
    if (!IsDate(date)) return false;
    if ((filters.fromTxnDate && date < *filters.fromTxnDate) || (filters.toTxnDate && date > *filters.toTxnDate))
      return false;
  }
  if (filters.fromModified || filters.toModified) {
    const std::string text = Trimmed(std::string(FieldText(record, "TimeModified").value_or("")));
    std::optional<int64_t> modified = ReadDateTime(text, false);
    if (!modified) return false;
    if ((filters.fromModified && *modified < *filters.fromModified) ||
        (filters.toModified && *modified > *filters.toModified)) {
      return false;
    }
  }
  return !filters.entity || EntityMatches(filters, ReadRef(record, EntityRefOf(record.kind)));
}

}  // namespace

Status SelectTransactions(const std::string& requestName, std::string_view recordKind, const Node& request,
                          Workspace& workspace, TxnSelection& selection) {
  std::vector<std::string> txnIDs;
  Filters filters;
  // The schema check let through only what the version's message set has, in its order.
  for (const Node& child : ElementChildren(request)) {
    const std::string name = child.nodeName();
    const std::string value = Trimmed(child.text());
    Status status;
    if (name == "TxnID") {
      txnIDs.push_back(value);
    } else if (name == "MaxReturned") {
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), filters.maxReturned);
      if (ec != std::errc() || end != value.data() + value.size() || filters.maxReturned < 0) {
        return Status::Error(kStatusInvalidValue,
                             "The value \"" + value + "\" of MaxReturned in " + requestName + " is not a count.");
      }
    } else if (name == "TxnDateRangeFilter") {
      status = ReadTxnDateRange(child, filters);
    } else if (name == "ModifiedDateRangeFilter") {
      status = ReadModifiedDateRange(child, filters);
    } else if (name == "TimeTrackingEntityFilter" || name == "EntityFilter") {
      ReadEntityFilter(child, workspace, filters);
    } else if (name == "IncludeLineItems" && recordKind != "TimeTrackingRet") {
      if (value == "true" || value == "1") {
        selection.lines = true;
      } else if (value == "false" || value == "0") {
        selection.lines = false;
      } else {
        return Status::Error(kStatusInvalidValue, "The value \"" + value + "\" of IncludeLineItems in " + requestName +
                                                      " is not a Boolean.");
      }
    } else {
      return Status::Error(kStatusInvalidValue,
                           "QuickBooks does not accept the element " + name + " in " + requestName + ".");
    }
    if (status.IsError()) return status;
  }

  if (!txnIDs.empty()) {
    std::map<std::string_view, const Record*> byID;
    workspace.ForEach([&](const Record& record) {
      if (record.kind != recordKind) return;
      if (std::optional<std::string_view> id = FieldText(record, "TxnID")) byID.emplace(*id, &record);
    });
    std::optional<std::string> missing;
    for (const std::string& id : txnIDs) {
      auto found = byID.find(id);
      if (found != byID.end()) {
        selection.records.push_back(found->second);
      } else if (!missing) {
        missing = id;
      }
    }
    // A warning: the transactions that were found are answered all the same.
    if (missing) {
      return {kStatusObjectNotFound, "Warn",
              "The query request has not been fully completed. There was a required element (\"" + *missing +
                  "\") that could not be found in QuickBooks."};
    }
    return {};
  }

  workspace.ForEach([&](const Record& record) {
    if (record.kind != recordKind) return;
    if (filters.maxReturned >= 0 && static_cast<long>(selection.records.size()) >= filters.maxReturned) return;
    if (Passes(filters, record)) selection.records.push_back(&record);
  });
  return {};
}

}  // namespace standins::quickbooks
