// The links' life between two engines over connections passed by hand, with
// a fake clock: linking in either order, healing, strangers, the newcomer,
// the link key, the silent partner.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/link_life.h"
#include "stand_in_cipher.h"

namespace {

struct Net;

struct Pc final : LinkHost {
    Net* net = nullptr;
    uint32_t address = 0;
    LinkEngine engine;
    std::vector<int32_t> listening;
    int ups = 0, losses = 0, lossesUp = 0, notProven = 0, clipboardFailed = 0;
    std::string control, clipboard;  // plaintext received
    std::vector<int64_t> connects;   // when each control connect went out
    int clipboardConnects = 0;

    ConnHandle connectTo(uint32_t address, int32_t port) override;
    ConnHandle listenOn(int32_t port) override;
    int32_t write(ConnHandle conn, const uint8_t* data, int32_t n) override;
    void waitWritable(ConnHandle conn, bool wait) override;
    void closeConn(ConnHandle conn) override;
    LookUp lookUp(LinkLife& link, uint32_t* address) override;
    bool isPartner(const LinkLife& link, uint32_t peer) override
    {
        uint32_t address = 0;
        return lookUp(const_cast<LinkLife&>(link), &address) == LookUp::Found && address == peer;
    }
    bool isOwnAddress(uint32_t a) override { return a == address; }
    LinkCipher* newCipher() override
    {
        static uint64_t seeds = 1;
        StandInCipher* cipher = new StandInCipher();
        cipher->seed = ++seeds;  // each side's random bytes its own
        return cipher;
    }
    void freeCipher(LinkCipher* cipher) override { delete static_cast<StandInCipher*>(cipher); }
    void linkUp(LinkLife&) override { ++ups; }
    void linkLost(LinkLife&, const char*, bool wasUp) override { ++losses, lossesUp += wasUp; }
    void clipboardFresh(LinkLife&) override {}
    void received(LinkLife&, int channel, const uint8_t* data, size_t n) override
    {
        (channel == LINK_CONTROL ? control : clipboard).append(reinterpret_cast<const char*>(data), n);
    }
    void drained(LinkLife&, int) override {}
    void note(LinkNote what, const LinkLife*, const char*) override
    {
        notProven += what == LinkNote::KeyNotProven;
        clipboardFailed += what == LinkNote::ClipboardFailed;
    }
};

// The wire: each handle has its far end; what is written arrives at the next pump.
struct Net {
    int64_t now = 0;
    ConnHandle next = 100;
    bool cable = true;  // false: nothing arrives, nothing closes (a pulled cable)
    int32_t takes = 0;  // what a socket takes until it drains; 0: all
    std::map<ConnHandle, int32_t> taken;
    std::map<ConnHandle, Pc*> owner;
    std::map<ConnHandle, ConnHandle> peer;
    std::map<std::pair<uint32_t, int32_t>, std::pair<Pc*, ConnHandle>> listeners;
    struct Event { int kind; ConnHandle to; std::string bytes; };  // 0 connect result, 1 bytes, 2 close, 3 drained
    std::deque<Event> events;
    std::map<std::string, uint32_t> names;

    void pump()
    {
        for (int guard = 0; guard < 10000 && cable && !events.empty(); ++guard) {
            Event e = events.front();
            events.pop_front();
            auto who = owner.find(e.to);
            if (who == owner.end()) continue;
            LinkEngine& engine = who->second->engine;
            if (e.kind == 0) lifeConnected(engine, e.to, peer.count(e.to) ? 0 : 111, "refused", now);
            else if (e.kind == 1) lifeReceived(engine, e.to, reinterpret_cast<const uint8_t*>(e.bytes.data()), e.bytes.size(), now);
            else if (e.kind == 3) taken[e.to] = 0, lifeWritable(engine, e.to, now);
            else lifeClosed(engine, e.to, "closed", now);
        }
    }
    // The clock runs on by `ms`, waking each engine when it asked to be.
    void run(int64_t ms, std::vector<Pc*> pcs)
    {
        const int64_t end = now + ms;
        for (pump(); now < end; pump()) {
            now += 10;
            for (Pc* pc : pcs)
                if (lifeNextWake(pc->engine) >= 0 && lifeNextWake(pc->engine) <= now) lifeTick(pc->engine, now);
        }
    }
};

ConnHandle Pc::connectTo(uint32_t to, int32_t port)
{
    const ConnHandle mine = net->next++;
    net->owner[mine] = this;
    net->events.push_back({0, mine, ""});  // the connect's result comes before anything the far end says
    auto found = net->listeners.find({to, port});
    if (found != net->listeners.end() && net->cable) {
        const ConnHandle theirs = net->next++;
        net->owner[theirs] = found->second.first;
        net->peer[mine] = theirs, net->peer[theirs] = mine;
        lifeAccepted(found->second.first->engine, found->second.second, theirs, address, net->now);
    }
    if (port % 2 == 1) connects.push_back(net->now);  // the tests' control ports are odd
    else ++clipboardConnects;
    return mine;
}

ConnHandle Pc::listenOn(int32_t port)
{
    const ConnHandle handle = net->next++;
    net->listeners[{address, port}] = {this, handle};
    listening.push_back(port);
    return handle;
}

int32_t Pc::write(ConnHandle conn, const uint8_t* data, int32_t n)
{
    if (net->takes > 0) {
        n = std::min(n, net->takes - net->taken[conn]);
        net->taken[conn] += n;
    }
    if (net->peer.count(conn)) net->events.push_back({1, net->peer[conn], std::string(reinterpret_cast<const char*>(data), n)});
    return n;
}

// A socket that took only part drains by the next pump.
void Pc::waitWritable(ConnHandle conn, bool wait)
{
    if (wait) net->events.push_back({3, conn, ""});
}

void Pc::closeConn(ConnHandle conn)
{
    if (net->peer.count(conn)) net->events.push_back({2, net->peer[conn], ""});
    net->owner.erase(conn);
    for (auto it = net->listeners.begin(); it != net->listeners.end(); ++it)
        if (it->second.second == conn) return (void)net->listeners.erase(it);
}

LookUp Pc::lookUp(LinkLife& link, uint32_t* found)
{
    auto it = net->names.find(link.host);
    if (it == net->names.end()) return LookUp::Failed;
    *found = it->second;
    return LookUp::Found;
}

struct TwoPcs : ::testing::Test {
    Net net;
    Pc master, slave, stranger;
    const uint8_t key[LINK_KEY_STRETCHED] = {7, 7, 7};

