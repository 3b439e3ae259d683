// Making the us-ascii statement stream and handing its bytes to the upload.

#include "sync_control/statement_stream.h"

namespace brintavel {

std::unique_ptr<StatementStream> NewStatementStream() {
  auto stream = std::make_unique<StatementStream>();
  stream->SetCharset("us-ascii");
  stream->SetType(platform::stream::adTypeText);
  stream->Open();
  return stream;
}

std::string TakeAllBytes(StatementStream& stream) {
  // The type can be switched only at the start of the stream.
  stream.SetPosition(0);
  stream.SetType(platform::stream::adTypeBinary);
  return stream.TakeString();
}

}  // namespace brintavel
