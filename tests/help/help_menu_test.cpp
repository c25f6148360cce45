#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "help/help_menu.h"
#include "support/cli.h"

namespace fs = std::filesystem;

namespace {

const std::string BAR = "----------------------------------------------\n";
const std::string ASK_MAIN = BAR + "--- choose item: 0 = main menu, return = back \n" + BAR + "help > ";
const std::string ASK_SUB = BAR + "--- choose item: 0 = main menu, return = back \n" + BAR + "help >> ";
const std::string FIVE_MARKERS = "!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nITEM11\n!1 2\nITEM12\n!2 0\nPLAIN2\n";

// A ZEP_HOME folder with help files, and help_menu run on it with a given
// answer script on standard input.
struct HelpHome {
    TempDir dir;
    fs::path root{dir.path()};
    HelpHome() {
        fs::create_directories(root / "documentation");
        setenv("ZEP_HOME", root.c_str(), 1);
    }
    std::string path(const std::string &name) const { return (root / "documentation" / name).string(); }
    void write(const std::string &name, const std::string &text) const { std::ofstream(path(name)) << text; }
    std::string run(const std::string &input, int expected_result = 0, const char *file = "m.txt") const {
        EXPECT_NE(std::freopen(dir.write("answers", input).c_str(), "r", stdin), nullptr);
        std::string out = stdout_of([&] { EXPECT_EQ(help_menu(0, file), expected_result); });
        EXPECT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        return out;
    }
    std::string head(const std::string &name = "m.txt") const { return "Help from file " + path(name) + "\n"; }
};

}  // namespace

TEST(HelpMenu, AcceptedMarkerOrderGivesMenusItemsAndPlainPage) {
    HelpHome home;
    home.write("m.txt", FIVE_MARKERS);
    EXPECT_EQ(home.run("1\n2\n\n2\n\n"),
              home.head() + "MAIN\n" + ASK_MAIN + "MENU1\n" + ASK_SUB + "ITEM12\nMENU1\n" + ASK_SUB + "MAIN\n" +
                  ASK_MAIN + "PLAIN2\nMAIN\n" + ASK_MAIN);
}

TEST(HelpMenu, OutOfOrderMarkersAreRejected) {
    HelpHome home;
    home.write("m.txt", "!0 0\nMAIN\n!2 5\nX\n");
    const std::string where = "Warning: menu entry 1 in file " + home.path("m.txt");
    EXPECT_EQ(home.run("", 1), home.head() + where + " is 2 5,\nbut it should be either 0 1 or 1 0,\n");
    home.write("m.txt", "!0 0\n!1 0\n!1 1\n!3 3\n");
    EXPECT_EQ(home.run("", 1), home.head() + "Warning: menu entry 3 in file " + home.path("m.txt") +
                                   " is 3 3,\nbut it should be either 1 2 or 2 1,\n");
}

TEST(HelpMenu, UnusableMarkersAreRefusedAndLooseLayoutsStayInBounds) {
    HelpHome home;
    home.write("m.txt", "no markers\n");
    EXPECT_NE(home.run("", 1).find("holds no menu entries"), std::string::npos);
    home.write("m.txt", "!0 0\n!x 1\n");
    EXPECT_NE(home.run("", 1).find("menu entry 1 in file " + home.path("m.txt") + " does not hold two numbers"),
              std::string::npos);
    home.write("m.txt", "!0 0\n!-1 0\n");  // passes the order check, but is no menu
    EXPECT_NE(home.run("", 1).find("is -1 0,\nbut menu and item numbers must lie between 0 and 999.\n"),
              std::string::npos);
    // A later marker may return to a lower menu; the tables still hold menu 1.
    home.write("m.txt", "!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nITEM11\n!0 1\nUNUSED\n");
    EXPECT_EQ(home.run("1\n1\n\n\n"), home.head() + "MAIN\n" + ASK_MAIN + "MENU1\n" + ASK_SUB + "ITEM11\nMENU1\n" +
                                          ASK_SUB + "MAIN\n" + ASK_MAIN);
}

TEST(HelpMenu, ReturnZeroBackAndQuitAnswers) {
    HelpHome home;
    home.write("m.txt", FIVE_MARKERS);
    const std::string menu1 = home.head() + "MAIN\n" + ASK_MAIN + "MENU1\n" + ASK_SUB;
    EXPECT_EQ(home.run("1\n1\n0\nq\n"), menu1 + "ITEM11\nMENU1\n" + ASK_SUB + "MAIN\n" + ASK_MAIN);
    EXPECT_EQ(home.run("1\n\n \n"), menu1 + "MAIN\n" + ASK_MAIN);  // return: back, then leave
    EXPECT_EQ(home.run("1\nb\nquit\n"), menu1 + "MAIN\n" + ASK_MAIN);
    EXPECT_EQ(home.run("1\nq\n"), menu1);
    EXPECT_EQ(home.run("1\nquit\n"), menu1);
    EXPECT_EQ(home.run("b\n0\n\n"), home.head() + "MAIN\n" + ASK_MAIN + "MAIN\n" + ASK_MAIN + "MAIN\n" + ASK_MAIN);
}

