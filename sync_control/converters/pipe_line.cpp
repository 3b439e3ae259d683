// The "|" line format of time and expenses: fields made safe for the line, and the answer's flags read back.

#include "sync_control/converters/pipe_line.h"

#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/module_state.h"
#include "sync_control/upload_form.h"

namespace brintavel {

std::string PipeField(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '|') {
      c = '/';
    } else if (c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  return out;
}

PipeLine& PipeLine::Add(std::string_view field) {
  if (fields_ > 0) line_ += '|';
  // The field goes straight into the line and is mended there.
  const size_t start = line_.size();
  line_ += field;
  for (size_t i = start; i < line_.size(); ++i) {
    char& c = line_[i];
    if (c == '|') {
      c = '/';
    } else if (c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  ++fields_;
  return *this;
}

PipeLine& PipeLine::AddChild(const RecordChildren& children, std::string_view path) {
  return Add(children.ChildView(path).value_or(std::string_view()));
}

bool AnswerFlagsUnsyncedLines(std::string_view answer) {
  const std::string_view trimmed = kv::TrimBlanks(answer);
  if (kv::CodePointCount(trimmed) != 8) return false;
  const char last = trimmed.back();
  return last >= '0' && last <= '9';
}

StatementUploader LineUploader(BrintavelCtl& ctl, std::string letter, int32_t BrintavelCtl::*failure_counter,
                               bool BrintavelCtl::*unsynced_flag) {
  StatementUploader uploader(ctl, std::move(letter), failure_counter);
  uploader.after_upload = [&ctl, unsynced_flag] {
    if (AnswerFlagsUnsyncedLines(UploadForm().sUploadStatus)) ctl.*unsynced_flag = true;
  };
  return uploader;
}

double ParseQBNumber(std::string_view text) {
  return kv::ParseNumber(kv::TrimBlanks(text));
}

}  // namespace brintavel
