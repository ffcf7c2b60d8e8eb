#include "unix/log.h"

#include <cstdio>
#include <ctime>

#include "app/front_end.h"

namespace {

bool verboseOn = false;

void writeLine(const char* format, va_list args)
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local = {};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One write per line, so lines of a program run beside it never interleave.
    char line[1024];
    int n = snprintf(line, sizeof line, "%s.%03ld skiprail: ", stamp, now.tv_nsec / 1000000);
    if (n < 0) return;
    const int body = vsnprintf(line + n, sizeof line - static_cast<size_t>(n) - 1, format, args);
    if (body > 0) n += body;
    if (n > static_cast<int>(sizeof line) - 2) n = static_cast<int>(sizeof line) - 2;
    line[n++] = '\n';
    fwrite(line, 1, static_cast<size_t>(n), stderr);
    fflush(stderr);
}

void statusValue(int32_t line, int32_t value)
{
    logVerbose("status %d: %d", line, value);
}

void statusText(int32_t line, const char* text)
{
    logVerbose("status %d: %s", line, text);
}

void deskChanged() {}

}  // namespace

void setVerbose(bool on)
{
    verboseOn = on;
}

bool verbose()
{
    return verboseOn;
}

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(format, args);
    va_end(args);
}

void logVerbose(const char* format, ...)
{
    if (!verboseOn) return;
    va_list args;
    va_start(args, format);
    writeLine(format, args);
    va_end(args);
}

void installLogFrontEnd()
{
    frontEnd.statusValue = statusValue;
    frontEnd.statusText = statusText;
    // The link's own lines say when it comes up or goes, and who has control.
    frontEnd.deskChanged = deskChanged;
}
