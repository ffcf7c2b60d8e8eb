// The settings dialog and the store behind it, against the real main window
// and this prefix's registry. The dialog runs modally on the test's thread,
// as in the program; a thread of the test's own drives it with messages
// (typed characters, clicks on its buttons) and answers its message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "windows/link/link.h"
#include "windows/app/mainwindow.h"
#include "resources/resource.h"
#include "windows/settings/settings.h"
#include "tests/wine/wine_support.h"

#include <sddl.h>  // after <windows.h>

namespace {

const DWORD WAIT_MS = 15000;
const char* const VALUE_NAMES[] = {"SRMaster", "ScreenPos", "SRPartner", "SRPort"};

// The four values of one hive as "dword:1 dword:0 sz:localhost sz:447", "-"
// for a missing one.
std::string stored(HKEY hive, std::vector<const char*> names = {std::begin(VALUE_NAMES), std::end(VALUE_NAMES)})
{
    std::string all;
    HKEY key = nullptr;
    const bool open = RegOpenKeyExA(hive, SETTINGS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS;
    for (const char* name : names) {
        char data[2048] = {};
        DWORD size = sizeof data - 1, type = 0;
        std::string value = "-";
        if (open && RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS)
            value = type == REG_DWORD ? "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data))
                                      : "sz:" + std::string(data);
        all += (all.empty() ? "" : " ") + value;
    }
    if (open) RegCloseKey(key);
    return all;
}

// The machine-wide key as a standard user finds it, by the access list of the
// key, made if missing. Its owner, this test, may always change it again.
const char READ_ONLY[] = "D:P(A;;KR;;;WD)";
const char OPEN_TO_ALL[] = "D:(A;;KA;;;WD)";

void setMachineKeyAccess(const char* list)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(list, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
    LocalFree(descriptor);
    RegCloseKey(key);
}

struct WindowSearch {
    const char* caption;  // null: any caption but the dialog's
    HWND found;
};

BOOL CALLBACK findDialogWindow(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    char className[16] = {}, caption[64] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    const bool captionFits = search->caption ? std::strcmp(caption, search->caption) == 0
                                             : std::strcmp(caption, "Skiprail Settings") != 0;
    // The splash and the notice are dialogs too (layered pictures): the
    // splash shows 3 s after the window's start, amid these tests.
    const bool picture = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
    if (process == GetCurrentProcessId() && std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) &&
        captionFits && !picture) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND findDialogWindow(const char* caption)
{
    WindowSearch search = {caption, nullptr};
    EnumWindows(findDialogWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs `script` on a thread of its own; the test's thread meanwhile opens
// the dialog and stays in its modal loop until it ends. What the script sees
// is kept and checked on the test's thread. A script that leaves the dialog
// open cancels it, so the test cannot hang.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(DialogDriver&)> script)
        : worker([this, script] {
              script(*this);
              if (dialog && IsWindow(dialog)) {
                  problem("the dialog was left open");
                  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
              }
              done = true;
          })
    {
    }
    ~DialogDriver() { finish(); }
    // Pumps meanwhile: the script reads window texts, which this thread's
    // windows answer only while their messages are handled.
    void finish()
    {
        pumpUntil([this] { return done.load(); }, 2 * WAIT_MS);
        if (worker.joinable()) worker.join();
    }

    std::vector<std::string> problems;
    HWND dialog = nullptr;

    void problem(const std::string& what) { problems.push_back(what); }

    bool waitForDialog(DWORD timeoutMs = WAIT_MS)
    {
        const DWORD start = GetTickCount();
        while (!(dialog = findDialogWindow("Skiprail Settings"))) {
            if (GetTickCount() - start > timeoutMs) return false;
            Sleep(10);
        }
        return true;
    }

    // Replaces the field's text character by character.
    void type(int id, const std::string& text)
    {
        HWND edit = GetDlgItem(dialog, id);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        if (text.empty()) SendMessageA(edit, WM_CLEAR, 0, 0);
        for (char c : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }

    // A radio button: its handling opens nothing, so the click is sent.
    void click(int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    // OK or Cancel: posted, since OK may open a box that waits for us.
    void press(int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

    std::string text(int id)
    {
        char text[512] = {};
        GetWindowTextA(GetDlgItem(dialog, id), text, sizeof text);
        return text;
    }

    // "partner port" and the checked buttons' names.
    std::string shown()
    {
        static const struct {
            int id;
            const char* name;
        } RADIOS[] = {{IDC_MASTER, "master"}, {IDC_SLAVE, "slave"}, {IDC_LEFT, "left"},
                      {IDC_RIGHT, "right"},   {IDC_ABOVE, "above"}, {IDC_BELOW, "below"}};
        std::string all = text(IDC_PARTNER) + " " + text(IDC_PORT);
        for (const auto& radio : RADIOS)
            if (SendMessageA(GetDlgItem(dialog, radio.id), BM_GETCHECK, 0, 0) == BST_CHECKED)
                all += std::string(" ") + radio.name;
        return all;
    }

    // The text of the next message box, which is then answered with OK.
    std::string answerBox(const char* caption = nullptr)
    {
        HWND box = nullptr;
        const DWORD start = GetTickCount();
        while (!(box = findDialogWindow(caption)) && GetTickCount() - start < WAIT_MS) Sleep(10);
        if (!box) return "no box";
        char text[512] = {};
        GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        while (IsWindow(box) && GetTickCount() - start < WAIT_MS) Sleep(10);
        return text;
    }

    bool open() { return IsWindow(dialog) && IsWindowVisible(dialog); }

    // More Slaves, opened from the settings dialog: `dialog` is it until
    // leaveDesk().
    bool openDesk()
    {
        settings = dialog;
        press(IDC_MORE_SLAVES);
        const DWORD start = GetTickCount();
        while (!(dialog = findDialogWindow("More Slaves")) && GetTickCount() - start < WAIT_MS) Sleep(10);
        return dialog != nullptr;
    }
    void leaveDesk()
    {
        waitUntilClosed();
        dialog = settings;
    }
    // A click on the picture's cell (x, y), the Master's being (0, 0), while
    // the desk reaches no further than two cells around the Master.
    void clickCell(int x, int y)
    {
        HWND picture = GetDlgItem(dialog, IDC_DESK_PICTURE);
        RECT area = {};
        GetClientRect(picture, &area);
        POINT point = {area.right * (2 * x + 5) / 10, area.bottom * (2 * y + 5) / 10};
        MapWindowPoints(picture, dialog, &point, 1);
        PostMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
    }
    HWND settings = nullptr;

    bool waitUntilClosed()
    {
        const DWORD start = GetTickCount();
        while (IsWindow(dialog))
            if (GetTickCount() - start > WAIT_MS) return false;
            else Sleep(10);
        return true;
    }

private:
    std::atomic<bool> done{false};
    std::thread worker;  // last: starts once the fields above exist
};

// The tray menu's settings item, as the user chooses it; returns once the
// dialog has ended.
void openFromTray()
{
    SendMessageA(app.mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
}

// Loads the settings as a start does, failing if the dialog opens.
void loadWithoutDialog()
{
    DialogDriver guard([](DialogDriver& d) {
        if (d.waitForDialog(1500)) d.problem("the settings dialog opened");
    });
    loadSettings();
    guard.finish();
    EXPECT_EQ(guard.problems, std::vector<std::string>{});
}

int port = 0;  // the port typed on the first run

class SettingsTest : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        setMachineKeyAccess(OPEN_TO_ALL);
        deleteSettings();
    }
};

// Runs first: it starts the program's window on an empty registry.
TEST_F(SettingsTest, AFirstRunWritesTheDefaultsAndAsksBeforeAnyConnection)
{
    deleteSettings();
    port = freePortPair();
    ASSERT_NE(port, 0);
    std::string storedWhenShown, shownFirst;
    bool noSocketYet = false;
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        storedWhenShown = stored(HKEY_LOCAL_MACHINE);
        noSocketYet = links[0].controlSocket == 0 && app.listeners[0].controlListener == 0 && links[0].clipboardSocket == 0 &&
                      app.listeners[0].clipboardListener == 0 && app.listeners[0].controlListening == 0 && app.listeners[0].clipboardListening == 0;
        shownFirst = d.shown();
        d.type(IDC_PARTNER, "127.0.0.1");
        d.type(IDC_PORT, std::to_string(port));
        d.click(IDC_SLAVE);
        d.click(IDC_RIGHT);
        d.press(IDOK);
        if (!d.waitUntilClosed()) d.problem("OK did not close the dialog");
    });
    HWND window = startMainWindow(GetModuleHandleA(nullptr), SW_HIDE);
    driver.finish();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(driver.problems, std::vector<std::string>{});

    EXPECT_EQ(storedWhenShown, "dword:1 dword:0 sz:localhost sz:447");
    EXPECT_TRUE(noSocketYet);
    EXPECT_EQ(shownFirst, "localhost 447 master left");

    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE), "dword:0 dword:1 sz:127.0.0.1 sz:" + std::to_string(port));
    EXPECT_EQ(app.mode, MODE_SLAVE);
    EXPECT_EQ(app.screenPosition, POS_RIGHT);
    EXPECT_STREQ(app.partnerHost, "127.0.0.1");
    EXPECT_EQ(app.port, port);
    // The start goes on with what OK saved: the Slave finds no partner
    // listening and listens on the typed port itself.
    EXPECT_TRUE(pumpUntil([] { return app.listeners[0].controlListening == 1 && app.listeners[0].clipboardListening == 1; }, WAIT_MS));
    SOCKET probe = connectTo(port);
    EXPECT_NE(probe, INVALID_SOCKET);
    if (probe != INVALID_SOCKET) closesocket(probe);
    pumpFor(200);
}

TEST_F(SettingsTest, OkWritesTheChoicesAndReloadsThemCancelWritesNothing)
{
    const std::string portText = std::to_string(port);
    // A stored mode that is neither: no mode button is checked, and OK
    // writes the Slave chosen when the dialog was open before.
    writeSettingNumber("SRMaster", 5);
    std::string shown;
    DialogDriver ok([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        shown = d.shown();
        d.type(IDC_PARTNER, "other-pc");
        d.click(IDC_BELOW);
        d.press(IDOK);
        d.waitUntilClosed();
    });
    openFromTray();
    ok.finish();
    EXPECT_EQ(ok.problems, std::vector<std::string>{});
    EXPECT_EQ(shown, "127.0.0.1 " + portText + " right");
    const std::string saved = "dword:0 dword:3 sz:other-pc sz:" + portText;
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE), saved);
    EXPECT_EQ(app.mode, MODE_SLAVE);
    EXPECT_EQ(app.screenPosition, POS_BELOW);
    EXPECT_STREQ(app.partnerHost, "other-pc");

    // Cancel after changing every field: nothing written, nothing reloaded.
    DialogDriver cancel([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        d.type(IDC_PARTNER, "elsewhere");
        d.type(IDC_PORT, "1234");
        d.click(IDC_MASTER);
        d.click(IDC_LEFT);
        d.press(IDCANCEL);
        d.waitUntilClosed();
    });
    openFromTray();
    cancel.finish();
    EXPECT_EQ(cancel.problems, std::vector<std::string>{});
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE), saved);
    EXPECT_EQ(app.mode, MODE_SLAVE);
    EXPECT_EQ(app.screenPosition, POS_BELOW);
    EXPECT_STREQ(app.partnerHost, "other-pc");
    EXPECT_EQ(app.port, port);

    // Slave, then Master, then OK stores Master; a partner typed past 254
    // characters keeps its first 254.
    DialogDriver again([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        d.click(IDC_SLAVE);
        d.click(IDC_MASTER);
        d.type(IDC_PARTNER, std::string(300, 'p'));
        d.press(IDOK);
        d.waitUntilClosed();
    });
    openFromTray();
    again.finish();
    EXPECT_EQ(again.problems, std::vector<std::string>{});
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE), "dword:1 dword:3 sz:" + std::string(254, 'p') + " sz:" + portText);
    EXPECT_EQ(app.mode, MODE_MASTER);
    EXPECT_EQ(std::string(app.partnerHost), std::string(254, 'p'));
}

