// The record sets' compact row layout and their lookup by ListID; every converter keeps its records here.

#include "sync_control/converters/record_sets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
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

// Blocks are aligned for the widest member type, which is all any member needs.
constexpr size_t kAlign = std::max({alignof(kv::DateTime), alignof(double), alignof(int32_t)});
constexpr size_t kChunkBytes = size_t{256} << 10;
constexpr uint8_t kEndOfTexts = 0xFF;

size_t Aligned(size_t bytes) {
  return (bytes + kAlign - 1) & ~(kAlign - 1);
}

}  // namespace

char* RowArena::Allocate(size_t bytes) {
  const size_t size = Aligned(bytes);
  // A block too large to share a chunk gets one of its own; the current chunk stays current.
  if (size > kChunkBytes / 4) return large_.emplace_back(std::make_unique_for_overwrite<char[]>(size)).get();
  if (free_ == nullptr || static_cast<size_t>(end_ - free_) < size) {
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkBytes));
    free_ = chunks_.back().get();
    end_ = free_ + kChunkBytes;
  }
  last_ = free_;
  free_ += size;
  return last_;
}

bool RowArena::TryResize(char* block, size_t bytes) {
  if (block == nullptr || block != last_ || Aligned(bytes) > static_cast<size_t>(end_ - block)) return false;
  free_ = block + Aligned(bytes);
  return true;
}

void RowArena::Clear() {
  chunks_.clear();
  large_.clear();
  last_ = free_ = end_ = nullptr;
}

// Where each member lives: its byte offset among the other members, or its number among the texts. One table per
// set.
struct RecordRow::Slots {
  struct Slot {
    MemberType type;
    uint32_t index;
  };
  std::vector<Slot> members;
  size_t scalar_bytes = 0;           // the other members at the head of a block, widest first
  ListIDCounts* list_ids = nullptr;  // the set's
  RowArena* arena = nullptr;         // the set's
};

namespace {

size_t ScalarSize(MemberType type) {
  switch (type) {
    case MemberType::Text:
      return 0;
    case MemberType::Date:
      return sizeof(kv::DateTime);
    case MemberType::Flag:
      return sizeof(bool);
    case MemberType::Int16:
      return sizeof(int16_t);
    case MemberType::Int32:
      return sizeof(int32_t);
    case MemberType::Double:
      return sizeof(double);
  }
  return 0;
}

size_t LengthBytes(size_t length) {
  size_t n = 1;
  for (; length >= 0x80; length >>= 7) ++n;
  return n;
}

char* WriteEntry(char* out, uint8_t slot, std::string_view value) {
  *out++ = static_cast<char>(slot);
  size_t length = value.size();
  for (; length >= 0x80; length >>= 7) *out++ = static_cast<char>(0x80 | (length & 0x7F));
  *out++ = static_cast<char>(length);
  return std::copy_n(value.data(), value.size(), out);
}

// One entry of a block's texts.
struct Entry {
  uint8_t slot;
  std::string_view value;
  size_t size;  // of the whole entry, head included
};

// The entry that starts here.
Entry ReadEntry(const char* entry) {
  const auto* in = reinterpret_cast<const unsigned char*>(entry);
  size_t at = 1, length = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = in[at++];
    length |= static_cast<size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  return {in[0], std::string_view(entry + at, length), at + length};
}

// The entry of a slot: where it starts in `entries` and what it holds; npos and empty when the text is empty.
std::pair<size_t, Entry> FindEntry(std::string_view entries, uint32_t slot) {
  for (size_t at = 0; at < entries.size();) {
    const Entry entry = ReadEntry(entries.data() + at);
    if (entry.slot == slot) return {at, entry};
    at += entry.size;
  }
  return {std::string_view::npos, Entry{0, {}, 0}};
}

}  // namespace

