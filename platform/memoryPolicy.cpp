// The heap settings for large buffers.
#include "platform/memoryPolicy.h"

#include <malloc.h>

namespace {

// Larger than any texture row or chart, smaller than any song file or decoded effect.
constexpr int largeBufferBytes = 256 * 1024;

}  // namespace

void returnLargeBuffersToTheSystem() {
    mallopt(M_MMAP_THRESHOLD, largeBufferBytes);
}
