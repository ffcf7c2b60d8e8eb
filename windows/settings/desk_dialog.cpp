#include "windows/settings/desk_dialog.h"

#include <cstdio>
#include <cstring>

#include "windows/app/appstate.h"
#include "resources/resource.h"
#include "settings/desk_rules.h"
#include "windows/settings/settings.h"
#include "windows/settings/settings_dialog.h"

namespace {

const int32_t MORE = MORE_SLAVES;

// The settings dialog's copy, taken from AppState when it opens and written
// by its OK; More Slaves edits a copy of it, given back on its own OK.
DeskCopy deskCopy = {};
DeskCopy editing = {};
int32_t selected = 1;  // in `editing`: the desk index (1 for Slave 2) of the chosen Slave
bool filling = false;  // the fields are being filled, not typed in

void copyText(char* to, const char* from)
{
    lstrcpynA(to, from, TEXT_AREA);
}

// Slave 1 as the settings dialog's fields have it, at `position` (0: none
// chosen there yet, so the stored one).
void takeSlaveOne(HWND settings, int32_t position, DeskCopy* desk)
{
    GetDlgItemTextA(settings, IDC_PARTNER, desk->host1, TEXT_AREA);
    GetDlgItemTextA(settings, IDC_PORT, desk->port1, TEXT_AREA);
    desk->position1 = position != 0 ? position : app.screenPosition;
}

// Slave `index` of `desk` and the Slaves that stand on it taken to the cells
// of `wanted` (Slave `index` left out where it is not placed there), each
// next to what it then touches. Keeps every other Slave where it stands.
// Notes why not and returns false when one of them would touch no PC.
bool movePlaces(HWND dialog, DeskCopy* desk, int32_t index, const Cells& wanted)
{
    DeskCopy trial = *desk;
    if (!wanted.placed[index]) clearSlave(&trial.more[index - 1]);
    for (int32_t j = 1; j < MAX_SLAVES; ++j) {
        if (j != index && !(isThere(desk->more[j - 1]) && wanted.placed[j] && standsOn(*desk, j, index))) continue;
        if (!wanted.placed[j]) continue;  // taken off the desk
        if (!anchorFor(wanted, j, wanted.x[j], wanted.y[j], &trial.more[j - 1].position, &trial.more[j - 1].nextTo)) {
            if (j == index)
                noteAbout(dialog,
                          "Slave %d must stand next to the Master or to Slave 1, 2 or 3: click an empty cell that "
                          "touches one of them.",
                          static_cast<int>(j + 1));
            else
                noteAbout(dialog,
                          "Slave %d stands next to Slave %d and would then touch no PC. Move or remove Slave %d "
                          "first.",
                          static_cast<int>(j + 1), static_cast<int>(index + 1), static_cast<int>(j + 1));
            return false;
        }
    }
    // Two Slaves that only touch each other name each other and never reach
    // the Master: each must come out where it was wanted, the moved one first.
    const Cells result = cellsOf(trial);
    for (int32_t k = 0; k < MAX_SLAVES; ++k) {
        const int32_t j = k == 0 ? index : k;
        if (j == 0 || !wanted.placed[j] || !isThere(trial.more[j - 1])) continue;
        if (result.placed[j] && result.x[j] == wanted.x[j] && result.y[j] == wanted.y[j]) continue;
        if (j == index)
            noteAbout(dialog,
                      "Slave %d would then not be joined to the Master through the PCs next to it. Click another "
                      "cell.",
                      static_cast<int>(j + 1));
        else
            noteAbout(dialog, "Slave %d would then not be joined to the Master. Move or remove Slave %d first.",
                      static_cast<int>(j + 1), static_cast<int>(j + 1));
        return false;
    }
    *desk = trial;
    return true;
}

const char* sideWords(int32_t position)
{
    switch (position) {
    case POS_LEFT: return "Left of";
    case POS_RIGHT: return "Right of";
    case POS_ABOVE: return "Above";
    case POS_BELOW: return "Below";
    default: return nullptr;
    }
}

// A desk that cannot be used: which Slave (1 to 4), the field to correct
// (0 for its place) and why, in the dialog's words.
struct DeskNote {
    int32_t slave;
    int field;
    char text[400];
};

bool checkDeskNote(const DeskCopy& desk, DeskNote* note)
{
    *note = DeskNote{};
    const DeskProblem problem = checkDesk(desk);
    const int slave = static_cast<int>(problem.slave);
    note->slave = problem.slave;
    const int room = sizeof note->text - 1;
    switch (problem.rule) {
    case DeskRule::Fine: return true;
    case DeskRule::NoHost:
        note->field = IDC_DESK_PARTNER;
        _snprintf(note->text, room, "Type the ComputerName or IP Address of Slave %d, or remove it.", slave);
        break;
    case DeskRule::BadPort:
        note->field = IDC_DESK_PORT;
        _snprintf(note->text, room,
                  "The port of Slave %d must be a number from 1 to 65534. Skiprail connects on this port and "
                  "on the next one up, for the clipboard.",
                  slave);
        break;
    case DeskRule::NoPlace:
        _snprintf(note->text, room,
                  "Slave %d has no place yet: click an empty cell next to the Master or another Slave.", slave);
        break;
    case DeskRule::SamePartner:
        note->field = IDC_DESK_PORT;
        _snprintf(note->text, room,
                  "Slave %d and Slave %d have the same computer and port. Give each Slave its own computer or "
                  "port.",
                  static_cast<int>(problem.other), slave);
        break;
    case DeskRule::PortsNextTo:
        note->field = IDC_DESK_PORT;
        _snprintf(note->text, room,
                  "Slave %d and Slave %d use ports %d and %d. Each Slave takes its port and the next one up, for "
                  "the clipboard, so the ports of two Slaves must not lie next to each other.",
                  static_cast<int>(problem.other), slave, static_cast<int>(problem.otherPort),
                  static_cast<int>(problem.port));
        break;
    case DeskRule::SlaveOneUnplaced: _snprintf(note->text, room, "Choose the position of the slave PC."); break;
    case DeskRule::SameCell:
        _snprintf(note->text, room,
                  "Slave %d stands in the same cell as another PC. Two PCs cannot stand in one cell: place it in "
                  "an empty cell.",
                  slave);
        break;
    case DeskRule::NotJoined:
        _snprintf(note->text, room,
                  "Slave %d does not stand next to a PC that leads to the Master: place it in an empty cell next "
                  "to the Master or another Slave.",
                  slave);
        break;
    }
    return false;
}

// ---------------------------------------------------------------- More Slaves

// The grid of the picture: the Master and the cells two around it, and
// wider where a Slave stands further out, so that every PC shows with a free
// cell on each side.
struct Grid {
    int32_t firstX, firstY;  // the desk cell of the top left one
    int32_t columns, rows;
    int32_t left, top, cellWidth, cellHeight;
};

Grid gridOf(const Cells& cells, const RECT& area)
{
    int32_t lowX = -2, highX = 2, lowY = -2, highY = 2;
    for (int32_t i = 0; i < MAX_SLAVES; ++i) {
        if (!cells.placed[i]) continue;
        if (cells.x[i] - 1 < lowX) lowX = cells.x[i] - 1;
        if (cells.x[i] + 1 > highX) highX = cells.x[i] + 1;
        if (cells.y[i] - 1 < lowY) lowY = cells.y[i] - 1;
        if (cells.y[i] + 1 > highY) highY = cells.y[i] + 1;
    }
    Grid grid;
    grid.firstX = lowX;
    grid.firstY = lowY;
    grid.columns = highX - lowX + 1;
    grid.rows = highY - lowY + 1;
    grid.cellWidth = (area.right - area.left) / grid.columns;
    grid.cellHeight = (area.bottom - area.top) / grid.rows;
    grid.left = area.left + (area.right - area.left - grid.cellWidth * grid.columns) / 2;
    grid.top = area.top + (area.bottom - area.top - grid.cellHeight * grid.rows) / 2;
    return grid;
}

void showSelected(HWND dialog)
{
    const DeskSlave& slave = editing.more[selected - 1];
    filling = true;
    SetDlgItemTextA(dialog, IDC_DESK_PARTNER, slave.host);
    SetDlgItemTextA(dialog, IDC_DESK_PORT, slave.port);
    filling = false;
    CheckRadioButton(dialog, IDC_DESK_SLAVE2, IDC_DESK_SLAVE4, IDC_DESK_SLAVE2 + selected - 1);
}

// The chosen Slave's place in words, and the picture anew.
void showDesk(HWND dialog)
{
    const DeskSlave& slave = editing.more[selected - 1];
    char text[128] = "Not set up: type its computer and click a cell to place it.";
    const char* side = sideWords(slave.position);
    if (side && slave.nextTo == 0)
        _snprintf(text, sizeof text - 1, "%s the Master", side);
    else if (side)
        _snprintf(text, sizeof text - 1, "%s Slave %d", side, static_cast<int>(slave.nextTo));
    else if (isThere(slave))
        std::strcpy(text, "Not placed yet: click an empty cell next to a PC.");
    SetDlgItemTextA(dialog, IDC_DESK_PLACE, text);
    InvalidateRect(GetDlgItem(dialog, IDC_DESK_PICTURE), nullptr, TRUE);
}

void drawCell(HDC dc, RECT cell, COLORREF fill, COLORREF ink, const char* top, const char* bottom)
{
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc, &cell, brush);
    DeleteObject(brush);
    SetTextColor(dc, ink);
    RECT half = cell;
    InflateRect(&half, -2, 0);
    half.bottom = (cell.top + cell.bottom) / 2;
    if (!bottom) half.bottom = cell.bottom;
    DrawTextA(dc, top, -1, &half, DT_CENTER | DT_SINGLELINE | (bottom ? DT_BOTTOM : DT_VCENTER) | DT_NOPREFIX);
    if (!bottom) return;
    half.top = half.bottom;
    half.bottom = cell.bottom;
    DrawTextA(dc, bottom, -1, &half, DT_CENTER | DT_SINGLELINE | DT_TOP | DT_END_ELLIPSIS | DT_NOPREFIX);
}

