// Catalog: the system's XML catalogs (OASIS XML Catalogs), which map the public and system
// identifiers of DTDs to installed files: the files XML_CATALOG_FILES names (separated by
// spaces), else /etc/xml/catalog. Entries read: public, system, rewriteSystem, delegatePublic,
// delegateSystem and nextCatalog (inside groups too). Catalogs are read at each look-up, so that
// an installed package counts at once. Internal to the library.
#ifndef KELXML_INTERNAL_CATALOG_H
#define KELXML_INTERNAL_CATALOG_H

#include <string>

namespace XML::internal {

// The local file the catalogs map the identifiers to (either may be empty), or empty when none
// does or the mapped file is not local. A system identifier is looked up before a public one.
std::string ResolveInCatalogs(const std::string& publicId, const std::string& systemId);

}  // namespace XML::internal

#endif