RecordRow::RecordRow(const RecordRow& other) : slots_(other.slots_) {
  if (other.block_ == nullptr) return;
  const size_t size = slots_->scalar_bytes + other.Entries().size() + 1;
  block_ = slots_->arena->Allocate(size);
  std::memcpy(block_, other.block_, size);
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

std::string_view RecordRow::Entries() const {
  if (block_ == nullptr) return {};
  const char* begin = block_ + slots_->scalar_bytes;
  const char* at = begin;
  while (static_cast<uint8_t>(*at) != kEndOfTexts) {
    at += ReadEntry(at).size;
  }
  return std::string_view(begin, static_cast<size_t>(at - begin));
}

char* RecordRow::Block() {
  if (block_ != nullptr) return block_;
  char* block = slots_->arena->Allocate(slots_->scalar_bytes + 1);
  for (const Slots::Slot& slot : slots_->members) {
    char* at = block + slot.index;
    switch (slot.type) {  // each member starts its life at its type's default
      case MemberType::Text:
        break;
      case MemberType::Date:
        new (at) kv::DateTime();
        break;
      case MemberType::Flag:
        new (at) bool(false);
        break;
      case MemberType::Int16:
        new (at) int16_t(0);
        break;
      case MemberType::Int32:
        new (at) int32_t(0);
        break;
      case MemberType::Double:
        new (at) double(0);
        break;
    }
  }
  block[slots_->scalar_bytes] = static_cast<char>(kEndOfTexts);
  block_ = block;
  return block_;
}

template <class T>
constexpr MemberType TypeOf() {
  if constexpr (std::is_same_v<T, kv::DateTime>) return MemberType::Date;
  if constexpr (std::is_same_v<T, bool>) return MemberType::Flag;
  if constexpr (std::is_same_v<T, int16_t>) return MemberType::Int16;
  if constexpr (std::is_same_v<T, int32_t>) return MemberType::Int32;
  if constexpr (std::is_same_v<T, double>) return MemberType::Double;
}

template <class T>
T& RecordRow::Get(int member) {
  const uint32_t offset = SlotOf(member, TypeOf<T>());
  return *std::launder(reinterpret_cast<T*>(Block() + offset));
}

template <class T>
T RecordRow::Value(int member) const {
  const uint32_t offset = SlotOf(member, TypeOf<T>());
  if (block_ == nullptr) return T();
  return *std::launder(reinterpret_cast<const T*>(block_ + offset));
}

std::string_view RecordRow::Text(int member) const {
  const uint32_t slot = SlotOf(member, MemberType::Text);
  return FindEntry(Entries(), slot).second.value;
}

void RecordRow::SetText(int member, std::string_view value) {
  const uint32_t slot = SlotOf(member, MemberType::Text);
  const std::string_view entries = Entries();
  const auto [old_at, old] = FindEntry(entries, slot);
  if (old.value == value) return;
  if (member == 1 && slots_->list_ids != nullptr && slots_->list_ids->counted) {
    auto& counts = slots_->list_ids->counts;
    if (!old.value.empty()) {
      const auto found = counts.find(std::string(old.value));
      if (found != counts.end() && --found->second == 0) counts.erase(found);
    }
    if (!value.empty()) ++counts[std::string(value)];
  }
  const size_t scalars = slots_->scalar_bytes;
  const size_t kept = entries.size() - old.size;
  const size_t added = value.empty() ? 0 : 1 + LengthBytes(value.size()) + value.size();
  const size_t size = scalars + kept + added + 1;

  char* const old_block = Block();
  const bool in_place = slots_->arena->TryResize(old_block, std::max(size, scalars + entries.size() + 1));
  // Written in place the value may be a view of this very block, which the move of the later entries overwrites.
  std::string copy;
  if (in_place && value.data() >= old_block && value.data() < old_block + scalars + entries.size() + 1) {
    copy.assign(value);
    value = copy;
  }
  char* const block = in_place ? old_block : slots_->arena->Allocate(size);
  if (!in_place) std::memcpy(block, old_block, scalars + (old.size == 0 ? entries.size() : old_at));
  char* out = block + scalars + (old.size == 0 ? entries.size() : old_at);
  if (old.size != 0) {
    const size_t after = old_at + old.size;
    out = static_cast<char*>(std::memmove(out, old_block + scalars + after, entries.size() - after)) +
          (entries.size() - after);
  }
  if (!value.empty()) out = WriteEntry(out, static_cast<uint8_t>(slot), value);
  *out = static_cast<char>(kEndOfTexts);
  if (in_place) slots_->arena->TryResize(block, size);
  block_ = block;
}

template kv::DateTime& RecordRow::Get<kv::DateTime>(int);
template bool& RecordRow::Get<bool>(int);
template int16_t& RecordRow::Get<int16_t>(int);
template int32_t& RecordRow::Get<int32_t>(int);
template double& RecordRow::Get<double>(int);
template kv::DateTime RecordRow::Value<kv::DateTime>(int) const;
template bool RecordRow::Value<bool>(int) const;

RecordSet::RecordSet(std::vector<MemberType> layout, int active_member)
    : layout_(std::move(layout)), active_member_(active_member) {
  auto slots = std::make_shared<RecordRow::Slots>();
  slots->list_ids = list_ids_.get();
  slots->arena = arena_.get();
  slots->members.resize(layout_.size());
  uint32_t texts = 0;
  for (size_t i = 0; i < layout_.size(); ++i) {
    if (layout_[i] == MemberType::Text) slots->members[i] = {MemberType::Text, texts++};
  }
  // The other members widest first, so that each one is aligned for its type without padding between them.
  uint32_t offset = 0;
  for (size_t width : {size_t{8}, size_t{4}, size_t{2}, size_t{1}}) {
    for (size_t i = 0; i < layout_.size(); ++i) {
      const size_t size = ScalarSize(layout_[i]);
      if (size == 0 || std::min(size, kAlign) != width) continue;
      slots->members[i] = {layout_[i], offset};
      offset += static_cast<uint32_t>(size);
    }
  }
  slots->scalar_bytes = offset;
  // The slot byte of 255 ends a block's texts.
  if (texts > kEndOfTexts) throw std::logic_error("a record layout has more texts than a row has room for");
  slots_ = std::move(slots);
  blank_row_.emplace(RecordRow(*slots_));
}

void RecordSet::Resize(int32_t count, const std::string& mode) {
  if (mode == "Empty") {
    rows_.reset();
    arena_->Clear();
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
    arena_->Clear();
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
