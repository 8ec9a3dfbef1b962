// Adapters.h: what the inline templates of CKelXML.h are made of: the callable adapters of the
// walks, the typed reads with a default, the file-name forms of Load, and the exported entry
// points they call. Not for direct use: include <XML/CKelXML.h>.
#ifndef KELXML_DETAIL_ADAPTERS_H
#define KELXML_DETAIL_ADAPTERS_H

#include <XML/KelXMLExport.h>
#include <XML/TFunctor.h>

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace XML {
class CKelXML;
}

namespace XML::detail {

// The callable of CKelXML::ForEachFile, borrowed for the length of the call: the caller's object
// and the function that calls it (no std::function, so the header needs no <functional>).
struct FileTask {
    void* object;
    void (*call)(void* object, std::size_t index, CKelXML& xml);
};
template <class Fn>
FileTask TaskOf(Fn& fn) noexcept {
    static_assert(std::is_invocable_v<Fn&, std::size_t, CKelXML&>,
                  "ForEachFile's callable takes (std::size_t index, CKelXML& xml)");
    return {const_cast<void*>(static_cast<const void*>(&fn)),
            [](void* object, std::size_t index, CKelXML& xml) { (*static_cast<Fn*>(object))(index, xml); }};
}

// File names the Load forms take besides a C string: their bytes, as they are (no transcoding):
// a std::string, or a std::filesystem::path (told by its shape, so that this header needs no
// <filesystem>: a class with native() giving a std::string and a preferred_separator).
template <class Name, class = void>
inline constexpr bool kIsPath = false;
template <class Name>
inline constexpr bool
    kIsPath<Name, std::void_t<decltype(Name::preferred_separator), decltype(std::declval<const Name&>().native())>> =
        std::is_same_v<std::decay_t<decltype(std::declval<const Name&>().native())>, std::string>;
template <class Name>
inline constexpr bool kIsFileNameObject = std::is_same_v<Name, std::string> || kIsPath<Name>;
template <class Name>
const char* FileNameBytes(const Name& name) {
    return name.c_str();
}
// A first argument that the file-name forms of Load would take.
template <class Name>
inline constexpr bool kNamesFile = std::is_convertible_v<const Name&, const char*> || kIsFileNameObject<Name>;

// The one rule for a walk's callable: it returns its verdict (anything a bool can be made from)
// or nothing (a verdict of true each time).
template <class Fn, class... Args>
constexpr bool CallableAs() {
    if constexpr (std::is_invocable_v<Fn&, Args...>) {
        using Result = std::invoke_result_t<Fn&, Args...>;
        return std::is_void_v<Result> || std::is_constructible_v<bool, Result>;
    } else {
        return false;
    }
}
template <class Call>
bool Verdict(Call&& call) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        return true;
    } else {
        return static_cast<bool>(call());
    }
}
using Attributes = std::vector<std::string>;
template <class Fn>
inline constexpr bool kNodeCallable =
    CallableAs<Fn, xercesc::DOMNode*>() || CallableAs<Fn, xercesc::DOMNode*, const std::string&, const Attributes&>();
template <class Fn>
inline constexpr bool kRecordCallable =
    CallableAs<Fn, const std::string&, const Attributes&>() || CallableAs<Fn, const Attributes&>();

// The defaults the ...ValueOr reads take: any number or bool (read as that type), or any text
// (std::string, std::string_view, a C string: read as a std::string).
template <class T>
inline constexpr bool kIsText = std::is_convertible_v<const T&, std::string_view> || std::is_same_v<T, std::string>;
template <class T>
using ValueOrResult = std::conditional_t<kIsText<T>, std::string, T>;
template <class T>
ValueOrResult<T> ValueOrFallback(T fallback) {
    static_assert(std::is_arithmetic_v<T> || kIsText<T>,
                  "the ...ValueOr reads take a number, a bool or a text (std::string, std::string_view, "
                  "const char*) as their default");
    if constexpr (std::is_pointer_v<T>)
        return fallback ? std::string(fallback) : std::string();
    else if constexpr (kIsText<T>)
        return std::string(std::string_view(fallback));
    else
        return fallback;
}