TEST_F(SettingsTest, OkRefusesAPortNoConnectionCouldUseAndKeepsTheDialogOpen)
{
    const std::string before = stored(HKEY_LOCAL_MACHINE);
    std::vector<std::string> boxes, storedMeanwhile;
    bool stayedOpen = true;
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        for (const char* bad : {"70000", "65535", "0", "abc", "44x7", ""}) {
            d.type(IDC_PORT, bad);
            d.press(IDOK);
            boxes.push_back(d.answerBox());
            stayedOpen = stayedOpen && d.open();
            storedMeanwhile.push_back(stored(HKEY_LOCAL_MACHINE));
        }
        d.type(IDC_PORT, "65534");
        d.press(IDOK);
        d.waitUntilClosed();
    });
    openFromTray();
    driver.finish();
    EXPECT_EQ(driver.problems, std::vector<std::string>{});
    ASSERT_EQ(boxes.size(), 6u);
    for (const std::string& box : boxes) EXPECT_NE(box.find("a number from 1 to 65534"), std::string::npos) << box;
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(storedMeanwhile, std::vector<std::string>(6, before));
    EXPECT_EQ(app.port, 65534);
}

TEST_F(SettingsTest, StoredTextsOf255BytesOrMoreAreCutWithoutOverflow)
{
    writeSetting("SRPartner", std::string(300, 'h').c_str());
    writeSetting("SRPort", ("8000" + std::string(400, ' ')).c_str());
    loadWithoutDialog();
    EXPECT_EQ(std::string(app.partnerHost), std::string(255, 'h'));
    EXPECT_EQ(app.port, 8000);  // the field after partnerHost

    // 255 bytes with no terminator: read in full.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    const std::string exact(255, 'x');
    RegSetValueExA(key, "SRPartner", 0, REG_SZ, reinterpret_cast<const BYTE*>(exact.data()), 255);
    RegCloseKey(key);
    loadWithoutDialog();
    EXPECT_EQ(std::string(app.partnerHost), exact);
}

