#include "FACE/CV_Config.h"

#include "utilities/AtomicFile.h"

#include <tinyxml2.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

namespace FACE {

std::atomic<int> CV_Config::s_HandleCount{0};

namespace {

constexpr char kRootTag[] = "CV_Configurations";
constexpr char kNameTag[] = "Name";
constexpr char kParametersTag[] = "Parameters";
constexpr char kSchemaAttribute[] = "xsi:noNamespaceSchemaLocation";

// The text of a FACE::String as a std::string (empty for an invalid one).
std::string toStd(FACE::String const& s) {
    char const* b = s.buffer();
    return b == nullptr ? std::string() : std::string(b, s.length());
}

// Text of an element's first text child, or null when it has none or it is
// empty.
char const* textOf(tinyxml2::XMLElement const* e) {
    if (e == nullptr) {
        return nullptr;
    }
    char const* t = e->GetText();
    return (t == nullptr || *t == '\0') ? nullptr : t;
}

// "Name" text of a container, or null when the element is no container.
char const* containerName(tinyxml2::XMLElement const* e) { return textOf(e->FirstChildElement(kNameTag)); }

tinyxml2::XMLElement* nextElement(tinyxml2::XMLElement* e, bool forward) {
    return forward ? e->NextSiblingElement() : e->PreviousSiblingElement();
}

// Walks the root's children (first to last when `forward`, else last to
// first) and returns the first container whose "Name" text, or failing that
// on the same element whose tag, equals `name`.
tinyxml2::XMLElement* getConfigContainer(tinyxml2::XMLDocument* doc, std::string const& name, bool forward) {
    if (doc == nullptr) {
        return nullptr;
    }
    tinyxml2::XMLElement* root = doc->FirstChildElement(kRootTag);
    if (root == nullptr) {
        return nullptr;
    }
    tinyxml2::XMLElement* e = forward ? root->FirstChildElement() : root->LastChildElement();
    for (; e != nullptr; e = nextElement(e, forward)) {
        char const* n = containerName(e);
        if (n == nullptr) {
            continue;
        }
        if (name == n || name == e->Name()) {
            return e;
        }
    }
    return nullptr;
}

// The element that holds the value of `parameter` in `container`: the
// container's "Name" for an empty parameter name, else the first child of
// "Parameters" with that tag. Null when any of them is missing.
tinyxml2::XMLElement* valueElement(tinyxml2::XMLElement* container, std::string const& parameter) {
    if (parameter.empty()) {
        return container->FirstChildElement(kNameTag);
    }
    tinyxml2::XMLElement* params = container->FirstChildElement(kParametersTag);
    return params == nullptr ? nullptr : params->FirstChildElement(parameter.c_str());
}

bool isContainerOfTag(tinyxml2::XMLElement const* e, std::string const& tag) {
    return tag == e->Name() && containerName(e) != nullptr;
}

// Saves `doc` to `path`, printed indented. Where the file's owner, mode and
// links allow it, as one atomic replacement, so that a crash in the middle
// of a save leaves the previous file whole; otherwise truncated and written
// in place (see utilities/AtomicFile.h). True when every step succeeded.
bool saveDurably(tinyxml2::XMLDocument& doc, std::string const& path) {
    tinyxml2::XMLPrinter printer(nullptr, false);
    doc.Print(&printer);
    std::size_t const length = printer.CStrSize() > 0 ? static_cast<std::size_t>(printer.CStrSize() - 1) : 0;
    return AtomicFile::replaceContents(path, printer.CStr(), length) == 0;
}

}  // namespace

CV_Config::CV_Config() : m_initialized(false) {}

CV_Config::~CV_Config() = default;

CV_Config::config_set* CV_Config::findHandle(int handle) const {
    auto const it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second.get();
}

void CV_Config::Initialize(FACE::String const& path, FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (m_initialized) {
        return_code = RETURN_CODE_TYPE::NO_ERROR;
        return;
    }
    return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    std::lock_guard<std::mutex> lock(m_fileMutex);
    try {
        std::string const file = toStd(path);
        m_doc.reset();
        // Only a regular file is loaded: a directory or device could make
        // the parser ask for an absurd amount of memory or block.
        struct stat st {};
        if (file.empty() || file.find('\0') != std::string::npos || ::stat(file.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            return;
        }
        auto doc = std::make_unique<tinyxml2::XMLDocument>(true, tinyxml2::PRESERVE_WHITESPACE);
        if (doc->LoadFile(file.c_str()) != tinyxml2::XML_SUCCESS) {
            return;
        }
        tinyxml2::XMLElement const* root = doc->FirstChildElement(kRootTag);
        if (root == nullptr) {
            std::cout << "Configuration XML - " << file << " Error: Unable to locate the " << kRootTag << " object"
                      << std::endl;
            return;
        }
        char const* schema = root->Attribute(kSchemaAttribute);
        m_schemaLocation = schema == nullptr ? "" : schema;
        m_configFile = file;
        m_doc = std::move(doc);
        m_initialized = true;
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        // Lack of memory while loading: the instance stays uninitialised.
        m_doc.reset();
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

void CV_Config::Open(FACE::String const& name, int& handle, FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (!m_initialized) {
        return_code = RETURN_CODE_TYPE::INVALID_MODE;
        return;
    }
    try {
        std::string const wanted = toStd(name);
        for (auto const& entry : m_handles) {
            if (entry.second->currentName == wanted) {
                handle = entry.first;
                return_code = RETURN_CODE_TYPE::NO_ERROR;
                return;
            }
        }
        tinyxml2::XMLElement* found = getConfigContainer(m_doc.get(), wanted, true);
        if (found == nullptr) {
            return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
            return;
        }
        std::string const tag = found->Name();
        std::string const foundName = containerName(found);
        for (auto& entry : m_handles) {
            if (entry.second->containerTag == tag) {
                entry.second->container = found;
                entry.second->currentName = foundName;
                handle = entry.first;
                return_code = RETURN_CODE_TYPE::NO_ERROR;
                return;
            }
        }
        auto set = std::make_unique<config_set>(config_set{found, tag, foundName});
        int const h = s_HandleCount.fetch_add(1);
        m_handles.emplace(h, std::move(set));
        handle = h;
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

void CV_Config::Get_Size(int handle, FACE::String const& parameter, int& size,
                         FACE::RETURN_CODE_TYPE::Value& return_code) {
    return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    try {
        config_set const* set = findHandle(handle);
        if (set == nullptr) {
            return;
        }
        char const* text = textOf(valueElement(set->container, toStd(parameter)));
        if (text == nullptr) {
            return;
        }
        std::size_t const n = std::strlen(text);
        if (n > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            return;
        }
        size = static_cast<int>(n);
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

tinyxml2::XMLElement* CV_Config::transferElement(int handle, std::string const& parameter, bool nameAllowed,
                                                 void const* buffer, int size,
                                                 FACE::RETURN_CODE_TYPE::Value& return_code) const {
    return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    config_set const* set = findHandle(handle);
    if (set == nullptr) {
        return nullptr;
    }
    return_code = RETURN_CODE_TYPE::INVALID_PARAM;
    if ((parameter.empty() && !nameAllowed) || size < 0 || (buffer == nullptr && size > 0)) {
        return nullptr;
    }
    tinyxml2::XMLElement* element = valueElement(set->container, parameter);
    return textOf(element) == nullptr ? nullptr : element;
}

void CV_Config::Read(int handle, FACE::String const& parameter, void* buffer, int size, int& bytes,
                     FACE::RETURN_CODE_TYPE::Value& return_code) {
    bytes = 0;
    try {
        tinyxml2::XMLElement const* element =
            transferElement(handle, toStd(parameter), true, buffer, size, return_code);
        if (element == nullptr) {
            return;
        }
        char const* text = textOf(element);
        std::size_t const capacity = static_cast<std::size_t>(size);
        std::size_t const n = ::strnlen(text, capacity);
        if (capacity > 0) {
            std::memset(buffer, 0, capacity);
            std::memcpy(buffer, text, n);
        }
        bytes = static_cast<int>(n);
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

void CV_Config::Write(int handle, FACE::String const& parameter, void* buffer, int size, int& bytes,
                      FACE::RETURN_CODE_TYPE::Value& return_code) {
    bytes = 0;
    try {
        tinyxml2::XMLElement* element = transferElement(handle, toStd(parameter), false, buffer, size, return_code);
        if (element == nullptr) {
            return;
        }
        std::string const value(static_cast<char const*>(buffer), static_cast<std::size_t>(size));
        element->SetText(value.c_str());

        std::lock_guard<std::mutex> lock(m_fileMutex);
        if (!saveDurably(*m_doc, m_configFile)) {
            return_code = RETURN_CODE_TYPE::NO_ACTION;
            return;
        }
        bytes = size;
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        return_code = RETURN_CODE_TYPE::NO_ACTION;
    }
}

void CV_Config::Seek(int handle, FACE::Configuration::WHENCE_TYPE::Value whence, int offset,
                     FACE::RETURN_CODE_TYPE::Value& return_code) {
    return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    try {
        config_set* set = findHandle(handle);
        if (set == nullptr) {
            return;
        }
        tinyxml2::XMLElement* start = nullptr;
        switch (whence) {
            case WHENCE_TYPE::SEEK_FROM_START:
                start = getConfigContainer(m_doc.get(), set->containerTag, true);
                break;
            case WHENCE_TYPE::SEEK_FROM_CURRENT:
                start = set->container;
                break;
            case WHENCE_TYPE::SEEK_FROM_END:
                start = getConfigContainer(m_doc.get(), set->containerTag, false);
                break;
            default:
                return;
        }
        return_code = RETURN_CODE_TYPE::INVALID_PARAM;
        if (start == nullptr) {
            return;
        }
        bool const towardsEnd = whence == WHENCE_TYPE::SEEK_FROM_END ? offset < 0 : offset > 0;
        long long remaining = offset < 0 ? -static_cast<long long>(offset) : offset;
        tinyxml2::XMLElement* e = start;
        while (remaining > 0) {
            e = nextElement(e, towardsEnd);
            if (e == nullptr) {
                return;
            }
            if (isContainerOfTag(e, set->containerTag)) {
                --remaining;
            }
        }
        char const* n = containerName(e);
        std::string newName = n == nullptr ? "" : n;
        set->container = e;
        set->currentName.swap(newName);
        return_code = RETURN_CODE_TYPE::NO_ERROR;
    } catch (...) {
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

void CV_Config::Close(int handle, FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (m_handles.erase(handle) == 0) {
        return_code = RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    return_code = RETURN_CODE_TYPE::NO_ERROR;
}

}  // namespace FACE
