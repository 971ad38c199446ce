#include "tools/aspn2-tool/ConnectionsFile.h"

#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace aspn2_tool {

namespace {

// Text of the child element `name` of `parent`, or null.
char const* childText(tinyxml2::XMLElement const* parent, char const* name) {
    tinyxml2::XMLElement const* child = parent->FirstChildElement(name);
    return child != nullptr ? child->GetText() : nullptr;
}

}  // namespace

std::string connectionsWithDomain(std::string const& path, unsigned domain) {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        throw std::runtime_error("cannot read connections file " + path + ": " + doc.ErrorStr());
    }
    tinyxml2::XMLElement* root = doc.RootElement();
    tinyxml2::XMLElement* parameters = nullptr;
    for (tinyxml2::XMLElement* c = root != nullptr ? root->FirstChildElement() : nullptr; c != nullptr;
         c = c->NextSiblingElement()) {
        char const* name = childText(c, "Name");
        if (name != nullptr && std::strcmp(name, "FastRtps") == 0) {
            parameters = c->FirstChildElement("Parameters");
            if (parameters == nullptr) parameters = c->InsertNewChildElement("Parameters");
            break;
        }
    }
    if (parameters == nullptr) {
        throw std::runtime_error("connections file " + path + " has no \"FastRtps\" container");
    }
    tinyxml2::XMLElement* id = parameters->FirstChildElement("DomainId");
    if (id == nullptr) id = parameters->InsertNewChildElement("DomainId");
    id->SetText(domain);

    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return printer.CStr();
}

TemporaryConnectionsFile::TemporaryConnectionsFile(std::string const& path, unsigned domain) {
    std::string const text = connectionsWithDomain(path, domain);
    char const* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/aspn2-tool-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary directory " + pattern + ": " + std::strerror(errno));
    }
    m_dir = pattern;
    m_file = m_dir + "/connections.xml";
    std::FILE* f = std::fopen(m_file.c_str(), "w");
    bool const written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    bool const closed = f != nullptr && std::fclose(f) == 0;
    if (!written || !closed) {
        ::unlink(m_file.c_str());
        ::rmdir(m_dir.c_str());
        throw std::runtime_error("cannot write " + m_file);
    }
}

TemporaryConnectionsFile::~TemporaryConnectionsFile() {
    ::unlink(m_file.c_str());
    ::rmdir(m_dir.c_str());
}

}  // namespace aspn2_tool
