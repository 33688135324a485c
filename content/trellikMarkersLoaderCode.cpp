// Loading of the marker skin table from the marker folder, with its console table, and the
// choice of animation frame.
#include "content/trellikMarkersLoaderCode.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "content/fileSearchCode.h"
#include "platform/store/pathResolver.h"

const char* const markerStateNames[markerStateCount] = {"normal", "normalpassed", "perfect", "great",
                                                        "good",   "bad",          "miss"};

// Texts start as std::string rather than a literal: GCC 12 at -O3 warns falsely about a literal
// added in front of a string.
namespace {

const char* const imageExtensions[] = {".tga", ".bmp", ".jpg"};

// The first of name + ".tga", ".bmp", ".jpg" that exists; empty when none does.
std::string firstExistingImage(const std::string& base) {
    for (const char* extension : imageExtensions) {
        if (pathExists(base + extension)) return base + extension;
    }
    return {};
}

std::vector<std::string> listNamesInOrder(const std::string& folder) {
    std::vector<std::string> names;
    auto results = std::make_unique<TsearchResults>();
    for (const char* mask : {"*.bmp", "*.jpg", "*.tga"}) {
        searchFiles(folder, mask, *results, false);
        for (const std::string& name : results->names) {
            if (name.empty()) break;
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> distinctSetNames(const std::vector<std::string>& fileNames) {
    std::vector<std::string> sets;
    for (const std::string& fileName : fileNames) {
        const std::string set = markerSetNameOf(fileName);
        if (!set.empty() && std::find(sets.begin(), sets.end(), set) == sets.end()) sets.push_back(set);
    }
    return sets;
}

int32_t roundHalfToEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    int32_t rounded = static_cast<int32_t>(below);
    if (fraction > 0.5 || (fraction == 0.5 && rounded % 2 != 0)) ++rounded;
    return rounded;
}

// Progress held to [0, 1]; not-a-number counts as 0.
double clampedProgress(double progress) {
    if (!(progress >= 0.0)) return 0.0;
    return std::min(progress, 1.0);
}

int32_t countDigits(int32_t number) {
    return static_cast<int32_t>(std::to_string(number).size());
}

// Loads frames 0, 1, ... of one state until the first missing number; returns how many loaded.
int32_t loadStateFrames(Tmarker& slot, int32_t state, const TloaderSteps& steps) {
    const std::string base = slot.folder + slot.name + "_" + markerStateNames[state] + "_";
    for (int32_t frame = 0; frame < markerFrameSlots; ++frame) {
        const std::string path = firstExistingImage(base + std::to_string(frame));
        if (path.empty()) {
            slot.lastFrame[state] = frame - 1;
            return frame;
        }
        steps.loadImage(path, slot.frames[state][frame]);
        steps.write(".");
        steps.refresh();
    }
    slot.lastFrame[state] = markerFrameSlots - 1;
    return markerFrameSlots;
}

void loadStateRow(Tmarker& slot, int32_t state, const TloaderSteps& steps) {
    const std::string stateName = markerStateNames[state];
    steps.write(std::string("| ") + slot.name + " " + stateName);
    steps.refresh();
    const int32_t loaded = loadStateFrames(slot, state, steps);
    steps.write(tableBlanks(54 - static_cast<int>(stateName.size()) - tableWidth(slot.name) - loaded));
    steps.writeLine("DONE! |");
    steps.refresh();
}

void loadPreviewRow(Tmarker& slot, const TloaderSteps& steps) {
    steps.write(std::string("| ") + slot.name + " preview image" +
                tableBlanks(24 - tableWidth(slot.name)));
    const std::string path = firstExistingImage(slot.folder + slot.name + "_prev");
    if (path.empty()) {
        slot.preview = getFrame(slot, 1, 0.5);
        steps.writeLine("MISSING; LOAD DEFAULT! |");
        return;
    }
    steps.loadImage(path, slot.preview);
    steps.writeLine("                 DONE! |");
}

void writeHeader(const TloaderSteps& steps) {
    steps.writeLine(".--------------------------------------------------------------.");
    steps.writeLine("| Marker/State:                                                |");
    steps.writeLine("|--------------------------------------------------------------|");
}

void writeFooter(int32_t nameCount, const TloaderSteps& steps) {
    steps.write(std::string("| ") + std::to_string(nameCount) + " markers loaded" +
                tableBlanks(46 - countDigits(nameCount)));
    steps.writeLine("|");
    steps.writeLine("'--------------------------------------------------------------'");
}

}  // namespace

std::string markerSetNameOf(const std::string& fileName) {
    const size_t underscore = fileName.find('_');
    if (underscore != std::string::npos) return fileName.substr(0, underscore);
    return fileName.empty() ? std::string() : fileName.substr(0, fileName.size() - 1);
}

void loadMarkersWith(TmarkersControl& table, const std::string& folder, const TloaderSteps& steps) {
    steps.writeLine("Loading Markers:");
    steps.refresh();
    const std::vector<std::string> sets = distinctSetNames(listNamesInOrder(folder));
    const int32_t kept = std::min<int32_t>(static_cast<int32_t>(sets.size()), markerSetCapacity);
    table.nameCount = kept;
    steps.refresh();
    writeHeader(steps);
    for (int32_t i = 0; i < kept; ++i) addMarkerWith(table, folder, sets[i], steps);
    writeFooter(table.nameCount, steps);
    if (sets.size() > static_cast<size_t>(kept)) {
        steps.writeLine(std::string("Skipped ") + std::to_string(sets.size() - kept) +
                        " more marker sets: there is room for " + std::to_string(markerSetCapacity) + ".");
    }
}

void addMarkerWith(TmarkersControl& table, const std::string& folder, const std::string& name,
                   const TloaderSteps& steps) {
    if (table.loadedCount >= markerSetCapacity) return;
    Tmarker& slot = table.markers[++table.loadedCount];
    slot.name = name;
    slot.folder = folder;
    slot.loaded = false;
    loadMarkerSetWith(slot, steps);
}

void loadMarkerSetWith(Tmarker& slot, const TloaderSteps& steps) {
    for (int32_t state = 0; state < markerStateCount; ++state) loadStateRow(slot, state, steps);
    loadPreviewRow(slot, steps);
    const int hyphens = std::max(0, 42 - tableWidth(slot.name));
    steps.write(std::string("|").append(static_cast<size_t>(hyphens), '-'));
    steps.writeLine(std::string(" ") + slot.name + " LOADING COMPLETE! |");
    steps.refresh();
    slot.loaded = true;
}

void loadMarkers(TmarkersControl& table, const std::string& folder, const std::function<void()>& refresh) {
    loadMarkersWith(table, folder, gameLoaderSteps(refresh));
}

void addMarker(TmarkersControl& table, const std::string& folder, const std::string& name,
               const std::function<void()>& refresh) {
    addMarkerWith(table, folder, name, gameLoaderSteps(refresh));
}

void loadMarkerSet(Tmarker& slot, const std::function<void()>& refresh) {
    loadMarkerSetWith(slot, gameLoaderSteps(refresh));
}

uint32_t getFrame(const Tmarker& set, int32_t state, double progress) {
    const int32_t index = state - 1;
    if (index < 0 || index >= markerStateCount) return 0;
    const int32_t last = set.lastFrame[index];
    if (last < 0) return 0;
    const int32_t frame = std::clamp(roundHalfToEven(last * clampedProgress(progress)), 0, last);
    return set.frames[index][frame];
}

uint32_t getMarkerFrame(const TmarkersControl& table, int32_t setIndex, int32_t state, double progress) {
    if (setIndex < 0 || setIndex >= markerSetCapacity) return 0;
    return getFrame(table.markers[setIndex + 1], state, clampedProgress(progress));
}

uint32_t getPreview(const TmarkersControl& table, int32_t slot) {
    if (slot < 0 || slot > markerSetCapacity) return 0;
    return table.markers[slot].preview;
}
