// Temporary folders, file helpers, XTest key events and the message recorder.
#include "tests/support/testSupport.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace {

std::mutex recordedMutex;
std::vector<TrecordedMessage> recorded;

TmessageResult recordMessage(const std::string& text, const std::string& caption, TmessageKind kind) {
    std::lock_guard<std::mutex> lock(recordedMutex);
    recorded.push_back({text, caption, kind});
    return kind == TmessageKind::questionYesNo ? TmessageResult::yes : TmessageResult::ok;
}

Display* testDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    if (!display) throw std::runtime_error("no X display for test key events");
    return display;
}

}  // namespace

TtemporaryFolder::TtemporaryFolder() {
    char pattern[] = "/tmp/trellik-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) throw std::runtime_error("cannot make a temporary folder");
    folderPath = made;
}

TtemporaryFolder::~TtemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folderPath, ignored);
}

TworkingDirectory::TworkingDirectory(const std::string& folder) : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

TworkingDirectory::~TworkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void sendXKey(const std::string& keysymName, bool down) {
    Display* display = testDisplay();
    const KeySym keysym = XStringToKeysym(keysymName.c_str());
    const KeyCode keycode = XKeysymToKeycode(display, keysym);
    if (keycode == 0) throw std::runtime_error("no key for " + keysymName);
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    XFlush(display);
}

void setXNumLock(bool on) {
    Display* display = testDisplay();
    const unsigned int mask = XkbKeysymToModifiers(display, XK_Num_Lock);
    XkbLockModifiers(display, XkbUseCoreKbd, mask, on ? mask : 0);
    XFlush(display);
}

TmessageRecorder::TmessageRecorder() {
    clear();
    setMessageBoxBackend(recordMessage);
}

TmessageRecorder::~TmessageRecorder() {
    setMessageBoxBackend(nullptr);
}

const std::vector<TrecordedMessage>& TmessageRecorder::messages() const {
    return recorded;
}

void TmessageRecorder::clear() {
    std::lock_guard<std::mutex> lock(recordedMutex);
    recorded.clear();
}

std::string builtProgram(const std::string& relativePath) {
    return std::string(TRELLIK_BINARY_DIR) + "/" + relativePath;
}
