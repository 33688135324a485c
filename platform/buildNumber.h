// The build number carried by an executable: the fourth component of its version.
#pragma once

#include <cstddef>
#include <string>

// Reads the version note of the file at path and returns its build number, or -1 when the
// file is unreadable, not an ELF file, or carries no version note.
int getBuildNumber(const std::string& path);

// Whether the file at path is an ELF program (executable or position-independent) for the
// class, byte order and architecture of the running program.
bool isProgramForThisMachine(const std::string& path);

// The same reading from the bytes of a file already in memory (also what the fuzzer drives).
int buildNumberFromBytes(const unsigned char* data, size_t size);
