#include "windows/app/pictures.h"

#include "windows/link/link.h"
#include "resources/resource.h"

namespace {

// What the three windows' dialog procedures differ in.
struct Picture {
    int bitmapId;
    HBITMAP AppState::*field;
    int originX;
    const char* failure;
};

const Picture NOTICE = {IDI_CONBITMAP, &AppState::noticeBitmap, 0, "Could not load IDI_CONBITMAP resource!"};
const Picture SPLASH = {IDI_SPLASHBITMAP, &AppState::splashBitmap, 0, "Could not load IDI_SPLASHBITMAP resource!"};
const Picture ABOUT = {IDI_ABOUT, &AppState::aboutBitmap, 1, "Could not load IDI_ABOUT resource!"};

// The notice's own message: a fade-out has run down; wParam is its number.
// The hide is done here, on the thread that owns the notice, and only if no
// fade has started since: a fade-in that began meanwhile keeps it shown.
constexpr UINT WM_NOTICE_FADED_OUT = WM_APP + 1;

HINSTANCE ownInstance()
{
    return GetModuleHandleA(nullptr);
}

void applyAlpha(HWND window, LONG alpha)
{
    SetLayeredWindowAttributes(window, 0, static_cast<BYTE>(alpha & 0xFF), LWA_ALPHA);
}

// Holds a notice fade's step (the test whether to go on, applying the
// opacity, changing it), never its sleep. The main thread takes it only to
// number a new fade, so it waits at most for the one step in progress.
struct StepLock {
    CRITICAL_SECTION section;
    StepLock() { InitializeCriticalSection(&section); }
};
StepLock noticeStep;

// The number of the notice fade that may run; every start of a fade counts
// it up, which stops the one before at its next step. Written by the main
// thread only, under the step lock.
volatile LONG currentNoticeFade = 0;

// The fade's number in the high bits, the direction (1 in, 0 out) in bit 0.
void* noticeFadeParameter(LONG number, bool in)
{
    return reinterpret_cast<void*>((static_cast<UINT_PTR>(number) << 1) | (in ? 1u : 0u));
}

// One notice fade: in runs the opacity up by 2 while it is below 200, out
// runs it down by 2 while it is above 1, each step applying the value before
// changing it. Ends as soon as a newer fade has started, touching nothing.
DWORD runNoticeFade(void* parameter, bool paced)
{
    const LONG number = static_cast<LONG>(reinterpret_cast<UINT_PTR>(parameter) >> 1);
    const bool in = (reinterpret_cast<UINT_PTR>(parameter) & 1) != 0;
    for (;;) {
        EnterCriticalSection(&noticeStep.section);
        const bool current = currentNoticeFade == number;
        const bool more = current && (in ? app.noticeAlpha < 200 : app.noticeAlpha > 1);
        if (more) {
            applyAlpha(app.noticeWindow, app.noticeAlpha);
            app.noticeAlpha += in ? 2 : -2;
        }
        LeaveCriticalSection(&noticeStep.section);
        if (!more) {
            if (current && !in) PostMessageA(app.noticeWindow, WM_NOTICE_FADED_OUT, static_cast<WPARAM>(number), 0);
            return 0;
        }
        if (paced) Sleep(1);
    }
}

DWORD WINAPI noticeFadeThread(void* parameter)
{
    return runNoticeFade(parameter, true);
}

void startNoticeFade(bool in)
{
    EnterCriticalSection(&noticeStep.section);
    const LONG number = currentNoticeFade + 1;
    currentNoticeFade = number;
    LeaveCriticalSection(&noticeStep.section);

    // Shown without taking the focus from the user's program.
    if (in) ShowWindow(app.noticeWindow, SW_SHOWNA);
    HANDLE thread = CreateThread(nullptr, 0, noticeFadeThread, noticeFadeParameter(number, in), 0, nullptr);
    HANDLE& last = in ? app.noticeFadeInThread : app.noticeFadeOutThread;
    if (last) CloseHandle(last);  // the thread goes on; only its handle is let go
    last = thread;
    // Without a thread of its own the fade runs to its end at once.
    if (!thread) runNoticeFade(noticeFadeParameter(number, in), false);
}

// Starts a splash fade on a thread whose handle is not kept; without a
// thread it runs here.
void startSplashFade(LPTHREAD_START_ROUTINE fade)
{
    HANDLE thread = CreateThread(nullptr, 0, fade, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        fade(nullptr);
}

DWORD WINAPI splashFadeInThread(void*)
{
    while (app.splashAlpha < 255) {
        applyAlpha(app.splashWindow, app.splashAlpha);
        app.splashAlpha += 3;
        Sleep(1);
    }
    SetTimer(app.mainWindow, TIMER_SPLASH_HIDE, 3000, nullptr);
    return 0;
}

DWORD WINAPI splashFadeOutThread(void*)
{
    app.splashAlpha = 255;
    while (app.splashAlpha > 1) {
        applyAlpha(app.splashWindow, app.splashAlpha);
        app.splashAlpha -= 3;
        Sleep(1);
    }
    ShowWindow(app.splashWindow, SW_HIDE);
    return 0;
}

// With several Slaves the notice says which one has control, on its second
// line, in the picture's own colours: "Slave 2 in control".
void nameTheSlave(HDC target, HDC picture)
{
    if (slavesSetUp() < 2 || !controlLink()) return;
    RECT line = {44, 25, 116, 39};
    const COLORREF background = GetPixel(picture, 112, 20);  // beside the name, above the line
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(target, &line, brush);
    DeleteObject(brush);
    char text[32];
    lstrcpynA(text, linkName(*controlLink()), 16);
    lstrcatA(text, " in control");
    const int n = lstrlenA(text);
    // The picture's own small print, narrowed where the line would not fit
    // its room; chosen at the first showing and kept ("Slave N in control"
    // is as long for every N).
    static HFONT smallPrint = nullptr;
    static const int WIDTHS[] = {0, 4, 3};
    for (int narrow = 0; !smallPrint && narrow < 3; ++narrow) {
        HFONT made = CreateFontA(-10, WIDTHS[narrow], 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                                 "Tahoma");
        if (!made) continue;
        HGDIOBJ was = SelectObject(target, made);
        SIZE extent = {};
        const bool fits = GetTextExtentPoint32A(target, text, n, &extent) && extent.cx <= line.right - line.left;
        SelectObject(target, was);
        if (fits || narrow == 2) smallPrint = made;
        else DeleteObject(made);
    }
    HGDIOBJ font = SelectObject(target, smallPrint ? static_cast<HGDIOBJ>(smallPrint) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(target, TRANSPARENT);
    SetTextColor(target, RGB(190, 205, 225));
    DrawTextA(target, text, n, &line, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(target, font);
}

void paintPicture(HWND window, const Picture& picture)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    HBITMAP bitmap = app.*picture.field;
    if (target && bitmap) {
        HDC source = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(source, bitmap);
        BITMAP size = {};
        GetObjectA(bitmap, sizeof size, &size);
        BitBlt(target, picture.originX, 0, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
        if (&picture == &NOTICE) nameTheSlave(target, source);
        SelectObject(source, previous);
        DeleteDC(source);
    }
    EndPaint(window, &paint);
}

// The dialog procedure the three windows share.
INT_PTR pictureProc(const Picture& picture, HWND dialog, UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        // The About box loads its picture each time it opens: the last one goes.
        HBITMAP& bitmap = app.*picture.field;
        if (bitmap) DeleteObject(bitmap);
        bitmap = LoadBitmapA(ownInstance(), MAKEINTRESOURCEA(picture.bitmapId));
        if (!bitmap) MessageBoxA(dialog, picture.failure, "Error", MB_OK | MB_ICONWARNING);
        return TRUE;
    }
    case WM_PAINT:
        paintPicture(dialog, picture);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 2);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK noticeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_NOTICE_FADED_OUT) {
        // A fade-in the main thread starts meanwhile counts the number up
        // first and shows the notice after, by a message this thread handles
        // after this one: either way the notice ends up shown.
        if (static_cast<LONG>(wParam) == currentNoticeFade) ShowWindow(dialog, SW_HIDE);
        return TRUE;
    }
    return pictureProc(NOTICE, dialog, message, wParam);
}

INT_PTR CALLBACK splashProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return pictureProc(SPLASH, dialog, message, wParam);
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return pictureProc(ABOUT, dialog, message, wParam);
}

