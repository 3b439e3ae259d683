#include "sync_control/converters/record_sets.h"

#include <memory>
#include <type_traits>

#include "common/error.h"
#include "common/text.h"

namespace brintavel {
namespace {

constexpr int64_t kErrSubscriptOutOfRange = 9;

kv::Error SubscriptOutOfRange() {
  return kv::Error(kErrSubscriptOutOfRange, "Subscript out of range");
}

using M = MemberType;

// Builds a layout from runs of (count, type), in member order.
std::vector<MemberType> Layout(std::initializer_list<std::pair<int, MemberType>> runs) {
  std::vector<MemberType> out;
  for (const auto& [count, type] : runs) out.insert(out.end(), static_cast<size_t>(count), type);
  return out;
}

std::vector<MemberType> ItemLayout() {
  return Layout({{1, M::Text},
                 {2, M::Date},
                 {2, M::Text},
                 {1, M::Flag},
                 {1, M::Int16},
                 {2, M::Text},
                 {1, M::Double},
                 {1, M::Text},
                 {1, M::Int16},
                 {1, M::Text}});
}

thread_local std::unique_ptr<RecordSets> t_sets;

}  // namespace

// Where each member lives: its index among the texts or among the other members.
struct RecordRow::Slots {
  struct Slot {
    bool text;
    uint32_t index;
  };
  std::vector<Slot> members;
  uint32_t texts = 0;
};

RecordRow::RecordRow(const std::vector<MemberType>& layout) {
  auto slots = std::make_shared<Slots>();
  slots->members.reserve(layout.size());
  for (MemberType type : layout) {
    if (type == MemberType::Text) {
      slots->members.push_back({true, slots->texts++});
      continue;
    }
    slots->members.push_back({false, static_cast<uint32_t>(scalars_.size())});
    switch (type) {
      case MemberType::Text:
        break;
      case MemberType::Date:
        scalars_.emplace_back(kv::DateTime());
        break;
      case MemberType::Flag:
        scalars_.emplace_back(false);
        break;
      case MemberType::Int16:
        scalars_.emplace_back(int16_t{0});
        break;
      case MemberType::Int32:
        scalars_.emplace_back(int32_t{0});
        break;
      case MemberType::Double:
        scalars_.emplace_back(0.0);
        break;
    }
  }
  slots_ = std::move(slots);
}

uint32_t RecordRow::SlotOf(int member, bool text) const {
  if (member < 1 || static_cast<size_t>(member) > slots_->members.size()) throw SubscriptOutOfRange();
  const Slots::Slot slot = slots_->members[static_cast<size_t>(member - 1)];
  if (slot.text != text) throw kv::TypeMismatch();
  return slot.index;
}

template <class T>
T& RecordRow::Get(int member) {
  T* value = std::get_if<T>(&scalars_[SlotOf(member, false)]);
  if (value == nullptr) throw kv::TypeMismatch();
  return *value;
}

std::string_view RecordRow::Text(int member) const {
  const uint32_t slot = SlotOf(member, true);
  if (text_ends_.empty()) return {};
  const uint32_t begin = slot == 0 ? 0 : text_ends_[slot - 1];
  return std::string_view(texts_).substr(begin, text_ends_[slot] - begin);
}

void RecordRow::SetText(int member, std::string_view value) {
  const uint32_t slot = SlotOf(member, true);
  const std::string_view old = Text(member);
  if (old == value) return;
  if (member == 1 && list_ids_ != nullptr && list_ids_->counted) {
    auto& counts = list_ids_->counts;
    if (!old.empty()) {
      const auto found = counts.find(std::string(old));
      if (found != counts.end() && --found->second == 0) counts.erase(found);
    }
    if (!value.empty()) ++counts[std::string(value)];
  }
  // The ends are 32-bit: a row's texts all come from one record of a response, far below 4 GiB.
  if (texts_.size() - old.size() + value.size() > UINT32_MAX) throw kv::Error(kv::kErrOutOfMemory, "Out of memory");
  if (text_ends_.empty()) text_ends_.assign(slots_->texts, 0);
  const uint32_t begin = slot == 0 ? 0 : text_ends_[slot - 1];
  texts_.replace(begin, old.size(), value);
  const uint32_t grown = static_cast<uint32_t>(value.size() - old.size());  // wraps for a shorter text, as meant
  for (uint32_t i = slot; i < text_ends_.size(); ++i) text_ends_[i] += grown;
}

template kv::DateTime& RecordRow::Get<kv::DateTime>(int);
template bool& RecordRow::Get<bool>(int);
template int16_t& RecordRow::Get<int16_t>(int);
template int32_t& RecordRow::Get<int32_t>(int);
template double& RecordRow::Get<double>(int);

RecordSet::RecordSet(std::vector<MemberType> layout, int active_member)
    : layout_(std::move(layout)), active_member_(active_member) {}

void RecordSet::Resize(int32_t count, const std::string& mode) {
  if (mode == "Empty") {
    rows_.reset();
    ForgetListIDs();
    return;
  }
  const bool blank = kv::TrimBlanks(mode).empty();
  if (!blank && mode != "Preserve") throw kv::Error(kv::kErrInvalidArgument, "Invalid procedure call or argument");
  if (count < 1) throw SubscriptOutOfRange();
  ForgetListIDs();
  if (blank || !rows_) {
    // Preserve on a set without arrays has nothing to keep: it makes fresh rows like the blank mode.
    rows_.emplace(static_cast<size_t>(count), BlankRow());
    return;
  }
  rows_->resize(static_cast<size_t>(count), BlankRow());
}

void RecordSet::ForgetListIDs() {
  list_ids_->counted = false;
  list_ids_->counts.clear();
}

const RecordRow& RecordSet::BlankRow() {
  if (!blank_row_) {
    blank_row_.emplace(layout_);
    blank_row_->list_ids_ = list_ids_.get();
  }
  return *blank_row_;
}

bool RecordSet::HoldsListID(const std::string& list_id) const {
  if (list_id.empty() || !rows_) return false;
  if (!list_ids_->counted) {
    for (const RecordRow& row : *rows_) {
      const std::string_view held = row.ListID();
      if (!held.empty()) ++list_ids_->counts[std::string(held)];
    }
    list_ids_->counted = true;
  }
  return list_ids_->counts.count(list_id) > 0;
}

int32_t RecordSet::UpperBound() const {
  if (!rows_) throw SubscriptOutOfRange();
  return static_cast<int32_t>(rows_->size());
}

RecordRow& RecordSet::operator[](int32_t index) {
  if (!rows_ || index < 1 || static_cast<size_t>(index) > rows_->size()) throw SubscriptOutOfRange();
  return (*rows_)[static_cast<size_t>(index - 1)];
}

RecordSets::RecordSets()
    : ExpenseRecords(Layout({{1, M::Text},
                             {2, M::Date},
                             {3, M::Text},
                             {1, M::Double},
                             {2, M::Text},
                             {2, M::Double},
                             {3, M::Text},
                             {1, M::Flag},
                             {3, M::Text}}),
                     0),
      TimeRecords(Layout({{1, M::Text},
                          {2, M::Date},
                          {1, M::Text},
                          {1, M::Date},
                          {3, M::Text},
                          {1, M::Double},
                          {3, M::Text},
                          {2, M::Flag},
                          {1, M::Text}}),
                  0),
      CustomerRecords(Layout({{1, M::Text},
                              {2, M::Date},
                              {3, M::Text},
                              {1, M::Flag},
                              {1, M::Int32},
                              {39, M::Text},
                              {3, M::Date},
                              {1, M::Text}}),
                      7),
      ProjectRecords(Layout({{1, M::Text},
                             {2, M::Date},
                             {3, M::Text},
                             {1, M::Flag},
                             {1, M::Int32},
                             {22, M::Text},
                             {3, M::Date},
                             {1, M::Text}}),
                     7),
      VendorRecords(Layout({{1, M::Text}, {2, M::Date}, {2, M::Text}, {1, M::Flag}, {21, M::Text}}), 6),
      EmployeeRecords(Layout({{1, M::Text}, {2, M::Date}, {2, M::Text}, {1, M::Flag}, {19, M::Text}, {2, M::Date}}), 6),
      GLAccountRecords(
          Layout({{1, M::Text}, {2, M::Date}, {3, M::Text}, {1, M::Flag}, {3, M::Text}, {2, M::Double}, {1, M::Int32}}),
          7),
      ServiceItemRecords(ItemLayout(), 6),
      NonInventoryItemRecords(ItemLayout(), 6),
      OtherChargeItemRecords(ItemLayout(), 6),
      ClassRecords(Layout({{1, M::Text}, {2, M::Date}, {3, M::Text}, {1, M::Flag}, {1, M::Int32}}), 7),
      PayrollItemRecords(Layout({{1, M::Text}, {2, M::Date}, {2, M::Text}, {1, M::Flag}, {1, M::Text}, {1, M::Int16}}),
                         6) {}

RecordSets& ModuleRecordSets() {
  if (!t_sets) t_sets = std::make_unique<RecordSets>();
  return *t_sets;
}

void ResetRecordSets() {
  t_sets = std::make_unique<RecordSets>();
}

void ResizeEmployeeRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().EmployeeRecords.Resize(count, mode);
}
void ResizeCustomerRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().CustomerRecords.Resize(count, mode);
}
void ResizeProjectRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().ProjectRecords.Resize(count, mode);
}
void ResizeClassRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().ClassRecords.Resize(count, mode);
}
void ResizeGLAccountRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().GLAccountRecords.Resize(count, mode);
}
void ResizeVendorRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().VendorRecords.Resize(count, mode);
}
void ResizeServiceItemRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().ServiceItemRecords.Resize(count, mode);
}
void ResizeNonInventoryItemRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().NonInventoryItemRecords.Resize(count, mode);
}
void ResizeOtherChargeItemRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().OtherChargeItemRecords.Resize(count, mode);
}
void ResizePayrollItemRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().PayrollItemRecords.Resize(count, mode);
}
void ResizeTimeRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().TimeRecords.Resize(count, mode);
}
void ResizeExpenseRecords(int32_t count, const std::string& mode) {
  ModuleRecordSets().ExpenseRecords.Resize(count, mode);
}

}  // namespace brintavel