TEST_F(SettingsTest, WhereTheMachineKeyCannotBeWrittenTheSettingsLiveWithTheUser)
{
    deleteSettings();
    writeSettingNumber("SRMaster", 1);
    writeSettingNumber("ScreenPos", 0);
    writeSetting("SRPartner", "machine-pc");
    writeSetting("SRPort", "5000");
    const std::string machine = stored(HKEY_LOCAL_MACHINE);
    setMachineKeyAccess(READ_ONLY);

    // A machine-wide key that can only be read still supplies the settings:
    // nothing is missing, so no default is written and no dialog opens.
    loadWithoutDialog();
    EXPECT_EQ(app.mode, MODE_MASTER);
    EXPECT_STREQ(app.partnerHost, "machine-pc");
    EXPECT_EQ(app.port, 5000);
    EXPECT_EQ(stored(HKEY_CURRENT_USER), "- - - -");

    // What the user saves goes to the same key under HKEY_CURRENT_USER.
    std::string shown, box = "none";
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        shown = d.shown();
        d.type(IDC_PARTNER, "user-pc");
        d.type(IDC_PORT, "6000");
        d.click(IDC_SLAVE);
        d.click(IDC_ABOVE);
        d.press(IDOK);
        if (!d.waitUntilClosed()) box = d.answerBox();
    });
    openFromTray();
    driver.finish();
    EXPECT_EQ(driver.problems, std::vector<std::string>{});
    EXPECT_EQ(box, "none");
    EXPECT_EQ(shown, "machine-pc 5000 master left");
    const std::string user = "dword:0 dword:2 sz:user-pc sz:6000";
    EXPECT_EQ(stored(HKEY_CURRENT_USER), user);
    EXPECT_EQ(app.mode, MODE_SLAVE);
    EXPECT_EQ(app.screenPosition, POS_ABOVE);
    EXPECT_STREQ(app.partnerHost, "user-pc");
    EXPECT_EQ(app.port, 6000);

    // Run as administrator, the program may write the machine-wide key: the
    // user's settings are still the ones it reads, and nothing goes there.
    setMachineKeyAccess(OPEN_TO_ALL);
    loadWithoutDialog();
    EXPECT_STREQ(app.partnerHost, "user-pc");
    EXPECT_EQ(app.port, 6000);
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE), machine);
}

