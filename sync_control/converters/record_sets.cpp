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
};

RecordRow::RecordRow(const std::vector<MemberType>& layout) {
  auto slots = std::make_shared<Slots>();
  slots->members.reserve(layout.size());
  for (MemberType type : layout) {
    if (type == MemberType::Text) {
      slots->members.push_back({true, static_cast<uint32_t>(texts_.size())});
      texts_.emplace_back();
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

template <class T>
T& RecordRow::Get(int member) {
  if (member < 1 || static_cast<size_t>(member) > slots_->members.size()) throw SubscriptOutOfRange();
  const Slots::Slot slot = slots_->members[static_cast<size_t>(member - 1)];
  if constexpr (std::is_same_v<T, std::string>) {
    if (!slot.text) throw kv::TypeMismatch();
    return texts_[slot.index];
  } else {
    T* value = slot.text ? nullptr : std::get_if<T>(&scalars_[slot.index]);
    if (value == nullptr) throw kv::TypeMismatch();
    return *value;
  }
}

void RecordRow::Keep(int member, std::string value) {
  std::string& target = Text(member);
  if (member == 1 && list_ids_ != nullptr && target != value) {
    if (!target.empty()) {
      const auto old = list_ids_->find(target);
      if (old != list_ids_->end() && --old->second == 0) list_ids_->erase(old);
    }
    if (!value.empty()) ++(*list_ids_)[value];
  }
  target = std::move(value);
}

template std::string& RecordRow::Get<std::string>(int);
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
    list_ids_->clear();
    return;
  }
  const bool blank = kv::TrimBlanks(mode).empty();
  if (!blank && mode != "Preserve") throw kv::Error(kv::kErrInvalidArgument, "Invalid procedure call or argument");
  if (count < 1) throw SubscriptOutOfRange();
  if (blank || !rows_) {
    // Preserve on a set without arrays has nothing to keep: it makes fresh rows like the blank mode.
    rows_.emplace(static_cast<size_t>(count), BlankRow());
    list_ids_->clear();
    return;
  }
  // The rows cut off take their ListIDs with them.
  for (size_t i = static_cast<size_t>(count); i < rows_->size(); ++i) (*rows_)[i].Keep(1, std::string());
  rows_->resize(static_cast<size_t>(count), BlankRow());
}

const RecordRow& RecordSet::BlankRow() {
  if (!blank_row_) {
    blank_row_.emplace(layout_);
    blank_row_->list_ids_ = list_ids_.get();
  }
  return *blank_row_;
}

bool RecordSet::HoldsListID(const std::string& list_id) const {
  return !list_id.empty() && rows_ && list_ids_->count(list_id) > 0;
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
