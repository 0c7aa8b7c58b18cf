#pragma once
// The report of a message that the system queue refused.
//
// JUCE's own posting is used on this platform: its Linux queue (a socket pair
// drained by the message loop) reports no refusal, so nothing here is called
// by the framework. The text and the line are those of the Windows build.

#include <string>

namespace Quendal {
namespace Updater {

// Writes the description of the calling thread's last system error into
// `buffer` and returns it: at most capacity - 16 characters of the system's
// text, then " (0x" + the code in lower-case hex + ")". A capacity below 16
// gives the empty text (capacity 0: the buffer is not touched); an error the
// system does not describe gives the empty text.
char* formatLastSystemError(char* buffer, unsigned int capacity);

// "[ERROR] PostMessage Windows Failed : " + the last system error as
// formatLastSystemError gives it for 256 characters + a line end.
std::string PostFailureLine();

// PostFailureLine on standard output, flushed.
void ReportPostFailure();

} // namespace Updater
} // namespace Quendal
