// corvanta-convert as a user runs it: the built executable in a child process.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "cli/run_process.h"
#include "common/gobject_ptr.h"
#include "support/folder_test.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;

using test::RunConvert;
using test_support::WriteJpeg;
using test_support::WritePng;

class ConvertCommandTest : public test_support::FolderTest {
  protected:
    void ExpectCompleteOutputs() const { test_support::ExpectOnlyWholeImages(Out().string()); }
};

// text matches pattern, where each '#' in pattern stands for a decimal digit.
bool MatchesDigits(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool ok =
            pattern[i] == '#' ? text[i] >= '0' && text[i] <= '9' : text[i] == pattern[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool IsTotalTimeLine(std::string_view line) {
    return MatchesDigits(line, "Total time : ##h ##m ##s");
}

TEST_F(ConvertCommandTest, UsageErrorsNameTheProblemInOneLine) {
    std::ofstream(root_ / "plain-file") << "x";
    const std::string out = Out().string();
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"--output", out, "--sharpen", "a.jpg"}, "--sharpen"},
        {{"a.jpg"}, "--output"},
        {{"--output", out}, "files"},
        {{"--output", (root_ / "nowhere").string(), "a.jpg"}, "does not exist"},
        {{"--output", (root_ / "plain-file").string(), "a.jpg"}, "not a folder"},
        {{"--output", out, "--scheme", "!dd 0xff000000,0xffffffff", "a.jpg"}, "nine"},
        {{"--output", out, "--preset", "Sepia", "a.jpg"}, "'Sepia'"},
        {{"--output", out, "--quality", "best", "a.jpg"}, "--quality"},
        {{"--export-lut", out + "/look.lut"}, ".cube or .png"},
        {{"--export-lut", out + "/look.cube", "--lut-size", "300"}, "--lut-size"},
        {{"--export-lut", out + "/look.cube", "a.jpg"}, "'a.jpg'"},
        {{"--export-lut", out + "/look.cube", "--output", out}, "--output"},
    };
    for (const auto& c : cases) {
        const auto result = RunConvert(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.named;
        EXPECT_TRUE(result.out.empty()) << c.named;
        const auto lines = result.ErrLines();
        ASSERT_EQ(lines.size(), 1u) << c.named << ": " << result.err;
        EXPECT_EQ(lines[0].rfind("corvanta-convert: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.named), std::string::npos) << lines[0];
    }
    EXPECT_TRUE(OutputNames().empty());

    if (geteuid() != 0) {  // root writes anywhere
        fs::create_directory(root_ / "locked");
        chmod((root_ / "locked").c_str(), 0500);
        const auto result = RunConvert({"--output", (root_ / "locked").string(), "a.jpg"});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("not writable"), std::string::npos) << result.err;
    }
}

TEST_F(ConvertCommandTest, InformationCommands) {
    const auto version = RunConvert({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    // The version, then which protections a decoder gets here.
    ASSERT_EQ(version.OutLines().size(), 2u);
    EXPECT_EQ(version.OutLines()[0], "corvanta-convert 1.0.0");
    EXPECT_EQ(version.OutLines()[1].rfind("decoder confinement: system-call filter ", 0), 0u);
    const auto help = RunConvert({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--max-size WxH"), std::string::npos);
    const auto presets = RunConvert({"--list-presets"});
    EXPECT_EQ(presets.exitCode, 0);
    const auto lines = presets.OutLines();
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[0],
              "Gray                    !dd 0xff000000,0x00000000,0x00000000,0x00000000,"
              "0x00000000,0x00000000,0x00000000,0x00000000,0xffffffff");
}

TEST_F(ConvertCommandTest, ExportLutWritesTheSchemeOnceAndNeverOverAFile) {
    const std::string cube = (Out() / "heat.cube").string();
    const auto result =
        RunConvert({"--export-lut", cube, "--preset", "heat camera", "--lut-size", "9"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto lines = result.OutLines();
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "[Done]  " + cube);
    EXPECT_TRUE(IsTotalTimeLine(lines[1])) << lines[1];
    std::ifstream text(cube);
    std::vector<std::string> rows;
    for (std::string line; std::getline(text, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 4u + 9 * 9 * 9);
    EXPECT_EQ(rows[0], "TITLE \"Heat camera\"");
    EXPECT_EQ(rows[1], "LUT_3D_SIZE 9");

    const auto again = RunConvert({"--export-lut", cube});
    EXPECT_EQ(again.exitCode, 1);
    ASSERT_EQ(again.ErrLines().size(), 1u) << again.err;
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    std::ifstream kept(cube);
    std::string title;
    std::getline(kept, title);
    EXPECT_EQ(title, rows[0]) << "the first file stays";

    const std::string hald = (Out() / "look.PNG").string();  // Gray by default
    ASSERT_EQ(RunConvert({"--export-lut", hald}).exitCode, 0);
    const test_support::PngContents png = test_support::InspectPng(test_support::ReadFile(hald));
    EXPECT_TRUE(png.ok);
    EXPECT_EQ(png.width, 512u);
    EXPECT_EQ(png.height, 512u);
    EXPECT_EQ(png.colorType, 2);

    const auto nowhere = RunConvert({"--export-lut", (root_ / "nowhere" / "a.cube").string()});
    EXPECT_EQ(nowhere.exitCode, 1);
    ASSERT_EQ(nowhere.ErrLines().size(), 1u) << nowhere.err;
    EXPECT_NE(nowhere.err.find("does not exist"), std::string::npos) << nowhere.err;
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"heat.cube", "look.PNG"}));
}

TEST_F(ConvertCommandTest, FolderWithMixedEntriesInNameOrder) {
    ASSERT_TRUE(WriteJpeg(InPath("b.jpg"), 200, 100));
    ASSERT_TRUE(WriteJpeg(InPath("a.jpg"), 100, 200));
    std::ofstream(InPath("notes.txt")) << "hello\n";
    ASSERT_TRUE(WriteJpeg(InPath(".hidden.jpg"), 50, 50));
    fs::create_directory(In() / "sub");
    ASSERT_TRUE(WriteJpeg(InPath("sub/c.jpg"), 50, 50));

    const auto result = RunConvert({"--output", Out().string(), "--jobs", "1", "--preset", "ocean",
                                    "--max-size", "64x0", In().string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const auto lines = result.OutLines();
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0], "[Done]  a.jpg");
    EXPECT_EQ(lines[1], "[Done]  b.jpg");
    EXPECT_EQ(lines[2], "[Error]  notes.txt (not a readable image)");
    EXPECT_TRUE(IsTotalTimeLine(lines[3])) << lines[3];
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"a.jpg", "b.jpg"}));

    int width = 0;
    int height = 0;
    ASSERT_NE(gdk_pixbuf_get_file_info((Out() / "b.jpg").c_str(), &width, &height), nullptr);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 32);
    ExpectCompleteOutputs();
}

