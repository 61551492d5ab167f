// corvanta-convert on an unlucky machine: whatever goes wrong around the
// files (a stopped helper, a stale environment, low limits, a program
// copied alone, a full or vanished output folder) costs at most one file,
// with a true reason, and never holds the run up.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "cli/run_process.h"
#include "support/folder_test.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;
using test::RunConvert;
using Clock = std::chrono::steady_clock;

class Surroundings : public test_support::FolderTest {
  protected:
    test::ProcessResult Convert(const std::vector<std::string>& wrapper,
                                const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--output", Out().string(), "--jobs", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(In().string());
        return RunConvert(args, {}, 120, wrapper);
    }
    // A command line for sh that ends in running the program ("$0") with
    // its arguments.
    static std::vector<std::string> Shell(const std::string& script) {
        return {"sh", "-c", script + " \"$0\" \"$@\""};
    }
    void ExpectAllDone(const test::ProcessResult& result, std::size_t files) {
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(OutputNames().size(), files) << result.out;
        fs::remove_all(Out());
        fs::create_directory(Out());
    }
};

TEST_F(Surroundings, AStoppedDecoderServerCostsAPauseAndCtrlCStillEndsTheRun) {
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(
            test_support::WritePng(InPath("p" + std::to_string(i) + ".png"), 400, 300, false));
    }
    for (const bool interrupt : {false, true}) {
        Clock::time_point signalled;
        const auto result = RunConvert(
            {"--output", Out().string(), "--jobs", "1", In().string()},
            [&](const std::string& line, pid_t pid) {
                if (line == "[Done]  p0.png") {
                    ::kill(test_support::WaitForChildOf(pid), SIGSTOP);
                    signalled = Clock::now();
                    if (interrupt) {
                        ::kill(pid, SIGINT);
                    }
                }
            },
            60);
        if (interrupt) {
            EXPECT_EQ(result.exitCode, 130) << result.out;
            EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(3));
        } else {
            ExpectAllDone(result, 4);
        }
    }
}

TEST_F(Surroundings, AProgramCopiedAloneDecodesByItself) {
    ASSERT_TRUE(test_support::WritePng(InPath("a.png"), 40, 30, false));
    const fs::path alone = root_ / "alone";
    fs::create_directory(alone);
    fs::copy_file(CORVANTA_CONVERT_PATH, alone / "corvanta-convert");
    fs::create_symlink(alone / "corvanta-convert", root_ / "linked");
    for (const fs::path& program : {alone / "corvanta-convert", root_ / "linked"}) {
        ExpectAllDone(Convert({"sh", "-c", "exec " + program.string() + " \"$@\""}), 1);
    }
}

TEST_F(Surroundings, AStaleEnvironmentFailsNoPicture) {
    ASSERT_TRUE(test_support::WritePng(InPath("a.png"), 40, 30, false));
    ASSERT_TRUE(test_support::WriteJpeg(InPath("b.jpg"), 40, 30));
    ASSERT_TRUE(test_support::WriteFile((root_ / "a-file").string(), std::string_view("x")));
    fs::create_directory(root_ / "read-only");
    ::chmod((root_ / "read-only").c_str(), 0555);
    for (const fs::path& tmp : {root_ / "missing", root_ / "a-file", root_ / "read-only"}) {
        ExpectAllDone(Convert({"env", "TMPDIR=" + tmp.string()}), 2);
    }
    // Without memfd_create the pixels come through the socket.
    ExpectAllDone(Convert({"env", "LD_PRELOAD=" CORVANTA_NO_MEMFD_SHIM,
                           "ASAN_OPTIONS=verify_asan_link_order=0"}),
                  2);
    // Without /proc outputs are named through a hidden file.
    if (test_support::kUnderSanitizer || std::system("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mount namespace here, or a sanitizer that needs /proc";
    }
    ExpectAllDone(
        Convert(Shell("unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\" \"$@\"'")), 2);
}

TEST_F(Surroundings, LowLimitsBoundTheJobsInsteadOfFailingFiles) {
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(
            test_support::WritePng(InPath("p" + std::to_string(i) + ".png"), 24, 16, false));
        ASSERT_TRUE(test_support::WriteJpeg(InPath("j" + std::to_string(i) + ".jpg"), 24, 16));
    }
    ExpectAllDone(Convert({"prlimit", "--nofile=64", "--"}, {"--jobs", "16"}), 60);
    ExpectAllDone(Convert({"prlimit", "--nofile=32", "--"}, {"--jobs", "16"}), 60);
}

// TurboJPEG cannot be interrupted: a JPEG that keeps it busy for seconds is
// decoded where Stop can end it, and one beyond reason is refused.
TEST_F(Surroundings, ScanHeavyJpegsNeitherHoldTheRunNorDecodeForever) {
    test_support::JpegOptions progressive;
    progressive.progressive = true;
    const test_support::Bytes flat = test_support::MakeHalvesJpeg(8000, 6000, progressive);
    ASSERT_TRUE(test_support::WriteFile(InPath("a.png"), test_support::MakePng(16, 16, false)));
    ASSERT_TRUE(test_support::WriteFile(InPath("b.jpg"), test_support::RepeatLastScan(flat, 80)));
    Clock::time_point signalled;
    const auto result = RunConvert(
        {"--output", Out().string(), "--jobs", "1", In().string()},
        [&](const std::string& line, pid_t pid) {
            if (line == "[Done]  a.png") {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                signalled = Clock::now();
                ::kill(pid, SIGINT);
            }
        },
        120);
    EXPECT_EQ(result.exitCode, 130) << result.out;
    EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(2));

    ASSERT_TRUE(test_support::WriteFile(InPath("b.jpg"), test_support::RepeatLastScan(flat, 150)));
    const auto refused = Convert({});
    EXPECT_EQ(refused.OutLines().at(1), "[Error]  b.jpg (too costly to decode)");
}

// Each write failure says what happened, and a killed run's hidden files go.
TEST_F(Surroundings, WriteFailuresSayWhyAndLeftoversAreSwept) {
    ASSERT_TRUE(test_support::WriteFile(InPath("a.png"), test_support::MakePng(1500, 1000, false)));
    const std::string old = Out().string() + "/.corvanta-0123456789abcdef.tmp";
    const std::string live = Out().string() + "/.corvanta-fedcba9876543210.tmp";
    ASSERT_TRUE(test_support::WriteFile(old, std::string_view("left by a killed run")));
    ASSERT_TRUE(test_support::WriteFile(live, std::string_view("still being written")));
    const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, old.c_str(), hourAgo, 0);
    ASSERT_EQ(Convert({}).exitCode, 0);
    EXPECT_FALSE(test_support::FileExists(old));
    EXPECT_TRUE(test_support::FileExists(live)) << "too young to be a leftover";

    if (std::system("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mount namespace here";
    }
    const auto full = Convert(Shell("unshare -m sh -c 'mount -t tmpfs -o size=256k none " +
                                    Out().string() + " && exec \"$0\" \"$@\"'"));
    EXPECT_EQ(full.OutLines().at(0), "[Error]  a.png (disk full)");
}

}  // namespace
}  // namespace corvanta
