// The tests build their tables with the tool's dBase writer.
#pragma once

#include "tools/dbf_writer.h"

namespace ledra::testing {

using tool::DbfValue;
using tool::DbfWriter;
using DbfFieldSpec = tool::DbfField;

}  // namespace ledra::testing
