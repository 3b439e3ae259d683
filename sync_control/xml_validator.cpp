// Checking a hand-made qbXML document: its DOCTYPE line against qbXML 1.0's and its content against a schema.

#include "sync_control/xml_validator.h"

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/xml/dom.h"
#include "platform/xml/schema_cache.h"

namespace brintavel {
namespace {

constexpr std::string_view kExpectedDoctype = "DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN' ['uri']";

// The platform's standard wording for the run-time error numbers our layers raise.
std::string StandardErrorText(int64_t number) {
  switch (number) {
    case kv::kErrInvalidArgument:
      return "Invalid procedure call or argument";
    case kv::kErrOverflow:
      return "Overflow";
    case kv::kErrTypeMismatch:
      return "Type mismatch";
    case kv::kErrObjectRequired:
      return "Object required";
    default:
      return "Application-defined or object-defined error";
  }
}

std::string StageFailure(std::string_view prefix, const kv::Error& e) {
  return std::string(prefix) + StandardErrorText(e.number()) + ", " + e.description();
}

std::string StageFailure(std::string_view prefix, const std::exception& e) {
  return std::string(prefix) + StandardErrorText(0) + ", " + e.what();
}

}  // namespace

bool XMLValidator::IsWhitespaceChar(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::array<std::string, 9> XMLValidator::SplitOnWhitespace(std::string_view text) {
  std::array<std::string, 9> words;
  size_t count = 0;
  size_t start = 0;
  bool in_gap = false;
  for (size_t i = 0; i < text.size() && count < words.size(); ++i) {
    if (!IsWhitespaceChar(text[i])) {
      in_gap = false;
      continue;
    }
    if (!in_gap) words[count++] = std::string(text.substr(start, i - start));
    start = i + 1;
    in_gap = true;
  }
  if (count < words.size() && (text.empty() || !IsWhitespaceChar(text.back()))) {
    words[count] = std::string(text.substr(start));
  }
  return words;
}

bool XMLValidator::CheckDoctype(std::string_view declaration, std::string& complaint) {
  complaint.clear();
  const auto words = SplitOnWhitespace(declaration);
  const auto expected = kv::Split(kExpectedDoctype, " ");
  bool accepted = words[8].empty();
  for (size_t i = 0; accepted && i < 7; ++i) accepted = kv::EqualsIgnoreCase(words[i], expected[i]);
  if (!accepted) complaint = "Incorrect DOCTYPE declaration. Please use:\r" + std::string(kExpectedDoctype);
  return accepted;
}

XMLValidator::Commented XMLValidator::CommentOutDoctype(std::string_view text) {
  const size_t open = text.find("<!DOCTYPE");
  if (open == std::string_view::npos) return {"", std::string(text)};
  const size_t close = text.find('>', open);
  if (close == std::string_view::npos) {
    throw kv::Error(kv::kErrInvalidArgument, "The DOCTYPE declaration has no closing '>'");
  }
  Commented result;
  result.declaration = std::string(text.substr(open + 2, close - open - 2));
  // "--" may not stand inside a comment; spacing the dashes keeps the comment well-formed.
  std::string inner = result.declaration;
  while (inner.find("--") != std::string::npos) inner = kv::ReplaceAll(inner, "--", "- -");
  result.document =
      std::string(text.substr(0, open)) + "<!-- <!" + inner + "> -->" + std::string(text.substr(close + 1));
  return result;
}

bool XMLValidator::ValidateXML(std::string_view xmlInStr, const std::string& schemaFile) {
  validate_msg_.clear();
  std::unique_ptr<platform::xml::SchemaCache> cache;
  try {
    cache = std::make_unique<platform::xml::SchemaCache>();
  } catch (const kv::Error& e) {
    validate_msg_ = StageFailure("Error loading MSXML4.0 parser: ", e);
    return false;
  }

  try {
    cache->AddFile("", schemaFile);
  } catch (const kv::Error& e) {
    validate_msg_ = StageFailure("Error loading schema: ", e);
    return false;
  }

  Commented commented;
  try {
    commented = CommentOutDoctype(xmlInStr);
  } catch (const kv::Error& e) {
    validate_msg_ = StageFailure("Error loading XML Instance: ", e);
    return false;
  }

  try {
    platform::xml::Document instance;
    instance.SetSchemas(*cache);
    if (!instance.LoadXml(commented.document)) {
      const auto& error = instance.parseError();
      validate_msg_ = "Line: " + std::to_string(error.line) + "\rLinePos: " + std::to_string(error.linepos) +
                      "\rSrc Text: " + std::string(kv::TrimBlanks(error.srcText)) + "\rReason: " + error.reason;
      return false;
    }
    validate_msg_ = "XML instance is Valid.";
    if (commented.declaration.empty()) {
      validate_msg_ += "\r\rMissing DOCTYPE declaration";
    } else if (std::string complaint; !CheckDoctype(commented.declaration, complaint)) {
      validate_msg_ += "\r\r" + complaint;
    }
    return true;
  } catch (const kv::Error& e) {
    validate_msg_ = StageFailure("Error during validation: ", e);
  } catch (const std::exception& e) {
    validate_msg_ = StageFailure("Error during validation: ", e);
  }
  return false;
}

}  // namespace brintavel
