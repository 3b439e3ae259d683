#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
// Records are kept as their verbatim text, so what a query answers is what the file holds.

inline constexpr std::string_view kRootElement = "QBStandinCompany";
inline constexpr std::string_view kDefaultVersions = "1.0 1.1 2.0";

struct CompanyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Record {
  std::string_view kind;    // the element name, e.g. "CustomerRet"
  std::string_view text;    // the whole element
  std::string_view indent;  // the blanks before it on its line, so an answer can show it as the file does
};

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

  // The file's text with extra records put after the last one, each given as its element text, and without the
  // line of the dropped record (one of records()) when one is given.
  std::vector<std::string_view> WithRecordsAppended(const std::vector<std::string>& indentedRecords,
                                                    const Record* dropped = nullptr) const;

 private:
  std::filesystem::path path_;
  std::string content_;
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
