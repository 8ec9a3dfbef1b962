// The kelxml commands, one function each (one file each: CheckCommand.cpp, ...). Each takes
// its parsed command line and returns the exit status; a wrong command line throws UsageError.
#ifndef KELXML_TOOL_COMMANDS_H
#define KELXML_TOOL_COMMANDS_H

#include "Arguments.h"

namespace kelxml {

int Check(const Arguments& args);
int Get(const Arguments& args);
int Count(const Arguments& args);
int Dict(const Arguments& args);
int Set(const Arguments& args);
int Format(const Arguments& args);
int XPath(const Arguments& args);

}  // namespace kelxml

#endif
