// The statement stream: us-ascii text in and bytes out, one "?" for every code point above 127, writes that
// append, and room made ahead that changes nothing already held.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "platform/stream/text_stream.h"

namespace platform::stream {
namespace {

// A stream as the statement writers make it.
Stream AsciiStream() {
  Stream stream;
  stream.SetCharset("us-ascii");
  stream.SetType(adTypeText);
  stream.Open();
  return stream;
}

std::string ReadAll(Stream& stream) {
  stream.SetPosition(0);
  stream.SetType(adTypeBinary);
  return stream.ReadString();
}

template <typename F>
int64_t ErrorNumberOf(F&& f) {
  try {
    f();
  } catch (const kv::Error& e) {
    EXPECT_FALSE(e.description().empty());
    return e.number();
  }
  return 0;
}

TEST(TextStreamTest, EveryNonAsciiCodePointBecomesOneQuestionMark) {
  Stream stream = AsciiStream();
  stream.WriteText("caf\u00e9 O\u2019Brien ");
  stream.WriteText("\U0001F600|\u00a0|\u20ac");
  stream.WriteText("\r\n");
  EXPECT_EQ(ReadAll(stream), "caf? O?Brien ?|?|?\r\n");
}

TEST(TextStreamTest, InvalidUtf8BytesBecomeOneQuestionMarkEach) {
  Stream stream = AsciiStream();
  stream.WriteText(
      std::string("a\xFF"
                  "b\xE2\x80"
                  "c\xC0\xAF"
                  "d\xED\xA0\x80"
                  "e\xF4\x90\x80\x80"
                  "f"));
  EXPECT_EQ(ReadAll(stream), "a?b??c??d???e????f");
}

TEST(TextStreamTest, WritesAppendWithoutSeparatorAndReadReturnsEverything) {
  Stream stream = AsciiStream();
  stream.WriteText("UPDATE A SET [x]='1'");
  stream.WriteText("\r\n");
  stream.WriteText("line\r\n");
  EXPECT_EQ(stream.Size(), 28);
  EXPECT_EQ(stream.Position(), 28);
  stream.SetPosition(0);
  stream.SetType(adTypeBinary);
  std::vector<uint8_t> bytes = stream.Read(adReadAll);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "UPDATE A SET [x]='1'\r\nline\r\n");
  EXPECT_EQ(stream.Position(), stream.Size());  // left at the end, as the upload leaves it
  EXPECT_TRUE(stream.Read().empty());
  stream.SetPosition(7);
  EXPECT_EQ(stream.ReadString(3), "A S");
  EXPECT_EQ(stream.ReadString(1000), "ET [x]='1'\r\nline\r\n");
}

TEST(TextStreamTest, TakeHandsOverTheRestAndLeavesTheStreamEmpty) {
  Stream stream = AsciiStream();
  stream.WriteText("UPDATE A\r\n");
  EXPECT_EQ(ErrorNumberOf([&] { stream.TakeString(); }), adErrIllegalOperation);  // text type
  stream.SetPosition(0);
  stream.SetType(adTypeBinary);
  stream.SetPosition(7);
  EXPECT_EQ(stream.TakeString(), "A\r\n");
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  stream.Write(std::string_view("bytes"));
  stream.SetPosition(0);
  EXPECT_EQ(stream.TakeString(), "bytes");
  EXPECT_EQ(stream.TakeString(), "");
  stream.Close();
  EXPECT_EQ(ErrorNumberOf([&] { stream.TakeString(); }), adErrObjectClosed);
}

TEST(TextStreamTest, RoomMadeAheadChangesNothingHeld) {
  Stream stream = AsciiStream();
  stream.WriteText("IF 1\r\n");
  stream.SetPosition(2);
  stream.Reserve(1 << 20);
  stream.Reserve(0);  // less than it holds: nothing is cut
  EXPECT_EQ(stream.Size(), 6);
  EXPECT_EQ(stream.Position(), 2);
  stream.WriteText("X");  // still overwrites at the position
  stream.SetPosition(0);
  stream.SetType(adTypeBinary);
  EXPECT_EQ(stream.TakeString(), "IFX1\r\n");
}

TEST(TextStreamTest, EmptyStreamReadsNoBytes) {
  Stream stream = AsciiStream();
  EXPECT_EQ(ReadAll(stream), "");
}

TEST(TextStreamTest, TypeAndCharsetChangeOnlyAtPositionZero) {
  Stream stream = AsciiStream();
  stream.WriteText("abc");
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetType(adTypeBinary); }), adErrIllegalOperation);
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetCharset("ASCII"); }), adErrIllegalOperation);
  EXPECT_EQ(stream.Type(), adTypeText);
  EXPECT_EQ(ErrorNumberOf([&] { stream.Read(); }), adErrIllegalOperation);
  stream.SetPosition(0);
  stream.SetType(adTypeBinary);
  EXPECT_EQ(ErrorNumberOf([&] { stream.WriteText("x"); }), adErrIllegalOperation);
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetPosition(4); }), adErrInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetPosition(-1); }), adErrInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetType(7); }), adErrInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([&] { stream.SetCharset("klingon"); }), adErrInvalidArgument);
  // Back to text at 0 and read the characters.
  stream.SetType(adTypeText);
  EXPECT_EQ(stream.ReadText(), "abc");
}

