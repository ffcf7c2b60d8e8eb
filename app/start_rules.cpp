#include "app/start_rules.h"

#include <cstring>

const char START_COMMAND_USAGE[] =
    "Skiprail takes one of these:\n\n"
    "skiprail.exe /startup admin\tstarts Skiprail with administrator rights when you log on\n"
    "skiprail.exe /startup user\tstarts Skiprail when you log on, as you\n"
    "skiprail.exe /startup off\tdoes not start Skiprail with Windows\n"
    "skiprail.exe /close\tends the Skiprail that runs";

namespace {

constexpr int32_t WORD_SIZE = 32;
constexpr int32_t MOST_WORDS = 3;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameWord(const char* word, const char* expected)
{
    for (; *word && *expected; ++word, ++expected)
        if (lower(*word) != *expected) return false;
    return *word == *expected;
}

bool isSwitch(const char* word, const char* name)
{
    return (word[0] == '/' || word[0] == '-') && sameWord(word + 1, name);
}

// Splits the arguments into at most MOST_WORDS + 1 words (the one more tells
// that there were too many). A word is cut to fit, longer than any it could
// be taken for.
int32_t splitWords(const char* p, char (&words)[MOST_WORDS + 1][WORD_SIZE])
{
    int32_t count = 0;
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0' || count == MOST_WORDS + 1) return count;
        char* out = words[count++];
        int32_t length = 0;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '"') quoted = !quoted;
            else if (length < WORD_SIZE - 1) out[length++] = *p;
        }
        out[length] = '\0';
    }
}

// A window handle written in decimal, as the running copy writes its own.
bool readNumber(const char* text, uint64_t* out)
{
    uint64_t value = 0;
    if (*text == '\0') return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9' || value > (UINT64_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<uint64_t>(*text - '0');
    }
    *out = value;
    return value != 0;
}

}  // namespace

CommandLine parseCommandLine(const char* arguments)
{
    CommandLine result;
    if (!arguments) return result;
    char words[MOST_WORDS + 1][WORD_SIZE] = {};
    const int32_t count = splitWords(arguments, words);
    if (count == 0) return result;
    result.command = COMMAND_BAD;
    if (count == 2 && isSwitch(words[0], "startup")) {
        if (sameWord(words[1], "admin")) result.command = COMMAND_START_ADMIN;
        if (sameWord(words[1], "user")) result.command = COMMAND_START_USER;
        if (sameWord(words[1], "off")) result.command = COMMAND_START_OFF;
    }
    if (count == 1 && isSwitch(words[0], "close")) result.command = COMMAND_CLOSE;
    if (count == 1 && isSwitch(words[0], "reopen")) result.command = COMMAND_REOPEN;
    if (count == 2 && isSwitch(words[0], "takeover") && readNumber(words[1], &result.window))
        result.command = COMMAND_TAKE_OVER;
    return result;
}

bool shouldTellElevated(const ForegroundScene& scene, ProgramsTold& told)
{
    if (!scene.foregroundElevated || scene.selfElevated) return false;
    if (!scene.master && !scene.slaveDriven) return false;
    const char* program = scene.program && scene.program[0] ? scene.program : "?";
    char name[ProgramsTold::NAME_SIZE] = {};
    for (int32_t i = 0; i < ProgramsTold::NAME_SIZE - 1 && program[i]; ++i) name[i] = lower(program[i]);
    for (int32_t i = 0; i < told.count; ++i)
        if (std::strcmp(told.names[i], name) == 0) return false;
    // Past the last place, every program counts as told: better silent than
    // the same word again and again.
    if (told.count == ProgramsTold::CAPACITY) return false;
    std::memcpy(told.names[told.count++], name, sizeof name);
    return true;
}