// --- Stable entry points of the templates above and in CKelXML.h: exported, kept from release
// to release, not for direct use. ---
// value = text read with the checks of CKelXML's Checked reads; false, value untouched, otherwise.
KELXML_EXPORT bool ParseText(const std::string& text, int& value);
KELXML_EXPORT bool ParseText(const std::string& text, long& value);
KELXML_EXPORT bool ParseText(const std::string& text, long long& value);
KELXML_EXPORT bool ParseText(const std::string& text, unsigned int& value);
KELXML_EXPORT bool ParseText(const std::string& text, unsigned long& value);
KELXML_EXPORT bool ParseText(const std::string& text, unsigned long long& value);
KELXML_EXPORT bool ParseText(const std::string& text, float& value);
KELXML_EXPORT bool ParseText(const std::string& text, double& value);
KELXML_EXPORT bool ParseText(const std::string& text, bool& value);
// node's first direct child element called name (null for none): node itself when name is null.
KELXML_EXPORT const xercesc::DOMNode* DirectChild(const xercesc::DOMNode* node, const char* name);
// text = the text of the first element name below node (child) or of its attribute name (as
// CKelXML::GetChildValue and GetAttributeValue read them), or of node itself when name is null
// (CKelXML::GetValue). False, text untouched, when there is none.
KELXML_EXPORT bool ReadText(const xercesc::DOMNode* node, const char* name, bool child, std::string& text);

// Adapts a callable of a walk to the TFunctor the walks call: byNode, fn(node) or fn(node,
// text, attributes); otherwise fn(text, attributes) or fn(attributes). A callable of neither
// shape is left to the caller's static_assert (it is called never).
template <class Fn, bool byNode>
class CallableFunctor : public TFunctor {
public:
    static constexpr bool kNodeOnly = CallableAs<Fn, xercesc::DOMNode*>();
    static constexpr bool kWantsText = byNode ? !kNodeOnly : CallableAs<Fn, const std::string&, const Attributes&>();
    CallableFunctor(Fn& fn, std::size_t count) : m_fn(fn), m_count(count) {}
    bool operator()(xercesc::DOMNode* node, std::string, std::string text, std::string* values, void*) override {
        if constexpr (byNode && kNodeOnly) {
            return Verdict([&] { return m_fn(node); });
        } else {
            const std::string& t = text;
            m_values.assign(values, values + m_count);
            const Attributes& a = m_values;
            if constexpr (byNode && kNodeCallable<Fn>)
                return Verdict([&] { return m_fn(node, t, a); });
            else if constexpr (!byNode && kWantsText)
                return Verdict([&] { return m_fn(t, a); });
            else if constexpr (!byNode && kRecordCallable<Fn>)
                return Verdict([&] { return m_fn(a); });
            else
                return false;
        }
    }

private:
    Fn& m_fn;
    std::size_t m_count;
    Attributes m_values;
};
template <class Fn>
using NodeFunctor = CallableFunctor<Fn, true>;
template <class Fn>
using RecordFunctor = CallableFunctor<Fn, false>;
// ParseText for any arithmetic type: the other ones are read through the widest of their
// kind and refused outside their range.
template <class T>
bool ParseNumber(const std::string& text, T& value) {
    if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, float> || std::is_same_v<T, double> ||
                  std::is_same_v<T, int> || std::is_same_v<T, long> || std::is_same_v<T, long long> ||
                  std::is_same_v<T, unsigned int> || std::is_same_v<T, unsigned long> ||
                  std::is_same_v<T, unsigned long long>) {
        return ParseText(text, value);
    } else {
        using Wide = std::conditional_t<std::is_floating_point_v<T>, double,
                                        std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>>;
        Wide wide{};
        if (!ParseText(text, wide)) return false;
        if constexpr (std::is_integral_v<T>) {
            if (wide > static_cast<Wide>(std::numeric_limits<T>::max())) return false;
            if constexpr (std::is_signed_v<T>)
                if (wide < static_cast<Wide>(std::numeric_limits<T>::min())) return false;
        }
        value = static_cast<T>(wide);
        return true;
    }
}
// The ValueText argument that holds any value of T.
template <class T>
auto Widened(T value) {
    if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, float>)
        return value;
    else if constexpr (std::is_floating_point_v<T>)
        return static_cast<double>(value);
    else if constexpr (std::is_signed_v<T>)
        return static_cast<long long>(value);
    else
        return static_cast<unsigned long long>(value);
}

// The text of the first element name below node (child) or of its attribute name, or, when
// name is null, of node itself, converted with the checks of the Checked reads.
template <class T>
T ValueOr(const xercesc::DOMNode* node, const char* name, T fallback, bool* read, bool child) {
    T value{};
    std::string text;
    bool ok = ReadText(node, name, child, text);
    if constexpr (std::is_same_v<T, std::string>)
        value = std::move(text);
    else
        ok = ok && ParseNumber(text, value);
    if (read) *read = ok;
    return ok ? value : fallback;
}

}  // namespace XML::detail

#endif
