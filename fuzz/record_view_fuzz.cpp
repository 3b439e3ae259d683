// A text to both the record scanner and libxml2's tree, as a whole answer and as a record repeated enough times
// that the index keeps every record's place. The two must agree on every answer a converter asks of a record:
// whether the text parses, how many records there are, each record's markup read from its place, the text of
// every path of names and the element children, down to the children's own answers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/support/xml/record_agreement.h"

namespace {

// The names the corpus's records bear: a record of a query answer, and one that stands inside another.
const std::vector<std::string> kNames = {"R", "Ref", "CustomerRet"};

void RequireAgreement(const std::string& text) {
  const std::vector<std::string> differences = kv::test_support::xml::RecordDisagreements(text, kNames);
  if (differences.empty()) return;
  std::string detail = "text: " + text + "\n";
  for (const std::string& line : differences) detail += line + "\n";
  kvfuzz::Fail("the record scanner reads every record as libxml2's tree does", detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger texts add nothing the scanner has not met in smaller ones and slow each run.
  if (size > 4096) return 0;
  const std::string text(kvfuzz::AsText(data, size));
  RequireAgreement(text);
  std::string repeated = "<QBXML><QBXMLMsgsRs>";
  for (int i = 0; i < 20; ++i) repeated += text;
  RequireAgreement(repeated + "</QBXMLMsgsRs></QBXML>");
  return 0;
}
