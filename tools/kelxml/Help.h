// The help texts of kelxml and of each of its commands.
#ifndef KELXML_TOOL_HELP_H
#define KELXML_TOOL_HELP_H

namespace kelxml {

extern const char* const kMainHelp;
extern const char* const kCheckHelp;
extern const char* const kGetHelp;
extern const char* const kCountHelp;
extern const char* const kDictHelp;
extern const char* const kSetHelp;
extern const char* const kFormatHelp;
extern const char* const kXPathHelp;

}  // namespace kelxml

#endif
