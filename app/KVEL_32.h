#pragma once

#include "ui/SingleInstance.h"

// The program: refuses a second instance, creates the main window and runs the message loop.
// Returns the process exit code.
int KVEL_32(int argc, char** argv);

// A later start found a running instance: tells the user what was done with it.
void ShowOtherInstanceMessage(kvel::SingleInstance::Outcome outcome);
