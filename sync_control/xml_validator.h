#pragma once

// The control's qbXML validator, a tool for hand-made requests; a sync run does not use it.

#include <array>
#include <string>
#include <string_view>

namespace brintavel {

// Checks a qbXML document against an XML schema file, and its DOCTYPE line against the one qbXML 1.0
// prescribes. Nothing in a sync run uses it; it is a tool for checking hand-made requests.
class XMLValidator {
 public:
  // True when the document is valid against the schema, whatever its DOCTYPE; ValidateMsg says why not, or
  // what is wrong with the DOCTYPE line of a valid document.
  bool ValidateXML(std::string_view xmlInStr, const std::string& schemaFile);
  const std::string& ValidateMsg() const { return validate_msg_; }

  static bool IsWhitespaceChar(char c);
  // At most nine words; positions past the stored words stay empty.
  static std::array<std::string, 9> SplitOnWhitespace(std::string_view text);
  // Empty complaint when the declaration is accepted.
  static bool CheckDoctype(std::string_view declaration, std::string& complaint);

  struct Commented {
    std::string declaration;  // from "DOCTYPE" up to the closing ">", without either "<!" or ">"
    std::string document;     // the text with the declaration turned into a comment
  };
  // Raises kv::Error when a "<!DOCTYPE" has no ">" after it.
  static Commented CommentOutDoctype(std::string_view text);

 private:
  std::string validate_msg_;
};

}  // namespace brintavel
