// kv-record-reads FILE: what the record scanner saves. Reads every record of the lists a sync asks for from a
// company file (kv-gen-company writes one), asking each record for the children the converters read, once through
// the scanner (RecordView from the record's place) and once through a tree of each record (the node the view
// parses on demand), and prints the time of each and what a tree of the whole text takes beside the text.

#include <malloc.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "platform/xml/element_stream.h"
#include "platform/xml/record_view.h"

namespace {

const std::vector<std::string> kRecords = {
    "CustomerRet",         "EmployeeRet",        "VendorRet",       "AccountRet", "ClassRet", "ItemServiceRet",
    "ItemNonInventoryRet", "ItemOtherChargeRet", "TimeTrackingRet", "CheckRet",   "BillRet"};

// The reads most converters make of every record; an incremental sync drops most records after the first three.
const std::vector<std::string> kPaths = {"TimeCreated",        "TimeModified", "IsActive", "ListID",
                                         "EditSequence",       "Name",         "FullName", "ParentRef/ListID",
                                         "ParentRef/FullName", "Sublevel",     "Notes",    "TxnID"};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Reads every record with `read`; returns the bytes of text read so that nothing is optimised away.
template <class Read>
size_t ReadAll(const platform::xml::ElementIndex& index, Read read) {
  size_t bytes = 0;
  for (const std::string& name : kRecords) {
    platform::xml::ElementStream stream(index, {name});
    while (platform::xml::RecordView record = stream.NextRecord()) bytes += read(record);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kv-record-reads: the record scanner beside a tree of each record"};
  std::string file;
  int passes = 3;
  app.add_option("FILE", file, "A company file")->required();
  app.add_option("--passes", passes, "Runs of each reading; the best counts")->check(CLI::Range(1, 20));
  CLI11_PARSE(app, argc, argv);

  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  if (!in || !(content << in.rdbuf())) {
    std::fprintf(stderr, "kv-record-reads: cannot read %s\n", file.c_str());
    return 1;
  }
  const std::string text = content.str();
  const platform::xml::ElementIndex index(text, kRecords);
  if (!index.parsed() || !index.positioned()) {
    std::fprintf(stderr, "kv-record-reads: %s: %s\n", file.c_str(),
                 index.parsed() ? "the records have no places" : index.parseError().reason.c_str());
    return 1;
  }
  size_t records = 0;
  for (const std::string& name : kRecords) records += index.Count(name);

  double scan = 1e30;
  double tree = 1e30;
  size_t scanned = 0;
  size_t treed = 0;
  for (int pass = 0; pass < passes; ++pass) {
    auto start = std::chrono::steady_clock::now();
    scanned = ReadAll(index, [](const platform::xml::RecordView& record) {
      size_t bytes = 0;
      for (const std::string& path : kPaths) bytes += record.ChildText(path).value_or("").size();
      return bytes;
    });
    scan = std::min(scan, Seconds(start));
    start = std::chrono::steady_clock::now();
    treed = ReadAll(index, [](const platform::xml::RecordView& record) {
      const platform::xml::Node node = record.node();
      size_t bytes = 0;
      for (const std::string& path : kPaths) bytes += node.selectSingleNode(path).text().size();
      return bytes;
    });
    tree = std::min(tree, Seconds(start));
  }
  if (scanned != treed) {
    std::fprintf(stderr, "kv-record-reads: the scanner read %zu bytes, the trees %zu\n", scanned, treed);
    return 1;
  }

  const size_t before = mallinfo2().uordblks;
  platform::xml::Document doc;
  if (!doc.LoadXml(text)) return 1;
  const size_t treeBytes = mallinfo2().uordblks - before;

  std::printf("text: %.1f MiB, %zu records\n", text.size() / 1048576.0, records);
  std::printf("scanner: %.3f s, tree of each record: %.3f s (%.1f times the scanner)\n", scan, tree, tree / scan);
  std::printf("tree of the whole text: %.1f MiB (%.1f times the text)\n", treeBytes / 1048576.0,
              static_cast<double>(treeBytes) / static_cast<double>(text.size()));
  return 0;
}
