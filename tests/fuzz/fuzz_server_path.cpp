// Fuzz target: the embedded update server's check of a request path against its root folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/updateServer.h"

namespace {

namespace fs = std::filesystem;

// A served root with a file, a folder and a link that leads outside it, beside a file that
// must never be served. Made once per fuzzing run and removed when it ends.
struct TservedTree {
    fs::path base;
    fs::path root;
    fs::path realRoot;

    TservedTree() {
        std::string pattern = (fs::temp_directory_path() / "fuzz-server-path-XXXXXX").string();
        base = ::mkdtemp(pattern.data());
        root = base / "root";
        fs::create_directories(root / "snd");
        std::ofstream(root / "snd" / "readyGo.mp3") << "ready";
        std::ofstream(root / "motd.txt") << "motd";
        std::ofstream(base / "secret.txt") << "secret";
        fs::create_directory_symlink(base, root / "outside");
        fs::create_symlink(base / "secret.txt", root / "secret.txt");
        realRoot = fs::canonical(root);
    }
    ~TservedTree() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
    static TservedTree& tree() {
        static TservedTree made;
        return made;
    }
};

bool isInsideRoot(const fs::path& file, const fs::path& root) {
    const std::string rootText = root.string() + "/";
    return file.string().compare(0, rootText.size(), rootText) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TservedTree& tree = TservedTree::tree();
    const std::string requestPath(reinterpret_cast<const char*>(data), size);
    const std::string served = servedFilePath(tree.root.string(), requestPath);
    if (served.empty()) return 0;
    // Whatever is served is a plain file inside the root, reached without leaving it.
    const fs::path file(served);
    std::error_code error;
    if (!isInsideRoot(file, tree.realRoot) || !fs::is_regular_file(file, error) || file.filename() == "secret.txt")
        __builtin_trap();
    return 0;
}
