#include "windows/app/startup_task.h"

// The scheduler's interfaces come with Windows Vista: their declarations are
// asked for here alone, and nothing of them is imported.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <taskschd.h>

#include "windows/app/system_library.h"
#include "app/task_xml.h"


namespace {

const wchar_t TASK_NAME[] = L"Skiprail";

const GUID CLSID_SCHEDULER = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const GUID IID_SCHEDULER = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
const GUID IID_EXEC_ACTION = {0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};

// COM and its strings, from the system's own DLLs in the system folder, found
// at run time.
struct Com {
    HRESULT(WINAPI* initialize)(void*, DWORD) = nullptr;
    void(WINAPI* uninitialize)() = nullptr;
    HRESULT(WINAPI* createInstance)(REFCLSID, IUnknown*, DWORD, REFIID, void**) = nullptr;
    BSTR(WINAPI* allocString)(const OLECHAR*) = nullptr;
    void(WINAPI* freeString)(BSTR) = nullptr;
};

template <typename F>
bool find(HMODULE module, const char* name, F* out)
{
    *out = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    return *out != nullptr;
}

bool loadCom(Com& com)
{
    HMODULE ole = loadSystemLibrary("ole32.dll"), automation = loadSystemLibrary("oleaut32.dll");
    return find(ole, "CoInitializeEx", &com.initialize) && find(ole, "CoUninitialize", &com.uninitialize) &&
           find(ole, "CoCreateInstance", &com.createInstance) && find(automation, "SysAllocString", &com.allocString) &&
           find(automation, "SysFreeString", &com.freeString);
}

template <typename T>
void release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

// A BSTR for as long as the block it is made in.
struct Text {
    const Com& com;
    BSTR text;
    Text(const Com& c, const wchar_t* value) : com(c), text(c.allocString(value)) {}
    ~Text() { if (text) com.freeString(text); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
};

// The root folder of the scheduler on this PC, COM started for it: end()
// undoes both.
struct Scheduler {
    Com com;
    bool started = false;
    ITaskService* service = nullptr;
    ITaskFolder* root = nullptr;

    bool open()
    {
        if (!loadCom(com)) return false;
        const HRESULT init = com.initialize(nullptr, COINIT_APARTMENTTHREADED);
        started = SUCCEEDED(init);  // S_FALSE too: COM was started already and counts one more
        if (FAILED(init) && init != RPC_E_CHANGED_MODE) return false;
        if (FAILED(com.createInstance(CLSID_SCHEDULER, nullptr, CLSCTX_INPROC_SERVER, IID_SCHEDULER,
                                      reinterpret_cast<void**>(&service))))
            return false;
        VARIANT none = {};
        none.vt = VT_EMPTY;
        if (FAILED(service->Connect(none, none, none, none))) return false;
        Text path(com, L"\\");
        return path.text && SUCCEEDED(service->GetFolder(path.text, &root));
    }

    ~Scheduler()
    {
        release(root);
        release(service);
        if (started) com.uninitialize();
    }
};

bool ownPath(wchar_t (&path)[MAX_PATH + 1])
{
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// "DOMAIN\user" of the account this program runs as.
bool ownAccount(wchar_t (&account)[600])
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[512];
    } buffer;
    DWORD size = 0;
    const BOOL got = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size);
    CloseHandle(token);
    if (!got) return false;
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, buffer.user.User.Sid, name, &nameSize, domain, &domainSize, &use)) return false;
    account[0] = 0;
    if (domain[0]) {
        lstrcpyW(account, domain);
        lstrcatW(account, L"\\");
    }
    lstrcatW(account, name);
    return true;
}

wchar_t taskDefinition[TASK_XML_SIZE];  // 16 KB: not on the stack

// Whether the task starts the program at `own`: its first action's program
// (the path may be in quotes). A scheduler that gives no actions back (Wine's
// keeps none) still keeps the description, which names the program too.
bool startsProgram(const Com& com, IRegisteredTask* task, const wchar_t* own)
{
    ITaskDefinition* definition = nullptr;
    IActionCollection* actions = nullptr;
    IAction* action = nullptr;
    IExecAction* exec = nullptr;
    IRegistrationInfo* registration = nullptr;
    BSTR path = nullptr, description = nullptr;
    bool same = false;
    if (SUCCEEDED(task->get_Definition(&definition)) && SUCCEEDED(definition->get_Actions(&actions)) &&
        SUCCEEDED(actions->get_Item(1, &action)) &&
        SUCCEEDED(action->QueryInterface(IID_EXEC_ACTION, reinterpret_cast<void**>(&exec))) &&
        SUCCEEDED(exec->get_Path(&path)) && path && path[0]) {
        wchar_t* program = path;
        const int length = lstrlenW(program);
        if (length >= 2 && program[0] == L'"' && program[length - 1] == L'"') {
            program[length - 1] = 0;
            ++program;
        }
        same = lstrcmpiW(program, own) == 0;
    } else if (definition && !action && SUCCEEDED(definition->get_RegistrationInfo(&registration)) &&
               SUCCEEDED(registration->get_Description(&description)) && description) {
        wchar_t account[600], expected[TASK_DESCRIPTION_SIZE];
        same = ownAccount(account) && startupTaskDescription(account, own, expected) &&
               lstrcmpiW(description, expected) == 0;
    }
    if (path) com.freeString(path);
    if (description) com.freeString(description);
    release(registration);
    release(exec);
    release(action);
    release(actions);
    release(definition);
    return same;
}

}  // namespace

bool startupTaskPossible()
{
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 6;
    const DWORDLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&version, VER_MAJORVERSION, mask) == TRUE;
}

StartupTaskState startupTaskState()
{
    if (!startupTaskPossible()) return TASK_ABSENT;
    Scheduler scheduler;
    if (!scheduler.open()) return TASK_ABSENT;
    Text name(scheduler.com, TASK_NAME);
    IRegisteredTask* task = nullptr;
    const HRESULT found = scheduler.root->GetTask(name.text, &task);
    if (FAILED(found))
        return found == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || found == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                   ? TASK_ABSENT
                   : TASK_OTHER;
    wchar_t own[MAX_PATH + 1];
    const bool ours = ownPath(own) && startsProgram(scheduler.com, task, own);
    release(task);
    return ours ? TASK_OURS : TASK_OTHER;
}

bool writeStartupTask()
{
    wchar_t own[MAX_PATH + 1], account[600];
    if (!startupTaskPossible() || !ownPath(own) || !ownAccount(account) ||
        !startupTaskXml(account, own, taskDefinition))
        return false;
    Scheduler scheduler;
    if (!scheduler.open()) return false;
    Text name(scheduler.com, TASK_NAME), xml(scheduler.com, taskDefinition);
    if (!name.text || !xml.text) return false;
    VARIANT none = {};
    none.vt = VT_EMPTY;
    IRegisteredTask* task = nullptr;
    const HRESULT written = scheduler.root->RegisterTask(name.text, xml.text, TASK_CREATE_OR_UPDATE, none, none,
                                                         TASK_LOGON_INTERACTIVE_TOKEN, none, &task);
    release(task);
    return SUCCEEDED(written);
}

bool removeStartupTask()
{
    if (!startupTaskPossible()) return true;
    Scheduler scheduler;
    if (!scheduler.open()) return false;
    Text name(scheduler.com, TASK_NAME);
    const HRESULT removed = scheduler.root->DeleteTask(name.text, 0);
    return SUCCEEDED(removed) || removed == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
           removed == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}
