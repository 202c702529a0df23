// The bridge service's debug log and its process-wide stop event.
#pragma once
#include "platform/types.h"

// Set once when the service is asked to stop (manual reset, never reset);
// every wait of the workers and of the relay watches it. The service creates
// it before any worker starts and closes it after they all ended.
extern HANDLE gServiceStopEvent;

// True when the stop event is set, tested without waiting.
bool ServiceStopRequested();

// printf-style debug line, formatted into a 1024-byte buffer (longer text is
// cut). Nothing is formatted unless QLPR_SERVICE_LOG names "stderr" or a
// file.
void ServiceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
