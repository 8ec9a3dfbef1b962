#include "XML/CKelXML.h"

#include "XML/CXPath.h"

#include "XML/HandlerError.h"
#include "XML/internal/DocumentEdits.h"
#include "XML/internal/DocumentOutput.h"
#include "XML/internal/DocumentParse.h"
#include "XML/internal/DocumentState.h"
#include "XML/internal/LoadParser.h"
#include "XML/internal/LoadSession.h"
#include "XML/internal/Messages.h"
#include "XML/internal/NameText.h"
#include "XML/internal/NumberText.h"
#include "XML/internal/OptionsLayout.h"
#include "XML/internal/RecordWalk.h"
#include "XML/internal/Startup.h"
#include "XML/internal/Transcode.h"
#include "XML/internal/TreeWalk.h"
#include "XML/internal/WorkerPool.h"
#include "XML/internal/XPathReads.h"

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace xercesc;
using namespace XML::internal;

namespace XML {

// The state, and the one step only the object may take: the grammar cache's own entry point.
struct KELXML_NO_EXPORT CKelXML::Impl final : DocumentState {
    std::shared_ptr<const GrammarSet> Acquire(CGrammarCache& cache, const sLoadOptions& options) override {
        return cache.Acquire(options, securityManager.get());
    }
    // self's parts as they are (the state null when self has none).
    static Held Parts(CKelXML& self) noexcept {
        return {self.m_pParser, self.m_pErrors, self.m_pDocument, self.m_pImpl.get()};
    }
    // The same, the state made when self has none (left null when no memory is left for it).
    static Held Of(CKelXML& self) noexcept {
        if (!self.m_pImpl) {
            try {
                self.m_pImpl = std::make_unique<Impl>();
            } catch (...) {
                // Running and Ready refuse an object without a state, recording it.
            }
        }
        return Parts(self);
    }
};

namespace {

// A walk's path with '/' as the positional forms write it ('\\').
std::string Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The target of the positional StreamElements forms: the node and the text, no filter.
WalkTarget PositionalTarget(TFunctor* functor, const std::string* attributeNames, int attributeCount, void* userData,
                            bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute) {
    return {functor,
            attributeNames,
            attributeCount,
            userData,
            {stopOnTrue, stopOnFalse, stopOnMissingAttribute, nullptr, true, true}};
}

// The walk of every LoopElements form (defined with the iteration below).
bool Loop(TFunctor* functor, DOMNode* node, std::string path, std::string* attributeNames, int attributeCount,
          void* userData, bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, const CXPath* filter,
          bool wantText = true);

}  // namespace

// --- Library start-up ------------------------------------------------------------------

bool CKelXML::initXmlAPI() { return StartLibrary(); }

void CKelXML::TerminateXmlAPI() { StopLibrary(); }

bool CKelXML::IsXmlAPIStarted() { return IsRunning(LibraryState()); }

CXmlLibrary::CXmlLibrary() : m_bStarted(CKelXML::initXmlAPI()) {}

CXmlLibrary::~CXmlLibrary() {
    if (m_bStarted) CKelXML::TerminateXmlAPI();
}

// --- Object lifecycle ------------------------------------------------------------------

CKelXML::CKelXML() = default;

CKelXML::~CKelXML() { Free(); }

CKelXML::CKelXML(CKelXML&& other) noexcept
    : m_pParser(std::move(other.m_pParser)),
      m_pErrors(std::move(other.m_pErrors)),
      m_pDocument(std::exchange(other.m_pDocument, nullptr)),
      m_pImpl(std::move(other.m_pImpl)) {}

CKelXML& CKelXML::operator=(CKelXML&& other) noexcept {
    if (this != &other) {
        Free();
        m_pParser = std::move(other.m_pParser);
        m_pErrors = std::move(other.m_pErrors);
        m_pDocument = std::exchange(other.m_pDocument, nullptr);
        // The moved parser keeps pointing at the security manager of this state: it moves along.
        m_pImpl = std::move(other.m_pImpl);
    }
    return *this;
}

const CError* CKelXML::GetErrors() const { return m_pErrors.get(); }

void CKelXML::Free() noexcept { Release(Impl::Parts(*this)); }

void CKelXML::CreateHanderErrorIfNecessary() { MakeErrors(Impl::Parts(*this)); }

void CKelXML::InitializeParser(const sLoadOptions& options, std::shared_ptr<const GrammarSet> grammars) {
    internal::InitializeParser(Impl::Of(*this), options, std::move(grammars));
}

// --- Loading ---------------------------------------------------------------------------

bool CKelXML::Load(const char* file, bool bValidate) { return Load(file, OptionsFor(bValidate)); }

bool CKelXML::Load(const void* buffer, unsigned int size) {
    return LoadSized(buffer, size, detail::LayoutOf(OptionsFor(false)));
}

bool CKelXML::Load(const char* file, E_LOAD_MODE eMode) {
    sLoadOptions options;
    options.eMode = eMode;
    return Load(file, options);
}

bool CKelXML::Load(const char* file, std::initializer_list<E_LOAD_MODE> eMode) {
    if (eMode.size() <= 1) return Load(file, eMode.size() == 1 ? *eMode.begin() : E_LOAD_AUTO);
    const Held held = Impl::Of(*this);
    return Replaceable(held) && RefuseLoad(held, E_EXCEPTION, msg::kOneLoadMode);
}

bool CKelXML::LoadSized(const char* file, detail::Layout<sLoadOptions> layout) {
    const sLoadOptions* const known = Known(layout);
    const Held held = Impl::Of(*this);
    return known && AcceptSource(held, file, msg::kNoFileName) && LoadFile(held, *known, file);
}

bool CKelXML::LoadSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> layout) {
    if (!buffer) return Known(layout) && AcceptSource(Impl::Of(*this), buffer, msg::kNoBuffer);
    return LoadFromMemorySized(std::string_view(static_cast<const char*>(buffer), size), layout);
}