// Slaves 2 to 4 as loaded: "host:port:position:nextTo" each, "-" for one not there.
std::string moreSlaves()
{
    std::string all;
    for (const AppState::MoreSlave& s : app.moreSlaves)
        all += (all.empty() ? "" : " ") + (s.present ? std::string(s.host) + ":" + std::to_string(s.port) + ":" +
                                                           std::to_string(s.position) + ":" + std::to_string(s.nextTo)
                                                     : "-");
    return all;
}

void writeDesk()
{
    deleteSettings();
    writeSettingNumber("SRMaster", 1);
    writeSettingNumber("ScreenPos", 0);
    writeSetting("SRPartner", "pc-one");
    writeSetting("SRPort", "5000");
    writeSetting("SRPartner2", "pc-two");
    writeSetting("SRPort2", "5002");
    writeSettingNumber("ScreenPos2", 1);
    writeSettingNumber("SRNextTo2", 0);
}

TEST_F(SettingsTest, SlavesTwoToFourLoadBesideSlaveOneAndStayRemovedWhereTheUserSavesThem)
{
    writeDesk();
    writeSetting("SRPartner3", "pc-three");  // no port and no side
    writeSettingNumber("SRNextTo3", 2);
    writeSetting("SRPort4", "5004");  // no partner: not there
    writeSettingNumber("ScreenPos4", 2);
    const std::string loaded = "pc-two:5002:" + std::to_string(POS_RIGHT) + ":0 pc-three:447:0:2 -";
    loadWithoutDialog();
    EXPECT_EQ(moreSlaves(), loaded);
    EXPECT_EQ(app.mode, MODE_MASTER);
    EXPECT_EQ(app.screenPosition, POS_LEFT);
    EXPECT_STREQ(app.partnerHost, "pc-one");
    EXPECT_EQ(app.port, 5000);

    // A machine-wide key that can only be read supplies them as well; Slave 3
    // removed then stays removed, though that key still names it.
    setMachineKeyAccess(READ_ONLY);
    loadWithoutDialog();
    EXPECT_EQ(moreSlaves(), loaded);
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        if (!d.openDesk()) return d.problem("no More Slaves dialog");
        d.click(IDC_DESK_SLAVE3);
        d.click(IDC_DESK_REMOVE);
        d.press(IDOK);
        d.leaveDesk();
        d.press(IDOK);
        d.waitUntilClosed();
    });
    openFromTray();
    driver.finish();
    setMachineKeyAccess(OPEN_TO_ALL);
    EXPECT_EQ(driver.problems, std::vector<std::string>{});
    EXPECT_EQ(moreSlaves(), "pc-two:5002:" + std::to_string(POS_RIGHT) + ":0 - -");
    EXPECT_EQ(stored(HKEY_CURRENT_USER, {"SRPartner2", "SRPartner3", "SRNextTo3"}), "sz:pc-two sz: -");
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE, {"SRPartner3"}), "sz:pc-three");
}

