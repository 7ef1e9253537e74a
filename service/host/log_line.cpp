#include "log_line.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace varnox {

namespace {

std::mutex observerMutex;
std::function<void(std::string_view)> lineObserver;

}  // namespace

int LogLine(const char* format, ...) {
    const DWORD lastError = GetLastError();
    // The buffer is 512 bytes and the formatter is bounded by it: a longer text is cut,
    // never written past the end (wvsprintfA would write up to 1024 characters).
    char text[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    const std::size_t formatLength = std::strlen(format);
    const std::size_t length = std::strlen(text);
    if (length < formatLength && lastError != 0) return static_cast<int>(formatLength);

    {
        std::lock_guard<std::mutex> guard(observerMutex);
        if (lineObserver) lineObserver(std::string_view(text, length));
    }

    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return static_cast<int>(formatLength);
    DWORD written = 0;
    if (!WriteConsoleA(out, text, static_cast<DWORD>(length), &written, nullptr)) {
        // Redirected output is no console; the line still belongs there.
        if (!WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr)) return static_cast<int>(formatLength);
    }
    SetLastError(lastError);
    return static_cast<int>(written);
}

void SetLogLineObserver(std::function<void(std::string_view)> observer) {
    std::lock_guard<std::mutex> guard(observerMutex);
    lineObserver = std::move(observer);
}

}  // namespace varnox
