// The `ledra` command-line tool: the same lookups the host makes, run on the
// portable Session, with readable answers for a support engineer.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ledra::tool {

// Runs one command (args without the program name); returns the exit code:
// 0 success, 1 no match or a failure, 2 bad usage.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A settings path for the plug-in from a path as the user typed it: the
// plug-in splits paths at "\" only.
std::string SettingsPath(const std::string& path);

}  // namespace ledra::tool