// The About box while it is open: choosing About again brings it forward.
HWND openAbout = nullptr;

INT_PTR CALLBACK aboutTracker(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) openAbout = dialog;
    if (message == WM_DESTROY) openAbout = nullptr;
    return aboutProc(dialog, message, wParam, lParam);
}

}  // namespace

namespace {

// The picture thread. The notice and the splash belong to a thread of their
// own, which does nothing else: on some systems (Wine among them) every
// opacity step of a fade has the window's owner bring the window up to date,
// a millisecond or more for the splash, and the user's keys and pointer must
// not wait behind that on the main thread. The thread only makes the two
// windows and runs their messages; it lives as long as the process.
constexpr UINT WM_MAKE_PICTURE = WM_APP + 2;  // a thread message; lParam a PictureRequest

struct PictureRequest {
    int templateId;
    DLGPROC procedure;
    HWND window;
};

HANDLE pictureThread = nullptr;
DWORD pictureThreadId = 0;
HANDLE pictureMade = nullptr;  // set once the thread's queue exists, then after each window

DWORD WINAPI runPictureThread(void*)
{
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists from here on
    SetEvent(pictureMade);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!message.hwnd && message.message == WM_MAKE_PICTURE) {
            auto* request = reinterpret_cast<PictureRequest*>(message.lParam);
            request->window = CreateDialogParamA(ownInstance(), MAKEINTRESOURCEA(request->templateId), nullptr,
                                                 request->procedure, 0);
            SetEvent(pictureMade);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// Waits for the picture thread's answer; false when the thread has ended.
// Messages the picture thread sends to this thread's windows meanwhile (a
// box it shows changes the activation) are let through, or both would wait.
bool awaitPictureThread()
{
    HANDLE handles[] = {pictureMade, pictureThread};
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 2) return false;  // the thread ended, or the wait failed
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
}

bool startPictureThread()
{
    if (pictureThread) return true;
    pictureMade = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!pictureMade) return false;
    pictureThread = CreateThread(nullptr, 0, runPictureThread, nullptr, 0, &pictureThreadId);
    if (pictureThread && awaitPictureThread()) return true;
    if (pictureThread) CloseHandle(pictureThread);
    pictureThread = nullptr;
    return false;
}

