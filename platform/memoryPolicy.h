// How the process's heap treats large buffers during a long game run.
#pragma once

// Makes every large allocation (a music file, a decoded effect, an image) come straight from the
// system and go back to it when freed. Without this the C heap raises its own limit after the
// first large buffer is freed and keeps later ones in pieces it seldom returns, so the resident
// memory of an evening of songs creeps up by the size of the largest song or two.
void returnLargeBuffersToTheSystem();
