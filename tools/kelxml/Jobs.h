// Jobs: the files of one command worked on by several threads (-j N), the output the same bytes
// as one thread would print. Each file's results and diagnostics go to Out() and Err(): straight
// to standard output and error with one job; with several, held per file and printed in the
// order of the files once every file before it is printed.
#ifndef KELXML_TOOL_JOBS_H
#define KELXML_TOOL_JOBS_H

#include "Arguments.h"

#include <XML/CKelXML.h>

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kelxml {

// Where the file being worked on by this thread prints its results, and its diagnostics.
std::ostream& Out();
std::ostream& Err();

// -j N: the jobs asked for (from 1); without it, 0 (one per core). Throws UsageError for anything else.
std::size_t JobsOf(const Arguments& args);

// Calls each(index, xml) for every index of files, on jobs threads (0: one per core), xml being
// the thread's object, kept from file to file. The first exception each throws (in the order of
// the files) is rethrown once the output of the files before it, and its own, is printed; no
// later file's output is.
void ForEachFile(const std::vector<std::string>& files, std::size_t jobs,
                 const std::function<void(std::size_t index, XML::CKelXML& xml)>& each);

}  // namespace kelxml

#endif