TEST_F(SettingsTest, MoreSlavesRefusesADeskThatCannotStandAndOkWritesTheDesk)
{
    writeDesk();
    writeSetting("SRPartner4", "pc-four");
    writeSetting("SRPort4", "5004");
    writeSettingNumber("ScreenPos4", 1);
    writeSettingNumber("SRNextTo4", 2);
    loadWithoutDialog();
    std::vector<std::string> boxes;
    std::string kept, placed;
    bool stayedOpen = true;
    DialogDriver driver([&](DialogDriver& d) {
        if (!d.waitForDialog()) return d.problem("no settings dialog");
        // Cancel drops what was changed in it.
        if (!d.openDesk()) return d.problem("no More Slaves dialog");
        d.click(IDC_DESK_SLAVE4);
        d.click(IDC_DESK_REMOVE);
        d.press(IDCANCEL);
        d.leaveDesk();
        if (!d.openDesk()) return d.problem("no More Slaves dialog");
        d.click(IDC_DESK_SLAVE4);
        kept = d.text(IDC_DESK_PARTNER) + " " + d.text(IDC_DESK_PLACE);
        d.click(IDC_DESK_REMOVE);
        d.click(IDC_DESK_SLAVE3);
        d.type(IDC_DESK_PARTNER, "PC-ONE");
        d.type(IDC_DESK_PORT, "5000");
        d.clickCell(0, 0);
        boxes.push_back(d.answerBox("Notice"));
        d.clickCell(0, -2);  // touches no PC
        boxes.push_back(d.answerBox("Notice"));
        d.clickCell(0, -1);
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 2000 && placed != "Above the Master";)
            placed = d.text(IDC_DESK_PLACE);
        // Slave 1's port; Slave 2's clipboard port (5002 + 1).
        for (const char* port : {"5000", "5003", "70000", "5006"}) {
            d.type(IDC_DESK_PORT, port);
            d.press(IDOK);
            if (std::string(port) != "5006") boxes.push_back(d.answerBox("Notice"));
            stayedOpen = stayedOpen && (std::string(port) == "5006" || d.open());
        }
        d.leaveDesk();
        // Slave 1 moved onto Slave 2's cell.
        d.click(IDC_RIGHT);
        d.press(IDOK);
        boxes.push_back(d.answerBox("Notice"));
        stayedOpen = stayedOpen && d.open();
        d.click(IDC_LEFT);
        d.press(IDOK);
        d.waitUntilClosed();
    });
    openFromTray();
    driver.finish();
    EXPECT_EQ(driver.problems, std::vector<std::string>{});
    EXPECT_EQ(kept, "pc-four Right of Slave 2");
    EXPECT_EQ(placed, "Above the Master");
    const char* const expected[] = {"Two PCs cannot stand in one cell", "must stand next to the Master",
                                    "same computer and port", "must not lie next to each other", "a number from 1 to 65534",
                                    "Slave 2 stands in the same cell as another PC"};
    ASSERT_EQ(boxes.size(), std::size(expected));
    for (size_t i = 0; i < boxes.size(); ++i) EXPECT_NE(boxes[i].find(expected[i]), std::string::npos) << boxes[i];
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(stored(HKEY_LOCAL_MACHINE, {"SRPartner2", "SRPort2", "ScreenPos2", "SRNextTo2", "SRPartner3", "SRPort3",
                                          "ScreenPos3", "SRNextTo3", "SRPartner4", "SRPort4", "ScreenPos4", "SRNextTo4"}),
              "sz:pc-two sz:5002 dword:1 dword:0 sz:PC-ONE sz:5006 dword:2 dword:0 - - - -");
    EXPECT_EQ(moreSlaves(), "pc-two:5002:" + std::to_string(POS_RIGHT) + ":0 PC-ONE:5006:" +
                                std::to_string(POS_ABOVE) + ":0 -");
}

}  // namespace
