#ifndef VICTORY_ZOZIDAZODODUZUZ_VICTORYXMLHELPERS_H
#define VICTORY_ZOZIDAZODODUZUZ_VICTORYXMLHELPERS_H

// Editing of VICTORY VCL documents (root element "vcl:VCL") in memory.

#include <tinyxml2.h>

namespace VICTORY {

/// Depth-first search, in document order, of `element` and everything below
/// it for the first element whose attribute `attribute` has exactly the
/// text `value`. Returns that element, or null when there is none or
/// `element` is null. Null `attribute` or `value` match nothing. Never
/// throws.
tinyxml2::XMLElement* FindElementWithAttribute(tinyxml2::XMLElement* element, const char* attribute, const char* value);

/// Sets a configuration item of a VCL document: inside the first child
/// element of `doc` named "vcl:VCL", takes the first element whose "type" is
/// `type`; below (or at) that element, the first element whose "name" is
/// `name`; sets its "value" attribute to `value` (creating the attribute if
/// needed). Returns true when the value was set; false, with the document
/// unchanged, when the root, the type or the name is not found or an
/// argument is null. Only the first element of the given type is searched,
/// even if a later one would hold the name. Never throws.
bool updateConfigItemInVclXml(tinyxml2::XMLDocument& doc, const char* type, const char* name, const char* value);

}  // namespace VICTORY

#endif  // VICTORY_ZOZIDAZODODUZUZ_VICTORYXMLHELPERS_H
