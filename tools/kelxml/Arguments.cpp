#include "Arguments.h"

namespace kelxml {

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const auto& n : names)
        if (n == name) return true;
    return false;
}

}  // namespace

Arguments::Arguments(std::vector<std::string> args, std::vector<std::string> flags, std::vector<std::string> valued,
                     const std::vector<std::string>& leading)
    : m_flags(std::move(flags)), m_valued(std::move(valued)) {
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool late = !m_positional.empty() && Contains(leading, arg.substr(0, arg.find('=')));
        if (!options || late || arg.size() < 2 || arg[0] != '-') {
            m_positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (Contains(m_flags, name)) {
            if (eq != std::string::npos) throw UsageError{"option " + name + " takes no value"};
            m_options.push_back({name, ""});
        } else if (Contains(m_valued, name)) {
            if (eq != std::string::npos) {
                m_options.push_back({name, arg.substr(eq + 1)});
            } else if (i + 1 < args.size()) {
                m_options.push_back({name, args[++i]});
            } else {
                throw UsageError{"option " + name + " needs a value"};
            }
        } else {
            throw UsageError{"unknown option " + arg};
        }
    }
}

bool Arguments::Has(const std::string& name) const {
    for (const auto& option : m_options)
        if (option.first == name) return true;
    return false;
}

void Arguments::ExpectPositional(std::size_t count, const char* what) const {
    if (m_positional.size() != count) throw UsageError{std::string("expected ") + what};
}

std::string NormalisePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.empty()) throw UsageError{"PATH is empty"};
    if (path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos)
        throw UsageError{"PATH '" + path + "' has an empty component"};
    return path;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('\\', start)) != std::string::npos; start = slash + 1)
        parts.push_back(path.substr(start, slash - start));
    parts.push_back(path.substr(start));
    return parts;
}

std::pair<std::string, std::string> SplitAssignment(const std::string& option, const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError{option + " expects NAME=VALUE, not '" + text + "'"};
    return {text.substr(0, eq), text.substr(eq + 1)};
}

}  // namespace kelxml
