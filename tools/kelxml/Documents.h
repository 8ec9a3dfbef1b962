// What every kelxml command does with a document: open it, print its records, find the
// nodes at a PATH, print values on one line.
#ifndef KELXML_TOOL_DOCUMENTS_H
#define KELXML_TOOL_DOCUMENTS_H

#include "Arguments.h"

#include <XML/CKelXML.h>

#include <cstddef>
#include <string>
#include <vector>

#include <xercesc/dom/DOM.hpp>

namespace kelxml {

// Keeps each printed value on one line: backslash, tab, newline, carriage return escaped.
std::string Escape(const std::string& text);
// The same, appended to out.
void AppendEscaped(std::string& out, const std::string& text);
// "warning", "error", "fatal", "exception" or "missing".
const char* KindName(XML::E_TYPE_ERROR kind);
// Prints the records of the list from index first on to standard error, parser diagnostics as
// FILE:LINE:COLUMN with their source line (Diagnostics.h) when they are in the document or a
// grammar options names; returns how many.
std::size_t PrintRecords(const std::string& file, const XML::CError* errors, std::size_t first = 0,
                         const XML::sLoadOptions* options = nullptr);
// How many records the object's list holds.
std::size_t RecordCount(const XML::CKelXML& xml);
// The bytes of standard input, read on the first call; later calls give the same bytes.
const std::string& StandardInput();
// Loads file into xml with options; "-" reads standard input.
bool LoadDocument(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options);
// Checks file as LoadDocument would load it, recording the same, but builds no document.
bool ValidateDocument(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options);
// After a load that made no document: when the file cannot be read at all, prints one clear
// line ("FILE: fatal: cannot read: No such file or directory") and returns true.
bool ReportUnreadable(const std::string& file);
// How the commands that read or edit a document load it: well-formed only, or with --validate
// against the grammar the document declares (as check does by default).
XML::sLoadOptions ReadingOptions(const Arguments& args);
// How check loads: as the document declares (--validate: always), well-formed only
// (--well-formed), or against the grammars named by --schema [NS=]FILE and --dtd FILE, parsed
// once for all the files checked.
XML::sLoadOptions CheckingOptions(const Arguments& args);
// Throws a UsageError naming the grammar file, line and column when the grammars options name
// do not compile (or a bound refuses them).
void RequireCompiledGrammars(const XML::sLoadOptions& options);
// Loads a document to read or edit. Warnings and validity errors are printed and tolerated;
// a document that is not well-formed or could not be read is refused.
bool Open(XML::CKelXML& xml, const std::string& file, const XML::sLoadOptions& options);
// The name a streaming walk reads: standard input for "-".
inline const char* StreamedName(const std::string& file) { return file == "-" ? "/dev/stdin" : file.c_str(); }
// After a load or a streaming walk: prints the records and tells whether the document could be
// read (usable, and no fatal error or exception recorded).
bool Usable(const XML::CKelXML& xml, const std::string& file, bool usable);
// The root element when the path's first name is its own, else null; rest = the remaining path.
xercesc::DOMNode* RootOf(XML::CKelXML& xml, const std::string& path, std::string& rest);
// The first node at the end of path, going down one first child at a time.
xercesc::DOMNode* FindFirst(XML::CKelXML& xml, const std::string& path);
void ReportNothingAt(const std::string& file, const std::string& path);
// The FILE... of a command taking FILE... then one last argument (what names them all, for the
// usage error when there are fewer than two).
std::vector<std::string> FilesBeforeLast(const Arguments& args, const char* what);
// What each output line about file starts with: "FILE:" when several files are given, as grep
// does, else nothing.
std::string LinePrefix(const std::vector<std::string>& files, const std::string& file);
// True when path is an XPath expression: it starts with '/', or --xpath is given.
bool IsXPath(const Arguments& args, const std::string& path);
// The nodes the XPath expression selects in the loaded document, prefixes bound by --ns P=URI.
// Throws UsageError naming the column for an expression that does not compile, and
// std::runtime_error with the reason for one that cannot be evaluated (a bound of the XPath budget).
std::vector<xercesc::DOMNode*> SelectXPath(const XML::CKelXML& xml, const Arguments& args, const std::string& expr);

}  // namespace kelxml

#endif