// --- Limits ----------------------------------------------------------------------------

void CKelXML::SetLimitsSized(detail::Layout<sLimits> layout) {
    const Held held = Impl::Of(*this);
    const std::optional<sLimits> limits = KnownPrefix(layout);
    if (!limits)
        Record(held, E_EXCEPTION, msg::kUnknownOptionsLayout);
    else if (held.state)
        held.state->limits = *limits;
    else
        Record(held, E_EXCEPTION, msg::kOutOfMemory);
}

template <class T>
const T* CKelXML::Known(detail::Layout<T> layout) {
    if (const T* known = KnownLayout(layout)) return known;
    const Held held = Impl::Of(*this);
    if (Replaceable(held)) RefuseLoad(held, E_EXCEPTION, msg::kUnknownOptionsLayout);
    return nullptr;
}

const sLimits& CKelXML::GetLimits() const {
    static const sLimits defaults;
    return m_pImpl ? m_pImpl->limits : defaults;
}

bool CKelXML::LoadFromMemory(std::string_view bytes, bool bValidate) {
    return LoadFromMemory(bytes, OptionsFor(bValidate));
}

// --- Creating and saving ---------------------------------------------------------------

bool CKelXML::CreateDoc(const char* rootName) { return CreateDocument(Impl::Of(*this), rootName); }

bool CKelXML::Save(const char* file, bool bCanonical) {
    return Save(file, bCanonical ? E_SAVE_CANONICAL : E_SAVE_PRETTY);
}

bool CKelXML::Save(const char* file, const DOMNode* node, bool bCanonical) {
    return Save(file, node, bCanonical ? E_SAVE_CANONICAL : E_SAVE_PRETTY);
}

bool CKelXML::Save(const char* file, E_SAVE_FORM eForm) {
    CreateHanderErrorIfNecessary();
    return RequireDocument(Impl::Of(*this)) && Save(file, m_pDocument, eForm);
}

bool CKelXML::Save(const char* file, const DOMNode* node, E_SAVE_FORM eForm) {
    CreateHanderErrorIfNecessary();
    return SaveNode(Impl::Of(*this), file, node, eForm);
}

bool CKelXML::GetXML(const DOMNode* node, E_SAVE_FORM eForm, std::string& text) {
    return NodeText(Impl::Of(*this), node, eForm, text);
}

bool CKelXML::GetCanonicalXML(const DOMNode* node, bool withComments, std::string& text) {
    return CanonicalText(Impl::Of(*this), node, withComments, text);
}

bool CKelXML::SaveCanonicalXML(const char* file, const DOMNode* node, bool withComments) {
    return SaveCanonical(Impl::Of(*this), file, node, withComments);
}

bool CKelXML::SaveCanonicalXML(const char* file, bool withComments) {
    return SaveCanonicalXML(file, m_pDocument, withComments);
}

namespace {

// Reads the text that read gives for (node, name) and stores convert(text) in value; the
// value is untouched when there is no such text.
template <class T, class Read, class Convert>
bool ReadConverted(Read read, const DOMNode* node, const char* name, T& value, Convert convert) {
    std::string text;
    if (!read(node, name, text)) return false;
    value = convert(text);
    return true;
}

}  // namespace

// --- Node lookup -----------------------------------------------------------------------

DOMNode* CKelXML::GetRootNode(std::string name) {
    const Held held = Impl::Of(*this);
    if (!RequireDocument(held)) return nullptr;
    if (!m_pDocument->getFirstChild()) {
        Record(held, E_MISSING, msg::kEmptyDocument);
        return nullptr;
    }
    // The document type bears the root element's name; the element is what a caller looks for.
    DOMElement* const root = m_pDocument->getDocumentElement();
    if (root && NameIs(root, name.c_str())) return root;
    return FindChild(m_pDocument, name.c_str());
}

