// Numbers shared by every module: modes, screen positions, control states,
// packet and event codes, private window messages, timers and control ids.
// Plain integers in distinct ranges, defined once here. No <windows.h>, so the
// portable core can use them too.
#pragma once

#include <cstdint>

// Modes.
constexpr int32_t MODE_SLAVE  = 3000;
constexpr int32_t MODE_MASTER = 3001;

// Where the Slave stands relative to the Master.
constexpr int32_t POS_LEFT  = 3002;
constexpr int32_t POS_RIGHT = 3003;
constexpr int32_t POS_ABOVE = 3004;
constexpr int32_t POS_BELOW = 3005;

// Who has control.
constexpr int32_t STATE_LOCAL  = 12023;
constexpr int32_t STATE_REMOTE = 12024;

// Packet types of the control connection.
constexpr int32_t PKT_INPUT       = 9014;
constexpr int32_t PKT_READY       = 9015;
constexpr int32_t PKT_ENTER       = 9016;
constexpr int32_t PKT_SCREEN_SIZE = 9017;
constexpr int32_t PKT_LEAVE       = 9019;
constexpr int32_t PKT_WHEEL       = 9020;
// Sent by each side when the control connection comes up: it reads the
// richer clipboard transfers (x: their version, y: what it takes). A
// partner that does not know the type ignores it, and is sent plain text.
constexpr int32_t PKT_CLIPBOARD_CAPS = 9021;
// A turn of the wheel to the side: laid out as PKT_WHEEL, positive to the
// right; sent only to a partner that announced INPUT_CAN_MORE_BUTTONS.
constexpr int32_t PKT_HWHEEL = 9022;

// Event codes carried inside PKT_INPUT.
constexpr int32_t EV_LEFT_UP    = 12017;
constexpr int32_t EV_LEFT_DOWN  = 12018;
constexpr int32_t EV_RIGHT_UP   = 12019;
constexpr int32_t EV_RIGHT_DOWN = 12020;
constexpr int32_t EV_KEY_UP     = 12021;
constexpr int32_t EV_KEY_DOWN   = 12022;
// The further buttons, sent only to a partner that announced
// INPUT_CAN_MORE_BUTTONS; to any other they stay on the Master.
constexpr int32_t EV_MIDDLE_UP   = 12060;
constexpr int32_t EV_MIDDLE_DOWN = 12061;
constexpr int32_t EV_X1_UP       = 12062;  // the side button that goes back
constexpr int32_t EV_X1_DOWN     = 12063;
constexpr int32_t EV_X2_UP       = 12064;  // the side button that goes forward
constexpr int32_t EV_X2_DOWN     = 12065;

// Messages the main window receives beside the system's own.
constexpr unsigned WM_HOOK_MOUSE       = 4047;   // hook library: low-level mouse event
constexpr unsigned WM_HOOK_KEYBOARD    = 4048;   // hook library: low-level keyboard event
constexpr unsigned WM_HOOK_HOTKEY      = 4049;   // hook library: a hotkey (wParam) was pressed
constexpr unsigned WM_SEND_READY       = 8049;   // answer the packet just replayed
constexpr unsigned WM_SEND_BUTTON      = 8050;   // send the next queued button event
constexpr unsigned WM_SEND_KEY         = 8051;   // send the next queued key event
constexpr unsigned WM_SET_CURSOR       = 8052;   // put the pointer at (wParam, lParam)
constexpr unsigned WM_SEND_WHEEL       = 8053;   // send the wheel turns that added up meanwhile
constexpr unsigned WM_LINK_BROKEN      = 8054;   // a send on control socket wParam failed for good
constexpr unsigned WM_SOCKET_GONE      = 8055;   // every notice of closed socket wParam has come round
constexpr unsigned WM_LINK_KEY_NOTICE  = 8062;   // tell the user the partner did not prove the link key
constexpr unsigned WM_HOST_FOUND       = 8063;   // the lookup of a partner's name with handle wParam ended
constexpr unsigned WM_ELEVATED_DONE    = 8064;   // a copy run as administrator started or ended (wParam: how)
constexpr unsigned WM_MASTER_ENTERED   = 8065;   // on a Slave: the Master entered; the window in front matters now
constexpr unsigned WM_DESK_STATE       = 8066;   // a link came up or went: the tray tip and the panel say so
constexpr unsigned WM_UNSAFE_START     = 8067;   // the task started this program from an unsafe place (wParam: taken off)
constexpr unsigned WM_CONTROL_SOCKET   = 9013;   // socket event of the control connection
constexpr unsigned WM_CLIPBOARD_SOCKET = 9018;   // socket event of the clipboard connection
constexpr unsigned WM_TRAY_NOTIFY      = 12027;  // mouse event over the tray icon

// Timers of the main window.
constexpr unsigned TIMER_SPLASH_SHOW = 12031;
constexpr unsigned TIMER_SPLASH_HIDE = 12032;
constexpr unsigned TIMER_LINK_ENGINE = 12040;  // the links' engine waits for this: a retry, a deadline, the silent partner
constexpr unsigned TIMER_PLACEMENT_CHECK = 12047;  // the pointer placed on the way back: did it get there?
constexpr unsigned TIMER_CLIPBOARD_STORE = 12050;  // a received clipboard waits for another program to close it
constexpr unsigned TIMER_CROSS_GUARD = 12051;  // a push against an edge has lasted the switch delay
constexpr unsigned TIMER_RECEIVED_FILES = 12055;   // hourly: files received more than a day ago are removed

// Diagnostic panel controls.
constexpr int IDC_STATUS1  = 12004;
constexpr int IDC_STATUS2  = 12005;
constexpr int IDC_CLIENT   = 12006;
constexpr int IDC_SERVER   = 12007;
constexpr int IDC_SEND     = 12008;
constexpr int IDC_ACTIVATE = 12009;
constexpr int IDC_STATUS3  = 12010;
constexpr int IDC_STATUS4  = 12011;
constexpr int IDC_STATUS5  = 12016;

// Tray icon and its menu.
constexpr unsigned ID_TRAYICON = 12026;
constexpr int IDM_SETTINGS = 12028;
constexpr int IDM_TOGGLE   = 12029;
constexpr int IDM_EXIT     = 12030;
constexpr int IDM_ABOUT    = 12034;
constexpr int IDM_START_WITH_WINDOWS = 12036;  // for this user: the Run value
constexpr int IDM_START_OFF = 12037;
constexpr int IDM_START_AS_ADMIN = 12038;     // with administrator rights: the scheduled task
constexpr int IDM_RESTART_ELEVATED = 12039;
constexpr int IDM_LINK_KEY = 12035;

// Socket event mask: FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE.
constexpr long SOCKET_EVENTS = 59;

constexpr int PACKET_SIZE = 56;
