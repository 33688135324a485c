// The program's one mixer and output, behind Tsounds, Tstream and Tsfx.
#pragma once

class TaudioMixer;

// The mixer every stream and effect of the program plays on; created on first use.
TaudioMixer& programMixer();
// Starts the output (the device, or the silent clocked output) unless it runs already.
void startProgramOutput();
// True when the program's output is the silent clocked output (or none was started yet).
bool programOutputIsSilent();
