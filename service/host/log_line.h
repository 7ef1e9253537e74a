#pragma once
// The service's diagnostic line: printf-style, to the console when there is one. A
// service has no console, so tests watch the lines through an observer instead.

#include <functional>
#include <string_view>

namespace varnox {

// Returns the number of characters written; when nothing was written, the length of the
// format string. No newline is added: every message carries its own.
int LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sees every formatted line, console or not; pass an empty function to stop.
void SetLogLineObserver(std::function<void(std::string_view)> observer);

}  // namespace varnox
