// OptionsLayout: a caller's options structure read as this library lays it out. A trivially
// copyable one (only std::size_t fields) gives the fields its size covers and the defaults for the
// rest; any other has one known layout per release, and only the sizes of those are taken.
#ifndef KELXML_INTERNAL_OPTIONSLAYOUT_H
#define KELXML_INTERNAL_OPTIONSLAYOUT_H

#include "XML/Options.h"

#include <cstring>
#include <optional>
#include <type_traits>

namespace XML::internal {

// The caller's fields, defaults for the fields its layout lacks; none for a size that covers no
// whole field, or more than this library knows (bounds it cannot apply).
template <class T>
std::optional<T> KnownPrefix(detail::Layout<T> layout) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) == sizeof(std::size_t));
    if (!layout.pOptions || layout.nSize == 0 || layout.nSize > sizeof(T) || layout.nSize % alignof(T) != 0)
        return std::nullopt;
    T value{};
    std::memcpy(static_cast<void*>(&value), layout.pOptions, layout.nSize);
    return value;
}

// The caller's structure when its size is one this library knows (today, its only layout); null
// otherwise.
template <class T>
const T* KnownLayout(detail::Layout<T> layout) {
    return layout.nSize == sizeof(T) ? layout.pOptions : nullptr;
}

}  // namespace XML::internal

#endif
