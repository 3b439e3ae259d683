// What the fuzz targets share: the property check, the answering user and the in-process service.

#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"

namespace kvfuzz {

void Fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\nPROPERTY VIOLATED: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    // Long texts are cut: the input that libFuzzer keeps holds the whole case.
    const size_t shown = std::min<size_t>(detail.size(), 2000);
    std::fprintf(stderr, "  detail: %.*s%s\n", static_cast<int>(shown), detail.data(),
                 shown < detail.size() ? " ..." : "");
  }
  std::abort();
}

int AnsweringUser::MessageBox(std::string_view prompt, int buttons, std::string_view) {
  boxes.emplace_back(prompt);
  switch (buttons & 7) {
    case platform::forms::vbAbortRetryIgnore:
      return platform::forms::vbAbort;
    case platform::forms::vbYesNoCancel:
    case platform::forms::vbYesNo:
      return platform::forms::vbYes;
    case platform::forms::vbRetryCancel:
      return platform::forms::vbRetry;
    default:
      return platform::forms::vbOK;
  }
}

void AnsweringUser::ShowModal(platform::forms::Form& form) {
  ++modals;
  if (on_modal) on_modal(form);
  form.Hide();
}

InProcessService::InProcessService(Answer answer)
    : answer_(std::move(answer)), scope_([this](const platform::web::fake::WebRequest& request) {
        requests.push_back({PageOf(request.url), request.url, request.post_data});
        if (answer_) return answer_(request);
        return platform::web::fake::WebAnswer{200, "text/plain", "SUCCESS"};
      }) {}

std::optional<std::string> InProcessService::Request::Query(std::string_view key) const {
  const size_t question = url.find('?');
  if (question == std::string::npos) return std::nullopt;
  for (const std::string& pair : SplitAll(std::string_view(url).substr(question + 1), "&")) {
    const size_t equals = pair.find('=');
    if (std::string_view(pair).substr(0, equals) == key) {
      return equals == std::string::npos ? std::string() : pair.substr(equals + 1);
    }
  }
  return std::nullopt;
}

Reading ReadThroughBrowser(const std::string& url) {
  platform::web::WebBrowser browser;
  bool done = false;
  browser.OnDocumentComplete([&done](platform::web::WebBrowser&, const std::string&) { done = true; });
  browser.Navigate(url);
  platform::forms::EventLoop::Current().WaitWhile([&done] { return !done; });
  return {browser.BodyText(), browser.IsErrorPage()};
}

std::string PageOf(std::string_view url) {
  url = url.substr(0, url.find('?'));
  const size_t slash = url.rfind('/');
  return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kv-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch directory");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> SplitAll(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::string_view::npos) break;
    parts.emplace_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

}  // namespace kvfuzz
