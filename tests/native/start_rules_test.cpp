#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

#include "app/start_rules.h"
#include "app/task_xml.h"

TEST(StartRules, TheCommandLineSetsTheStartOrIsRefused)
{
    EXPECT_EQ(parseCommandLine("").command, COMMAND_NONE);
    EXPECT_EQ(parseCommandLine(" \t").command, COMMAND_NONE);
    EXPECT_EQ(parseCommandLine("/startup admin").command, COMMAND_START_ADMIN);
    EXPECT_EQ(parseCommandLine("  -STARTUP  \"User\" ").command, COMMAND_START_USER);
    EXPECT_EQ(parseCommandLine("/Startup off").command, COMMAND_START_OFF);
    EXPECT_EQ(parseCommandLine("/close").command, COMMAND_CLOSE);
    EXPECT_EQ(parseCommandLine("-Reopen").command, COMMAND_REOPEN);
    for (const char* bad : {"/startup", "/startup on", "/startup admin now", "startup admin", "/startupadmin",
                            "/startup adminxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "/takeover 0",
                            "/takeover 12x", "/takeover 99999999999999999999999", "/?",
                            "/close now", "/reopen /close"})
        EXPECT_EQ(parseCommandLine(bad).command, COMMAND_BAD) << bad;
    const CommandLine takeOver = parseCommandLine("/takeover 4195362");
    EXPECT_EQ(takeOver.command, COMMAND_TAKE_OVER);
    EXPECT_EQ(takeOver.window, 4195362u);
}

// Told only where Windows keeps this program's input out and it matters, and
// once per program, whatever the letter case of its name.
TEST(StartRules, TheWordOnAnElevatedProgramComesWhenItMattersAndOncePerProgram)
{
    ProgramsTold told;
    ForegroundScene scene;
    scene.foregroundElevated = true;
    scene.program = "Taskmgr.exe";
    EXPECT_FALSE(shouldTellElevated(scene, told));  // a Slave its Master cannot drive now
    scene.slaveDriven = true;
    scene.selfElevated = true;
    EXPECT_FALSE(shouldTellElevated(scene, told));  // Skiprail runs as administrator too
    scene.selfElevated = false;
    scene.foregroundElevated = false;
    EXPECT_FALSE(shouldTellElevated(scene, told));
    scene.foregroundElevated = true;
    EXPECT_TRUE(shouldTellElevated(scene, told));
    scene.slaveDriven = false;
    scene.master = true;
    scene.program = "TASKMGR.EXE";
    EXPECT_FALSE(shouldTellElevated(scene, told));
    scene.program = "regedit.exe";
    EXPECT_TRUE(shouldTellElevated(scene, told));
    EXPECT_FALSE(shouldTellElevated(scene, told));

    // A full list tells no more, and never writes past its end.
    char name[16];
    for (int i = told.count; i < ProgramsTold::CAPACITY; ++i) {
        std::snprintf(name, sizeof name, "p%d.exe", i);
        scene.program = name;
        EXPECT_TRUE(shouldTellElevated(scene, told));
    }
    scene.program = "setup.exe";
    EXPECT_FALSE(shouldTellElevated(scene, told));
}

// What Wine's scheduler does not keep, checked where the text is made: the
// trigger, the rights and the program, written as XML whatever the path holds.
TEST(StartRules, TheTaskStartsTheProgramAtTheUsersLogonWithTheHighestRights)
{
    static wchar_t xml[TASK_XML_SIZE];
    ASSERT_TRUE(startupTaskXml(L"PC\\ann", L"C:\\Tools & <Co>\\skiprail.exe", xml));
    for (const wchar_t* part :
         {L"<LogonTrigger>\n      <Enabled>true</Enabled>\n      <UserId>PC\\ann</UserId>",
          L"<UserId>PC\\ann</UserId>\n      <LogonType>InteractiveToken</LogonType>\n"
          L"      <RunLevel>HighestAvailable</RunLevel>",
          L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
          L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
          L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>", L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
          L"<Command>C:\\Tools &amp; &lt;Co&gt;\\skiprail.exe</Command>"})
        EXPECT_NE(std::wcsstr(xml, part), nullptr) << part;
    EXPECT_EQ(std::wcsstr(xml, L"& <"), nullptr);
    wchar_t longPath[TASK_XML_SIZE];
    std::wmemset(longPath, L'a', TASK_XML_SIZE - 1);
    longPath[TASK_XML_SIZE - 1] = 0;
    EXPECT_FALSE(startupTaskXml(L"PC\\ann", longPath, xml));
}
