// The screen-pop: bringing up a customer's or supplier's record in the
// accounting application by driving its windows.
#pragma once

#include "base/text.h"

namespace ledra {

// contact_type "pn" (supplier) or "sn" (customer); action "", "SALES", "SOP"
// or "STOCK". Finds the main window and the record screen (opening it from
// the menu when needed) and searches the account in it; ends silently at
// the first window that is missing.
void PopLedra(const Text& contact_type, const Text& account, const Text& action);

// CheckRunning: when start is set and Ledra II's main window is not found,
// starts Ledra II, unless it is on its way up already. Always false.
bool CheckLedraRunning(bool start);

// DoAction: pops the record that rd's "Id" names up in Ledra II for its
// "Action", or says in a message box what cannot be done. One action at a
// time: another while one runs is refused and logged.
Text DoScreenPopAction(const Text& rd);

// Forgets that this process started Ledra II, as if it never had (tests
// begin from there).
void ForgetLedraStart();

}  // namespace ledra
