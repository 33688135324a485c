// Fuzz target: the settings file reader on arbitrary bytes, then every launcher value read back.
#include <cstddef>
#include <cstdint>
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
    if (!readStoredSettings(store, again) || again.hres != settings.hres || again.keys[15] != settings.keys[15])
        __builtin_trap();
    return 0;
}
