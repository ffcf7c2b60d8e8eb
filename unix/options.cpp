#include "unix/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/constants.h"
#include "settings/port_text.h"
#include "unix/key_names.h"

namespace {

std::string trimmed(const std::string& text)
{
    const char* space = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A partner is a computer's name or address: one word of the characters
// names and addresses are made of.
bool validPartner(const std::string& host)
{
    if (host.empty() || host.size() > 255) return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_' || c == ':';
        if (!ok) return false;
    }
    return true;
}

int32_t positionOf(const std::string& word)
{
    if (word == "left") return POS_LEFT;
    if (word == "right") return POS_RIGHT;
    if (word == "above") return POS_ABOVE;
    if (word == "below") return POS_BELOW;
    return 0;
}

// The settings of each hotkey, in HotkeyAction order.
const char* const KEY_SETTINGS[HOTKEY_COUNT] = {"key-master", "key-slave1", "key-slave2",
                                                "key-slave3", "key-slave4", "key-lock"};

bool setPartner(std::string* partner, const std::string& name, const std::string& value, std::string* why)
{
    if (validPartner(value)) {
        *partner = value;
        return true;
    }
    *why = name + " is a computer's name or address, not \"" + value + "\"";
    return false;
}

bool setPort(int32_t* port, const std::string& name, const std::string& value, std::string* why)
{
    if (isUsablePortText(value.c_str())) {
        *port = parsePortText(value.c_str());
        return true;
    }
    *why = name + " is a number from 1 to 65534 (the clipboard uses the next one up), not \"" + value + "\"";
    return false;
}

bool setPosition(int32_t* position, const std::string& name, const std::string& value, std::string* why)
{
    if (const int32_t side = positionOf(value)) {
        *position = side;
        return true;
    }
    *why = name + " is left, right, above or below, not \"" + value + "\"";
    return false;
}

bool noSuchSetting(const std::string& name, std::string* why)
{
    *why = "there is no setting \"" + name + "\" (see skiprail --help)";
    return false;
}

// partner2 to next-to4: Slave 2 to 4's.
bool setMoreSlave(Options& options, const std::string& name, const std::string& value, std::string* why)
{
    const char last = name.empty() ? 0 : name.back();
    if (last < '2' || last > '4') return noSuchSetting(name, why);
    MoreSlave& slave = options.more[last - '2'];
    const std::string base = name.substr(0, name.size() - 1);
    if (base == "partner") return setPartner(&slave.partner, name, value, why);
    if (base == "port") return setPort(&slave.port, name, value, why);
    if (base == "position") return setPosition(&slave.position, name, value, why);
    if (base != "next-to") return noSuchSetting(name, why);
    if (value == "master" || (value.size() == 1 && value[0] >= '1' && value[0] <= '3')) {
        slave.nextTo = value == "master" ? 0 : value[0] - '0';
        return true;
    }
    *why = name + " is master, 1, 2 or 3: the PC Slave " + last + " stands next to, not \"" + value + "\"";
    return false;
}

bool setSwitch(int32_t* setting, int32_t onValue, const std::string& name, const std::string& value,
               std::string* why)
{
    if (value == "on" || value == "off") {
        *setting = value == "on" ? onValue : 0;
        return true;
    }
    *why = name + " is on or off, not \"" + value + "\"";
    return false;
}

// One setting by its name, from either place; false with the reason in *why.
bool setValue(Options& options, const std::string& name, const std::string& value, std::string* why)
{
    if (name == "mode") {
        if (value == "slave" || value == "master") {
            options.mode = value == "slave" ? MODE_SLAVE : MODE_MASTER;
            return true;
        }
        *why = "mode is slave or master, not \"" + value + "\"";
        return false;
    }
    if (name == "partner") return setPartner(&options.partner, name, value, why);
    if (name == "port") return setPort(&options.port, name, value, why);
    if (name == "position") return setPosition(&options.position, name, value, why);
    if (name == "key-file") {
        if (!value.empty()) {
            options.keyFile = value;
            return true;
        }
        *why = "key-file needs the path of a file that holds the link key";
        return false;
    }
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) {
        if (name != KEY_SETTINGS[i]) continue;
        if (const char* wrong = parseCombination(value, &options.hotkeys[i])) {
            *why = name + " cannot be \"" + value + "\": " + wrong;
            return false;
        }
        return true;
    }
    if (name == "switch-delay") return setSwitch(&options.guards.delayMs, DEFAULT_SWITCH_DELAY_MS, name, value, why);
    if (name == "double-tap") return setSwitch(&options.guards.doubleTap, 1, name, value, why);
    if (name == "dead-corners") return setSwitch(&options.guards.corner, DEFAULT_DEAD_CORNER, name, value, why);
    if (name == "file-limit") {
        char* end = nullptr;
        const unsigned long long mb = std::strtoull(value.c_str(), &end, 10);
        if (!value.empty() && value.size() <= 10 && value[0] >= '0' && value[0] <= '9' && *end == '\0' &&
            mb <= UINT32_MAX) {
            options.fileLimitMB = static_cast<uint32_t>(mb);
            return true;
        }
        *why = "file-limit is the most that copied files may add up to, in MB (0: none), not \"" + value + "\"";
        return false;
    }
    return setMoreSlave(options, name, value, why);
}

