// What the host's workers are told by the Session that owns them: the
// settings it derives from the host's record at Initialize (the table
// prefix, the data folder and the two table switches) and the one setting
// of its own, read from the registry: MatchLastDigits.
#pragma once

#include "base/text.h"

namespace ledra {

struct Settings {
  Text table_prefix;            // the two characters that name the company's tables
  Text data_path;               // the folder of the tables
  bool use_suppliers = false;
  bool use_customers = false;
  int match_last_digits = 0;    // MatchLastDigits: 0 off, else 6 to 15
};

}  // namespace ledra