TEST_F(ConvertCommandTest, EveryFileWrittenExitsZero) {
    ASSERT_TRUE(WriteJpeg(InPath("photo.jpg"), 120, 90));
    ASSERT_TRUE(WritePng(InPath("logo.png"), 40, 30, true));
    const auto result =
        RunConvert({"--output", Out().string() + "/", "--quality", "medium", "--scheme",
                    "!dd 0xff000000,0,0,0,0xff0080ff,0,0,0,0xffffffff",  // too few "0x"
                    InPath("photo.jpg")});
    EXPECT_EQ(result.exitCode, 2) << "bare zeros are no items";

    const auto ok = RunConvert({"--output", Out().string() + "/", "--quality", "medium",
                                InPath("photo.jpg"), InPath("logo.png")});
    EXPECT_EQ(ok.exitCode, 0) << ok.out << ok.err;
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"logo.png", "photo.jpg"}));
    ExpectCompleteOutputs();
}

TEST_F(ConvertCommandTest, TwoJobsNeverShareAnOutputName) {
    fs::create_directory(In() / "d1");
    fs::create_directory(In() / "d2");
    ASSERT_TRUE(WriteJpeg(InPath("d1/same.jpg"), 1200, 900));
    ASSERT_TRUE(WriteJpeg(InPath("d2/same.jpg"), 1200, 900));
    const auto result = RunConvert({"--output", Out().string(), "--jobs", "2", "--max-size", "0x0",
                                    InPath("d1"), InPath("d2")});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto names = OutputNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "same.jpg");
    EXPECT_TRUE(MatchesDigits(names[1], "same_##############.jpg")) << names[1];
    ExpectCompleteOutputs();
}

