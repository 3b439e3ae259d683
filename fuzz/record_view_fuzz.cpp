// A text to both the record scanner and libxml2's tree, as a whole answer, as a record repeated enough times
// that the index keeps every record's place, and as the recipe of a generated record repeated alike. The two must agree
// on every answer a converter asks of a record: whether the text parses, how many records there are, each record's
// markup read from its place, the text of every path of names and the element children, down to the children's own
// answers. The index made in pieces, each on a thread of its own, must answer as the index of the whole text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/support/xml/cut_agreement.h"
#include "tests/support/xml/record_agreement.h"

namespace {

// The names the corpus's records bear: a record of a query answer, and one that stands inside another.
const std::vector<std::string> kNames = {"R", "Ref", "CustomerRet"};

void RequireAgreement(const std::string& text) {
  const auto require = [&text](const std::vector<std::string>& differences, const char* rule) {
    if (differences.empty()) return;
    std::string detail = "text: " + text + "\n";
    for (const std::string& line : differences) detail += line + "\n";
    kvfuzz::Fail(rule, detail);
  };
  require(kv::test_support::xml::RecordDisagreements(text, kNames),
          "the record scanner reads every record as libxml2's tree does");
  require(kv::test_support::xml::CutDisagreements(text, kNames, 4),
          "the index made in pieces answers as the index of the whole text");
}

// A well-formed record built from the input, one piece per byte: children opened and closed, and between them
// every kind of markup the scanner steps over or hands to the tree. Mutated bytes stay well-formed records, which
// raw mutations of markup rarely are.
std::string GeneratedRecord(const uint8_t* data, size_t size) {
  static const char* const kNamesOfChildren[] = {"Name", "ListID", "Ref", "FullName", "R"};
  static const char* const kPieces[] = {
      "Acme",
      " two  words ",
      "&amp;&lt;",
      "&#65;&#x42;",
      "<!-->x<Name>in</Name>-->",
      "<!--->y<ListID>in</ListID>-->",
      "<!---->",
      "<?pi <Name>no</Name>?>",
      "<![CDATA[<Name>cd</Name>]]>",
      "<Name/>",
      "<ListID />",
      "line\r\nnext\r",
      "<Ref a='>' b=\"/>\"></Ref>",
      "<FullName\n>f</FullName\t>",
  };
  constexpr size_t kChildNames = std::size(kNamesOfChildren);
  constexpr size_t kOps = 2 + std::size(kPieces);
  std::string record = "<R>";
  std::vector<const char*> open;
  // A record of a few dozen pieces holds every neighbourhood of two pieces; longer ones only slow the run.
  for (size_t i = 0; i < std::min<size_t>(size, 48); ++i) {
    const size_t op = data[i] % kOps;
    if (op == 0 && open.size() < 6) {
      open.push_back(kNamesOfChildren[(data[i] / kOps) % kChildNames]);
      record += std::string("<") + open.back() + ">";
    } else if (op == 1 && !open.empty()) {
      record += std::string("</") + open.back() + ">";
      open.pop_back();
    } else if (op >= 2) {
      record += kPieces[op - 2];
    }
  }
  while (!open.empty()) {
    record += std::string("</") + open.back() + ">";
    open.pop_back();
  }
  return record + "</R>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger texts add nothing the scanner has not met in smaller ones and slow each run.
  if (size > 1024) return 0;
  const std::string text(kvfuzz::AsText(data, size));
  RequireAgreement(text);
  std::string repeated = "<QBXML><QBXMLMsgsRs>";
  for (int i = 0; i < 20; ++i) repeated += text;
  RequireAgreement(repeated + "</QBXMLMsgsRs></QBXML>");
  const std::string generated = GeneratedRecord(data, size);
  repeated = "<QBXML>";
  for (int i = 0; i < 20; ++i) repeated += generated;
  RequireAgreement(repeated + "</QBXML>");
  return 0;
}
