// The server side of activation: calls in order, errors, locks and a client that goes away.

#include "platform/com/server_runtime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/base/error.h"
#include "platform/com/activation.h"
#include "platform/com/wire.h"
#include "platform/os/message_frames.h"

namespace platform::com {
namespace {

using forms::EventLoop;

struct Reply {
  bool ok = false;
  uint32_t value = 0;
  int64_t number = 0;
  std::string description;
};

// Plays the client's part over one end of a socketpair; the runtime under test has the other.
class ServerRuntimeTest : public testing::Test {
 protected:
  void SetUp() override {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    client_ = pair[0];
    fcntl(pair[1], F_SETFL, O_NONBLOCK);
    runtime_ = std::make_unique<ServerRuntime>(pair[1]);
    runtime_->RegisterClass(
        "Test.Listener", [this] { return std::make_unique<Recorder>(this); }, loop_);
  }
  void TearDown() override {
    runtime_.reset();
    if (client_ >= 0) close(client_);
  }

  class Recorder : public IEventCallback {
   public:
    explicit Recorder(ServerRuntimeTest* test) : test_(test) { test_->events_.push_back("create"); }
    ~Recorder() override { test_->events_.push_back("terminate"); }
    void inform(const std::string& eventXML) override {
      test_->events_.push_back("inform " + eventXML);
      if (eventXML == "pump") {
        // A call that waits on something pumps the loop; requests that arrive meanwhile must wait their turn.
        for (int i = 0; i < 5; ++i) test_->loop_.WaitOnce(10);
        test_->events_.push_back("pump done");
      }
      if (eventXML == "fail") throw kv::Error(1004, "The menu item is busy");
    }

   private:
    ServerRuntimeTest* test_;
  };

  void Send(const std::string& frame) { ASSERT_TRUE(wire::SendAll(client_, frame)); }
  static std::string Create(const std::string& progId) {
    return wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kCreate)).Text(progId).Frame();
  }
  static std::string Inform(uint32_t id, const std::string& text) {
    return wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kInform)).U32(id).Text(text).Frame();
  }
  static std::string Release(uint32_t id) {
    return wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kRelease)).U32(id).Frame();
  }

  // Pumps the server's loop until the next reply has come.
  Reply Receive() {
    for (int round = 0; round < 500; ++round) {
      if (auto payload = received_.Next()) {
        wire::Reader in(*payload);
        Reply reply;
        reply.ok = in.U8() == 0;
        if (reply.ok) {
          reply.value = in.U32();
        } else {
          reply.number = in.I64();
          reply.description = in.Text();
        }
        return reply;
      }
      loop_.WaitOnce(10);
      char buffer[4096];
      pollfd p{client_, POLLIN, 0};
      if (poll(&p, 1, 0) > 0) {
        const ssize_t n = read(client_, buffer, sizeof buffer);
        if (n > 0) received_.Append(buffer, static_cast<size_t>(n));
      }
    }
    ADD_FAILURE() << "no reply";
    return {};
  }

  EventLoop loop_;
  std::unique_ptr<ServerRuntime> runtime_;
  int client_ = -1;
  wire::FrameBuffer received_;
  std::vector<std::string> events_;
};

TEST_F(ServerRuntimeTest, RequestsArrivingDuringACallWaitUntilItReturns) {
  Send(Create("test.listener") + Inform(1, "pump") + Inform(1, "second") + Release(1));
  const Reply created = Receive();
  ASSERT_TRUE(created.ok);
  EXPECT_EQ(created.value, 1u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Receive().ok);
  EXPECT_EQ(events_, (std::vector<std::string>{"create", "inform pump", "pump done", "inform second", "terminate"}));
  EXPECT_TRUE(runtime_->Finished());
  EXPECT_EQ(runtime_->Run(loop_), 0);
}

TEST_F(ServerRuntimeTest, ErrorsComeBackAsNumberAndDescription) {
  Send(Create("Unknown.Class"));
  Reply reply = Receive();
  EXPECT_FALSE(reply.ok);
  EXPECT_EQ(reply.number, kErrCantCreateObject);
  EXPECT_FALSE(runtime_->Finished());  // the client's first create is still to come

  Send(Create("Test.Listener") + Inform(1, "fail") + Inform(7, "x") + Release(7));
  EXPECT_TRUE(Receive().ok);
  reply = Receive();
  EXPECT_EQ(reply.number, 1004);
  EXPECT_EQ(reply.description, "The menu item is busy");
  EXPECT_EQ(Receive().number, kRpcDisconnected);
  EXPECT_EQ(Receive().number, kRpcDisconnected);
  EXPECT_EQ(runtime_->ObjectCount(), 1);
  EXPECT_FALSE(runtime_->Finished());
}

TEST_F(ServerRuntimeTest, LocksKeepTheServerUpAfterTheLastRelease) {
  EXPECT_FALSE(runtime_->Finished());
  runtime_->Lock();
  Send(Create("Test.Listener") + Release(1));
  EXPECT_TRUE(Receive().ok);
  EXPECT_TRUE(Receive().ok);
  EXPECT_FALSE(runtime_->Finished());
  runtime_->Unlock();
  EXPECT_TRUE(runtime_->Finished());
}

TEST_F(ServerRuntimeTest, ALostClientReleasesItsObjectsAndEndsTheServerDespiteLocks) {
  runtime_->Lock();
  Send(Create("Test.Listener"));
  EXPECT_TRUE(Receive().ok);
  close(client_);
  client_ = -1;
  loop_.WaitWhile([this] { return !runtime_->Finished(); });
  EXPECT_EQ(events_, (std::vector<std::string>{"create", "terminate"}));
  EXPECT_FALSE(runtime_->Connected());
}

TEST_F(ServerRuntimeTest, ACorruptStreamDropsTheConnection) {
  Send(std::string("\xff\xff\xff\xff", 4));
  loop_.WaitWhile([this] { return runtime_->Connected(); });
  EXPECT_TRUE(runtime_->Finished());
}

TEST_F(ServerRuntimeTest, AMessageOfTheWrongShapeIsAnsweredAsMalformedAndTheConnectionLives) {
  // The kind is one byte; a two-byte kind field is no request.
  Send(os::EncodeMessage({std::string("\x01\x00", 2), "Test.Listener"}));
  Reply reply = Receive();
  EXPECT_FALSE(reply.ok);
  EXPECT_EQ(reply.number, kv::kErrInvalidArgument);
  EXPECT_EQ(reply.description, "Malformed request");
  Send(os::EncodeMessage({"\x03"}));  // a release without its object
  EXPECT_EQ(Receive().description, "Malformed request");
  Send(Create("Test.Listener"));
  EXPECT_TRUE(Receive().ok);
  EXPECT_TRUE(runtime_->Connected());
}

TEST(ServerRuntimeWithoutClientTest, EndsAtOnce) {
  EventLoop loop;
  ServerRuntime runtime(-1);
  runtime.Lock();
  EXPECT_EQ(runtime.Run(loop), 0);
}

}  // namespace
}  // namespace platform::com