TEST_F(ConvertCommandTest, InterruptCancelsTheFileInProgress) {
    // Big PNGs fitted into a tiny box: loading takes a while, writing next to
    // nothing, so a signal sent shortly after the first file is done lands
    // while the second one loads.
    constexpr int kFiles = 4;
    constexpr int kSide = 2500;
    constexpr auto kDelayAfterFirstFile = std::chrono::milliseconds(40);
    GObjectPtr<GdkPixbuf> picture = test_support::MakePixbuf(kSide, kSide, false);
    ASSERT_TRUE(gdk_pixbuf_save(picture.get(), InPath("f1.png").c_str(), "png", nullptr,
                                "compression", "1", nullptr));
    for (int i = 2; i <= kFiles; ++i) {
        fs::copy_file(InPath("f1.png"), InPath("f" + std::to_string(i) + ".png"));
    }

    bool cancelledSeen = false;
    for (int attempt = 0; attempt < 3 && !cancelledSeen; ++attempt) {
        fs::remove_all(Out());
        fs::create_directory(Out());
        bool signalled = false;
        const auto result = RunConvert(
            {"--output", Out().string(), "--jobs", "1", "--max-size", "16x16", In().string()},
            [&](const std::string& line, pid_t pid) {
                if (!signalled && line.rfind("[Done]  ", 0) == 0) {
                    signalled = true;
                    std::this_thread::sleep_for(kDelayAfterFirstFile);
                    kill(pid, SIGINT);
                }
            });
        EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
        const auto lines = result.OutLines();
        ASSERT_GE(lines.size(), 2u) << result.out;
        EXPECT_EQ(lines[0], "[Done]  f1.png");
        EXPECT_TRUE(IsTotalTimeLine(lines.back())) << lines.back();
        // The file in progress ends either way; no later file is started.
        ASSERT_LE(lines.size(), 3u) << result.out;
        std::size_t written = 1;
        if (lines.size() == 3) {
            cancelledSeen = lines[1] == "[Cancelled]  f2.png";
            if (!cancelledSeen) {
                EXPECT_EQ(lines[1], "[Done]  f2.png");
                ++written;
            }
        }
        EXPECT_EQ(OutputNames().size(), written);
        ExpectCompleteOutputs();
    }
    EXPECT_TRUE(cancelledSeen) << "the signal never arrived while a file was loading";

    // A termination request stops the batch the same way; the status says which signal.
    fs::remove_all(Out());
    fs::create_directory(Out());
    const auto terminated = RunConvert(
        {"--output", Out().string(), "--jobs", "1", "--max-size", "16x16", In().string()},
        [](const std::string& line, pid_t pid) {
            if (line == "[Done]  f1.png") {
                kill(pid, SIGTERM);
            }
        });
    EXPECT_EQ(terminated.exitCode, 128 + SIGTERM) << terminated.out;
    EXPECT_TRUE(IsTotalTimeLine(terminated.OutLines().back()));
    ExpectCompleteOutputs();
}

// ---- one bad file never costs more than itself ------------------------------

// A file-size limit (or a full disk) fails the file being written; the run
// goes on and leaves nothing half-written under any name.
TEST_F(ConvertCommandTest, AFailedWriteCostsOneFileAndLeavesNothing) {
    ASSERT_TRUE(WritePng(InPath("a_big.png"), 1000, 800, false));
    ASSERT_TRUE(WritePng(InPath("b_small.png"), 40, 30, false));
    ASSERT_GT(test_support::FileSize(InPath("a_big.png")), 200000);
    const auto result = RunConvert({"--output", Out().string(), "--jobs", "1", In().string()}, {},
                                   300, {"prlimit", "--fsize=200000", "--"});
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    const auto lines = result.OutLines();
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0], "[Error]  a_big.png (could not write output)");
    EXPECT_EQ(lines[1], "[Done]  b_small.png");
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"b_small.png"}));
}

