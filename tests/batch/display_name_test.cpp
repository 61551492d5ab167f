#include "batch/display_name.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

TEST(DisplayName, ControlsBreaksAndStrayBytesAreEscaped) {
    EXPECT_EQ(EscapedName("plain name.jpg"), "plain name.jpg");
    EXPECT_EQ(EscapedName("caf\xC3\xA9\\x.jpg"), "caf\xC3\xA9\\x.jpg")
        << "text and backslashes stay";
    EXPECT_EQ(EscapedName("a\nb\tc\rd.jpg"), "a\\nb\\tc\\rd.jpg");
    EXPECT_EQ(EscapedName("\x1b[31m\x7f.jpg"), "\\x1b[31m\\x7f.jpg");
    EXPECT_EQ(EscapedName(std::string_view("n\0l", 3)), "n\\x00l");
    EXPECT_EQ(EscapedName("\xC2\x9B"
                          "c1.jpg"),
              "\\x9bc1.jpg")
        << "C1 control (CSI)";
    EXPECT_EQ(EscapedName("\xE2\x80\xAEgpj.exe"), "\\u202egpj.exe") << "right-to-left override";
    EXPECT_EQ(EscapedName("line\xE2\x80\xA8sep"), "line\\u2028sep");
    EXPECT_EQ(EscapedName("\xff\xC3"), "\\xff\\xc3") << "not UTF-8, cut short at the end";
}

TEST(DisplayName, LabelsTellFilesOfOneNameApart) {
    const std::vector<std::string> paths = {"/p/one/x/a.jpg", "/p/two/x/a.jpg", "/p/b.jpg",
                                            "rel/c.png",      "c.png",          "/p/one/x/a.jpg"};
    EXPECT_EQ(DistinctLabels(paths),
              (std::vector<std::string>{"/p/one/x/a.jpg", "/p/two/x/a.jpg", "b.jpg", "rel/c.png",
                                        "c.png", "/p/one/x/a.jpg"}));
    EXPECT_EQ(DistinctLabels({"/a/x/p.jpg", "/b/x/p.jpg"}),
              (std::vector<std::string>{"a/x/p.jpg", "b/x/p.jpg"}));
}

}  // namespace
}  // namespace corvanta