DOMNode* CKelXML::GetNode(DOMNode* parent, const char* name) { return FindChild(parent, name); }

DOMNode* CKelXML::GetFirstSubNode(const DOMNode* parent, const char* name) { return FindChild(parent, name); }

DOMNode* CKelXML::GetFirstNode(const DOMNode* start, const char* name) {
    if (!IsElement(start) || !name) return nullptr;
    const DOMNode* found = nullptr;
    ForEachTagBelow(start, name, [&found](const DOMNode* element) {
        found = element;
        return false;
    });
    return const_cast<DOMNode*>(found);
}

// --- Counting --------------------------------------------------------------------------

bool CKelXML::GetNbChildInNode(const DOMNode* node, const char* name, unsigned int& count) {
    count = 0;
    if (!IsElement(node) || !name) return false;
    ForEachTagBelow(node, name, [&count](const DOMNode*) {
        ++count;
        return true;
    });
    return true;
}

bool CKelXML::GetNbChildInNodeWithoutRecursive(const DOMNode* node, const char* name, unsigned int& count) {
    count = 0;
    if (!IsElement(node) || !name) return false;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
        if (IsElement(child) && NameIs(child, name)) ++count;
    }
    return true;
}

// --- Element text ----------------------------------------------------------------------

bool CKelXML::GetValue(const DOMNode* node, std::string& text) { return node && TextOf(node, text); }

bool CKelXML::GetValue(const DOMNode* node, std::wstring& text) {
    if (!node) return false;
    XString scratch;
    text = Widen(Text16(node, scratch));
    return true;
}

bool CKelXML::GetValue(const DOMNode* parent, const std::string& name, std::string* text) {
    if (!text || !parent) return false;
    const DOMNode* child = FindChild(parent, name.c_str());
    if (child && !TextOf(child, *text)) return false;
    return !text->empty();
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, std::string& value) {
    const DOMNode* element = GetFirstNode(node, name);
    return element && TextOf(element, value);
}

namespace {
bool ChildText(const DOMNode* node, const char* name, std::string& text) {
    return CKelXML::GetChildValue(node, name, text);
}
}  // namespace

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, int& value) {
    return ReadConverted(ChildText, node, name, value, LeadingInt);
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, float& value) {
    return ReadConverted(ChildText, node, name, value, LeadingFloat);
}

bool CKelXML::GetChildValue(const DOMNode* node, const char* name, bool& value) {
    return ReadConverted(ChildText, node, name, value, ElementTextIsTrue);
}

bool CKelXML::GetArrayOfTagValues(const DOMNode* node, const char* name, std::vector<std::string>& values) {
    if (!IsElement(node) || !name) return false;
    bool appended = false;
    bool converted = true;
    XString scratch;
    ForEachTagBelow(node, name, [&](const DOMNode* element) {
        std::string text;
        converted = ToLocal(Text16(element, scratch), text);
        if (!text.empty()) {
            values.push_back(std::move(text));
            appended = true;
        }
        return converted;
    });
    return appended && converted;
}

// --- Checked reads ---------------------------------------------------------------------

namespace {

// Reads the text that read gives for (node, name) into value, whole and in range, or not at all.
template <class T, class Read>
bool ReadChecked(Read read, const DOMNode* node, const char* name, T& value) {
    std::string text;
    return read(node, name, text) && ParseValue(text, value);
}

}  // namespace

bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, int& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, long long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned int& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, unsigned long long& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, float& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, double& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetChildValueChecked(const DOMNode* node, const char* name, bool& value) {
    return ReadChecked(ChildText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, int& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, long long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned int& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, unsigned long long& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, float& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, double& value) {
    return ReadChecked(AttributeText, node, name, value);
}
bool CKelXML::GetAttributeValueChecked(const DOMNode* node, const char* name, bool& value) {
    return ReadChecked(AttributeText, node, name, value);
}

// --- Attributes ------------------------------------------------------------------------

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, bool& value) {
    return ReadConverted(AttributeText, node, name, value, AttributeTextIsTrue);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, int& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingInt);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, long& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingLong);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned long& value) {
    // Base 0: 0x1F is hexadecimal and 010 octal, as the C library reads them.
    return ReadConverted(AttributeText, node, name, value,
                         [](const std::string& t) { return std::strtoul(t.c_str(), nullptr, 0); });
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned int& value) {
    unsigned long wide = 0;
    if (!GetAttributeValue(node, name, wide)) return false;
    value = static_cast<unsigned int>(wide);
    return true;
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, unsigned short& value) {
    long wide = 0;
    if (!GetAttributeValue(node, name, wide)) return false;
    value = static_cast<unsigned short>(static_cast<unsigned long>(wide) & 0xFFFFu);
    return true;
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, float& value) {
    return ReadConverted(AttributeText, node, name, value, LeadingFloat);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, std::string& value) {
    value.clear();
    return AttributeText(node, name, value);
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, std::string* value) {
    if (!value) return false;
    return AttributeText(node, name, *value) || !value->empty();
}

