// SHA-256 of bytes and of files: the identity of a chart file in the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The digest as 64 lowercase hex digits.
std::string sha256Hex(const uint8_t* bytes, size_t size);
std::string sha256Hex(const std::string& bytes);
// The digest of a file's bytes, or "" when it cannot be read.
std::string fileSha256(const std::string& path);
