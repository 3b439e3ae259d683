// The fake's channel: the answer is taken when the navigation starts and handed over at the next dispatch.
#include "tests/support/web/web_answers.h"

#include <utility>

namespace platform::web::fake {
namespace {

class AnsweringChannel final : public Channel {
 public:
  explicit AnsweringChannel(const AnsweringTransport& transport) : transport_(transport) {}

  void Start(TransferRequest request) override {
    location_ = request.url;
    answer_ = transport_.Answer({std::move(request.url), std::move(request.post_data)});
  }
  void Cancel() override { answer_.reset(); }
  const std::string& Location() const override { return location_; }
  int Prepare(std::vector<pollfd>&) override { return answer_ ? 0 : -1; }

  std::optional<TransferResult> Dispatch(std::span<const pollfd>) override {
    if (!answer_) return std::nullopt;
    TransferResult result;
    result.location = location_;
    if (answer_->status == 0) {
      result.failure = answer_->body.empty() ? "The connection failed" : std::move(answer_->body);
    } else {
      result.status = answer_->status;
      result.content_type = std::move(answer_->content_type);
      result.body = std::move(answer_->body);
    }
    answer_.reset();
    return result;
  }

 private:
  const AnsweringTransport& transport_;
  std::string location_;
  std::optional<WebAnswer> answer_;
};

}  // namespace

std::unique_ptr<Channel> AnsweringTransport::OpenChannel() {
  return std::make_unique<AnsweringChannel>(*this);
}

}  // namespace platform::web::fake