void drawDesk(HWND dialog, const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    const Cells cells = cellsOf(editing);
    const Grid grid = gridOf(cells, item.rcItem);
    HBRUSH line = CreateSolidBrush(RGB(0xC0, 0xC0, 0xC0));
    HBRUSH mark = CreateSolidBrush(RGB(0xE0, 0x80, 0x00));
    for (int32_t row = 0; row < grid.rows; ++row) {
        for (int32_t column = 0; column < grid.columns; ++column) {
            const int32_t x = grid.firstX + column, y = grid.firstY + row;
            RECT cell = {grid.left + column * grid.cellWidth, grid.top + row * grid.cellHeight,
                         grid.left + (column + 1) * grid.cellWidth, grid.top + (row + 1) * grid.cellHeight};
            RECT inside = cell;
            InflateRect(&inside, -1, -1);
            const int32_t who = whoIsAt(cells, x, y);
            int32_t position = 0, nextTo = 0;
            char number[16];
            if (who == DESK_MASTER) {
                drawCell(dc, inside, RGB(0x2E, 0x4E, 0x8C), RGB(0xFF, 0xFF, 0xFF), "Master", nullptr);
            } else if (who == 0) {
                drawCell(dc, inside, RGB(0xC8, 0xDC, 0xF4), RGB(0, 0, 0), "Slave 1", editing.host1);
            } else if (who > 0) {
                _snprintf(number, sizeof number - 1, "Slave %d", static_cast<int>(who + 1));
                number[sizeof number - 1] = '\0';
                const char* host = editing.more[who - 1].host;
                drawCell(dc, inside, RGB(0xCC, 0xEC, 0xCC), RGB(0, 0, 0), number, host[0] ? host : "(no name)");
            } else if (anchorFor(cells, selected, x, y, &position, &nextTo)) {
                drawCell(dc, inside, RGB(0xF2, 0xF2, 0xF2), RGB(0, 0, 0), "", nullptr);  // a free cell next to a PC
            }
            FrameRect(dc, &cell, line);
            if (who == selected) {
                for (int ring = 1; ring <= 2; ++ring) {
                    RECT r = cell;
                    InflateRect(&r, -ring, -ring);
                    FrameRect(dc, &r, mark);
                }
            }
        }
    }
    DeleteObject(line);
    DeleteObject(mark);
    SelectObject(dc, oldFont);
}

