// Reads the build number and the optional program digest from the bytes of "latestVersion.txt",
// and the build number from a program's answer to --version.
#include "content/latestVersionCode.h"

#include <cctype>
#include <algorithm>
#include <limits>
#include <string>

namespace {

constexpr size_t longestNumberRun = 32;
constexpr size_t digestDigits = 64;
constexpr std::string_view digestPrefix = "sha256=";
constexpr std::string_view answerPrefix = "trellik ";
constexpr int versionParts = 4;

bool isSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsRun(char c) {
    return static_cast<unsigned char>(c) < 33;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// An optional sign and decimal digits, nothing else, within the range of int32.
std::optional<int32_t> decimalInteger(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()} : std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Looks through the words of the rest of the line for the first "sha256=" token.
void readDigest(std::string_view restOfLine, TlatestVersion& version) {
    size_t at = 0;
    while (at < restOfLine.size()) {
        while (at < restOfLine.size() && endsRun(restOfLine[at])) ++at;
        size_t end = at;
        while (end < restOfLine.size() && !endsRun(restOfLine[end])) ++end;
        const std::string_view word = restOfLine.substr(at, end - at);
        at = end;
        if (word.substr(0, digestPrefix.size()) != digestPrefix) continue;
        const std::string_view digits = word.substr(digestPrefix.size());
        bool valid = digits.size() == digestDigits;
        for (const char c : digits) valid = valid && isHexDigit(c);
        if (!valid) {
            version.sha256Malformed = true;
            return;
        }
        for (const char c : digits) version.sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return;
    }
}

}  // namespace

std::optional<TlatestVersion> readLatestVersion(std::string_view bytes) {
    size_t at = 0;
    while (at < bytes.size() && isSkipped(bytes[at])) ++at;
    TlatestVersion version;
    if (at == bytes.size()) return version;
    size_t runEnd = at;
    while (runEnd < bytes.size() && runEnd - at < longestNumberRun && !endsRun(bytes[runEnd])) ++runEnd;
    const std::optional<int32_t> build = decimalInteger(bytes.substr(at, runEnd - at));
    if (!build) return std::nullopt;
    version.build = *build;
    size_t lineEnd = runEnd;
    while (lineEnd < bytes.size() && !isLineEnd(bytes[lineEnd])) ++lineEnd;
    readDigest(bytes.substr(runEnd, lineEnd - runEnd), version);
    return version;
}

std::string versionAnswer(int major, int minor, int release, int32_t build) {
    return std::string(answerPrefix) + std::to_string(major) + "." + std::to_string(minor) + "." +
           std::to_string(release) + "." + std::to_string(build) + "\n";
}

std::optional<int32_t> readVersionAnswer(std::string_view bytes) {
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, answerPrefix.size()) != answerPrefix) return std::nullopt;
    std::string_view version = line.substr(answerPrefix.size());
    std::optional<int32_t> part;
    for (int i = 0; i < versionParts; ++i) {
        const size_t dot = i + 1 < versionParts ? version.find('.') : version.size();
        if (dot == std::string_view::npos) return std::nullopt;
        const std::string_view digits = version.substr(0, dot);
        if (digits.empty() || digits[0] == '-' || digits[0] == '+') return std::nullopt;
        part = decimalInteger(digits);
        if (!part) return std::nullopt;
        version.remove_prefix(std::min(dot + 1, version.size()));
    }
    return part;
}
