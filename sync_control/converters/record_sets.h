#pragma once

// The module's record sets, one per list, that the converters fill and later lists look up (a job's customer).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/date_time.h"

namespace brintavel {

// How many rows of a set hold each ListID in member 1 (empty ones left out), so that a lookup by ListID costs the
// same however long the list. Counted when the set is first asked and kept up to date from then on, so that the
// sets nobody asks pay nothing.
struct ListIDCounts {
  bool counted = false;
  std::unordered_map<std::string, int32_t> counts;
};

// The blocks of one set's rows, carved from large chunks so that a row's values cost no allocation of their own.
// Blocks are never freed one by one: a block that had to move leaves its old place unused until the set is made
// anew. Rows are filled one after the other, so the block that grows is nearly always the last one, which grows in
// place.
class RowArena {
 public:
  // A block of this many bytes, aligned for any member type.
  char* Allocate(size_t bytes);
  // Whether the block was the last one carved and now has this size, in place.
  bool TryResize(char* block, size_t bytes);
  // Drops every block.
  void Clear();

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::vector<std::unique_ptr<char[]>> large_;  // blocks of a chunk's size, each on its own
  char* last_ = nullptr;                        // the last block carved from the current chunk
  char* free_ = nullptr;                        // the current chunk's first free byte
  char* end_ = nullptr;
};

// The element types a member of a record set can have.
enum class MemberType { Text, Date, Flag, Int16, Int32, Double };

// One record of a set: the values of all members for one list element. Members are numbered from 1 as the
// converters name them ("member 3 holds TimeModified"); asking a member for another type than it has is a
// type-mismatch kv::Error, asking for a member the set does not have is subscript out of range.
class RecordRow {
 public:
  RecordRow(const RecordRow& other);
  RecordRow& operator=(const RecordRow& other);
  RecordRow(RecordRow&&) noexcept = default;
  RecordRow& operator=(RecordRow&&) noexcept = default;

  // A text member's value; the view lasts until the next SetText on this row.
  std::string_view Text(int member) const;
  // Stores a text member. Member 1 is written through here too, so that its set's lookup by ListID knows it.
  void SetText(int member, std::string_view value);

  // The other members by reference; a reference lasts until the next SetText on this row, which may move the
  // row's values.
  kv::DateTime& Date(int member) { return Get<kv::DateTime>(member); }
  bool& Flag(int member) { return Get<bool>(member); }
  int16_t& Int16(int member) { return Get<int16_t>(member); }
  int32_t& Int32(int member) { return Get<int32_t>(member); }
  double& Double(int member) { return Get<double>(member); }
  kv::DateTime Date(int member) const { return Value<kv::DateTime>(member); }
  bool Flag(int member) const { return Value<bool>(member); }

  // Member 1 (ListID, or TxnID for transactions), 2 (TimeCreated) and 3 (TimeModified) of every set.
  std::string_view ListID() const { return Text(1); }
  kv::DateTime& TimeCreated() { return Date(2); }
  kv::DateTime& TimeModified() { return Date(3); }

 private:
  // A sync keeps a row for every record of every list to its end, and most text members stay empty, so a row is
  // kept small: two pointers, and the values in one block in its set's arena, the other members packed at
  // their own sizes, then only the texts that are not empty. A row nothing was written to has no block at all.
  // A row lives in its set, which owns the slot table that says where each member is.
  struct Slots;

  explicit RecordRow(const Slots& slots) : slots_(&slots) {}
  // The slot of a member of this type; raises subscript out of range or type mismatch.
  uint32_t SlotOf(int member, MemberType type) const;
  // The block's texts: for each one that is not empty its slot (one byte), its length (seven bits a byte, the
  // last byte below 128) and its bytes; a slot byte of 255 ends them. Empty without a block.
  std::string_view Entries() const;
  // The block, made with every member at its default when the row has none yet.
  char* Block();
  template <class T>
  T& Get(int member);
  template <class T>
  T Value(int member) const;
  friend class RecordSet;

  const Slots* slots_;
  char* block_ = nullptr;
};

// A set of parallel arrays indexed 1..n, one element per record element of a list's response, held as one row
// per record. It holds either no arrays at all or rows 1 to the count of the last resize.
class RecordSet {
 public:
  RecordSet(std::vector<MemberType> layout, int active_member);

  // Mode empty or blanks: fresh rows 1..count, every member at its type's default ("", the zero date-time,
  // False, 0). "Preserve": rows 1..count keeping rows 1..min(old, new). "Empty": no rows, the count unused.
  // The modes compare exactly, letter case included. Anything else, or a count below 1 where one is needed,
  // raises a kv::Error and leaves the set as it was.
  void Resize(int32_t count, const std::string& mode);

  bool HasArrays() const { return rows_.has_value(); }
  // Whether a row holds this ListID in member 1 (as RecordRow::SetText stored it); false for the empty text.
  bool HoldsListID(const std::string& list_id) const;
  // Raises subscript out of range when the set holds no arrays, like the upper bound of an empty array.
  int32_t UpperBound() const;
  // Index from 1; outside 1..UpperBound raises subscript out of range.
  RecordRow& operator[](int32_t index);
  const RecordRow& operator[](int32_t index) const { return (*const_cast<RecordSet*>(this))[index]; }
  // Row `index` as a resize makes it, every member at its default.
  void ResetRow(int32_t index);

  const std::vector<MemberType>& layout() const { return layout_; }
  // The member that holds IsActive (0 for the transaction sets, which have none).
  int active_member() const { return active_member_; }

 private:
  void ForgetListIDs();  // counted again when next asked

  std::vector<MemberType> layout_;
  int active_member_;
  std::unique_ptr<ListIDCounts> list_ids_ = std::make_unique<ListIDCounts>();  // of rows_, at a fixed address
  std::unique_ptr<RowArena> arena_ = std::make_unique<RowArena>();             // the blocks of rows_, likewise
  std::shared_ptr<const RecordRow::Slots> slots_;                              // at a fixed address too
  std::optional<RecordRow> blank_row_;                                         // the row fresh rows are copied from
  std::optional<std::vector<RecordRow>> rows_;
};

// The record-array sets of the library, one copy per host thread like all of its module state.
struct RecordSets {
  RecordSets();
  RecordSet ExpenseRecords;
  RecordSet TimeRecords;
  RecordSet CustomerRecords;
  RecordSet ProjectRecords;
  RecordSet VendorRecords;
  RecordSet EmployeeRecords;
  RecordSet GLAccountRecords;
  RecordSet ServiceItemRecords;
  RecordSet NonInventoryItemRecords;
  RecordSet OtherChargeItemRecords;
  RecordSet ClassRecords;
  RecordSet PayrollItemRecords;
};

// The calling thread's sets; ResetRecordSets gives the thread fresh ones (a new host thread, or a test).
RecordSets& ModuleRecordSets();
void ResetRecordSets();

}  // namespace brintavel
