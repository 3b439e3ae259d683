// The framing of the stand-in and activation protocols over sockets and pipes.

#include "platform/os/message_frames.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace platform::os {
namespace {

using namespace std::string_literals;

TEST(MessageFrames, EncodesCountThenEachFieldsSizeAndBytesLittleEndian) {
  const std::string expected =
      "\x02\x00\x00\x00"s
      "\x02\x00\x00\x00\x00\x00\x00\x00"s
      "ok"
      "\x00\x00\x00\x00\x00\x00\x00\x00"s;
  EXPECT_EQ(EncodeMessage({"ok", ""}), expected);
  EXPECT_EQ(EncodeMessage({}), "\x00\x00\x00\x00"s);
  const std::string long_field(0x0102, 'z');
  EXPECT_EQ(EncodeMessage({long_field}).substr(4, 8), "\x02\x01\x00\x00\x00\x00\x00\x00"s);
}

TEST(MessageFrames, TheBufferHandsOutOnlyWholeMessagesInOrder) {
  const std::string bytes = EncodeMessage({"Create", "Corvalink.QBMenuListener"}) + EncodeMessage({}) +
                            EncodeMessage({"ok", std::string("a\0b", 3)});
  MessageBuffer buffer;
  std::vector<Message> got;
  for (char c : bytes) {
    buffer.Append(&c, 1);
    while (auto message = buffer.Next()) got.push_back(*message);
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], (Message{"Create", "Corvalink.QBMenuListener"}));
  EXPECT_TRUE(got[1].empty());
  EXPECT_EQ(got[2], (Message{"ok", std::string("a\0b", 3)}));
  EXPECT_TRUE(buffer.Empty());
}

TEST(MessageFrames, ImpossibleSizesAreACorruptStream) {
  MessageBuffer count;
  const std::string all_ones = "\xff\xff\xff\xff"s;
  count.Append(all_ones.data(), all_ones.size());
  EXPECT_THROW(count.Next(), FrameError);

  MessageBuffer size;
  const std::string huge = "\x01\x00\x00\x00"s + "\x00\x00\x00\x00\x00\x01\x00\x00"s;  // a field of 2^40 bytes
  size.Append(huge.data(), huge.size());
  EXPECT_THROW(size.Next(), FrameError);
}

TEST(MessageFrames, ALargeMessageCrossesANonBlockingSocketWhole) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  fcntl(pair[1], F_SETFL, O_NONBLOCK);
  const std::string big(8 << 20, 'q');
  std::thread sender([&] {
    SendPieces(pair[1], {{"ok"}, {std::string_view(big).substr(0, 3), std::string_view(big).substr(3)}});
  });
  const std::optional<Message> message = ReceiveMessage(pair[0]);
  sender.join();
  ASSERT_TRUE(message);
  ASSERT_EQ(message->size(), 2u);
  EXPECT_EQ((*message)[0], "ok");
  EXPECT_TRUE((*message)[1] == big);
  close(pair[0]);
  close(pair[1]);
}

TEST(MessageFrames, PipesCarryTheSameFramingAsSockets) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  SendMessage(fds[1], {"inform", "<QBXML/>"});
  SendEncoded(fds[1], EncodeMessage({"release"}));
  close(fds[1]);
  EXPECT_EQ(ReceiveMessage(fds[0]), (Message{"inform", "<QBXML/>"}));
  EXPECT_EQ(ReceiveMessage(fds[0]), (Message{"release"}));
  EXPECT_EQ(ReceiveMessage(fds[0]), std::nullopt);
  close(fds[0]);
}

TEST(MessageFrames, ADeadlineEndsAWaitForAPeerThatNeitherAnswersNorReads) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  using Clock = std::chrono::steady_clock;
  const auto wait = std::chrono::milliseconds(50);
  // Half a message came: the rest never does.
  const std::string half = EncodeMessage({"ok", "an answer"}).substr(0, 9);
  ASSERT_EQ(write(pair[1], half.data(), half.size()), static_cast<ssize_t>(half.size()));
  auto start = Clock::now();
  EXPECT_THROW(ReceiveMessage(pair[0], Clock::now() + wait), FrameTimeout);
  EXPECT_GE(Clock::now() - start, wait);
  // Far more than the socket holds, to a peer that does not read.
  const std::string big(64 << 20, 'x');
  start = Clock::now();
  EXPECT_THROW(SendMessage(pair[0], {big}, Clock::now() + wait), FrameTimeout);
  EXPECT_GE(Clock::now() - start, wait);
  close(pair[0]);
  close(pair[1]);

  // A peer that answers in time is read as without a deadline.
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::thread peer([&] { SendMessage(pair[1], {"ok", std::string(1 << 20, 'y')}); });
  std::optional<Message> message = ReceiveMessage(pair[0], Clock::now() + std::chrono::hours(1));
  peer.join();
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ((*message)[1].size(), size_t{1} << 20);
  close(pair[0]);
  close(pair[1]);
}

}  // namespace
}  // namespace platform::os
