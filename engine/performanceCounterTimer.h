// The high-resolution clock of judgement, in milliseconds, read through the clock seam.
#pragma once

// Reads the clock and remembers the reading.
double readHighResolutionMs();
// The value of the last reading, without reading again.
double lastHighResolutionMs();
