#pragma once

// What every fuzz target shares: a property check that stops the run, a user who answers every box, the
// service answered in-process with a record of what it was sent, and a scratch directory.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forms/presenter.h"
#include "platform/web/web_browser.h"
#include "tests/support/web/web_answers.h"

namespace kvfuzz {

// A violated property is a fault like a crash: print what was expected and abort, so that libFuzzer keeps the
// input.
[[noreturn]] void Fail(std::string_view what, std::string_view detail = {});
inline void Require(bool holds, std::string_view what, std::string_view detail = {}) {
  if (!holds) Fail(what, detail);
}

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Answers every message box with its first button (OK, Yes, Abort, Retry), closes every modal form at once and
// cancels every text prompt; counts what it was shown.
class AnsweringUser : public platform::forms::Presenter {
 public:
  AnsweringUser() : scope_(*this) {}

  int MessageBox(std::string_view prompt, int buttons, std::string_view title) override;
  void ShowModal(platform::forms::Form& form) override;
  std::optional<std::string> AskText(std::string_view, bool) override { return std::nullopt; }

  // Called with each modal form before it closes, so a target can read what the form shows.
  std::function<void(platform::forms::Form&)> on_modal;
  std::vector<std::string> boxes;
  int modals = 0;

 private:
  platform::forms::PresenterScope scope_;
};

// The service, answered in-process: every navigation is recorded and answered by `answer` (by default
// "SUCCESS" as text/plain).
class InProcessService {
 public:
  using Answer = std::function<platform::web::fake::WebAnswer(const platform::web::fake::WebRequest&)>;
  explicit InProcessService(Answer answer = {});

  struct Request {
    std::string page;  // the file name of the page, without the query
    std::string url;
    std::optional<std::string> post_data;  // absent for a GET
    // The value of a query key as it stands in the address (not decoded); nullopt when the key is absent.
    std::optional<std::string> Query(std::string_view key) const;
  };
  std::vector<Request> requests;

  static constexpr std::string_view kBaseUrl = "http://service.invalid/";

 private:
  Answer answer_;
  platform::web::fake::ScopedWebAnswers scope_;
};

// An address of the in-process service as a browser control of its own reads its answer: the reference the
// system's readings are held to.
struct Reading {
  std::string text;  // the body text
  bool error_page = false;
};
Reading ReadThroughBrowser(const std::string& url);

// The file name of the page an address names: the text after the last "/" before the query.
std::string PageOf(std::string_view url);

// A fresh directory under the system's temporary directory, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Splits at every occurrence of the separator; an empty text gives one empty part.
std::vector<std::string> SplitAll(std::string_view text, std::string_view separator);

}  // namespace kvfuzz