// A hidden picture window, made on the picture thread; on this thread should
// that thread not run.
HWND makePicture(int templateId, DLGPROC procedure)
{
    PictureRequest request = {templateId, procedure, nullptr};
    if (startPictureThread() &&
        PostThreadMessageA(pictureThreadId, WM_MAKE_PICTURE, 0, reinterpret_cast<LPARAM>(&request)) &&
        awaitPictureThread())
        return request.window;
    return CreateDialogParamA(ownInstance(), MAKEINTRESOURCEA(templateId), app.mainWindow, procedure, 0);
}

}  // namespace

void createNoticeWindow()
{
    app.noticeWindow = makePicture(IDD_NOTICE, noticeProc);
}

void createSplashWindow()
{
    app.splashWindow = makePicture(IDD_SPLASH, splashProc);
}

int showAboutDialog()
{
    if (openAbout) {
        SetForegroundWindow(openAbout);
        return 0;
    }
    const INT_PTR result =
        DialogBoxParamA(ownInstance(), MAKEINTRESOURCEA(IDD_ABOUT), app.mainWindow, aboutTracker, 0);
    if (result == 1) return 1;
    if (result == -1) MessageBoxA(nullptr, "About Dialog Failed.", "Notice", MB_OK | MB_ICONWARNING);
    return 0;
}

void showControlNotice()
{
    if (app.noticeWindow) InvalidateRect(app.noticeWindow, nullptr, FALSE);
}

void fadeNoticeIn()
{
    showControlNotice();
    startNoticeFade(true);
}

void fadeNoticeOut()
{
    startNoticeFade(false);
}

void fadeSplashIn()
{
    ShowWindow(app.splashWindow, SW_SHOWNA);
    startSplashFade(splashFadeInThread);
}

void fadeSplashOut()
{
    startSplashFade(splashFadeOutThread);
}
