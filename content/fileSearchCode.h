// Lists the files of one folder that match a wildcard mask, optionally cut to song names.
#pragma once

#include <string>

constexpr int searchResultCapacity = 17501;

// Found names from index 0 on; every entry after the last name is empty.
struct TsearchResults {
    std::string names[searchResultCapacity];
};

// Fills results with the names in folder matching mask (case-insensitive, sorted without
// regard to case). With cut, the last five characters of each name are removed and each
// distinct non-empty result is kept once, in order of first appearance. Names beyond the
// capacity are ignored.
void searchFiles(const std::string& folder, const std::string& mask, TsearchResults& results, bool cut);