// Two hotkeys on one combination: the later line is refused.
bool hotkeysDiffer(const Options& options, const std::string& path, std::string* error)
{
    for (int32_t j = 1; j < HOTKEY_COUNT; ++j) {
        for (int32_t i = 0; i < j; ++i) {
            if (!options.hotkeys[i] || options.hotkeys[i] != options.hotkeys[j]) continue;
            const auto lineI = options.lines.find(KEY_SETTINGS[i]), lineJ = options.lines.find(KEY_SETTINGS[j]);
            const bool iLater = lineJ == options.lines.end() ||
                                (lineI != options.lines.end() && lineI->second > lineJ->second);
            *error = path + ", line " + std::to_string((iLater ? lineI : lineJ)->second) + ": " +
                     KEY_SETTINGS[iLater ? i : j] + " is already the key of " + KEY_SETTINGS[iLater ? j : i] +
                     ": give each its own, or none";
            return false;
        }
    }
    return true;
}

// The line of the configuration file named in an error about a setting there.
std::string at(const Options& options, const std::string& where, const std::vector<std::string>& names)
{
    int line = 0;
    for (const std::string& name : names) {
        const auto found = options.lines.find(name);
        if (found != options.lines.end() && found->second > line) line = found->second;
    }
    return line ? where + ", line " + std::to_string(line) + ": " : where + ": ";
}

// A Master's desk by the rules the Windows settings keep, each fault named at
// the line of the Slave's setting that makes it.
bool deskStands(const Options& options, const std::string& where, std::string* error)
{
    DeskCopy desk = {};
    std::snprintf(desk.host1, sizeof desk.host1, "%s", options.partner.c_str());
    std::snprintf(desk.port1, sizeof desk.port1, "%d", static_cast<int>(options.port));
    desk.position1 = options.position ? options.position : POS_RIGHT;
    for (int32_t i = 0; i < MORE_SLAVES; ++i) {
        const MoreSlave& slave = options.more[i];
        const std::string n = std::to_string(i + 2);
        clearSlave(&desk.more[i]);
        if (slave.partner.empty()) {
            for (const char* base : {"port", "position", "next-to"}) {
                if (!options.lines.count(base + n)) continue;
                *error = at(options, where, {base + n}) + base + n + " is set, but Slave " + n +
                         " has no partner" + n + ": name its computer, or remove its settings";
                return false;
            }
            continue;
        }
        std::snprintf(desk.more[i].host, sizeof desk.more[i].host, "%s", slave.partner.c_str());
        std::snprintf(desk.more[i].port, sizeof desk.more[i].port, "%d", static_cast<int>(slave.port));
        desk.more[i].position = slave.position;
        desk.more[i].nextTo = slave.nextTo;
    }
    const DeskProblem problem = checkDesk(desk);
    const std::string n = std::to_string(problem.slave), other = std::to_string(problem.other);
    const std::string slave = "Slave " + n;
    switch (problem.rule) {
    case DeskRule::Fine: return true;
    case DeskRule::NoPlace:
        *error = at(options, where, {"partner" + n}) + slave + " has no position" + n +
                 ": left, right, above or below the PC it stands next to";
        break;
    case DeskRule::SamePartner:
        *error = at(options, where, {"partner" + n, "port" + n}) + slave + " has the same computer and port as " +
                 "Slave " + other + ": give each Slave its own computer or port";
        break;
    case DeskRule::PortsNextTo:
        *error = at(options, where, {"partner" + n, "port" + n}) + "Slave " + other + " and " + slave +
                 " use ports " + std::to_string(problem.otherPort) + " and " + std::to_string(problem.port) +
                 ": each Slave also takes the next port up, for the clipboard, so the ports of two Slaves must "
                 "not lie next to each other";
        break;
    case DeskRule::SameCell:
        *error = at(options, where, {"position" + n, "next-to" + n}) + slave +
                 " stands in the same cell as another PC: two PCs cannot stand in one cell";
        break;
    default:  // NotJoined; the rest the settings' own checks rule out
        *error = at(options, where, {"position" + n, "next-to" + n}) + slave +
                 " stands next to no PC that leads to the Master: next-to" + n +
                 " names the Master or a Slave that is there";
        break;
    }
    return false;
}

