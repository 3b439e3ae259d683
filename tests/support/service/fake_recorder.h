#pragma once

// A request recorder for tests of the service stand-in in this process: keeps what the server records in memory,
// so a test sees each record as it is made, and can wait for one without reading the data directory.
//
//   auto recorder = std::make_unique<kv::test::FakeRecorder>();
//   kv::test::FakeRecorder& records = *recorder;
//   standins::service::ServiceStandin standin(options, std::move(recorder));
//   ... requests ...
//   records.WaitFor(2);  // returns once two requests are recorded
//
// Header-only: link the test with standin_service.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "standins/service/request_log.h"

namespace kv::test {

class FakeRecorder : public standins::service::RequestRecorder {
 public:
  struct Record {
    std::string request_line;
    standins::service::RecordedHeaders headers;
    std::string body;
  };

  uint64_t Record(std::string_view request_line, const standins::service::RecordedHeaders& headers,
                  std::string_view body) override {
    std::lock_guard lock(mutex_);
    records_.push_back({std::string(request_line), headers, std::string(body)});
    changed_.notify_all();
    return records_.size();
  }

  // A copy of the records so far, in the order they were made.
  std::vector<struct Record> Records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }

  // Waits until at least `count` requests are recorded; ctest's time-out guards a test whose request never comes.
  std::vector<struct Record> WaitFor(size_t count) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return records_.size() >= count; });
    return records_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<struct Record> records_;
};

}  // namespace kv::test