TEST(TextStreamTest, ClosedAndOpenStreamsRefuseMisuse) {
  Stream stream;
  EXPECT_EQ(stream.State(), adStateClosed);
  EXPECT_EQ(ErrorNumberOf([&] { stream.WriteText("x"); }), adErrObjectClosed);
  EXPECT_EQ(ErrorNumberOf([&] { stream.Position(); }), adErrObjectClosed);
  EXPECT_EQ(ErrorNumberOf([&] { stream.Close(); }), adErrObjectClosed);
  stream.SetCharset("us-ascii");
  stream.Open();
  EXPECT_EQ(stream.State(), adStateOpen);
  EXPECT_EQ(ErrorNumberOf([&] { stream.Open(); }), adErrObjectOpen);
  stream.WriteText("gone");
  stream.Close();
  stream.Open();
  EXPECT_EQ(stream.Size(), 0);
}

TEST(TextStreamTest, WritingBeforeTheEndOverwritesAndSetEosCuts) {
  Stream stream = AsciiStream();
  stream.WriteText("abcdef");
  stream.SetPosition(2);
  stream.WriteText("XY");
  EXPECT_EQ(stream.Position(), 4);
  stream.SetEOS();
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadText(), "abXY");
  stream.SetPosition(3);
  stream.WriteText("\u00e9\u00e9");
  EXPECT_EQ(ReadAll(stream), "abX??");
}

TEST(TextStreamTest, UsAsciiIsTheOnlyCharacterSetAndTheDefault) {
  Stream stream;
  EXPECT_EQ(stream.Charset(), "us-ascii");
  for (const char* other : {"utf-8", "Unicode", "utf-16", ""}) {
    EXPECT_EQ(ErrorNumberOf([&] { stream.SetCharset(other); }), adErrInvalidArgument) << other;
  }
  stream.SetCharset("US-ASCII");
  stream.Open();
  stream.WriteText("A\u00e9");
  EXPECT_EQ(ReadAll(stream), "A?");  // no byte-order mark, one byte a character
  // Bytes above 127 written in binary read back as text one "?" each.
  stream.SetPosition(0);
  stream.Write(std::string_view("b\xC3\xA9\x80"));
  stream.SetPosition(0);
  stream.SetType(adTypeText);
  EXPECT_EQ(stream.ReadText(2), "b?");
  EXPECT_EQ(stream.ReadText(), "??");
}

TEST(TextStreamTest, MillionSmallWritesStayLinear) {
  Stream stream = AsciiStream();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000000; ++i) stream.WriteText(i % 100 == 0 ? "caf\u00e9;\r\n" : "INSERT 1;\r\n");
  std::string bytes = ReadAll(stream);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(bytes.size(), 990000u * 11 + 10000u * 7);
  EXPECT_EQ(bytes.substr(0, 7), "caf?;\r\n");
  // Generous for sanitizer builds on a busy machine; a quadratic copy would take minutes.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 10);
}

}  // namespace
}  // namespace platform::stream