// A click on the picture: the chosen Slave goes to that cell.
void onDeskClick(HWND dialog, POINT point)
{
    HWND picture = GetDlgItem(dialog, IDC_DESK_PICTURE);
    MapWindowPoints(dialog, picture, &point, 1);
    RECT area = {};
    GetClientRect(picture, &area);
    const Cells cells = cellsOf(editing);
    const Grid grid = gridOf(cells, area);
    if (point.x < grid.left || point.y < grid.top || grid.cellWidth <= 0 || grid.cellHeight <= 0) return;
    const int32_t column = (point.x - grid.left) / grid.cellWidth, row = (point.y - grid.top) / grid.cellHeight;
    if (column >= grid.columns || row >= grid.rows) return;
    const int32_t x = grid.firstX + column, y = grid.firstY + row;
    const int32_t who = whoIsAt(cells, x, y);
    if (who == selected) return;
    if (who != DESK_NONE) {
        char name[16] = "the Master";
        if (who >= 0) _snprintf(name, sizeof name - 1, "Slave %d", static_cast<int>(who + 1));
        noteAbout(dialog, "Two PCs cannot stand in one cell: %s stands there already. Click an empty cell.", name);
        return;
    }
    Cells wanted = cells;
    wanted.placed[selected] = true;
    wanted.x[selected] = x;
    wanted.y[selected] = y;
    if (movePlaces(dialog, &editing, selected, wanted)) showDesk(dialog);
}

