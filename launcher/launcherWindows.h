// The launcher's four windows and the program's two ways to start.
#pragma once

#include "launcher/commandLine.h"
#include "launcher/controlsFormCode.h"
#include "launcher/extraSettingsFormCode.h"
#include "launcher/mainFormCode.h"
#include "launcher/motdFormCode.h"

// The four windows, created in this order (the order of the members): launcher, message of
// the day, extra settings, key capture. The launcher learns of the others once all exist.
struct TlauncherWindows {
    TlauncherWindows();
    TloadingForm loadingForm;
    TmotdForm motdForm;
    TextraSettingsForm extraSettingsForm;
    TcontrolSetWindow controlSetWindow;
};

// Opens the launcher and runs the event loop until the program ends; returns the exit status.
int runLauncher(int& argc, char** argv);
// Starts a game run with the stored settings (first-run values when there are none); with
// autoplay the game presses every marker's key at its perfect time; with calibrate it opens
// the calibration of the offsets instead of the title; with a replay id it plays that kept play
// again, or says why it cannot and returns 1.
int startGameDirectly(const TcommandLine& line);
