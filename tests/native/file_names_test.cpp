// The rules for the names of files that cross: the partner's names (checked
// by filePathAllowed) never leave the drop folder; a Linux name Windows
// cannot hold is renamed visibly, and names that Windows would take for one
// (case aside) are told apart; the lists Linux file managers put files on
// the clipboard with.
#include <gtest/gtest.h>

#include "clipboard/file_list.h"
#include "clipboard/file_names.h"

namespace {

bool allowed(const std::string& path)
{
    return filePathAllowed(path.data(), path.size());
}

}  // namespace

TEST(FileNames, APartnersNameNeverLeavesTheDropFolder)
{
    for (const char* hostile : {"..", "../x", "a/../../b", "/etc/passwd", "a//b", "a/./b", "C:x", "a\\..\\b",
                                "a/", "CON", "lpt1.txt", "x\x01y", "ends."})
        EXPECT_FALSE(allowed(hostile)) << hostile;
    for (const char* fine : {"a", "folder/sub/file.txt", "Grüße/файл.txt", ".hidden", "a b"})
        EXPECT_TRUE(allowed(fine)) << fine;
}

TEST(FileNames, LinuxNamesWindowsCannotHoldAreRenamedVisibly)
{
    EXPECT_EQ(windowsName("plain name.txt"), "plain name.txt");
    EXPECT_EQ(windowsName("Grüße 😀.txt"), "Grüße 😀.txt");
    EXPECT_EQ(windowsName("a:b*c?d\"e<f>g|h\\i.txt"), "a_b_c_d_e_f_g_h_i.txt");
    EXPECT_EQ(windowsName("tab\there"), "tab_here");
    EXPECT_EQ(windowsName("ends in a dot."), "ends in a dot_");
    EXPECT_EQ(windowsName("ends in a space "), "ends in a space_");
    EXPECT_EQ(windowsName("CON"), "CON_");
    EXPECT_EQ(windowsName("nul.txt"), "nul_.txt");
    EXPECT_EQ(windowsName("com1.tar.gz"), "com1_.tar.gz");
    EXPECT_EQ(windowsName("console.txt"), "console.txt");
    EXPECT_EQ(windowsName("bad\xff\xfe.bin"), "bad__.bin");
    const std::string longName = std::string(300, 'x') + ".txt";
    const std::string cut = windowsName(longName);
    EXPECT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    for (const char* name : {"a:b", "CON", "x.", "bad\xff", "\x01"}) EXPECT_TRUE(allowed(windowsName(name))) << name;

    // One folder, as Windows compares names: without regard to case.
    FolderNames names;
    EXPECT_EQ(names.unique("Report.txt"), "Report.txt");
    EXPECT_EQ(names.unique("report.TXT"), "report (2).TXT");
    EXPECT_EQ(names.unique(windowsName("report?.txt")), "report_.txt");
    EXPECT_EQ(names.unique(windowsName("report*.txt")), "report_ (2).txt");
    EXPECT_EQ(names.unique("ÄRGER"), "ÄRGER");
    EXPECT_EQ(names.unique("ärger"), "ärger (2)");
    EXPECT_EQ(names.unique("Folder"), "Folder");
    EXPECT_EQ(names.unique("folder"), "folder (2)");
}

TEST(FileNames, TheListsFileManagersCopyWith)
{
    bool cut = false;
    EXPECT_EQ(pathsFromGnomeCopied("copy\nfile:///home/u/a%20b.txt\nfile:///home/u/Gr%C3%BC%C3%9Fe", &cut),
              (std::vector<std::string>{"/home/u/a b.txt", "/home/u/Grüße"}));
    EXPECT_FALSE(cut);
    EXPECT_EQ(pathsFromGnomeCopied("cut\nfile:///tmp/x\n", &cut), std::vector<std::string>{"/tmp/x"});
    EXPECT_TRUE(cut);
    EXPECT_EQ(pathsFromUriList("# a comment\r\nfile:///tmp/one\r\nhttp://example.org/x\r\nfile://localhost/tmp/two/\r\n"
                               "file://otherhost/tmp/three\r\nfile:///tmp/%00nul\r\nfile:relative\r\n"),
              (std::vector<std::string>{"/tmp/one", "/tmp/two"}));
    const std::vector<std::string> paths = {"/run/user/1000/skiprail/received/1-2-3/a b#?%.txt", "/tmp/Grüße"};
    EXPECT_EQ(pathsFromUriList(uriListOf(paths)), paths);
    EXPECT_EQ(pathsFromGnomeCopied(gnomeCopiedOf(paths), &cut), paths);
    EXPECT_EQ(gnomeCopiedOf({"/tmp/a b"}), "copy\nfile:///tmp/a%20b");
    EXPECT_EQ(uriListOf({"/tmp/a"}), "file:///tmp/a\r\n");
}