void onDeskRemove(HWND dialog)
{
    if (!isThere(editing.more[selected - 1])) return;
    Cells wanted = cellsOf(editing);
    wanted.placed[selected] = false;
    if (!movePlaces(dialog, &editing, selected, wanted)) return;
    showSelected(dialog);
    showDesk(dialog);
}

void onDeskOk(HWND dialog)
{
    DeskNote problem;
    if (!checkDeskNote(editing, &problem)) {
        noteAbout(dialog, "%s", problem.text);
        if (problem.slave >= 2) {
            selected = problem.slave - 1;
            showSelected(dialog);
            showDesk(dialog);
        }
        if (problem.field) SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, problem.field)), TRUE);
        return;
    }
    deskCopy = editing;
    EndDialog(dialog, IDOK);
}

void onDeskCommand(HWND dialog, int id, int code)
{
    switch (id) {
    case IDC_DESK_SLAVE2:
    case IDC_DESK_SLAVE3:
    case IDC_DESK_SLAVE4:
        if (code != BN_CLICKED) break;
        selected = id - IDC_DESK_SLAVE2 + 1;
        showSelected(dialog);
        showDesk(dialog);
        break;
    case IDC_DESK_PARTNER:
    case IDC_DESK_PORT:
        if (code != EN_CHANGE || filling) break;
        GetDlgItemTextA(dialog, id, id == IDC_DESK_PARTNER ? editing.more[selected - 1].host : editing.more[selected - 1].port,
                        TEXT_AREA);
        showDesk(dialog);
        break;
    case IDC_DESK_REMOVE: onDeskRemove(dialog); break;
    case IDOK:            onDeskOk(dialog); break;
    case IDCANCEL:        EndDialog(dialog, IDCANCEL); break;
    default: break;
    }
}

INT_PTR CALLBACK deskDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_DESK_PARTNER, EM_LIMITTEXT, TEXT_AREA - 1, 0);
        SendDlgItemMessageA(dialog, IDC_DESK_PORT, EM_LIMITTEXT, TEXT_AREA - 1, 0);
        selected = 1;
        showSelected(dialog);
        showDesk(dialog);
        return TRUE;
    case WM_COMMAND: onDeskCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_DRAWITEM:
        if (wParam != IDC_DESK_PICTURE) return FALSE;
        drawDesk(dialog, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_LBUTTONDOWN: {
        POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        onDeskClick(dialog, point);
        return TRUE;
    }
    default: return FALSE;
    }
}

}  // namespace

void loadDeskCopy()
{
    for (int32_t i = 0; i < MORE; ++i) {
        DeskSlave& slave = deskCopy.more[i];
        const AppState::MoreSlave& loaded = app.moreSlaves[i];
        clearSlave(&slave);
        if (!loaded.present) continue;
        copyText(slave.host, loaded.host);
        _snprintf(slave.port, TEXT_AREA - 1, "%d", static_cast<int>(loaded.port));
        slave.position = loaded.position;
        slave.nextTo = loaded.nextTo;
    }
}

void runDeskDialog(HWND settings, int32_t position)
{
    takeSlaveOne(settings, position, &deskCopy);
    editing = deskCopy;
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DESK), settings, deskDialogProc, 0);
}

bool checkDeskOnOk(HWND settings, int32_t mode, int32_t position)
{
    takeSlaveOne(settings, position, &deskCopy);
    bool more = false;
    for (const DeskSlave& slave : deskCopy.more) more = more || isThere(slave);
    if (!more || mode == MODE_SLAVE) return true;
    DeskNote problem;
    if (checkDeskNote(deskCopy, &problem)) return true;
    noteAbout(settings, "%s\n\nChoose another Screen Position, or change Slaves 2 to 4 with More Slaves...",
              problem.text);
    return false;
}

bool writeDesk()
{
    bool saved = true;
    char name[32];
    for (int32_t i = 0; i < MORE; ++i) {
        const DeskSlave& slave = deskCopy.more[i];
        const int32_t number = i + 2;
        if (!isThere(slave)) {
            saved = removeSlaveSettings(number) && saved;
            continue;
        }
        slaveValueName("SRPartner", number, name);
        saved = writeRegistryText(SETTINGS_KEY, name, slave.host) && saved;
        slaveValueName("SRPort", number, name);
        saved = writeRegistryText(SETTINGS_KEY, name, slave.port) && saved;
        if (slave.position >= POS_LEFT && slave.position <= POS_BELOW) {
            slaveValueName("ScreenPos", number, name);  // stored 0 to 3: left, right, above, below
            saved = writeRegistryNumber(SETTINGS_KEY, name, slave.position - POS_LEFT) && saved;
        }
        slaveValueName("SRNextTo", number, name);
        saved = writeRegistryNumber(SETTINGS_KEY, name, slave.nextTo) && saved;
    }
    return saved;
}
