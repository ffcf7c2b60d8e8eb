// The Linux Slave's link to its Master, one of the program's links
// (unix/links.h): what comes is replayed or placed, and every cut releases
// every key and button.
#include "unix/links.h"
#include "unix/log.h"
#include "unix/slave.h"
#include "unix/desk.h"

Slave slave;

namespace {

void releaseEverything()
{
    desk().releaseAll();
    desk().flush();
    slave.partnerDriving = false;
}

void up(int32_t)
{
    inboxReset(slave.inbox);
    desk().linkUp();
    announceLink();
}

void lost(int32_t, const char*, bool)
{
    releaseEverything();
    desk().linkDown();
}

void clipboardFresh(int32_t)
{
    clipConnectionUp(slave.clip);
}

void clipboardEnded(int32_t)
{
    clipConnectionEnded(slave.clip);
}

void received(int32_t, int channel, const uint8_t* data, size_t n)
{
    if (channel == LINK_CONTROL) onControlBytes(data, n);
    else clipBytes(slave.clip, data, n);
}

void drained(int32_t, int channel)
{
    if (channel == LINK_CLIPBOARD) clipContinue(slave.clip);
}

bool quiet(int32_t)
{
    return slave.plainNoticeGiven;
}

const char* name(int32_t)
{
    static std::string text;
    text = "the Master (" + slave.partner + ")";
    return text.c_str();
}

}  // namespace

void startLink(const std::string& partner, int32_t port, const uint8_t* stretched)
{
    slave.partner = partner;
    slave.port = port;
    slave.clip.index = 0;
    slave.clip.who = "the Master";
    linksStart(LinkUser{up, lost, clipboardFresh, clipboardEnded, received, drained, quiet, name}, false, stretched);
    linksAdd(0, partner, port);
}

void endLink()
{
    linksEnd();
}

int32_t linkWaitMs()
{
    return linksWaitMs();
}

bool partnerQueue(int channel, const void* data, size_t n)
{
    return linkQueue(0, channel, data, n);
}

bool partnerFlush(int channel)
{
    return linkFlush(0, channel);
}

size_t partnerPending(int channel)
{
    return linkPending(0, channel);
}

bool partnerUp(int channel)
{
    return linkUp(0, channel);
}

bool partnerOpen(int channel)
{
    return linkOpen(0, channel);
}

int controlFd()
{
    return linkControlFd(0);
}