bool fail(std::string* error, const std::string& why)
{
    *error = why;
    return false;
}

}  // namespace

bool readConfigText(const std::string& text, const std::string& path, Options& options, std::string* error)
{
    int line = 0;
    for (size_t begin = 0; begin <= text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string content = text.substr(begin, end - begin);
        begin = end + 1;
        ++line;
        // A comment runs from a '#' at the start or after white space.
        for (size_t hash = content.find('#'); hash != std::string::npos; hash = content.find('#', hash + 1)) {
            if (hash == 0 || content[hash - 1] == ' ' || content[hash - 1] == '\t') {
                content.erase(hash);
                break;
            }
        }
        content = trimmed(content);
        if (content.empty()) continue;
        const size_t equals = content.find('=');
        std::string why = "a setting is written name = value";
        if (equals != std::string::npos) {
            const std::string name = trimmed(content.substr(0, equals));
            std::string value = trimmed(content.substr(equals + 1));
            // A key file named relative to the configuration file lies beside it.
            if (name == "key-file" && !value.empty() && value[0] != '/' && value[0] != '~') {
                const size_t slash = path.rfind('/');
                if (slash != std::string::npos) value = path.substr(0, slash + 1) + value;
            }
            if (setValue(options, name, value, &why)) {
                options.lines[name] = line;
                continue;
            }
        }
        *error = path + ", line " + std::to_string(line) + ": " + why;
        return false;
    }
    return hotkeysDiffer(options, path, error);
}

bool readCommandLine(int argc, const char* const* argv, Options& options, std::string* error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.erase(equals);
            hasValue = true;
        }
        const bool takesValue = arg == "--partner" || arg == "--port" || arg == "--position" ||
                                arg == "--key-file" || arg == "--autostart" || arg == "--mode" ||
                                arg == "--file-limit";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            *error = arg + " takes no value";
            return false;
        }
        std::string why;
        if (arg == "--help" || arg == "-h") {
            options.action = Action::Help;
        } else if (arg == "--version") {
            options.action = Action::Version;
        } else if (arg == "--new-key") {
            options.action = Action::NewKey;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
            options.given.push_back(arg);
        } else if (arg == "--autostart") {
            if (value != "on" && value != "off") {
                *error = "--autostart is on or off, not \"" + value + "\"";
                return false;
            }
            options.action = Action::Autostart;
            options.autostartOn = value == "on";
        } else if (arg == "--slave" || arg == "--master") {
            if (!setValue(options, "mode", arg.substr(2), &why)) {
                *error = why;
                return false;
            }
            options.given.push_back(arg);
        } else if (takesValue) {
            if (!setValue(options, arg.substr(2), value, &why)) {
                *error = why;
                return false;
            }
            options.given.push_back(arg);
            options.given.push_back(value);
        } else {
            *error = "unknown option \"" + arg + "\" (see skiprail --help)";
            return false;
        }
    }
    return true;
}

