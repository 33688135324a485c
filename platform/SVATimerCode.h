// A periodic millisecond timer whose handler runs on the main thread between frames.
#pragma once

class TSVATimer;
