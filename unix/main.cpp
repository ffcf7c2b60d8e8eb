// The Linux program's entry: the settings from the configuration file and
// the command line, then the Slave's link over the desktop (X or Wayland) in one
// event loop, until a signal ends it (every key and button released first) or
// the desktop goes away.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resources/version.h"
#include "unix/log.h"
#include "unix/clip_files.h"
#include "unix/loop.h"
#include "unix/master.h"
#include "unix/options.h"
#include "unix/setup.h"
#include "unix/slave.h"
#include "unix/desk.h"

namespace {

constexpr int EXIT_CANNOT_RUN = 1;  // no desktop to drive, or it went away
constexpr int EXIT_BAD_SETTING = 2;

int badSetting(const std::string& error)
{
    fprintf(stderr, "skiprail: %s\n", error.c_str());
    return EXIT_BAD_SETTING;
}

// The configuration file's text; empty when there is none.
bool readFile(const std::string& path, std::string* text, std::string* error)
{
    FILE* file = fopen(path.c_str(), "r");
    if (!file) {
        if (errno == ENOENT) return true;
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    char block[4096];
    for (size_t n; (n = fread(block, 1, sizeof block, file)) > 0;) text->append(block, n);
    fclose(file);
    return true;
}

// The display or the compositor went away: the partners are let go at once
// (they see the connections close), and the program ends rather than replay
// into nothing (a session that starts again starts the program again).
bool leading = false;  // this PC is the Master

void onDisplayLost()
{
    if (leading) endMaster();
    else endLink();
    logLine("the desktop session went away: Skiprail ends");
    std::_Exit(EXIT_CANNOT_RUN);
}

void checkDesktop()
{
    if (!desk().desktopChanged()) return;
    if (leading) masterDesktopMoved();
    else announceDesktop();
}

void onDisplay(int, short, void*)
{
    desk().pump();
    checkDesktop();
}

// Events already read from the X connection are handled before each wait.
int32_t beforeWait()
{
    desk().pump();
    checkDesktop();
    const int32_t x = desk().waitMs();
    const int32_t link = leading ? masterWaitMs() : linkWaitMs();
    return x < 0 ? link : link < 0 ? x : x < link ? x : link;
}

void onSignal(int fd, short, void*)
{
    signalfd_siginfo info = {};
    if (read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
    logLine("ending on %s; every key and button released", strsignal(static_cast<int>(info.ssi_signo)));
    loopEnd(0);
}

int signalsAsEvents()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
    if (sigprocmask(SIG_BLOCK, &ending, nullptr) != 0) return -1;
    ::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &ending, SFD_NONBLOCK | SFD_CLOEXEC);
}

int run(const Options& options)
{
    uint8_t stretched[LINK_KEY_STRETCHED];
    std::string error;
    if (!options.keyFile.empty() && !loadKeyFile(options.keyFile, stretched, &error)) return badSetting(error);
    setVerbose(options.verbose);
    installLogFrontEnd();
    const int signals = signalsAsEvents();
    if (signals < 0) {
        fprintf(stderr, "skiprail: cannot take the ending signals: %s\n", strerror(errno));
        return EXIT_CANNOT_RUN;
    }
    leading = options.mode == MODE_MASTER;
    // A Master holds the keyboard and the pointer through X: in a Wayland
    // session that would hold X programs' alone.
    if (leading && sessionKind(getenv("WAYLAND_DISPLAY"), getenv("DISPLAY"), getenv("XDG_SESSION_TYPE")) !=
                       SessionKind::X11) {
        fprintf(stderr, "skiprail: a Master needs an X11 session (Xorg) to hold the keyboard and the pointer: log in "
                        "to the desktop's X11 session, or run this PC as a Slave\n");
        return EXIT_CANNOT_RUN;
    }
    if (!deskOpen(onDisplayLost)) return EXIT_CANNOT_RUN;
    desk().desktopChanged();  // the desktop as it is now is the one first announced
    const char* key = options.keyFile.empty() ? "" : ", with a link key";
    if (leading)
        logLine("Skiprail %s runs as the Master of %s, port %d%s", SKIPRAIL_VERSION_TEXT, options.partner.c_str(),
                options.port, key);
    else
        logLine("Skiprail %s runs as the Slave of %s, port %d%s", SKIPRAIL_VERSION_TEXT, options.partner.c_str(),
                options.port, key);
    // Files a partner sent earlier go now, as on Windows at start.
    removeReceivedFiles(true);
    slave.clip.fileLimit = static_cast<uint64_t>(options.fileLimitMB) << 20;
    watchFd(signals, POLLIN, onSignal, nullptr);
    watchFd(desk().fd(), POLLIN, onDisplay, nullptr);
    setBeforeWait(beforeWait);
    const uint8_t* linkKey = options.keyFile.empty() ? nullptr : stretched;
    if (leading) startMaster(options, linkKey);
    else startLink(options.partner, options.port, linkKey);
    const int code = runLoop();
    if (leading) {
        endMaster();  // this PC's keyboard and pointer back, the Slave told to let go
        deskClose();
    } else {
        deskClose();  // every key and button up, then the desktop let go
        endLink();
    }
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    // The command line alone first: --help and --version work whatever the file holds.
    Options options;
    std::string error;
    if (!readCommandLine(argc, argv, options, &error)) return badSetting(error);
    switch (options.action) {
    case Action::Help: fputs(usageText(), stdout); return 0;
    case Action::Version: printf("skiprail %s\n", SKIPRAIL_VERSION_TEXT); return 0;
    case Action::NewKey: {
        const std::string key = newLinkKey();
        if (key.empty()) return badSetting("no random bytes could be had for a key");
        printf("%s\n", key.c_str());
        return 0;
    }
    default: break;
    }
    const std::string home = configHome(getenv("XDG_CONFIG_HOME"), getenv("HOME"));
    const std::string configPath = home.empty() ? "" : home + "/skiprail/skiprail.conf";
    Options settings;
    std::string text;
    if (!configPath.empty() && (!readFile(configPath, &text, &error) || !readConfigText(text, configPath, settings, &error)))
        return badSetting(error);
    if (!readCommandLine(argc, argv, settings, &error)) return badSetting(error);
    if (settings.action == Action::Autostart && !settings.autostartOn) {
        std::string done;
        if (!removeAutostart(home, &done, &error)) return badSetting(error);
        printf("%s\n", done.c_str());
        return 0;
    }
    if (!checkRunnable(settings, configPath, &error)) return badSetting(error);
    if (settings.action == Action::Autostart) {
        // Only an entry that would start fully set up is written.
        uint8_t stretched[LINK_KEY_STRETCHED];
        if (!settings.keyFile.empty() && !loadKeyFile(settings.keyFile, stretched, &error)) return badSetting(error);
        // A key file named relative to here is named wholly: the session starts elsewhere.
        std::vector<std::string> arguments = settings.given;
        for (size_t i = 0; i + 1 < arguments.size(); ++i) {
            if (arguments[i] != "--key-file" || arguments[i + 1][0] == '/' || arguments[i + 1][0] == '~') continue;
            if (char* whole = realpath(arguments[i + 1].c_str(), nullptr)) {
                arguments[i + 1] = whole;
                free(whole);
            }
        }
        std::string done;
        if (home.empty() || !writeAutostart(home, arguments, &done, &error))
            return badSetting(home.empty() ? "no home folder to write the autostart entry in" : error);
        printf("%s\n", done.c_str());
        return 0;
    }
    return run(settings);
}
