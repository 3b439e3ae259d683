#pragma once

// The stream the converters write statements into and the upload sends.

#include <memory>
#include <string>

#include "platform/stream/text_stream.h"

namespace brintavel {

// The statement stream the converters write into and UploadNow sends.
using StatementStream = platform::stream::Stream;

// A fresh statement stream: character set "us-ascii", text type, open and empty.
std::unique_ptr<StatementStream> NewStatementStream();
// Everything written so far as us-ascii bytes, handed over: the stream is left empty, in binary mode.
std::string TakeAllBytes(StatementStream& stream);

}  // namespace brintavel
