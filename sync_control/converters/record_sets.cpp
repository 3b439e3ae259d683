// The record sets' compact row layout and their lookup by ListID; every converter keeps its records here.

#include "sync_control/converters/record_sets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "platform/base/error.h"
#include "platform/base/text.h"

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

// Where each member lives: its index among the texts or among the other members. One table per set.
struct RecordRow::Slots {
  struct Slot {
    MemberType type;
    uint32_t index;
  };
  std::vector<Slot> members;
  ListIDCounts* list_ids = nullptr;  // the set's
};

namespace {
constexpr size_t kLength = sizeof(uint32_t);
constexpr size_t kEntryHeader = 1 + kLength;  // slot, length

uint32_t ReadLength(const char* at) {
  uint32_t length;
  std::memcpy(&length, at, sizeof length);
  return length;
}

void WriteLength(char* at, uint32_t length) {
  std::memcpy(at, &length, sizeof length);
}
}  // namespace

RecordRow::RecordRow(const Slots& slots) : slots_(&slots) {
  for (const Slots::Slot& slot : slots.members) {
    if (slot.type == MemberType::Text) continue;
    Scalar& scalar = scalars_[slot.index];
    switch (slot.type) {  // the member of the union this slot uses becomes its active one, at its default
      case MemberType::Text:
        break;
      case MemberType::Date:
        scalar.date = kv::DateTime();
        break;
      case MemberType::Flag:
        scalar.flag = false;
        break;
      case MemberType::Int16:
        scalar.int16 = 0;
        break;
      case MemberType::Int32:
        scalar.int32 = 0;
        break;
      case MemberType::Double:
        scalar.number = 0;
        break;
    }
  }
}

RecordRow::RecordRow(const RecordRow& other) : slots_(other.slots_), scalars_(other.scalars_) {
  const std::string_view entries = other.Entries();
  if (other.texts_) {
    texts_ = std::make_unique<char[]>(kLength + entries.size());
    std::memcpy(texts_.get(), other.texts_.get(), kLength + entries.size());
  }
}

RecordRow& RecordRow::operator=(const RecordRow& other) {
  if (this != &other) *this = RecordRow(other);
  return *this;
}

uint32_t RecordRow::SlotOf(int member, MemberType type) const {
  if (member < 1 || static_cast<size_t>(member) > slots_->members.size()) throw SubscriptOutOfRange();
  const Slots::Slot slot = slots_->members[static_cast<size_t>(member - 1)];
  if (slot.type != type) throw kv::TypeMismatch();
  return slot.index;
}

template <class T>
T& RecordRow::Get(int member) {
  if constexpr (std::is_same_v<T, kv::DateTime>) return scalars_[SlotOf(member, MemberType::Date)].date;
  if constexpr (std::is_same_v<T, bool>) return scalars_[SlotOf(member, MemberType::Flag)].flag;
  if constexpr (std::is_same_v<T, int16_t>) return scalars_[SlotOf(member, MemberType::Int16)].int16;
  if constexpr (std::is_same_v<T, int32_t>) return scalars_[SlotOf(member, MemberType::Int32)].int32;
  if constexpr (std::is_same_v<T, double>) return scalars_[SlotOf(member, MemberType::Double)].number;
}

std::string_view RecordRow::Entries() const {
  if (!texts_) return {};
  return std::string_view(texts_.get() + kLength, ReadLength(texts_.get()));
}

size_t RecordRow::FindText(uint32_t slot) const {
  const std::string_view entries = Entries();
  for (size_t at = 0; at < entries.size(); at += kEntryHeader + ReadLength(entries.data() + at + 1)) {
    if (static_cast<uint8_t>(entries[at]) == slot) return at;
  }
  return std::string_view::npos;
}

std::string_view RecordRow::TextAt(size_t at) const {
  if (at == std::string_view::npos) return {};
  const std::string_view entries = Entries();
  return entries.substr(at + kEntryHeader, ReadLength(entries.data() + at + 1));
}

std::string_view RecordRow::Text(int member) const {
  return TextAt(FindText(SlotOf(member, MemberType::Text)));
}

void RecordRow::SetText(int member, std::string_view value) {
  const uint32_t slot = SlotOf(member, MemberType::Text);
  const size_t old_at = FindText(slot);
  const std::string_view old = TextAt(old_at);
  if (old == value) return;
  const std::string_view entries = Entries();
  const size_t kept = entries.size() - (old.empty() ? 0 : kEntryHeader + old.size());
  const size_t size = kept + (value.empty() ? 0 : kEntryHeader + value.size());
  // The lengths are 32-bit: a row's texts all come from one record of a response, far below 4 GiB.
  if (size > UINT32_MAX) throw kv::Error(kv::kErrOutOfMemory, "Out of memory");
  if (member == 1 && slots_->list_ids != nullptr && slots_->list_ids->counted) {
    auto& counts = slots_->list_ids->counts;
    if (!old.empty()) {
      const auto found = counts.find(std::string(old));
      if (found != counts.end() && --found->second == 0) counts.erase(found);
    }
    if (!value.empty()) ++counts[std::string(value)];
  }
  // A new block of exactly the new size, filled before the old one goes (the value may be a view of it).
  std::unique_ptr<char[]> block;
  if (size > 0) {
    block = std::make_unique_for_overwrite<char[]>(kLength + size);
    char* out = block.get();
    WriteLength(out, static_cast<uint32_t>(size));
    out += kLength;
    const size_t before = old.empty() ? entries.size() : old_at;
    out = std::copy_n(entries.data(), before, out);
    if (!old.empty()) {
      const size_t after = old_at + kEntryHeader + old.size();
      out = std::copy_n(entries.data() + after, entries.size() - after, out);
    }
    if (!value.empty()) {
      *out++ = static_cast<char>(slot);
      WriteLength(out, static_cast<uint32_t>(value.size()));
      std::copy_n(value.data(), value.size(), out + kLength);
    }
  }
  texts_ = std::move(block);
}

template kv::DateTime& RecordRow::Get<kv::DateTime>(int);
template bool& RecordRow::Get<bool>(int);
template int16_t& RecordRow::Get<int16_t>(int);
template int32_t& RecordRow::Get<int32_t>(int);
template double& RecordRow::Get<double>(int);

RecordSet::RecordSet(std::vector<MemberType> layout, int active_member)
    : layout_(std::move(layout)), active_member_(active_member) {
  auto slots = std::make_shared<RecordRow::Slots>();
  slots->list_ids = list_ids_.get();
  slots->members.reserve(layout_.size());
  uint32_t texts = 0, scalars = 0;
  for (MemberType type : layout_) slots->members.push_back({type, type == MemberType::Text ? texts++ : scalars++});
  if (scalars > RecordRow::kMaxScalars || texts > UINT8_MAX + 1) {
    throw std::logic_error("a record layout has more members than a row has room for");
  }
  slots_ = std::move(slots);
  blank_row_.emplace(RecordRow(*slots_));
}

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
    rows_.emplace(static_cast<size_t>(count), *blank_row_);
    return;
  }
  rows_->resize(static_cast<size_t>(count), *blank_row_);
}

void RecordSet::ForgetListIDs() {
  list_ids_->counted = false;
  list_ids_->counts.clear();
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

void RecordSet::ResetRow(int32_t index) {
  RecordRow& row = (*this)[index];
  // Through SetText, so that the lookup by ListID forgets the row's.
  if (!layout_.empty() && layout_.front() == MemberType::Text) row.SetText(1, {});
  row = *blank_row_;
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

}  // namespace brintavel
