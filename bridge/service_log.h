// The bridge service's debug log and its process-wide stop event.
#pragma once
#include "platform/types.h"

// Set once when the service is asked to stop (manual reset, never reset);
// every wait of the workers and of the relay watches it. Null until the
// service creates it: a wait on null fails and so never counts as a stop.
extern HANDLE gServiceStopEvent;

// True when the stop event is set, tested without waiting.
bool ServiceStopRequested();

// printf-style debug line, formatted into a 1024-byte buffer (longer text is
// cut). Line ends are only those in the format.
void ServiceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
