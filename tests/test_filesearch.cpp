// Folder search: sorted listing by mask, cutting to song names, the capacity and missing folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "content/fileSearchCode.h"
#include "tests/support/testSupport.h"

namespace {

std::vector<std::string> found(const std::string& folder, const std::string& mask, bool cut) {
    const auto results = std::make_unique<TsearchResults>();
    results->names[0] = "stale";
    searchFiles(folder, mask, *results, cut);
    std::vector<std::string> names;
    for (const std::string& name : results->names) {
        if (name.empty()) break;
        names.push_back(name);
    }
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(SearchFiles, ChartNamesWithAndWithoutCutting) {
    TtemporaryFolder folder;
    std::filesystem::create_directory(folder.file("SNG"));
    for (const char* name : {"a0.txt", "a1.txt", "b2.txt", "a2.txt", "song.mp3"})
        writeFile(folder.file("SNG/") + name, "");
    EXPECT_EQ(found(folder.path() + "\\sng\\", "*.txt", false), (Names{"a0.txt", "a1.txt", "a2.txt", "b2.txt"}));
    EXPECT_EQ(found(folder.path() + "/sng/", "*.txt", true), (Names{"a", "b"}));

    // Folders match too; cutting compares case-sensitively and drops names of five characters or fewer.
    std::filesystem::create_directory(folder.file("SNG/dir1.txt"));
    for (const char* name : {"A3.TXT", "x.txt"}) writeFile(folder.file("SNG/") + name, "");
    EXPECT_EQ(found(folder.path() + "/sng/", "*.TXT", false),
              (Names{"a0.txt", "a1.txt", "a2.txt", "A3.TXT", "b2.txt", "dir1.txt", "x.txt"}));
    EXPECT_EQ(found(folder.path() + "/sng/", "*.txt", true), (Names{"a", "A", "b", "dir"}));
}

TEST(SearchFiles, CuttingCountsCharactersNotBytes) {
    TtemporaryFolder folder;
    writeFile(folder.file("曲é.txt"), "");
    writeFile(folder.file("曲0.txt"), "");
    EXPECT_EQ(found(folder.path(), "*.txt", true), (Names{"曲"}));
}

TEST(SearchFiles, MissingFolderAndCapacity) {
    EXPECT_TRUE(found("/no/such/folder/", "*", false).empty());
    TtemporaryFolder folder;
    for (int i = 0; i < searchResultCapacity + 3; ++i) writeFile(folder.file(std::to_string(100000 + i)), "");
    const Names names = found(folder.path(), "*", false);
    ASSERT_EQ(names.size(), static_cast<size_t>(searchResultCapacity));
    EXPECT_EQ(names.back(), std::to_string(100000 + searchResultCapacity - 1));
}
