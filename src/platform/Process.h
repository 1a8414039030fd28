// Process-wide settings every entry point makes first.
#pragma once

// Ignores SIGPIPE, so a peer that resets a connection never ends the process
// (writes report EPIPE instead), and keeps the "C" numeric locale so numbers
// are printed and parsed with a '.'.
void Platform_InitProcess();

// Raises the open-files soft limit to the hard limit. Returns the new soft
// limit, or -1 when it could not be read.
long Platform_RaiseOpenFileLimit();