bool CKelXML::GetAttributeValue(const DOMNode* node, const char* name, char* buffer, int size) {
    if (!buffer || size <= 0) return false;
    const std::size_t capacity = static_cast<std::size_t>(size);
    std::memset(buffer, 0, capacity);
    std::string text;
    // A value cut to fit would be a different value: refuse it, leaving the buffer zero.
    if (!AttributeText(node, name, text) || text.size() >= capacity) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool CKelXML::GetAttributeValues(const DOMNode* node, const std::string* names, std::string* values, const int& count,
                                 bool stopOnMissingAttribute) {
    if (count > 0 && (!names || !values)) return false;
    for (int i = 0; i < count; ++i) {
        std::string text;
        if (AttributeText(node, names[i].c_str(), text)) {
            values[i] = std::move(text);
        } else if (stopOnMissingAttribute) {
            return false;
        }
    }
    return true;
}

bool CKelXML::HasAttributeSpecificValue(const DOMNode* node, const char* name, const char* expected) {
    std::string text;
    return expected && AttributeText(node, name, text) && text == expected;
}

// --- Iteration -------------------------------------------------------------------------

bool CKelXML::LoopElements(TFunctor* functor, DOMNode* node, std::string path, std::string* attributeNames,
                           int attributeCount, void* userData, bool stopOnTrue, bool stopOnFalse,
                           bool stopOnMissingAttribute) {
    return Loop(functor, node, std::move(path), attributeNames, attributeCount, userData, stopOnTrue, stopOnFalse,
                stopOnMissingAttribute, nullptr);
}

bool CKelXML::LoopElementsSized(TFunctor* functor, DOMNode* node, detail::Layout<sWalkOptions> layout, bool wantText) {
    const sWalkOptions* const known = KnownLayout(layout);
    if (!known) return false;
    const sWalkOptions& walk = *known;
    std::vector<std::string> names = walk.vAttributes;
    return Loop(functor, node, Backslashed(walk.strPath), names.data(), static_cast<int>(names.size()), nullptr,
                walk.bStopOnTrue, walk.bStopOnFalse, walk.bStopOnMissingAttribute, walk.pFilter, wantText);
}

bool CKelXML::StreamElementsSized(const char* file, detail::Layout<sLoadOptions> options, TFunctor* functor,
                                  detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict) {
    return StreamWalk(file, std::string_view(), options, functor, walk, wantText, false, verdict);
}

bool CKelXML::StreamRecordsSized(const char* file, detail::Layout<sLoadOptions> options, TFunctor* functor,
                                 detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict) {
    return StreamWalk(file, std::string_view(), options, functor, walk, wantText, true, verdict);
}

bool CKelXML::StreamRecordsSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> options,
                                 TFunctor* functor, detail::Layout<sWalkOptions> walk, bool wantText, bool* verdict) {
    if (!AcceptSource(Impl::Of(*this), buffer, msg::kNoBuffer)) {
        if (verdict) *verdict = false;
        return false;
    }
    return StreamRecordsFromMemorySized(std::string_view(static_cast<const char*>(buffer), size), options, functor,
                                        walk, wantText, verdict);
}

bool CKelXML::StreamWalk(const char* file, std::string_view memory, detail::Layout<sLoadOptions> optionsLayout,
                         TFunctor* functor, detail::Layout<sWalkOptions> walkLayout, bool wantText, bool records,
                         bool* verdict) {
    const sLoadOptions* const options = Known(optionsLayout);
    const sWalkOptions* const walk = options ? Known(walkLayout) : nullptr;
    if (!walk) {
        if (verdict) *verdict = false;
        return false;
    }
    const std::vector<std::string> names = walk->vAttributes;
    const WalkTarget target{
        functor,
        names.data(),
        static_cast<int>(names.size()),
        nullptr,
        {walk->bStopOnTrue, walk->bStopOnFalse, walk->bStopOnMissingAttribute, walk->pFilter, wantText, !records}};
    return internal::StreamRecords(Impl::Of(*this), file, memory, *options, Backslashed(walk->strPath), target, records,
                                   verdict);
}

bool CKelXML::GetNbElementsInFileSized(const char* file, detail::Layout<sLoadOptions> options,
                                       detail::Layout<sWalkOptions> layout, unsigned long& count) {
    count = 0;
    const sWalkOptions* const walk = Known(layout);
    if (!walk) return false;
    sWalkOptions counted = *walk;
    counted.vAttributes.clear();
    counted.bStopOnTrue = counted.bStopOnFalse = counted.bStopOnMissingAttribute = false;
    const auto one = [&count](const std::vector<std::string>&) { ++count; };
    detail::RecordFunctor<decltype(one)> functor(one, 0);
    return StreamWalk(file, std::string_view(), options, &functor, detail::LayoutOf(counted), false, true, nullptr);
}

