// Music streams and sound effects on one audio device, with a millisecond music clock.
#pragma once

class Tsounds;
class Tstream;
class Tsfx;