    void SetUp() override
    {
        net.names = {{"master", 1}, {"slave", 2}};
        for (Pc* pc : {&master, &slave, &stranger}) pc->net = &net;
        master.address = 1, slave.address = 2, stranger.address = 9;
        lifeInit(master.engine, &master, true);
        lifeInit(slave.engine, &slave, false);
        lifeInit(stranger.engine, &stranger, true);
    }
    void TearDown() override
    {
        for (Pc* pc : {&master, &slave, &stranger}) lifeEnd(pc->engine);
    }
    bool linked() { return master.engine.links[0].linked && slave.engine.links[0].linked; }
    void say(Pc& from, int channel, const std::string& text)
    {
        ASSERT_TRUE(lifeSend(from.engine, from.engine.links[0], channel, text.data(), text.size()));
        net.pump();
    }
};

TEST_F(TwoPcs, LinksInEitherOrderAndHealsAfterTheSlaveComesBack)
{
    lifeStart(slave.engine, 0, "master", 447, 0);  // the Slave first: no Master yet, it listens
    net.run(500, {&master, &slave});
    EXPECT_EQ(slave.listening, (std::vector<int32_t>{447, 448}));
    lifeStart(master.engine, 0, "slave", 447, net.now);
    net.run(100, {&master, &slave});
    ASSERT_TRUE(linked());
    EXPECT_TRUE(lifeUp(slave.engine.links[0], LINK_CLIPBOARD));  // the Master made it
    say(master, LINK_CONTROL, "key");
    say(slave, LINK_CLIPBOARD, "text");
    EXPECT_EQ(slave.control + master.clipboard, "keytext");

    // The Slave goes away, and comes back 10 s later: the Master tries after 1, 2, 4, 8, 8 s...
    lifeEnd(slave.engine);
    net.pump();
    EXPECT_EQ(master.lossesUp, 1);
    master.connects.clear();
    net.run(16000, {&master});
    ASSERT_EQ(master.connects.size(), 4u);
    EXPECT_EQ(master.connects[1] - master.connects[0], 2000);
    EXPECT_EQ(master.connects[3] - master.connects[2], 8000);
    lifeInit(slave.engine, &slave, false);
    lifeStart(slave.engine, 0, "master", 447, net.now);  // its own connect is refused: it listens
    net.run(8100, {&master, &slave});
    EXPECT_TRUE(linked());

    // Its clipboard connection ends alone: the Master, which made it, makes it again.
    lifeClosed(master.engine, master.engine.links[0].live[LINK_CLIPBOARD].handle, "reset", net.now);
    net.run(1100, {&master, &slave});
    EXPECT_TRUE(lifeUp(master.engine.links[0], LINK_CLIPBOARD));
    say(slave, LINK_CLIPBOARD, "again");
    EXPECT_EQ(master.clipboard, "textagain");
}

TEST_F(TwoPcs, OnlyThePartnerLinksAndASilentPartnerIsLetGo)
{
    lifeStart(slave.engine, 0, "master", 447, 0);
    net.run(100, {&slave});
    net.names["slave"] = 2;
    lifeStart(stranger.engine, 0, "slave", 447, net.now);  // a PC the Slave does not know
    net.run(1000, {&stranger, &slave});
    EXPECT_EQ(slave.ups, 0);  // the stranger's connections were closed unread
    EXPECT_FALSE(stranger.engine.links[0].linked);

    lifeStart(master.engine, 0, "slave", 447, net.now);
    net.run(100, {&master, &slave});
    ASSERT_TRUE(linked());
    // The cable is pulled mid-burst: packets go unanswered, and 8 s on the Master lets go.
    net.cable = false;
    lifeWaiting(master.engine.links[0], net.now);
    net.run(7900, {&master});
    EXPECT_TRUE(master.engine.links[0].linked);
    net.run(200, {&master});
    EXPECT_FALSE(master.engine.links[0].linked);
    EXPECT_EQ(master.lossesUp, 1);
}

TEST_F(TwoPcs, ALinkKeyKeepsOutAWrongKeyAndLetsTheRestartedPartnerTakeOver)
{
    const uint8_t wrong[LINK_KEY_STRETCHED] = {8};
    lifeSetKey(slave.engine, key);
    lifeSetKey(master.engine, wrong);
    lifeStart(slave.engine, 0, "master", 447, 0);
    lifeStart(master.engine, 0, "slave", 447, 0);
    net.run(3000, {&master, &slave});
    EXPECT_EQ(master.ups + slave.ups, 0);
    EXPECT_LE(slave.notProven, 1);  // said once at most on each side, whatever the tries
    EXPECT_LE(master.notProven, 1);
    EXPECT_GE(slave.notProven + master.notProven, 1);

    lifeSetKey(master.engine, key);
    net.run(9000, {&master, &slave});
    ASSERT_TRUE(linked());
    EXPECT_TRUE(lifeKeyed(slave.engine.links[0], LINK_CONTROL));
    say(master, LINK_CONTROL, "sealed");
    EXPECT_EQ(slave.control, "sealed");

    // A newcomer with the wrong key beside the proven link: dropped, the link stays.
    const ConnHandle live = slave.engine.links[0].live[LINK_CONTROL].handle;
    const int losses = slave.losses;
    Pc impostor;
    impostor.net = &net, impostor.address = 1;  // the Master's address, not its key
    lifeInit(impostor.engine, &impostor, true);
    lifeSetKey(impostor.engine, wrong);
    lifeStart(impostor.engine, 0, "slave", 447, net.now);
    net.run(6000, {&impostor, &slave});
    EXPECT_EQ(slave.engine.links[0].live[LINK_CONTROL].handle, live);
    EXPECT_EQ(slave.losses, losses);
    lifeEnd(impostor.engine);

    // The Master restarts: its newcomer proves the key and takes over; what
    // the old connection held is released (a loss, then up again).
    lifeEnd(master.engine);
    net.events.clear();  // the old connections' closes are lost with the cable's blip
    lifeInit(master.engine, &master, true);
    lifeSetKey(master.engine, key);
    lifeStart(master.engine, 0, "slave", 447, net.now);
    net.run(500, {&master, &slave});
    EXPECT_TRUE(linked());
    EXPECT_NE(slave.engine.links[0].live[LINK_CONTROL].handle, live);
    EXPECT_EQ(slave.lossesUp, 1);
    say(master, LINK_CONTROL, " again");
    EXPECT_EQ(slave.control, "sealed again");
}

TEST_F(TwoPcs, ALongTransferOverTheKeyArrivesWholeAndInOrderThoughTheSocketTakesLittleAtATime)
{
    lifeSetKey(slave.engine, key);
    lifeSetKey(master.engine, key);
    lifeStart(slave.engine, 0, "master", 447, 0);
    net.run(100, {&slave});
    lifeStart(master.engine, 0, "slave", 447, net.now);
    net.run(100, {&master, &slave});
    ASSERT_TRUE(linked() && lifeUp(master.engine.links[0], LINK_CLIPBOARD));
    net.takes = 1000;  // the socket takes a thousand bytes, the rest once it drains
    std::string text;
    for (int i = 0; i < 100000; ++i) text += static_cast<char>('a' + i * 7 % 26);
    ASSERT_TRUE(lifeSend(master.engine, master.engine.links[0], LINK_CLIPBOARD, text.data(), text.size()));
    for (const char* key : {"k1", "k2", "k3"}) say(master, LINK_CONTROL, key);
    net.run(100, {&master, &slave});
    EXPECT_EQ(slave.clipboard, text);  // several records, each sealed whole
    EXPECT_EQ(slave.control, "k1k2k3");
    EXPECT_EQ(lifePending(master.engine.links[0], LINK_CLIPBOARD), 0u);
}

TEST_F(TwoPcs, AClipboardConnectRefusedAtFirstIsSaidOnceWhereThatIsTheRuleAndControlWorksOn)
{
    master.engine.retryFirstClipboard = false;  // the Windows program's rule
    lifeStart(slave.engine, 0, "master", 447, 0);
    net.run(100, {&slave});
    net.listeners.erase({2, 448});  // the Slave's clipboard port is taken by another program
    lifeStart(master.engine, 0, "slave", 447, net.now);
    net.run(20000, {&master, &slave});
    EXPECT_TRUE(linked());
    EXPECT_EQ(master.clipboardFailed, 1);
    EXPECT_EQ(master.clipboardConnects, 1);  // never tried again
    say(master, LINK_CONTROL, "typing");
    EXPECT_EQ(slave.control, "typing");
}

}  // namespace