namespace {

bool Loop(TFunctor* functor, DOMNode* node, std::string path, std::string* attributeNames, int attributeCount,
          void* userData, bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute, const CXPath* filter,
          bool wantText) {
    if (!node) return false;
    const WalkMark mark(node->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<const DOMDocument*>(node)
                                                                      : node->getOwnerDocument());
    return internal::WalkLoaded(node, path,
                                {functor,
                                 attributeNames,
                                 attributeCount,
                                 userData,
                                 {stopOnTrue, stopOnFalse, stopOnMissingAttribute, filter, wantText}});
}

}  // namespace

bool CKelXML::StreamElements(const char* file, bool bValidate, TFunctor* functor, const std::string& path,
                             std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                             bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict) {
    return StreamElements(file, OptionsFor(bValidate), functor, path, attributeNames, attributeCount, userData,
                          stopOnTrue, stopOnFalse, stopOnMissingAttribute, verdict);
}

bool CKelXML::StreamElementsSized(const char* file, detail::Layout<sLoadOptions> layout, TFunctor* functor,
                                  const std::string& path, std::string* attributeNames, int attributeCount,
                                  void* userData, bool stopOnTrue, bool stopOnFalse, bool stopOnMissingAttribute,
                                  bool* verdict) {
    const sLoadOptions* const options = Known(layout);
    if (!options) {
        if (verdict) *verdict = false;
        return false;
    }
    return internal::StreamRecords(Impl::Of(*this), file, std::string_view(), *options, path,
                                   PositionalTarget(functor, attributeNames, attributeCount, userData, stopOnTrue,
                                                    stopOnFalse, stopOnMissingAttribute),
                                   false, verdict);
}

bool CKelXML::StreamElements(const void* buffer, unsigned int size, TFunctor* functor, const std::string& path,
                             std::string* attributeNames, int attributeCount, void* userData, bool stopOnTrue,
                             bool stopOnFalse, bool stopOnMissingAttribute, bool* verdict) {
    const Held held = Impl::Of(*this);
    if (!AcceptSource(held, buffer, msg::kNoBuffer)) {
        if (verdict) *verdict = false;
        return false;
    }
    return internal::StreamRecords(held, nullptr, std::string_view(static_cast<const char*>(buffer), size),
                                   OptionsFor(false), path,
                                   PositionalTarget(functor, attributeNames, attributeCount, userData, stopOnTrue,
                                                    stopOnFalse, stopOnMissingAttribute),
                                   false, verdict);
}

bool CKelXML::GetNbElementsInFile(const char* file, bool bValidate, const char* name, unsigned long& count) {
    return GetNbElementsInFile(file, OptionsFor(bValidate), name, count);
}

bool CKelXML::GetNbElementsInFileSized(const char* file, detail::Layout<sLoadOptions> layout, const char* name,
                                       unsigned long& count) {
    count = 0;
    const sLoadOptions* const known = Known(layout);
    const Held held = Impl::Of(*this);
    if (!known || !AcceptSource(held, file, msg::kNoFileName) || !AcceptSource(held, name, msg::kNoElementName))
        return false;
    return CountElements(held, *known, file, name, count);
}

bool CKelXML::ValidateSized(const char* file, detail::Layout<sLoadOptions> layout) {
    const sLoadOptions* const known = Known(layout);
    const Held held = Impl::Of(*this);
    return known && AcceptSource(held, file, msg::kNoFileName) && CheckDocument(held, *known, file, std::string_view());
}

bool CKelXML::ValidateSized(const void* buffer, unsigned int size, detail::Layout<sLoadOptions> layout) {
    if (!buffer) return Known(layout) && AcceptSource(Impl::Of(*this), buffer, msg::kNoBuffer);
    return ValidateFromMemorySized(std::string_view(static_cast<const char*>(buffer), size), layout);
}

// --- Many documents on several threads -------------------------------------------------------

void CKelXML::ForEachFileSized(const std::vector<std::string>& files, detail::Layout<sBatchOptions> layout,
                               detail::FileTask fn) {
    const std::optional<sBatchOptions> known = KnownPrefix(layout);
    if (!known) throw std::invalid_argument(msg::kUnknownOptionsLayout);
    const sBatchOptions& batch = *known;
    std::vector<std::unique_ptr<CKelXML>> objects(WorkerCount(batch.nThreads, files.size()));
    for (std::unique_ptr<CKelXML>& object : objects) {
        object = std::make_unique<CKelXML>();
        object->SetLimits(batch.limits);
    }
    RunTasks(files.size(), objects.size(),
             [&](std::size_t index, std::size_t worker) { fn.call(fn.object, index, *objects[worker]); });
}

