#include "windows/link/link.h"

#include <cstring>

#include "windows/input/edge.h"

Link links[MAX_SLAVES];

namespace {

// Sets a link's partner; true when it changed.
bool setPartner(Link& link, int32_t present, const char* host, int32_t port)
{
    const bool changed = link.present != present ||
                         (present && (std::strcmp(link.host, host) != 0 || link.port != port));
    link.present = present;
    std::memset(link.host, 0, sizeof link.host);
    if (present) lstrcpynA(link.host, host, sizeof link.host);
    link.port = present ? port : 0;
    return changed;
}

}  // namespace

void followDesk()
{
    // Where each Slave stands. One that cannot stand where its settings say
    // (the dialog refuses such a desk; the registry may still hold one) is
    // left out, and the others stand as they are.
    SlavePlace places[MAX_SLAVES] = {};
    const bool master = app.mode == MODE_MASTER;
    places[0] = {1, app.screenPosition, 0};
    for (int32_t i = 1; i < MAX_SLAVES; ++i) {
        const AppState::MoreSlave& more = app.moreSlaves[i - 1];
        places[i] = {master && more.present ? 1 : 0, more.position, more.nextTo};
    }
    for (int32_t tries = 0; tries < MAX_SLAVES; ++tries) {
        int32_t culprit = -1;
        if (buildDesk(places, &app.desk, &culprit) == DeskFault::None || culprit < 0) break;
        places[culprit].present = 0;
    }
}

int32_t linksFromSettings()
{
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        links[i].index = i;
        app.lines[i] = &links[i];
    }
    app.host = windowsMaster();
    followDesk();
    const bool master = app.mode == MODE_MASTER;

    // Slave 1, or this Slave's Master, links wherever it stands: without a
    // place on the desk it only never gets control.
    int32_t changed = 0;
    if (setPartner(links[0], 1, app.partnerHost, app.port)) changed |= 1;
    for (int32_t i = 1; i < MAX_SLAVES; ++i) {
        const AppState::MoreSlave& more = app.moreSlaves[i - 1];
        const bool present = master && more.present && app.desk.present[i];
        if (setPartner(links[i], present ? 1 : 0, more.host, more.port)) changed |= 1 << i;
    }
    return changed;
}

const char* linkName(const Link& link)
{
    static const char* const NAMES[MAX_SLAVES] = {"Slave 1", "Slave 2", "Slave 3", "Slave 4"};
    if (app.mode != MODE_MASTER) return "the Master";
    return NAMES[link.index >= 0 && link.index < MAX_SLAVES ? link.index : 0];
}
