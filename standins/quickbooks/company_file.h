#pragma once

// A company file of the QuickBooks stand-in: its records as qbXML Rets, its versions and its atomic save.

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/child_places.h"

namespace standins::quickbooks {

// A company file: root QBStandinCompany with the attribute qbxmlVersions (blank-separated, "1.0 1.1 2.0" when
// the attribute is missing), holding the lists' records as the qbXML ...Ret elements that queries return, in
// file order:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <QBStandinCompany qbxmlVersions="1.0 1.1 2.0">
//     <EmployeeRet>
//       <ListID>80000001-1104190001</ListID>
//       ...
//     </EmployeeRet>
//     ...
//   </QBStandinCompany>
//
// Records are kept as their verbatim text, so what a query answers is what the file holds. The file may be in any
// encoding XML allows; it is read as UTF-8 and written back in its own encoding.

inline constexpr std::string_view kRootElement = "QBStandinCompany";
inline constexpr std::string_view kDefaultVersions = "1.0 1.1 2.0";

struct CompanyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Record {
  std::string_view kind;    // the element name, e.g. "CustomerRet"
  std::string_view text;    // the whole element
  std::string_view indent;  // the blanks before it on its line, so an answer can show it as the file does
  // The parse that placed it, and which of its children it is there: its fields are read from there.
  const platform::xml::ChildPlaces* places = nullptr;
  uint32_t child = 0;
};

// The children a record is looked up or filtered by; only these are kept from the parse of a company file.
inline constexpr std::string_view kRecordFields[] = {
    "ListID",       "FullName",         "Name",      "AccountType",   "IsActive",     "TxnID",    "ExpenseLineRet",
    "ItemLineRet",  "ItemGroupLineRet", "AppID",     "AppName",       "MessageSetID", "Response", "TxnDate",
    "TimeModified", "EntityRef",        "VendorRef", "PayeeEntityRef"};

// The decoded text of the record's first child of that name (one of kRecordFields), or nothing.
std::optional<std::string_view> FieldText(const Record& record, std::string_view name);
// Where the record's children of that name (one of kRecordFields) stand in record.text, in order.
std::vector<platform::xml::ChildPlaces::Span> FieldSpans(const Record& record, std::string_view name);

// Parses one record element given alone (one the stand-in built); raises CompanyError when it does not parse.
std::shared_ptr<const platform::xml::ChildPlaces> PlaceRecord(std::string_view wrapped);

class Company {
 public:
  // Reads and checks a company file; raises CompanyError naming the file, the line and what is wrong.
  static std::shared_ptr<const Company> Load(const std::filesystem::path& path);
  static std::shared_ptr<const Company> FromText(std::string content, const std::filesystem::path& path);

  const std::filesystem::path& path() const { return path_; }
  std::string_view content() const { return content_; }
  // The qbxmlVersions list; empty when the attribute is present but blank (QuickBooks then gives no list).
  const std::vector<std::string>& versions() const { return versions_; }
  const std::vector<Record>& records() const { return records_; }

  // The file's text (as UTF-8) with extra records put after the last one, each given as its element text, and without
  // the line of the dropped record (one of records()) when one is given.
  std::vector<std::string_view> WithRecordsAppended(const std::vector<std::string>& indentedRecords,
                                                    const Record* dropped = nullptr) const;
  // Pieces of its text as they go to disk: as they are for a UTF-8 file, else encoded into storage.
  std::vector<std::string_view> Encoded(std::vector<std::string_view> pieces, std::string& storage) const;

 private:
  std::filesystem::path path_;
  std::string content_;
  std::string encoding_ = "UTF-8";
  bool byte_order_mark_ = false;
  std::unique_ptr<platform::xml::ChildPlaces> places_;
  std::vector<std::string> versions_;
  std::vector<Record> records_;
  size_t insert_at_ = 0;       // where appended records go: the start of the root's end-tag line
  bool self_closing_ = false;  // <QBStandinCompany .../>: the root must be opened to take records
  size_t root_tag_close_ = 0;  // position of "/>" of a self-closing root
};

// The serve process reads the open company file for every request; this keeps the last one while the file on
// disk is the same one (same inode, size and modification time), since writers always replace the file.
std::shared_ptr<const Company> LoadCompanyCached(const std::filesystem::path& path);

// The text of an empty company file.
std::string EmptyCompanyText(std::string_view versions = kDefaultVersions);

// Indents a record element written at column 0 by two blanks per line, as records stand in a company file.
std::string IndentRecord(std::string_view element);

}  // namespace standins::quickbooks