bool CKelXML::ValidateFilesSized(const std::vector<std::string>& files, detail::Layout<sLoadOptions> layout,
                                 detail::Layout<sBatchOptions> batchLayout, std::vector<sFileResult>& results) {
    const sLoadOptions* const options = KnownLayout(layout);
    const std::optional<sBatchOptions> batch = KnownPrefix(batchLayout);
    if (!options || !batch) return false;
    try {
        std::vector<sFileResult> made(files.size());
        sLoadOptions shared = *options;
        // Without a cache of the caller's, each thread's object would parse the grammars again.
        if (shared.eMode == E_LOAD_NAMED_GRAMMARS && !shared.pGrammarCache)
            shared.pGrammarCache = std::make_shared<CGrammarCache>();
        ForEachFile(files, *batch, [&](std::size_t index, CKelXML& xml) {
            sFileResult& result = made[index];
            try {
                result.bValid = xml.Validate(files[index].c_str(), shared);
                if (const CError* errors = xml.GetErrors()) result.vErrors = errors->GetAllErrors();
            } catch (...) {
                result.bValid = false;
                result.vErrors.emplace_back(E_EXCEPTION, CurrentExceptionText());
            }
        });
        results = std::move(made);
        return std::all_of(results.begin(), results.end(), [](const sFileResult& result) { return result.bValid; });
    } catch (...) {
        return false;  // no thread or no memory for the results: results untouched
    }
}

// --- Walks with a callable, reads with a default ------------------------------------------

std::vector<DOMElement*> CKelXML::GetElements(DOMNode* node, const std::string& path) {
    std::vector<DOMElement*> elements;
    const auto collect = [&elements](DOMNode* element) {
        if (element->getNodeType() == DOMNode::ELEMENT_NODE) elements.push_back(static_cast<DOMElement*>(element));
        return true;
    };
    LoopElements(node, sWalkOptions{path, {}, false, false, false}, collect);
    return elements;
}

std::vector<std::pair<std::string, std::string>> CKelXML::GetAttributes(const DOMNode* node) {
    std::vector<std::pair<std::string, std::string>> attributes;
    if (!IsElement(node)) return attributes;
    const DOMNamedNodeMap* const map = node->getAttributes();
    for (XMLSize_t i = 0; map && i < map->getLength(); ++i) {
        const DOMNode* const attribute = map->item(i);
        std::string name, value;
        if (internal::ToLocal(attribute->getNodeName(), name) && TextOf(attribute, value))
            attributes.emplace_back(std::move(name), std::move(value));
    }
    return attributes;
}

// --- XPath -----------------------------------------------------------------------------

std::vector<DOMNode*> CKelXML::SelectNodes(const char* expr, const DOMNode* context,
                                           const std::map<std::string, std::string>& namespaces) {
    std::vector<DOMNode*> nodes;
    ReadXPath(Impl::Of(*this), expr, context, namespaces,
              [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                  sXPathValue value;
                  if (!xpath.Evaluate(from, value, {}, reason)) return false;
                  nodes = std::move(value.vNodes);
                  return true;
              });
    return nodes;
}

DOMNode* CKelXML::SelectNode(const char* expr, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    // One deprecated form on another, until both go.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const std::vector<DOMNode*> nodes = SelectNodes(expr, context, namespaces);
#pragma GCC diagnostic pop
    return nodes.empty() ? nullptr : nodes.front();
}

bool CKelXML::GetXPathString(const char* expr, std::string& value, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(Impl::Of(*this), expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                         return xpath.EvaluateString(from, value, {}, reason);
                     });
}

bool CKelXML::GetXPathNumber(const char* expr, double& value, const DOMNode* context,
                             const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(Impl::Of(*this), expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                         return xpath.EvaluateNumber(from, value, {}, reason);
                     });
}

bool CKelXML::GetXPathBoolean(const char* expr, bool& value, const DOMNode* context,
                              const std::map<std::string, std::string>& namespaces) {
    return ReadXPath(Impl::Of(*this), expr, context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                         return xpath.EvaluateBoolean(from, value, {}, reason);
                     });
}

std::vector<DOMNode*> CKelXML::SelectNodes(const DOMNode* context, const char* expr,
                                           const std::map<std::string, std::string>& namespaces) {
    std::vector<DOMNode*> nodes;
    StaticXPath(context, expr, namespaces, [&](const CXPath& xpath) {
        nodes = xpath.SelectNodes(context);
        return true;
    });
    return nodes;
}

DOMNode* CKelXML::SelectNode(const DOMNode* context, const char* expr,
                             const std::map<std::string, std::string>& namespaces) {
    DOMNode* node = nullptr;
    StaticXPath(context, expr, namespaces, [&](const CXPath& xpath) {
        node = xpath.SelectNode(context);
        return true;
    });
    return node;
}

