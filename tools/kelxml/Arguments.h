// The command line of one kelxml command: options and positional arguments, PATH and
// NAME=VALUE syntax. Throws UsageError for a command line that is wrong.
#ifndef KELXML_TOOL_ARGUMENTS_H
#define KELXML_TOOL_ARGUMENTS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace kelxml {

enum ExitCode : int { kSuccess = 0, kProblem = 1, kUsage = 2 };

inline constexpr const char* kProgram = "kelxml";

struct UsageError {
    std::string message;
};

// Splits the arguments of one command into options and positional arguments. Options take
// their value as the next argument or after '='; "--" ends the options.
class Arguments {
public:
    // flags take no value, valued options take one; anything else starting with '-' is refused.
    // leading names options taken before the first positional argument only: after it, an
    // argument with such a name is positional (a file named --resources=local is a file).
    Arguments(std::vector<std::string> args, std::vector<std::string> flags, std::vector<std::string> valued,
              const std::vector<std::string>& leading = {});

    bool Has(const std::string& name) const;
    // Every (name, value) in command-line order.
    const std::vector<std::pair<std::string, std::string>>& Options() const { return m_options; }
    const std::vector<std::string>& Positional() const { return m_positional; }
    // Throws UsageError("expected " + what) unless there are exactly count positional arguments.
    void ExpectPositional(std::size_t count, const char* what) const;

private:
    std::vector<std::string> m_flags;
    std::vector<std::string> m_valued;
    std::vector<std::pair<std::string, std::string>> m_options;
    std::vector<std::string> m_positional;
};

// A path as the library's walk takes it: backslash-separated, no empty component. Slashes are
// accepted too, since no XML name can hold one.
std::string NormalisePath(std::string path);
// The names of a normalised path.
std::vector<std::string> SplitPath(const std::string& path);
// Splits "NAME=VALUE" given to option; the value may be empty, the name may not.
std::pair<std::string, std::string> SplitAssignment(const std::string& option, const std::string& text);

}  // namespace kelxml

#endif
