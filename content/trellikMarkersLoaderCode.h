// Marker skins: the table of up to 49 sets of animation frames per panel state, loaded from
// the marker folder, and the frame a panel shows for its state and progress.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "content/textureControlCode.h"

constexpr int32_t markerStateCount = 7;
constexpr int32_t markerFrameSlots = 51;
constexpr int32_t markerSetCapacity = 49;

// File-name part of each state, indexed by panel state - 1.
extern const char* const markerStateNames[markerStateCount];

// One marker set: its frames per state and its preview, as GL texture names (0 = none).
struct Tmarker {
    bool loaded = false;
    std::string name;
    std::string folder;
    // Frames of a state run 0 .. lastFrame; -1 when frame 0 is missing.
    int32_t lastFrame[markerStateCount] = {};
    uint32_t preview = 0;
    uint32_t frames[markerStateCount][markerFrameSlots] = {};
};

// The set table. Slot 0 is never used: the k-th loaded set (k from 1) is in slot k, so the set
// the menu offers as index m is slot m + 1.
struct TmarkersControl {
    Tmarker markers[markerSetCapacity + 1];
    int32_t loadedCount = 0;
    int32_t nameCount = 0;
};

// The set name of a file: the text before its first "_"; without "_", all but the last character.
std::string markerSetNameOf(const std::string& fileName);

// Scans folder (ending in its separator), loads every set and prints the console table;
// refresh redraws the loading screen under the console.
void loadMarkers(TmarkersControl& table, const std::string& folder, const std::function<void()>& refresh);
void addMarker(TmarkersControl& table, const std::string& folder, const std::string& name,
               const std::function<void()>& refresh);
void loadMarkerSet(Tmarker& slot, const std::function<void()>& refresh);

// The same with the image loading and the table output given by the caller.
void loadMarkersWith(TmarkersControl& table, const std::string& folder, const TloaderSteps& steps);
void addMarkerWith(TmarkersControl& table, const std::string& folder, const std::string& name,
                   const TloaderSteps& steps);
void loadMarkerSetWith(Tmarker& slot, const TloaderSteps& steps);

// The frame of a state (panel state 1..7) at progress 0..1; 0 when the state has no frames.
uint32_t getFrame(const Tmarker& set, int32_t state, double progress);
// getFrame of the set the menu offers as index m, with progress clamped to [0, 1].
uint32_t getMarkerFrame(const TmarkersControl& table, int32_t setIndex, int32_t state, double progress);
// The preview of a slot (the menu asks for slot m + 1); 0 outside the table.
uint32_t getPreview(const TmarkersControl& table, int32_t slot);
