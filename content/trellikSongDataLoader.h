// The chart record: up to 10000 timed rows of sixteen panel flags, read from a chart file.
#pragma once

#include <cstdint>

constexpr int chartCapacity = 10000;

struct ChartEntry {
    double time = 9999999999.0;
    double bpm = 0.0;
    uint8_t panels[16] = {};
};

struct TsongParser {
    ChartEntry entries[chartCapacity + 1];
    int32_t entryCount = 0;
    int32_t markerCount = 0;
};
