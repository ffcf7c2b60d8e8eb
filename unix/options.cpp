#include "unix/options.h"

#include <cstring>

#include "app/constants.h"
#include "settings/port_text.h"

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

// One setting by its name, from either place; false with the reason in *why.
bool setValue(Options& options, const std::string& name, const std::string& value, std::string* why)
{
    if (name == "mode") {
        if (value == "slave") {
            options.mode = MODE_SLAVE;
            return true;
        }
        *why = value == "master" ? "this Linux version runs as a Slave only; a Linux Master is not supported yet"
                                 : "mode is slave (or, later, master), not \"" + value + "\"";
        return false;
    }
    if (name == "partner") {
        if (validPartner(value)) {
            options.partner = value;
            return true;
        }
        *why = "partner is a computer's name or address, not \"" + value + "\"";
        return false;
    }
    if (name == "port") {
        if (isUsablePortText(value.c_str())) {
            options.port = parsePortText(value.c_str());
            return true;
        }
        *why = "port is a number from 1 to 65534 (the clipboard uses the next one up), not \"" + value + "\"";
        return false;
    }
    if (name == "position") {
        if (const int32_t position = positionOf(value)) {
            options.position = position;
            return true;
        }
        *why = "position is left, right, above or below, not \"" + value + "\"";
        return false;
    }
    if (name == "key-file") {
        if (!value.empty()) {
            options.keyFile = value;
            return true;
        }
        *why = "key-file needs the path of a file that holds the link key";
        return false;
    }
    *why = "there is no setting \"" + name + "\" (mode, partner, port, position, key-file)";
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
            if (setValue(options, name, value, &why)) continue;
        }
        *error = path + ", line " + std::to_string(line) + ": " + why;
        return false;
    }
    return true;
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
                                arg == "--key-file" || arg == "--autostart" || arg == "--mode";
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
    if (options.mode != MODE_SLAVE) {
        *error = "no mode is set: give --slave, or mode = slave in " + where;
        return false;
    }
    if (options.partner.empty()) {
        *error = "no partner is set: give --partner HOST, or partner = HOST in " + where;
        return false;
    }
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
           "                [--key-file FILE] [--verbose]\n"
           "       skiprail --new-key | --autostart on|off | --help | --version\n"
           "\n"
           "Lets the keyboard and mouse of a Windows PC (the Master) run this PC, the Slave,\n"
           "in an X11 session: the pointer crosses over at the edge of the Master's screen.\n"
           "\n"
           "  --slave            run as the Slave of the Master named by --partner\n"
           "  --partner HOST     the Master's computer name or address; only it may link\n"
           "  --port N           the control port, as set on the Master (default 447);\n"
           "                     the clipboard uses N+1\n"
           "  --position WHERE   where this PC stands, seen from the Master\n"
           "  --key-file FILE    a file holding the link key typed on the Master\n"
           "                     (readable by its owner alone)\n"
           "  --verbose          say what happens: links, entries, clipboard sizes\n"
           "  --new-key          print a new link key, as the Master's dialog makes one\n"
           "  --autostart on     start with these settings when the desktop session starts\n"
           "  --autostart off    no longer start with the session\n"
           "\n"
           "The same settings may stand in ~/.config/skiprail/skiprail.conf (or under\n"
           "$XDG_CONFIG_HOME), one a line: mode = slave, partner = HOST, port = N,\n"
           "position = WHERE, key-file = FILE; # starts a comment. The command line wins.\n";
}
