// Search and edit of VCL documents.
#include "VICTORY/ZOziDaZodOduzuz/VictoryXmlHelpers.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>

namespace {

std::string print(const tinyxml2::XMLDocument& doc) {
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return printer.CStr();
}

const char* const kVcl = R"(<vcl:VCL xmlns:vcl="urn:test">
  <vcl:service type="VICTORY_POSITION" name="Position">
    <vcl:component type="VICTORY_DATA" name="PositionData">
      <vcl:configItem name="updatePeriod" value="1000"/>
      <vcl:configItem name="noValue"/>
    </vcl:component>
    <vcl:component type="VICTORY_MANAGEMENT">
      <vcl:configItem name="faultReporting" value="enabled"/>
    </vcl:component>
    <vcl:component type="VICTORY_DATA">
      <vcl:configItem name="onlyInSecond" value="1"/>
    </vcl:component>
  </vcl:service>
</vcl:VCL>)";

TEST(VictoryXmlHelpers, UpdateConfigItem) {
    const struct {
        const char* what;
        const char* document;
        const char* type;
        const char* name;
        bool updated;
        const char* check;  // attribute path checked after a successful update
    } cases[] = {
        {"existing value replaced", kVcl, "VICTORY_DATA", "updatePeriod", true, "updatePeriod"},
        {"value attribute created", kVcl, "VICTORY_DATA", "noValue", true, "noValue"},
        {"item under another type", kVcl, "VICTORY_MANAGEMENT", "faultReporting", true, "faultReporting"},
        {"type on the service element itself", kVcl, "VICTORY_POSITION", "updatePeriod", true, "updatePeriod"},
        {"name only in a later element of the type", kVcl, "VICTORY_DATA", "onlyInSecond", false, nullptr},
        {"unknown type", kVcl, "VICTORY_OTHER", "updatePeriod", false, nullptr},
        {"unknown name", kVcl, "VICTORY_DATA", "period", false, nullptr},
        {"name outside the type's element", kVcl, "VICTORY_MANAGEMENT", "updatePeriod", false, nullptr},
        {"type text must match exactly", kVcl, "VICTORY_DAT", "updatePeriod", false, nullptr},
        {"other root", "<VCL><c type='VICTORY_DATA'><i name='updatePeriod' value='1'/></c></VCL>", "VICTORY_DATA",
         "updatePeriod", false, nullptr},
        {"empty document", "", "VICTORY_DATA", "updatePeriod", false, nullptr},
        {"null type", kVcl, nullptr, "updatePeriod", false, nullptr},
        {"null name", kVcl, "VICTORY_DATA", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tinyxml2::XMLDocument doc;
        doc.Parse(c.document);
        const std::string before = print(doc);
        EXPECT_EQ(VICTORY::updateConfigItemInVclXml(doc, c.type, c.name, "4294967295"), c.updated);
        if (!c.updated) {
            EXPECT_EQ(print(doc), before);
            continue;
        }
        tinyxml2::XMLElement* item = VICTORY::FindElementWithAttribute(
            VICTORY::FindElementWithAttribute(doc.FirstChildElement("vcl:VCL"), "type", c.type), "name", c.check);
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(item->Attribute("value"), "4294967295");
    }
}

}  // namespace
