#include "Limits.h"

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <utility>

namespace kelxml {

namespace {

using Field = std::size_t XML::sLimits::*;

// The deepest tree the tool reads: the parser resolves each element's prefix by walking every open
// element (no prefix too), so past this the time grows with the square of the depth (20,000 levels:
// 0.3 s; 200,000 levels: 15 s).
constexpr std::size_t kMaxDepthCap = 20000;

const std::vector<std::pair<std::string, Field>>& Fields() {
    static const std::vector<std::pair<std::string, Field>> fields = {
        {"--max-depth", &XML::sLimits::maxDepth},
        {"--max-namespaces", &XML::sLimits::maxNamespacesInScope},
        {"--max-attribute-cost", &XML::sLimits::maxAttributeCost},
        {"--max-attribute-length", &XML::sLimits::maxAttributeLength},
        {"--max-expansions", &XML::sLimits::maxEntityExpansions},
        {"--max-expanded-chars", &XML::sLimits::maxExpandedCharacters},
        {"--max-entity-depth", &XML::sLimits::maxEntityDepth},
        {"--max-particles", &XML::sLimits::maxContentModelParticles},
        {"--max-derivation", &XML::sLimits::maxDerivationDepth},
        {"--max-ambiguous-particles", &XML::sLimits::maxAmbiguousParticles},
        {"--max-expanded-nodes", &XML::sLimits::maxExpandedNodes},
        {"--max-external-bytes", &XML::sLimits::maxExternalBytes},
        {"--max-distinct-names", &XML::sLimits::maxDistinctNames},
        {"--max-diagnostics", &XML::sLimits::maxDiagnostics},
        {"--max-xpath-steps", &XML::sLimits::maxXPathSteps},
        {"--max-xpath-nodes", &XML::sLimits::maxXPathNodes},
        {"--max-xpath-chars", &XML::sLimits::maxXPathCharacters},
        {"--max-xpath-length", &XML::sLimits::maxXPathExpressionLength},
        {"--max-enumeration-comparisons", &XML::sLimits::maxEnumerationComparisons},
    };
    return fields;
}

XML::sLimits& Current() {
    static XML::sLimits limits;
    return limits;
}

}  // namespace

XML::sLimits TakeLimits(std::vector<std::string>& args, const std::vector<std::string>& valued) {
    std::vector<std::string> taken, kept;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string name = arg.substr(0, arg.find('='));
        const bool limit = std::any_of(Fields().begin(), Fields().end(),
                                       [&name](const auto& field) { return field.first == name; });
        // The first operand (or "--"): what follows is the command's, untouched.
        if (arg == "--" || arg.size() < 2 || arg[0] != '-') {
            kept.insert(kept.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (name != "--huge" && !limit) {
            kept.push_back(arg);
            // A value given as the next argument is no operand.
            if (name == arg && i + 1 < args.size() && std::find(valued.begin(), valued.end(), name) != valued.end())
                kept.push_back(args[++i]);
            continue;
        }
        taken.push_back(arg);
        if (limit && name == arg && i + 1 < args.size()) taken.push_back(args[++i]);
    }
    args = kept;
    const Arguments options(taken, {"--huge"}, [] {
        std::vector<std::string> names;
        for (const auto& field : Fields()) names.push_back(field.first);
        return names;
    }());
    XML::sLimits limits = options.Has("--huge") ? XML::sLimits::Huge() : XML::sLimits{};
    for (const auto& [name, value] : options.Options()) {
        for (const auto& [option, field] : Fields()) {
            if (name != option) continue;
            std::size_t number = 0;
            bool digits = !value.empty() && value.size() <= 18;
            for (const char c : value) {
                digits = digits && c >= '0' && c <= '9';
                number = number * 10 + static_cast<std::size_t>(c - '0');
            }
            if (!digits) {
                std::string message = option;
                message += " expects a whole number, not '";
                message += value;
                message += "'";
                throw UsageError{message};
            }
            limits.*field = number;
        }
    }
    if (limits.maxDepth > kMaxDepthCap) {
        std::cerr << "kelxml: --max-depth " << limits.maxDepth << " lowered to " << kMaxDepthCap
                  << ": the parser looks a namespace prefix up through every open element, so deeper trees cost the "
                     "square of their depth\n";
        limits.maxDepth = kMaxDepthCap;
    }
    return limits;
}

std::vector<std::string> LeadingOptions() {
    std::vector<std::string> names = {"--huge", "--resources"};
    for (const auto& field : Fields()) names.push_back(field.first);
    return names;
}

void SetLoadLimits(const XML::sLimits& limits) { Current() = limits; }

const XML::sLimits& LoadLimits() { return Current(); }

XML::sXPathLimits XPathLimits() {
    XML::sXPathLimits limits;
    limits.maxSteps = Current().maxXPathSteps;
    limits.maxNodes = Current().maxXPathNodes;
    limits.maxCharacters = Current().maxXPathCharacters;
    limits.maxExpressionLength = Current().maxXPathExpressionLength;
    return limits;
}

}  // namespace kelxml