bool CKelXML::GetXPathString(const DOMNode* context, const char* expr, std::string& value,
                             const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateString(context, value); });
}

bool CKelXML::GetXPathNumber(const DOMNode* context, const char* expr, double& value,
                             const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateNumber(context, value); });
}

bool CKelXML::GetXPathBoolean(const DOMNode* context, const char* expr, bool& value,
                              const std::map<std::string, std::string>& namespaces) {
    return StaticXPath(context, expr, namespaces,
                       [&](const CXPath& xpath) { return xpath.EvaluateBoolean(context, value); });
}

// --- Dictionary ------------------------------------------------------------------------

bool CKelXML::o_GetDictionaryFromNode(const DOMNode* node, std::map<std::string, std::string>& dictionary) {
    if (!node) return false;
    XString scratch;
    for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
        std::string name, text;
        if (!ToLocal(child->getNodeName(), name) || !ToLocal(Text16(child, scratch), text)) return false;
        dictionary[name] = std::move(text);
    }
    return true;
}

// --- Editing ---------------------------------------------------------------------------

DOMComment* CKelXML::AddNewCommentNode(DOMNode* parent, std::string_view text) {
    return AddComment(Impl::Of(*this), parent, text);
}

DOMProcessingInstruction* CKelXML::AddNewPINode(DOMNode* parent, std::string_view target, std::string_view data) {
    return AddPI(Impl::Of(*this), parent, target, data);
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, DOMNode* parent) {
    return AddElement(Impl::Of(*this), parent, name.c_str(), nullptr);
}

DOMElement* CKelXML::AddNewElementNode(const std::string& name, const std::string& text, DOMNode* parent) {
    return AddElement(Impl::Of(*this), parent, name.c_str(), text.c_str());
}

DOMElement* CKelXML::AddNewElementNodeNS(DOMNode* parent, std::string_view namespaceURI, std::string_view name,
                                         std::string_view text) {
    return AddElementNS(Impl::Of(*this), parent, namespaceURI, name, text);
}

DOMElement* CKelXML::InsertNewElementNodeBefore(DOMNode* sibling, const char* name, const char* text) {
    return InsertBeside(Impl::Of(*this), sibling, false, name, text);
}

DOMElement* CKelXML::InsertNewElementNodeAfter(DOMNode* sibling, const char* name, const char* text) {
    return InsertBeside(Impl::Of(*this), sibling, true, name, text);
}

DOMElement* CKelXML::InsertNewElementNodeAt(DOMNode* parent, std::size_t position, const char* name, const char* text) {
    return InsertAt(Impl::Of(*this), parent, position, name, text);
}

bool CKelXML::AddChildNodeValue(DOMNode* parent, const char* name, const char* text) {
    return AddChildText(Impl::Of(*this), parent, name, text);
}

bool CKelXML::AddChildNodeValue(DOMNode* parent, const char* name, unsigned int value) {
    return AddChildNodeValue(parent, name, std::to_string(value).c_str());
}

std::string CKelXML::ValueText(long long value) { return FormatValue(value); }
std::string CKelXML::ValueText(unsigned long long value) { return FormatValue(value); }
std::string CKelXML::ValueText(float value) { return FormatValue(value); }
std::string CKelXML::ValueText(double value) { return FormatValue(value); }
std::string CKelXML::ValueText(bool value) { return FormatValue(value); }

DOMAttr* CKelXML::AddNewAttribute(const std::string& name, const std::string& value, DOMElement* element) {
    return AddAttribute(Impl::Of(*this), element, name, value);
}

DOMAttr* CKelXML::AddNewAttributeNS(DOMElement* element, std::string_view namespaceURI, std::string_view name,
                                    std::string_view value) {
    return AddAttributeNS(Impl::Of(*this), element, namespaceURI, name, value);
}

DOMAttr* CKelXML::ModifyAttribute(const std::string& name, const std::string& value, DOMElement* element) {
    return ChangeAttribute(Impl::Of(*this), element, name, value);
}

bool CKelXML::SetAttributeValue(const DOMNode* node, const char* name, const char* value) {
    return SetExistingAttribute(node, name, value);
}

DOMNode* CKelXML::RemoveChildNode(DOMNode* parent, DOMNode* child) {
    return RemoveChild(Impl::Of(*this), parent, child);
}

// --- Forms of 2.0: text in as std::string_view, the context first, the output last -----------