TEST(HelpMenu, BadOptionsShowTheMenuAgain) {
    HelpHome home;
    home.write("m.txt", "!0 0\nMAIN\n!1 0\nMENU1\n!1 1\nA\n!1 2\nB\n!1 3\nC\n!2 0\nPLAIN2\n");
    const std::string sub = "Bad option. Choose '0', 'b', 'q', or a number from 1 to 3\nMENU1\n" + ASK_SUB;
    const std::string top = "Bad option. Choose '0', 'b', 'q', or a number from 1 to 2\nMAIN\n" + ASK_MAIN;
    EXPECT_EQ(home.run("1\n4\n-1\nxyz\n0\n3\n-2\nhello\n\n"),
              home.head() + "MAIN\n" + ASK_MAIN + "MENU1\n" + ASK_SUB + sub + sub + sub + "MAIN\n" + ASK_MAIN + top +
                  top + top);
}

TEST(HelpMenu, HandOverToAnotherFileAndBack) {
    HelpHome home;
    home.write("m.txt", "!0 0\nFIRST\n!1 0\nMENU1\n> s.txt\n!1 1\nBEFORE\n> s.txt\nNOT SHOWN\n!1 2\n>  gone.txt\n");
    home.write("s.txt", "!0 0\nSECOND\n!1 0\nPLAIN\n");
    // A '>' line on a menu's own page is plain text; on an item page it opens the file.
    EXPECT_EQ(home.run("1\n1\n1\n\n\n"), home.head() + "FIRST\n" + ASK_MAIN + "MENU1\n> s.txt\n" + ASK_SUB +
                                             "BEFORE\n" + home.head("s.txt") + "SECOND\n" + ASK_MAIN + "PLAIN\n" +
                                             "SECOND\n" + ASK_MAIN + home.head() + "FIRST\n" + ASK_MAIN);
    // End of input inside the second file leaves the help altogether.
    EXPECT_EQ(home.run("1\n1\n"), home.head() + "FIRST\n" + ASK_MAIN + "MENU1\n> s.txt\n" + ASK_SUB + "BEFORE\n" +
                                      home.head("s.txt") + "SECOND\n" + ASK_MAIN + "\n");
    const std::string out = home.run("1\n2\n", 1);
    EXPECT_NE(out.find("Error: cannot open the file " + home.path("gone.txt") + ".\n"), std::string::npos);
}

TEST(HelpMenu, MissingOrWrongHelpFolder) {
    HelpHome home;
    unsetenv("ZEP_HOME");
    EXPECT_EQ(home.run("", 1), "For help, quit and define the environment variable ZEP_HOME, and then re-start.\n");
    setenv("ZEP_HOME", "/no/such/folder", 1);
    EXPECT_EQ(home.run("", 1),
              "Error: cannot open the file /no/such/folder/documentation/m.txt.\n"
              "The environment variable ZEP_HOME is set to /no/such/folder\n"
              "If this is incorrect, quit, define this environment variable, and re-start.\n");
}

TEST(HelpMenu, ProgramOptionEndsAtEndOfInputOnTheShippedHelp) {
    HelpHome home;
    const std::string out = (home.root / "out").string();
    const std::string command = "printf '3\\n6\\n1\\n' | ZEP_HOME=" FMRIGLM_SOURCE_DIR "/docs/help timeout 20 " FMRIGLM_EXE
                                " -H > " + out;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string text = read_file(out);
    EXPECT_NE(text.find("documentation/glm-shapes.txt\n"), std::string::npos);
    EXPECT_NE(text.find("The paradigm is m from ON to OFF"), std::string::npos);
}

// The shipped help files follow the layout strictly: first the main page,
// then each menu's page followed by its items, and every '>' names a shipped
// file from an item page or a plain page.
TEST(HelpMenu, ShippedHelpFilesAreWellFormed) {
    const fs::path folder = fs::path(FMRIGLM_SOURCE_DIR) / "docs/help/documentation";
    ASSERT_TRUE(fs::exists(folder / "glm-menu.txt"));
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".txt") continue;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path());
        std::string line;
        int menu = -1, item = 0, markers = 0;
        bool page_hands_over = false;
        while (std::getline(in, line)) {
            EXPECT_LT(line.size(), 1023u);
            if (line[0] == '!') {
                int m = -1, i = -1;
                ASSERT_EQ(std::sscanf(line.c_str() + 1, "%d %d", &m, &i), 2) << line;
                const bool next_item = m == menu && i == item + 1 && m != 0;
                const bool next_menu = m == menu + 1 && i == 0;
                EXPECT_TRUE(next_item || next_menu) << "marker " << markers << ": " << line;
                if (next_item && item == 0) {
                    EXPECT_FALSE(page_hands_over) << "'>' on a menu page: " << line;
                }
                page_hands_over = false;
                menu = m;
                item = i;
                ++markers;
            } else if (line[0] == '>') {
                std::istringstream words(line.substr(1));
                std::string name;
                words >> name;
                EXPECT_TRUE(fs::exists(folder / name)) << line;
                EXPECT_NE(menu, 0);
                page_hands_over = true;
            }
        }
        EXPECT_GT(markers, 1);
    }
}
