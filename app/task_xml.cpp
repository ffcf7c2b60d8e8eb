#include "app/task_xml.h"

namespace {

// Text written into a fixed buffer; `full` once anything did not fit.
struct Writer {
    wchar_t* text;
    int32_t size;
    int32_t length = 0;
    bool full = false;

    Writer(wchar_t* out, int32_t outSize) : text(out), size(outSize) { text[0] = 0; }

    void put(wchar_t c)
    {
        if (length + 1 >= size) {
            full = true;
            return;
        }
        text[length++] = c;
        text[length] = 0;
    }
    void add(const wchar_t* part)
    {
        for (; *part; ++part) put(*part);
    }
    // As XML text: its five special characters as entities.
    void addEscaped(const wchar_t* part)
    {
        for (; *part; ++part) {
            switch (*part) {
            case L'&': add(L"&amp;"); break;
            case L'<': add(L"&lt;"); break;
            case L'>': add(L"&gt;"); break;
            case L'"': add(L"&quot;"); break;
            case L'\'': add(L"&apos;"); break;
            default: put(*part);
            }
        }
    }
};

}  // namespace

bool startupTaskDescription(const wchar_t* account, const wchar_t* program, wchar_t (&out)[TASK_DESCRIPTION_SIZE])
{
    Writer text(out, TASK_DESCRIPTION_SIZE);
    text.add(L"Starts ");
    text.add(program);
    text.add(L" with administrator rights when ");
    text.add(account);
    text.add(L" logs on.");
    return !text.full;
}

// At the user's logon, with the highest rights the account has, in the
// user's own session; never stopped, on batteries too, and a start while one
// runs is passed over. At normal priority: the scheduler's own default (7)
// would start the program below normal, and its input would lag under load.
bool startupTaskXml(const wchar_t* account, const wchar_t* program, wchar_t (&out)[TASK_XML_SIZE])
{
    wchar_t description[TASK_DESCRIPTION_SIZE];
    if (!startupTaskDescription(account, program, description)) return false;
    Writer xml(out, TASK_XML_SIZE);
    xml.add(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
            L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
            L"  <RegistrationInfo>\n"
            L"    <Description>");
    xml.addEscaped(description);
    xml.add(L"</Description>\n"
            L"  </RegistrationInfo>\n"
            L"  <Triggers>\n"
            L"    <LogonTrigger>\n"
            L"      <Enabled>true</Enabled>\n"
            L"      <UserId>");
    xml.addEscaped(account);
    xml.add(L"</UserId>\n"
            L"    </LogonTrigger>\n"
            L"  </Triggers>\n"
            L"  <Principals>\n"
            L"    <Principal id=\"Author\">\n"
            L"      <UserId>");
    xml.addEscaped(account);
    xml.add(L"</UserId>\n"
            L"      <LogonType>InteractiveToken</LogonType>\n"
            L"      <RunLevel>HighestAvailable</RunLevel>\n"
            L"    </Principal>\n"
            L"  </Principals>\n"
            L"  <Settings>\n"
            L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
            L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
            L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
            L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
            L"    <Priority>4</Priority>\n"
            L"    <Enabled>true</Enabled>\n"
            L"  </Settings>\n"
            L"  <Actions Context=\"Author\">\n"
            L"    <Exec>\n"
            L"      <Command>");
    xml.addEscaped(program);
    xml.add(L"</Command>\n"
            L"    </Exec>\n"
            L"  </Actions>\n"
            L"</Task>\n");
    return !xml.full;
}
