#pragma once

// The "|"-separated lines that the time and expense converters send in place of SQL statements, and what the two
// share around them: the field rule, the line builder and the check of the service's answer after an upload.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sync_control/converters/column_table.h"
#include "sync_control/converters/list_converter.h"

namespace brintavel {

class BrintavelCtl;

// A field's text as it may stand in a line. The format has no escape, so a text must never change the line's
// structure: every "|" becomes "/", every CR and every LF a blank. Everything else stays as it is.
std::string PipeField(std::string_view text);

// Builds one line, field by field, into the text it is given (the control's sValueList, so that the control sees
// the line as it grows). The line ends with its last field; the caller adds CR LF when it writes the line.
class PipeLine {
 public:
  // Empties the line.
  explicit PipeLine(std::string& line) : line_(line) { line_.clear(); }

  // Appends "|" (except before the first field) and the field's text made safe by PipeField.
  PipeLine& Add(std::string_view field);
  // The text of a child of the record, or an empty field when the record has no such child.
  PipeLine& AddChild(const RecordChildren& children, std::string_view path);

  size_t FieldCount() const { return fields_; }

 private:
  std::string& line_;
  size_t fields_ = 0;
};

// The service says that some lines of a batch could not be taken by answering with 8 characters, the last a
// digit (blanks around the answer do not count).
bool AnswerFlagsUnsyncedLines(std::string_view answer);

// The template's uploader set up for lines: the options letter and failure counter of the converter, and after
// every upload that does not end the converter, the answer check that sets `unsynced_flag` (never clears it).
StatementUploader LineUploader(BrintavelCtl& ctl, std::string letter, int32_t BrintavelCtl::*failure_counter,
                               bool BrintavelCtl::*unsynced_flag);

// The number of a qbXML amount, quantity or cost text (blanks around it allowed); throws a type-mismatch
// kv::Error when the text is no number.
double ParseQBNumber(std::string_view text);

}  // namespace brintavel