namespace {
// A memory document's bytes: never a null pointer (which the walks read as "no file named"), and
// of any size, as the parser takes it.
std::string_view Bytes(std::string_view bytes) {
    static constexpr char kNoBytes[] = "";
    return bytes.data() ? bytes : kNoBytes;
}

// An expression for the compile, which reads a C string: a NUL byte, which no expression may
// hold, becomes another character none may hold, so the compile refuses it at its own column
// instead of reading the expression up to it.
std::string ExprText(std::string_view expr) {
    std::string text(expr);
    std::replace(text.begin(), text.end(), '\0', '\x01');
    return text;
}

// The conversions of the value reads: one CXPath evaluation per output type.
bool EvaluateAs(const CXPath& xpath, const DOMNode* from, std::string& value, std::string* reason) {
    return xpath.EvaluateString(from, value, {}, reason);
}
bool EvaluateAs(const CXPath& xpath, const DOMNode* from, double& value, std::string* reason) {
    return xpath.EvaluateNumber(from, value, {}, reason);
}
bool EvaluateAs(const CXPath& xpath, const DOMNode* from, bool& value, std::string* reason) {
    return xpath.EvaluateBoolean(from, value, {}, reason);
}

// The body of XPathString, XPathNumber and XPathBoolean.
template <class T>
bool ReadValue(const Held& held, const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
               T& value) {
    return ReadXPath(held, ExprText(expr).c_str(), context, namespaces,
                     [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                         return EvaluateAs(xpath, from, value, reason);
                     });
}
}  // namespace

bool CKelXML::LoadFromMemory(std::string_view bytes, E_LOAD_MODE eMode) {
    sLoadOptions options;
    options.eMode = eMode;
    return LoadFromMemory(bytes, options);
}

bool CKelXML::LoadFromMemory(std::string_view bytes, std::initializer_list<E_LOAD_MODE> eMode) {
    if (eMode.size() <= 1) return LoadFromMemory(bytes, eMode.size() == 1 ? *eMode.begin() : E_LOAD_AUTO);
    const Held held = Impl::Of(*this);
    return Replaceable(held) && RefuseLoad(held, E_EXCEPTION, msg::kOneLoadMode);
}

bool CKelXML::LoadFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> layout) {
    const sLoadOptions* const known = Known(layout);
    const Held held = Impl::Of(*this);
    return known && Replaceable(held) && LoadMemory(held, *known, Bytes(bytes));
}

bool CKelXML::ValidateFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> layout) {
    const sLoadOptions* const known = Known(layout);
    const Held held = Impl::Of(*this);
    return known && Replaceable(held) && CheckDocument(held, *known, nullptr, Bytes(bytes));
}

bool CKelXML::StreamRecordsFromMemorySized(std::string_view bytes, detail::Layout<sLoadOptions> options,
                                           TFunctor* functor, detail::Layout<sWalkOptions> walk, bool wantText,
                                           bool* verdict) {
    return StreamWalk(nullptr, Bytes(bytes), options, functor, walk, wantText, true, verdict);
}

bool CKelXML::XPathNodes(const DOMNode* context, std::string_view expr, std::vector<DOMNode*>& nodes) {
    return XPathNodes(context, expr, {}, nodes);
}

bool CKelXML::XPathNodes(const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                         std::vector<DOMNode*>& nodes) {
    bool nodeSet = false;
    const Held held = Impl::Of(*this);
    const bool done = ReadXPath(held, ExprText(expr).c_str(), context, namespaces,
                                [&](const CXPath& xpath, const DOMNode* from, std::string* reason) {
                                    sXPathValue value;
                                    if (!xpath.Evaluate(from, value, {}, reason)) return false;
                                    nodeSet = value.eType == E_XPATH_NODESET;
                                    if (nodeSet)
                                        nodes = std::move(value.vNodes);
                                    else
                                        Record(held, E_EXCEPTION, msg::kXPathNoNodeSet);
                                    return true;
                                });
    return done && nodeSet;
}

bool CKelXML::XPathNode(const DOMNode* context, std::string_view expr, DOMNode*& node) {
    return XPathNode(context, expr, {}, node);
}

bool CKelXML::XPathNode(const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                        DOMNode*& node) {
    std::vector<DOMNode*> nodes;
    if (!XPathNodes(context, expr, namespaces, nodes) || nodes.empty()) return false;
    node = nodes.front();
    return true;
}

bool CKelXML::XPathString(const DOMNode* context, std::string_view expr, std::string& value) {
    return XPathString(context, expr, {}, value);
}

bool CKelXML::XPathString(const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                          std::string& value) {
    return ReadValue(Impl::Of(*this), context, expr, namespaces, value);
}

bool CKelXML::XPathNumber(const DOMNode* context, std::string_view expr, double& value) {
    return XPathNumber(context, expr, {}, value);
}

bool CKelXML::XPathNumber(const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                          double& value) {
    return ReadValue(Impl::Of(*this), context, expr, namespaces, value);
}

bool CKelXML::XPathBoolean(const DOMNode* context, std::string_view expr, bool& value) {
    return XPathBoolean(context, expr, {}, value);
}

bool CKelXML::XPathBoolean(const DOMNode* context, std::string_view expr, const XPathNamespaces& namespaces,
                           bool& value) {
    return ReadValue(Impl::Of(*this), context, expr, namespaces, value);
}

}  // namespace XML