// Killed while its output is being written, the run leaves no visible file:
// the output has no name until it is complete.
TEST_F(ConvertCommandTest, AKilledRunLeavesNoVisibleFile) {
    ASSERT_TRUE(WritePng(InPath("a_small.png"), 40, 30, false));
    ASSERT_TRUE(WritePng(InPath("b_big.png"), 2500, 2000, false));
    const std::string unnamed = Out().string() + "/#";  // how /proc shows an O_TMPFILE file
    bool caught = false;
    const auto result =
        RunConvert({"--output", Out().string(), "--jobs", "1", "--max-size", "0x0", In().string()},
                   [&](const std::string& line, pid_t pid) {
                       if (line != "[Done]  a_small.png") {
                           return;
                       }
                       const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
                       for (int poll = 0; poll < 20000 && !caught; ++poll) {
                           std::error_code error;
                           for (const auto& fd : fs::directory_iterator(fds, error)) {
                               const fs::path target = fs::read_symlink(fd.path(), error);
                               caught = caught || target.string().rfind(unnamed, 0) == 0;
                           }
                           if (!caught) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(1));
                           }
                       }
                       kill(pid, SIGKILL);
                   });
    EXPECT_TRUE(caught) << "the big output was never seen being written";
    EXPECT_EQ(result.termSignal, SIGKILL);
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"a_small.png"}));
}

// Under an address-space limit: many jobs asked for, pictures too large to
// hold side by side. Each is converted in turn, none is reported as what it
// is not.
TEST_F(ConvertCommandTest, AMemoryLimitBoundsTheJobsInsteadOfFailingFiles) {
    if (test_support::kUnderSanitizer) {
        GTEST_SKIP() << "a sanitizer cannot start under an address-space limit";
    }
    for (int i = 0; i < 3; ++i) {
        GObjectPtr<GdkPixbuf> flat(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 6000, 4000));
        ASSERT_TRUE(flat);
        gdk_pixbuf_fill(flat.get(), 0x20406000u + static_cast<guint32>(i) * 0x10000000u);
        ASSERT_TRUE(gdk_pixbuf_save(flat.get(), InPath("big" + std::to_string(i) + ".png").c_str(),
                                    "png", nullptr, "compression", "1", nullptr));
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(WriteJpeg(InPath("tiny" + std::to_string(i) + ".jpg"), 16, 16));
    }
    const auto result = RunConvert(
        {"--output", Out().string(), "--jobs", "256", "--max-size", "0x0", In().string()}, {}, 300,
        {"prlimit", "--as=400000000", "--"});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(OutputNames().size(), 103u);

    // Eight large JPEGs side by side: stacks, arenas and read buffers count too.
    fs::remove_all(In());
    fs::create_directory(In());
    ASSERT_TRUE(WriteJpeg(InPath("large0.jpg"), 6000, 4000));
    for (int i = 1; i < 8; ++i) {
        fs::copy_file(InPath("large0.jpg"), InPath("large" + std::to_string(i) + ".jpg"));
    }
    const auto large =
        RunConvert({"--output", Out().string(), "--jobs", "8", "--max-size", "0x0", In().string()},
                   {}, 300, {"prlimit", "--as=" + std::to_string(1500 << 20), "--"});
    EXPECT_EQ(large.exitCode, 0) << large.out << large.err;

    // The same in a cgroup of 400 MB, where this machine lets a test make one.
    for (const auto& [folder, limitFile] :
         {std::pair{"/sys/fs/cgroup/memory", "memory.limit_in_bytes"},
          std::pair{"/sys/fs/cgroup", "memory.max"}}) {
        const fs::path group = fs::path(folder) / ("corvanta-test-" + std::to_string(::getpid()));
        std::error_code error;
        if (!fs::create_directory(group, error) ||
            !test_support::WriteFile((group / limitFile).string(), std::to_string(400 << 20))) {
            fs::remove(group, error);
            continue;
        }
        fs::remove_all(Out());
        fs::create_directory(Out());
        const auto contained = RunConvert(
            {"--output", Out().string(), "--jobs", "8", "--max-size", "0x0", In().string()}, {},
            300,
            {"sh", "-c",
             "echo $$ > " + (group / "cgroup.procs").string() + " && exec \"$0\" \"$@\""});
        EXPECT_EQ(contained.exitCode, 0) << group << contained.out << contained.err;
        fs::remove(group, error);
        break;
    }
}

