// A connection over a folder of dBase free tables, read by the embedded
// engine. Opening it touches no file: each result set opens its table,
// reads it and closes it again when released.
#pragma once

#include <memory>

#include "common/text.h"
#include "data/connection.h"

namespace ledra {

std::shared_ptr<Connection> OpenDbfFolder(const Text& folder);

}  // namespace ledra
