// Helpers the test programs share: temporary folders, real X key events, recorded messages.
#pragma once

#include <string>
#include <vector>

#include "platform/window/messageBox.h"

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TtemporaryFolder {
public:
    TtemporaryFolder();
    ~TtemporaryFolder();
    TtemporaryFolder(const TtemporaryFolder&) = delete;
    TtemporaryFolder& operator=(const TtemporaryFolder&) = delete;

    const std::string& path() const { return folderPath; }
    std::string file(const std::string& name) const { return folderPath + "/" + name; }

private:
    std::string folderPath;
};

// Makes the folder the working directory for the object's lifetime.
class TworkingDirectory {
public:
    explicit TworkingDirectory(const std::string& folder);
    ~TworkingDirectory();

private:
    std::string previous;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// Presses or releases a key on the X server as a keyboard would (XTest); keysymName is an
// X keysym name such as "Escape", "a" or "KP_5".
void sendXKey(const std::string& keysymName, bool down);
// Turns the X server's Num Lock on or off.
void setXNumLock(bool on);

// Records every message box instead of showing it, while the object lives.
struct TrecordedMessage {
    std::string text;
    std::string caption;
    TmessageKind kind;
};

class TmessageRecorder {
public:
    TmessageRecorder();
    ~TmessageRecorder();
    const std::vector<TrecordedMessage>& messages() const;
    void clear();
};

// The path of a program built by the project (e.g. "launcher/TrellikGL38").
std::string builtProgram(const std::string& relativePath);
