// Fuzz target: the settings file reader on arbitrary bytes, every launcher value read back, and --rate.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/store/settingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TsettingsStore store("unused");
    store.openFromBytes(std::string(reinterpret_cast<const char*>(data), size));
    TstoredSettings settings;
    readStoredSettings(store, settings);
    // Writing on top of whatever was read must give a document that reads back completely.
    writeStoredSettings(store, settings);
    TstoredSettings again;
    if (!readStoredSettings(store, again) || again.hres != settings.hres || again.keys[15] != settings.keys[15] ||
        again.practice.rateHundredths != settings.practice.rateHundredths)
        __builtin_trap();
    // The same bytes as a --rate value: whatever is taken is a rate a player could choose.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> rate = rateFromText(text);
    if (rate && !isChoosableRate(*rate)) __builtin_trap();
    // A refusal says why exactly when no rate is taken.
    if (rateRefusal(text).empty() != rate.has_value()) __builtin_trap();
    return 0;
}
