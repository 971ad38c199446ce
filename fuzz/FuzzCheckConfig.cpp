// The server's `--check-config` on a whole configuration set. The input is
// the set's files separated by NUL bytes, in this order: top-level file,
// connections file, devices file, then the Position, Orientation and
// Direction of Travel services' configuration and VCL files. "@ROOT@" in
// any file stands for the runtime root the set is written to (so that the
// top-level file can name the other two). The check runs in-process on that
// root, with the geoid data set in place.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "fuzz/FuzzSupport.h"

namespace {

struct SetLayout {
    std::string root;
    std::vector<std::string> files;  // in input order
};

const SetLayout& layout() {
    static const SetLayout l = [] {
        SetLayout out;
        out.root = fuzz::scratchFolder();
        const char* root = out.root.c_str();
        out.files = {out.root + "/ZOziDaZodOduzuz.xml",
                     out.root + "/connections.xml",
                     out.root + "/devices.xml",
                     relocateCorvanePath(positionConfigFileName, root),
                     relocateCorvanePath(positionVclFileName, root),
                     relocateCorvanePath(orientationConfigFileName, root),
                     relocateCorvanePath(orientationVclFileName, root),
                     relocateCorvanePath(DOTconfigFileName, root),
                     relocateCorvanePath(DOTvclFileName, root)};
        std::filesystem::create_directories(std::filesystem::path(out.files[3]).parent_path());
        const std::string geoids = relocateCorvanePath(GeoidFilePath, root);
        std::filesystem::create_directories(geoids);
        fuzz::writeFile(geoids + "/egm96-15.pgm", std::string("P5\n"));
        return out;
    }();
    return l;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The fixed paths are relocated under the set's root, as the server
    // does when the stand-in root is set.
    ::setenv("CORVANE_ROOT", layout().root.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SetLayout& set = layout();
    const std::vector<std::string> parts = fuzz::splitAtNul(data, size, set.files.size());
    // Only the files that differ from the previous input are written: most
    // mutations change one of them, and file writes dominate the run time.
    static std::vector<std::string> written(set.files.size());
    static std::vector<bool> present(set.files.size(), false);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string content = fuzz::replaceAll(parts[i], "@ROOT@", set.root);
        if (!present[i] || content != written[i]) {
            fuzz::writeFile(set.files[i], content);
            written[i] = std::move(content);
            present[i] = true;
        }
    }
    std::ostringstream out;
    ServerConfigCheck::runCheckConfig(set.files[0], out);
    return 0;
}
