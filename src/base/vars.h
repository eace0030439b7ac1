// Vars records: the {Key=Value} text that every argument and answer is.
#pragma once

#include "base/text.h"
#include "base/variant.h"

namespace ledra {

// Reads the first entry named key (typed entries preferred to plain ones);
// an absent entry gives def, or Empty when no default is given.
Var GetVar(const Text& vars, const Text& key);
Var GetVar(const Text& vars, const Text& key, const Var& def);

// Removes the first entry named key and, unless the value's text form is
// empty and force is false, appends {key(Ln)=value} at the end.
void AddVar(Text& vars, const Text& key, const Var& value, bool force = false);
// The same for a text value, without making a Var of it.
void AddVar(Text& vars, const Text& key, const Text& value, bool force = false);

// Appends {key(Sn)=value} without looking for an earlier entry: for callers
// that know the record holds none.
void AppendTyped(Text& vars, const Text& key, const Text& value);

}  // namespace ledra