bool checkRunnable(const Options& options, const std::string& configPath, std::string* error)
{
    const std::string where = configPath.empty() ? "the configuration file" : configPath;
    if (options.mode != MODE_SLAVE && options.mode != MODE_MASTER)
        return fail(error, "no mode is set: give --slave or --master, or mode = slave or master in " + where);
    if (options.partner.empty())
        return fail(error, std::string(options.mode == MODE_MASTER ? "no Slave is named" : "no partner is set") +
                               ": give --partner HOST, or partner = HOST in " + where);
    if (options.mode == MODE_MASTER && !deskStands(options, where, error)) return false;
    return true;
}

std::string configHome(const char* xdgConfigHome, const char* home)
{
    if (xdgConfigHome && xdgConfigHome[0] == '/') return xdgConfigHome;
    if (home && home[0]) return std::string(home) + "/.config";
    return "";
}

const char* usageText()
{
    return "Usage: skiprail --slave --partner HOST [--port N] [--position left|right|above|below]\n"
           "                [--key-file FILE] [--file-limit MB] [--verbose]\n"
           "       skiprail --master --partner HOST [--port N] [--position WHERE]\n"
           "                [--key-file FILE] [--file-limit MB] [--verbose]\n"
           "       skiprail --new-key | --autostart on|off | --help | --version\n"
           "\n"
           "Lets the keyboard and mouse of one PC (the Master) run up to four others (its\n"
           "Slaves): the pointer crosses over at the edge of the Master's screen. This PC\n"
           "leads or follows in an X11 session.\n"
           "\n"
           "  --slave            run as the Slave of the Master named by --partner\n"
           "  --master           run as the Master of the Slave named by --partner (Slave 1)\n"
           "  --partner HOST     the other PC's computer name or address; only it may link\n"
           "  --port N           the control port, the same on both PCs (default 447);\n"
           "                     the clipboard uses N+1\n"
           "  --position WHERE   the Slave's side of the Master (default right)\n"
           "  --key-file FILE    a file holding the link key typed on the Master\n"
           "                     (readable by its owner alone)\n"
           "  --file-limit MB    the most that copied files may add up to, each way\n"
           "                     (default 2048; 0 lets none across)\n"
           "  --verbose          say what happens: links, entries, clipboard sizes\n"
           "  --new-key          print a new link key, as the Master's dialog makes one\n"
           "  --autostart on     start with these settings when the desktop session starts\n"
           "  --autostart off    no longer start with the session\n"
           "\n"
           "The same settings may stand in ~/.config/skiprail/skiprail.conf (or under\n"
           "$XDG_CONFIG_HOME), one a line: mode = slave or master, partner = HOST,\n"
           "port = N, position = WHERE, key-file = FILE, file-limit = MB; # starts a\n"
           "comment. The command line wins. A Master's file may also hold:\n"
           "  partner2, port2, position2, next-to2   Slave 2, next to master (the default),\n"
           "                     1, 2 or 3; the same for Slaves 3 and 4\n"
           "  key-master, key-slave1 ... key-slave4, key-lock\n"
           "                     the keys that move control: ctrl, alt, shift, super and an\n"
           "                     X key name, such as ctrl+alt+shift+F1, or none. Default:\n"
           "                     ctrl+alt+shift+F1 to the Master, F2 to F5 to Slaves 1 to\n"
           "                     4, Scroll_Lock to lock (ctrl+alt+F1 to F12 switch to\n"
           "                     consoles under X)\n"
           "  switch-delay, double-tap, dead-corners = on or off (default off): cross only\n"
           "                     after 250 ms against the edge, on a second push within\n"
           "                     500 ms, or not within 40 pixels of a corner\n"
           "\n"
           "Files and folders that come from the partner are put under\n"
           "$XDG_RUNTIME_DIR/skiprail/received (else ~/.cache/skiprail/received) and\n"
           "removed at the next start or a day later.\n";
}
