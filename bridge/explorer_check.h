// Taking on the interactive user's identity while the service starts.
#pragma once

#include "platform/types.h"

// Set once a process with an "explorer" module was met.
extern int gExplorerFound;

// Looks through the system's processes, in the order listed, until one has
// a module whose base name is "explorer" (any case), and impersonates that
// process's user on the calling thread.
void AdoptInteractiveUser();
// The check for one process.
void CheckForExplorer(DWORD processId);
