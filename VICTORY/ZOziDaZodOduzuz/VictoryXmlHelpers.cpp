#include "VICTORY/ZOziDaZodOduzuz/VictoryXmlHelpers.h"

#include <cstring>

namespace VICTORY {

tinyxml2::XMLElement* FindElementWithAttribute(tinyxml2::XMLElement* element, const char* attribute,
                                               const char* value) {
    if (element == nullptr || attribute == nullptr || value == nullptr) {
        return nullptr;
    }
    const char* own = element->Attribute(attribute);
    if (own != nullptr && std::strcmp(own, value) == 0) {
        return element;
    }
    for (tinyxml2::XMLElement* child = element->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        if (tinyxml2::XMLElement* found = FindElementWithAttribute(child, attribute, value)) {
            return found;
        }
    }
    return nullptr;
}

bool updateConfigItemInVclXml(tinyxml2::XMLDocument& doc, const char* type, const char* name, const char* value) {
    if (type == nullptr || name == nullptr || value == nullptr) {
        return false;
    }
    tinyxml2::XMLElement* root = doc.FirstChildElement("vcl:VCL");
    tinyxml2::XMLElement* typed = FindElementWithAttribute(root, "type", type);
    tinyxml2::XMLElement* item = FindElementWithAttribute(typed, "name", name);
    if (item == nullptr) {
        return false;
    }
    item->SetAttribute("value", value);
    return true;
}

}  // namespace VICTORY
