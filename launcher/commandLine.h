// What the program's command line asks for, read apart from main so that it can be tried.
#pragma once

#include <cstdint>
#include <string>

struct TcommandLine {
    bool start = false;
    bool autoplay = false;
    bool calibrate = false;
    // With --start: the kept play to replay (--replay ID); 0 for none.
    int64_t replayId = 0;
    // With --start: the music rate for this run (--rate R) in hundredths; 0 keeps the chosen one.
    int32_t rateHundredths = 0;
    bool help = false;
    // --version: print the version and build number, and do nothing else.
    bool version = false;
    std::string gameFolder;
    // Why an option's value was refused, for the message above the usage; "" when none was.
    std::string refusal;
};

// --version alone; or --game-dir DIR may come first, then --start [--autoplay | --replay ID]
// [--rate R], --calibrate or --help. R is 0.5 to 2 in steps of 0.05. False for anything else.
bool readCommandLine(int argc, const char* const* argv, TcommandLine& line);
