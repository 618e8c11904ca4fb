// error_log.h: WriteErrorLog, one appended line per failure in the text log beside the module.
#ifndef PEERBEACON_CORE_ERROR_LOG_H_
#define PEERBEACON_CORE_ERROR_LOG_H_

#include "platform/platform.h"

namespace pb {

// Appends "[MM/DD hh:mm:ss] - message : reporter\r\n" to the module's path with the extension
// "err". Lines from several threads never mix; every failure of the logger is silent.
void WriteErrorLog(const char* message, const char* reporter);

// Formats a message carrying one Winsock error number ("Err[bind]:%d") in a buffer of the
// caller's own stack frame, then logs it.
void WriteErrorLogCode(const char* format, int error, const char* reporter);

// The log's full path, empty when the module path cannot be had.
std::string ErrorLogPath();

// Tests pin the clock; null restores the platform's local time.
void SetErrorLogClock(platform::LocalTime (*clock)());

}  // namespace pb

#endif  // PEERBEACON_CORE_ERROR_LOG_H_
