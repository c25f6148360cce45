// The help menu driven by scripted answers over help files in a scratch ZEP_HOME, and the shipped help.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "help/help_menu.h"
#include "support/cli.h"

namespace {

const std::string BAR = "----------------------------------------------\n";
const std::string ASK = BAR + "--- choose item: 0 = main menu, return = back \n" + BAR + "help >";
const std::string MAIN = "MAIN\n" + ASK + " ", MENU1 = "MENU1\n" + ASK + "> ";

// help_menu on file with answers on standard input; what it printed.
std::string dialogue(const TempDir &dir, const std::string &answers, int expected_result, const char *file = "m.txt") {
    EXPECT_NE(std::freopen(dir.write("answers", answers).c_str(), "r", stdin), nullptr);
    std::string out = stdout_of([&] { EXPECT_EQ(help_menu(0, file), expected_result) << answers; });
    EXPECT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    return out;
}

}  // namespace

TEST(HelpMenu, DialoguesAndRefusedMarkerLayouts) {
    TempDir dir;
    setenv("ZEP_HOME", dir.path().c_str(), 1);
    const std::string five = "!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nITEM11\n!1 2\nITEM12\n!2 0\nPLAIN2\n";
    const std::string hands_over = "!0 0\nMAIN\n!1 0\nMENU1\n> s.txt\n!1 1\nBEFORE\n> s.txt\nNOT SHOWN\n!1 2\n>  gone.txt\n";
    const std::string over = MAIN + "MENU1\n> s.txt\n" + ASK + "> BEFORE\n@s.txt\nSECOND\n" + ASK + " ";
    const std::string bad = "Bad option. Choose '0', 'b', 'q', or a number from 1 to ";
    dir.write("documentation/s.txt", "!0 0\nSECOND\n!1 0\nPLAIN\n");
    struct Case {
        std::string file, answers;
        int result;
        std::string expected;  // after the file's name; @ stands for the help folder
    };
    const Case cases[] = {
        {five, "1\n2\n\n2\n\n", 0, MAIN + MENU1 + "ITEM12\n" + MENU1 + MAIN + "PLAIN2\n" + MAIN},
        {five, "1\n1\n0\nq\n", 0, MAIN + MENU1 + "ITEM11\n" + MENU1 + MAIN},
        {five, "1\n\n \n", 0, MAIN + MENU1 + MAIN},  // return: back, then leave
        {five, "1\nquit\n", 0, MAIN + MENU1},
        {five, "b\n0\n\n", 0, MAIN + MAIN + MAIN},
        {five, "1\n1\n", 0, MAIN + MENU1 + "ITEM11\n" + MENU1 + "\n"},  // end of input leaves at once
        {"!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nA\n!1 2\nB\n!1 3\nC\n!2 0\nPLAIN2\n", "1\n4\n-1\nxyz\n0\n3\n-2\nhello\n\n", 0,
         MAIN + MENU1 + bad + "3\n" + MENU1 + bad + "3\n" + MENU1 + bad + "3\n" + MENU1 + MAIN + bad + "2\n" + MAIN +
             bad + "2\n" + MAIN + bad + "2\n" + MAIN},
        // A later marker may return to a lower menu; the tables still hold menu 1.
        {"!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nITEM11\n!0 1\nUNUSED\n", "1\n1\n\n\n", 0,
         MAIN + MENU1 + "ITEM11\n" + MENU1 + MAIN},
        // A '>' line on a menu's own page is plain text; on an item page it opens the file.
        {hands_over, "1\n1\n1\n\n\n", 0, over + "PLAIN\nSECOND\n" + ASK + " @m.txt\n" + MAIN},
        {hands_over, "1\n1\n", 0, over + "\n"},
        {hands_over, "1\n2\n", 1, MAIN + "MENU1\n> s.txt\n" + ASK + "> Error: cannot open the file @/gone.txt.\n"
                                  "The environment variable ZEP_HOME is set to ~\nIf this is incorrect, quit, define "
                                  "this environment variable, and re-start.\n"},
        {"!0 0\nMAIN\n!2 5\nX\n", "", 1, "Warning: menu entry 1 in file @/m.txt is 2 5,\nbut it should be either 0 1 "
                                         "or 1 0,\n"},
        {"!0 0\n!1 0\n!1 1\n!3 3\n", "", 1, "Warning: menu entry 3 in file @/m.txt is 3 3,\nbut it should be either "
                                            "1 2 or 2 1,\n"},
        {"no markers\n", "", 1, "Warning: file @/m.txt holds no menu entries.\n"},
        {"!0 0\n!x 1\n", "", 1, "Warning: menu entry 1 in file @/m.txt does not hold two numbers after '!'.\n"},
        {"!0 0\n!-1 0\n", "", 1, "Warning: menu entry 1 in file @/m.txt is -1 0,\nbut menu and item numbers must "
                                 "lie between 0 and 999.\n"},  // passes the order check, but is no menu
    };
    const std::string docs = dir / "documentation";
    for (const Case &c : cases) {
        dir.write("documentation/m.txt", c.file);
        // @/ is the help folder, @ before a name the line announcing that file
        std::string expected = replace_all("@m.txt\n" + c.expected, "@/", "\1");
        expected = replace_all(replace_all(expected, "@", "Help from file " + docs + "/"), "\1", docs + "/");
        expected = replace_all(expected, "~", dir.path());
        EXPECT_EQ(dialogue(dir, c.answers, c.result), expected) << c.file << c.answers;
    }
    EXPECT_EQ(dialogue(dir, "", 1, "none.txt"), "Error: cannot open the file " + docs + "/none.txt.\nThe environment "
              "variable ZEP_HOME is set to " + dir.path() + "\nIf this is incorrect, quit, define this environment "
              "variable, and re-start.\n");
    unsetenv("ZEP_HOME");
    EXPECT_EQ(dialogue(dir, "", 1), "For help, quit and define the environment variable ZEP_HOME, and then re-start.\n");
}

// The program's -H option browses the shipped help and ends at the end of its input.
TEST(HelpMenu, ShippedHelp) {
    const ProgramResult r = run_command("ZEP_HOME=" FMRIGLM_SOURCE_DIR "/docs/help timeout 20 " FMRIGLM_EXE " -H", "3\n6\n1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("documentation/glm-shapes.txt\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("The paradigm is m from ON to OFF"), std::string::npos);
}
