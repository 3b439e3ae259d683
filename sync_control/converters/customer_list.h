#pragma once

// The customer list: QuickBooks answers the customer query with one list of CustomerRet elements that holds the
// customers and their jobs alike, told apart by Sublevel. The customer converter takes sub-level 0 into
// Customers, the job converter every deeper record into CustProjInfo; both walk the whole list, so a record's key
// is its position in the list whichever table it goes to, and the two tables never get the same key from one
// response. Customers and jobs share the options letter "P", the last-sync date and one status report, made by
// the job converter.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sync_control/converters/column_table.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/statement_script.h"

namespace brintavel {

class BrintavelCtl;

// CustomerRet of sub-level 0 -> Customers. Uploads with "P" and makes no status report of its own.
void GetCustomersFromQB(BrintavelCtl& ctl);
// CustomerRet of a sub-level above 0 -> CustProjInfo, and the "P" report for customers and jobs together.
void GetProjectsFromQB(BrintavelCtl& ctl);
// True when the ListID is not empty and a job taken earlier in the current job pass had it.
bool IsProjectListIDKnown(const std::string& list_id);

std::span<const Column> CustomerColumns();
std::span<const Column> JobColumns();

// Sublevel as a whole number. A record without one, or with a text that is no whole number, is a customer: the
// split must never leave a record to neither converter, nor send a customer as a job.
int32_t CustomerSubLevel(const RecordChildren& children);
// The text when it is a whole number (digits only, within 32 bits, blanks around it dropped); nullopt otherwise.
std::optional<std::string> WholeNumberText(std::string_view text);

// What sets one half of the list apart from the other, beyond the particulars its ListConverterSpec gives.
struct CustomerListHalf {
  // Whether a record of this sub-level belongs to this half.
  std::function<bool(int32_t sublevel)> takes;
  // The half's other steps; its takes is made from the one above.
  ListPassSteps steps;
};

// One pass over the CustomerRet elements by the converter template, for one half of the list: its failure
// counter starts from zero before the response is loaded, and the record set is emptied when the response
// cannot be read, as when it holds no CustomerRet, and kept with every value after the pass.
void RunCustomerListHalf(BrintavelCtl& ctl, ListConverterSpec list, CustomerListHalf half);

}  // namespace brintavel
