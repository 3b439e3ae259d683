#pragma once

// Control arrays: controls of one kind under one name, told apart by index, with one click handler.

#include <map>
#include <memory>
#include <string>

#include "platform/base/error.h"
#include "platform/forms/control.h"

namespace platform::forms {

// A control array: controls of one kind sharing a name and told apart by index (`cmdNav(0)`..`cmdNav(3)`).
// The elements' Click events arrive at the array's one handler with the index. Indexes need not be contiguous.
template <class T>
class ControlArray {
 public:
  // Elements 0 .. count-1.
  ControlArray(Control* container, std::string name, int count) : container_(container), name_(std::move(name)) {
    for (int i = 0; i < count; ++i) Load(i);
  }
  ControlArray(const ControlArray&) = delete;
  ControlArray& operator=(const ControlArray&) = delete;

  const std::string& Name() const { return name_; }
  // Error 340 for an index that has no element, like the platform's array.
  T& operator[](int index) {
    auto it = items_.find(index);
    if (it == items_.end()) {
      throw kv::Error(340, "Control array element '" + std::to_string(index) + "' doesn't exist");
    }
    return *it->second;
  }
  bool Contains(int index) const { return items_.count(index) != 0; }
  int Count() const { return static_cast<int>(items_.size()); }
  int LBound() const { return items_.empty() ? 0 : items_.begin()->first; }
  int UBound() const { return items_.empty() ? -1 : items_.rbegin()->first; }

  // Adds an element at run time; error 360 when the index is taken.
  T& Load(int index) {
    if (Contains(index)) throw kv::Error(360, "Object already loaded");
    auto element = std::make_unique<T>(container_, name_, index);
    if constexpr (requires(T & t) { t.OnClick = [] {}; }) {
      element->OnClick = [this, index] {
        auto handler = OnClick;
        if (handler) handler(index);
      };
    }
    T& ref = *element;
    items_.emplace(index, std::move(element));
    return ref;
  }

  template <class F>
  void ForEach(F&& visit) {
    for (auto& [index, element] : items_) visit(index, *element);
  }

  std::function<void(int index)> OnClick;

 private:
  Control* container_;
  std::string name_;
  std::map<int, std::unique_ptr<T>> items_;
};

}  // namespace platform::forms
