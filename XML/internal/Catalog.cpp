// Catalog: the catalog look-up (see Catalog.h). A catalog file is scanned for its entry
// elements rather than parsed: catalogs are flat lists of empty elements, and a file that is not
// one gives no entry. Delegation and next catalogs are followed to a fixed depth, so a catalog
// that names itself ends.
#include "XML/internal/Catalog.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace XML::internal {

namespace {

constexpr int kMaxDepth = 8;

struct Entry {
    std::string kind;  // the element's local name
    std::string key;   // publicId, systemId or the start string
    std::string uri;   // uri, rewritePrefix or catalog, resolved against the catalog file
};

bool Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A catalog's reference as a local path (file: URLs on this host, relative references against
// the catalog's folder); empty for anything else.
std::string LocalPath(const std::string& uri, const std::string& base) {
    if (uri.rfind("file://localhost/", 0) == 0) return uri.substr(16);
    if (uri.rfind("file:///", 0) == 0) return uri.substr(7);
    if (uri.rfind("file:/", 0) == 0) return uri.substr(5);
    if (uri.empty() || uri.find("://") != std::string::npos) return {};
    if (uri[0] == '/') return uri;
    return base.substr(0, base.rfind('/') + 1) + uri;
}

// Public identifiers compare with their whitespace normalised.
std::string Normalised(const std::string& id) {
    std::string out;
    for (const char c : id) {
        if (Space(c)) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The value of attribute name in the tag text, or empty.
std::string Attribute(const std::string& tag, const std::string& name) {
    for (std::size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at == 0 || !Space(tag[at - 1])) continue;
        std::size_t p = at + name.size();
        while (p < tag.size() && Space(tag[p])) ++p;
        if (p >= tag.size() || tag[p] != '=') continue;
        ++p;
        while (p < tag.size() && Space(tag[p])) ++p;
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) continue;
        const std::size_t end = tag.find(tag[p], p + 1);
        if (end == std::string::npos) return {};
        return tag.substr(p + 1, end - p - 1);
    }
    return {};
}

std::vector<Entry> ReadCatalog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    static const std::pair<const char*, const char*> kinds[] = {{"public", "publicId"},
                                                                {"system", "systemId"},
                                                                {"rewriteSystem", "systemIdStartString"},
                                                                {"delegatePublic", "publicIdStartString"},
                                                                {"delegateSystem", "systemIdStartString"},
                                                                {"nextCatalog", nullptr}};
    std::vector<Entry> entries;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        if (text.compare(at, 4, "<!--") == 0) {
            at = text.find("-->", at);
            if (at == std::string::npos) break;
            continue;
        }
        const std::size_t end = text.find('>', at);
        if (end == std::string::npos) break;
        const std::string tag = text.substr(at + 1, end - at - 1);
        std::size_t nameEnd = 0;
        while (nameEnd < tag.size() && !Space(tag[nameEnd]) && tag[nameEnd] != '/') ++nameEnd;
        std::string name = tag.substr(0, nameEnd);
        if (const std::size_t colon = name.find(':'); colon != std::string::npos) name.erase(0, colon + 1);
        for (const auto& [kind, keyName] : kinds) {
            if (name != kind) continue;
            Entry entry{kind, keyName ? Attribute(tag, keyName) : std::string(), {}};
            const char* uriName = name == "rewriteSystem"                                   ? "rewritePrefix"
                                  : name.rfind("delegate", 0) == 0 || name == "nextCatalog" ? "catalog"
                                                                                            : "uri";
            entry.uri = LocalPath(Attribute(tag, uriName), path);
            if (entry.kind == "public" || entry.kind == "delegatePublic") entry.key = Normalised(entry.key);
            if (!entry.uri.empty() && (keyName == nullptr || !entry.key.empty())) entries.push_back(std::move(entry));
        }
        at = end;
    }
    return entries;
}

std::string Resolve(const std::string& catalog, const std::string& publicId, const std::string& systemId, int depth) {
    if (depth > kMaxDepth) return {};
    const std::vector<Entry> entries = ReadCatalog(catalog);
    // The longest matching start string wins, for rewriting and delegation alike.
    const auto longest = [&entries](const char* kind, const std::string& id) {
        std::vector<const Entry*> found;
        for (const Entry& e : entries)
            if (e.kind == kind && !id.empty() && id.rfind(e.key, 0) == 0) found.push_back(&e);
        std::stable_sort(found.begin(), found.end(),
                         [](const Entry* a, const Entry* b) { return a->key.size() > b->key.size(); });
        return found;
    };
    if (!systemId.empty()) {
        for (const Entry& e : entries)
            if (e.kind == "system" && e.key == systemId) return e.uri;
        if (const auto rewrites = longest("rewriteSystem", systemId); !rewrites.empty())
            return rewrites.front()->uri + systemId.substr(rewrites.front()->key.size());
        const auto delegates = longest("delegateSystem", systemId);
        for (const Entry* e : delegates)
            if (std::string found = Resolve(e->uri, {}, systemId, depth + 1); !found.empty()) return found;
        if (!delegates.empty()) return {};
    }
    if (!publicId.empty()) {
        for (const Entry& e : entries)
            if (e.kind == "public" && e.key == publicId) return e.uri;
        const auto delegates = longest("delegatePublic", publicId);
        for (const Entry* e : delegates)
            if (std::string found = Resolve(e->uri, publicId, {}, depth + 1); !found.empty()) return found;
        if (!delegates.empty()) return {};
    }
    for (const Entry& e : entries)
        if (e.kind == "nextCatalog")
            if (std::string found = Resolve(e.uri, publicId, systemId, depth + 1); !found.empty()) return found;
    return {};
}

}  // namespace

std::string ResolveInCatalogs(const std::string& publicId, const std::string& systemId) {
    const char* files = std::getenv("XML_CATALOG_FILES");
    std::istringstream list(files ? files : "/etc/xml/catalog");
    const std::string normalised = Normalised(publicId);
    for (std::string file; list >> file;) {
        const std::string path = LocalPath(file, "./");
        if (path.empty()) continue;
        if (std::string found = Resolve(path, normalised, systemId, 0); !found.empty()) return found;
    }
    return {};
}

}  // namespace XML::internal