// The formats phones and the web use now come in through gdk-pixbuf's extra
// loaders; without a loader the file fails alone, with a status line.
TEST_F(ConvertCommandTest, WebpHeicAndAvifConvertWhenTheirLoadersAreInstalled) {
    ASSERT_TRUE(
        test_support::WriteFile(InPath("source.png"), test_support::MakePng(96, 64, false)));
    const std::string source = InPath("source.png");
    struct Format {
        const char* name;
        std::string encode;
    };
    const Format formats[] = {
        {"a.webp", "cwebp -quiet " + source + " -o " + InPath("a.webp")},
        {"b.heic", "heif-enc -q 90 " + source + " -o " + InPath("b.heic")},
        {"c.avif", "avifenc -s 10 " + source + " " + InPath("c.avif")},
    };
    std::vector<std::string> inputs;
    for (const Format& f : formats) {
        if (std::system((f.encode + " > /dev/null 2>&1").c_str()) == 0) {
            inputs.push_back(InPath(f.name));
        }
    }
    std::remove(source.c_str());
    if (inputs.size() != std::size(formats)) {
        GTEST_SKIP() << "an encoder is missing (scripts/install-deps.sh installs them)";
    }
    std::vector<std::string> args = {"--output", Out().string()};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const auto converted = RunConvert(args);
    if (converted.exitCode != 0) {
        GTEST_SKIP() << "a gdk-pixbuf loader is missing:\n" << converted.out;
    }
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"a_webp.png", "b_heic.png", "c_avif.png"}));
    for (const std::string& name : OutputNames()) {
        const test_support::PngContents png =
            test_support::InspectPng(test_support::ReadFile((Out() / name).string()));
        EXPECT_EQ(png.width, 96u) << name;
        EXPECT_EQ(png.height, 64u) << name;
    }

    // No loaders at all: each file is an error of its own, the batch goes on.
    fs::remove_all(Out());
    fs::create_directory(Out());
    const std::string noLoaders = InPath("no-loaders.cache");
    ASSERT_TRUE(test_support::WriteFile(noLoaders, test_support::Bytes{}));
    const auto missing = RunConvert(args, {}, 300, {"env", "GDK_PIXBUF_MODULE_FILE=" + noLoaders});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.OutLines().size(), 4u) << missing.out;
    for (const Format& f : formats) {
        EXPECT_NE(missing.out.find(std::string("[Error]  ") + f.name + " (not a readable image)"),
                  std::string::npos)
            << missing.out;
    }
    EXPECT_TRUE(OutputNames().empty());
}

TEST_F(ConvertCommandTest, NamesAreShownEscapedAndTwinsApart) {
    fs::create_directories(In() / "d1");
    fs::create_directories(In() / "d2");
    ASSERT_TRUE(WriteJpeg(InPath("x\n[Done]  hidden.jpg"), 16, 16));
    ASSERT_TRUE(WriteJpeg(InPath("\x1b[31mred.jpg"), 16, 16));
    ASSERT_TRUE(WriteJpeg(InPath("d1/a.jpg"), 16, 16));
    ASSERT_TRUE(WriteJpeg(InPath("d2/a.jpg"), 16, 16));
    const auto result =
        RunConvert({"--output", Out().string(), "--jobs", "1", InPath("x\n[Done]  hidden.jpg"),
                    InPath("\x1b[31mred.jpg"), InPath("d1/a.jpg"), InPath("d2/a.jpg")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto lines = result.OutLines();
    ASSERT_EQ(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[0], "[Done]  x\\n[Done]  hidden.jpg");
    EXPECT_EQ(lines[1], "[Done]  \\x1b[31mred.jpg");
    EXPECT_EQ(lines[2], "[Done]  d1/a.jpg");
    EXPECT_EQ(lines[3], "[Done]  d2/a.jpg");
}

}  // namespace
}  // namespace corvanta
