// Comparing an index made in pieces with the index of the whole text, for tests and the fuzz target.

#include "tests/support/xml/cut_agreement.h"

#include "platform/xml/element_index.h"

namespace kv::test_support::xml {
namespace {

using platform::xml::ElementIndex;

std::string Places(const ElementIndex& index, const std::string& name) {
  std::string out;
  for (const ElementIndex::Span& span : index.Spans(name)) {
    out += std::to_string(span.start) + "+" + std::to_string(span.length) + " ";
  }
  return out;
}

}  // namespace

std::vector<std::string> CutDisagreements(const std::string& text, const std::vector<std::string>& names,
                                          size_t parts) {
  std::vector<std::string> out;
  const ElementIndex whole(text, names, true, {.parts = 1});
  const ElementIndex cut(text, names, true, {.parts = parts, .minPart = 1});
  const auto differ = [&out](const std::string& what, const std::string& inWhole, const std::string& inPieces) {
    if (inWhole != inPieces) out.push_back(what + ": whole " + inWhole + ", in pieces " + inPieces);
  };
  differ("parsed", std::to_string(whole.parsed()), std::to_string(cut.parsed()));
  const platform::xml::ParseError& a = whole.parseError();
  const platform::xml::ParseError& b = cut.parseError();
  differ("error",
         std::to_string(a.errorCode) + " " + a.reason + " at " + std::to_string(a.line) + ":" +
             std::to_string(a.linepos) + " in " + a.srcText,
         std::to_string(b.errorCode) + " " + b.reason + " at " + std::to_string(b.line) + ":" +
             std::to_string(b.linepos) + " in " + b.srcText);
  differ("positioned", std::to_string(whole.positioned()), std::to_string(cut.positioned()));
  differ("prolog", std::string(whole.Prolog()), std::string(cut.Prolog()));
  for (const std::string& name : names) {
    differ(name + " count", std::to_string(whole.Count(name)), std::to_string(cut.Count(name)));
    differ(name + " places", Places(whole, name), Places(cut, name));
  }
  return out;
}

}  // namespace kv::test_support::xml
