// The version note linked into each program, so getBuildNumber can read it from the file.
#include <cstdint>

#include "buildVersion.h"

#ifndef TRELLIK_NOTE_BUILD
#define TRELLIK_NOTE_BUILD TRELLIK_VERSION_BUILD
#endif

namespace {

struct TversionNote {
    uint32_t nameSize;
    uint32_t descriptionSize;
    uint32_t type;
    char name[8];
    uint16_t version[4];
};

}  // namespace

extern const TversionNote trellikVersionNote;
__attribute__((section(".note.trellik.version"), used, aligned(4)))
const TversionNote trellikVersionNote = {
    8, 8, 0x5452, "Trellik",
    {TRELLIK_VERSION_MAJOR, TRELLIK_VERSION_MINOR, TRELLIK_VERSION_RELEASE, TRELLIK_NOTE_BUILD},
};
