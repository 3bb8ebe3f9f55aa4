#pragma once

#include "ui/SingleInstance.h"

class QIcon;

// The program: refuses a second instance, creates the main window and runs the message loop.
// Returns the process exit code.
int KVEL_32(int argc, char** argv);

// A later start found a running instance: tells the user what was done with it.
void ShowOtherInstanceMessage(kvel::SingleInstance::Outcome outcome);

// The program's version, as the build names it ("0.1").
const char* KvelVersion();

// Platform settings the program's drawing is made for; to be made before the application
// object exists. A choice in the environment stays.
void SetPlatformDefaults();

// The program's icon (window icon and About box).
QIcon ProgramIcon();
