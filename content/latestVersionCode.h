// The update's version texts: the server's "latestVersion.txt" and a program's answer to --version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the first line of "latestVersion.txt" announces.
struct TlatestVersion {
    int32_t build = 0;
    // The SHA-256 of the new program as 64 lowercase hex digits, or "" when none is given.
    std::string sha256;
    // A "sha256=" token whose value is not 64 hex digits: the program cannot be verified.
    bool sha256Malformed = false;
};

// Reads the file's bytes: blanks, tabs and line ends are skipped; nothing after them reads as
// build 0; otherwise the next run of up to 32 characters (ended by any byte below 33) must be a
// decimal 32-bit integer, or there is no result. The rest of that line may carry a token
// "sha256=" followed by the digest; everything else on it is ignored.
std::optional<TlatestVersion> readLatestVersion(std::string_view bytes);

// What a program prints for --version: "trellik A.B.C.D" on its first line.
std::string versionAnswer(int major, int minor, int release, int32_t build);

// The build number D of a --version answer, or none when the first line is not of that form.
std::optional<int32_t> readVersionAnswer(std::string_view bytes);
