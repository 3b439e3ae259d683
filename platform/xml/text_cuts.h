#pragma once

// A long text cut at its records into pieces that libxml2 parses at once, each on a thread of its own, each as a
// document of its own. Shared by the sources of platform/xml only.
//
// A piece starts at the start tag of a record. Framed by the start tags open around it (as written, so that their
// namespace declarations and the nesting depth stay what they are) and closed by the end tags of what it leaves open,
// it is a document whose events are the whole text's events at that place. A quick scan of each piece, which only
// finds tags, tells what stands open at every cut; the parse of each framed piece then checks that scan: a cut that
// fell inside a comment, a CDATA section, a processing instruction or a tag leaves the piece before it unterminated,
// and the end tags after it then cannot parse. So when every framed piece parses, each one started where the whole
// parse would have stood between two tags, with the elements the scan said open around it.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::xml {

struct TextPiece {
  size_t start = 0;
  size_t length = 0;
  std::string frame;  // the start tags open before the piece, outermost first
  std::string close;  // the end tags of what stands open at its end, innermost first
};

// The pieces of the text, in order and covering it; empty when it is not cut: too short for two pieces of minPart, no
// record to cut at, a document type declaration, tags the scan finds unbalanced or unterminated, a cut with no element
// or a record of the names open around it (that record would straddle two pieces), or a text left open at its end.
std::vector<TextPiece> CutAtRecords(std::string_view text, const std::vector<std::string>& names, size_t parts,
                                    size_t minPart);

// Runs job(i) for every i below count at once, each on a thread of its own, and waits for all of them; false when a
// thread could not be started or a job threw (the others have run).
bool RunAtOnce(size_t count, const std::function<void(size_t)>& job);

}  // namespace platform::xml
