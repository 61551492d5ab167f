// The decoder process as the batch uses it: every way a format library can
// go wrong costs one file, reported with a short reason, and the next file
// converts; a swapped input, Stop and an upright turn of what PNG cannot
// carry.
#include "decoder/decoder_process.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "batch/batch_engine.h"
#include "common/scoped_fd.h"
#include "decoder/confinement.h"
#include "decoder/input_file.h"
#include "support/folder_test.h"
#include "support/test_images.h"

namespace corvanta {
namespace {

namespace fs = std::filesystem;
using test_support::Bytes;

// Collects each file's final event.
class FinalEvents final : public ProgressSink {
  public:
    void Post(ProgressEvent event) override {
        if (event.kind == ProgressKind::kDone || event.kind == ProgressKind::kFailed ||
            event.kind == ProgressKind::kCancelled) {
            std::lock_guard lock(mutex_);
            finals_.push_back(std::move(event));
        }
    }
    std::vector<ProgressEvent> Take() {
        std::lock_guard lock(mutex_);
        return std::move(finals_);
    }

  private:
    std::mutex mutex_;
    std::vector<ProgressEvent> finals_;
};

class DecoderFaults : public test_support::FolderTest {
  protected:
    void SetUp() override {
        FolderTest::SetUp();
        // The decoders' temporary folders go here, where the test can see them.
        fs::create_directory(root_ / "tmp");
        const char* saved = std::getenv("TMPDIR");
        savedTmp_ = saved != nullptr ? saved : "";
        hadTmp_ = saved != nullptr;
        ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_) {
            ::setenv("TMPDIR", savedTmp_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    static DecoderSettings Misbehaving() {
        DecoderSettings settings;
        settings.program.path = CORVANTA_TEST_DECODER;
        settings.memoryBytes = std::int64_t{64} << 20;
        settings.cpuSeconds = 1;
        settings.deadline = std::chrono::seconds(3);
        return settings;
    }

    // Converts `word` as a non-JPEG picture followed by a good picture.
    std::vector<ProgressEvent> Convert(const std::string& word, const DecoderSettings& settings,
                                       const std::string& good = "good.jpg") {
        EXPECT_TRUE(test_support::WriteFile(InPath("bad.png"), word));
        EXPECT_TRUE(good == "good.jpg" ? test_support::WriteJpeg(InPath(good), 64, 48)
                                       : test_support::WritePng(InPath(good), 64, 48, false));
        ConversionJob job;
        job.outputFolder = Out().string();
        job.files = {InPath("bad.png"), InPath(good)};
        job.decoder = settings;
        SharedGradientTable gradient;
        BatchState state;
        FinalEvents sink;
        ConversionWorker(std::move(job), gradient, state, sink, 1);
        return sink.Take();
    }

    std::vector<std::string> TempLeftovers() const {
        return test_support::ListFolder((root_ / "tmp").string());
    }

    std::string savedTmp_;
    bool hadTmp_ = false;
};

TEST_F(DecoderFaults, EachFaultCostsOneFileWithItsReason) {
    // As both programs do, so that a full disk costs one output: decoders
    // must still die of their own file-size limit.
    const auto saved = std::signal(SIGXFSZ, SIG_IGN);
    const struct {
        const char* word;
        std::string_view reason;
    } cases[] = {
        {"crash", failure_reason::kUndecodable},  // a segmentation fault
        {"hog", failure_reason::kUndecodable},    // allocation fails at the limit, abort
        {"spin", failure_reason::kTookTooLong},   // the CPU-time limit
        {"sleep", failure_reason::kTookTooLong},  // the wall-clock deadline
        {"scribble", failure_reason::kTooLarge},  // the file-size limit in its folder
    };
    for (const auto& c : cases) {
        if (test_support::kUnderSanitizer && c.word == std::string_view("hog")) {
            continue;  // the sanitizer's allocator takes no address-space limit
        }
        SCOPED_TRACE(c.word);
        const std::vector<ProgressEvent> finals = Convert(c.word, Misbehaving());
        ASSERT_EQ(finals.size(), 2u);
        EXPECT_EQ(finals[0].kind, ProgressKind::kFailed);
        EXPECT_EQ(finals[0].reason, c.reason);
        EXPECT_EQ(finals[1].kind, ProgressKind::kDone) << "the next file converts";
        EXPECT_EQ(OutputNames(), (std::vector<std::string>{"good.jpg"}));
        // Nothing written beside the decoder's folder, and the folder is gone.
        EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
        fs::remove(Out() / "good.jpg");
    }
    std::signal(SIGXFSZ, saved);
}

// A listening socket that never blocks: on loopback (path empty, the port
// it got in port) or at path.
ScopedFd Listen(const std::string& path, int& port) {
    ScopedFd socket(::socket(path.empty() ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_storage address{};
    socklen_t length = path.empty() ? sizeof(sockaddr_in) : sizeof(sockaddr_un);
    if (path.empty()) {
        auto* inet = reinterpret_cast<sockaddr_in*>(&address);
        inet->sin_family = AF_INET;
        inet->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto* local = reinterpret_cast<sockaddr_un*>(&address);
        local->sun_family = AF_UNIX;
        path.copy(local->sun_path, sizeof local->sun_path - 1);
    }
    auto* any = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(::bind(socket.Get(), any, length), 0);
    EXPECT_EQ(::listen(socket.Get(), 4), 0);
    ::getsockname(socket.Get(), any, &length);
    port = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return socket;
}

// A decoder taken over by its picture, once confined, reads, reaches and
// starts nothing: each attempt costs that file, the listeners hear nothing,
// the file planted in the home folder is never opened, the next converts.
TEST_F(DecoderFaults, AConfinedDecoderReadsAndReachesNothing) {
    const decoder::Protections protections = decoder::AvailableProtections();
    const fs::path home = root_ / "home";
    fs::create_directory(home);
    const std::string planted = (home / "key").string();
    ASSERT_TRUE(test_support::WriteFile(planted, std::string_view("private")));
    const std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/";
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("CORVANTA_PLANTED", "token-5f2e", 1);
    const ScopedFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_GE(::inotify_add_watch(watch.Get(), planted.c_str(), IN_OPEN | IN_ACCESS), 0);
    int port = 0;
    int unused = 0;
    const ScopedFd inet = Listen({}, port);
    const std::string socketPath = (root_ / "listen").string();
    const ScopedFd local = Listen(socketPath, unused);
    const bool files = protections.landlockAbi > 0;
    const bool calls = protections.systemCallFilter;
    const struct {
        std::string act;
        bool guarded;  // the kernel has what stops it
        std::string_view reason;
    } cases[] = {
        {"read " + planted, files, failure_reason::kUndecodable},
        {"read /proc/1/environ", files, failure_reason::kUndecodable},
        {"write " + (home / "escaped").string(), files, failure_reason::kUndecodable},
        {"inet " + std::to_string(port), calls, failure_reason::kForbiddenCall},
        {"unix " + socketPath, calls, failure_reason::kForbiddenCall},
        {"exec", calls, failure_reason::kForbiddenCall},
        {"ptrace", calls, failure_reason::kForbiddenCall},
        {"environment token-5f2e", true, failure_reason::kUndecodable},
    };
    for (const auto& c : cases) {
        if (!c.guarded) {
            continue;
        }
        SCOPED_TRACE(c.act);
        const std::vector<ProgressEvent> finals = Convert("escape " + c.act, Misbehaving());
        ASSERT_EQ(finals.size(), 2u);
        EXPECT_EQ(FileStatusLine(finals[0].kind, finals[0].fileName, finals[0].reason),
                  "[Error]  bad.png (" + std::string(c.reason) + ")");
        EXPECT_EQ(finals[1].kind, ProgressKind::kDone);
        fs::remove(Out() / "good.jpg");
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("CORVANTA_PLANTED");
    std::array<char, 256> events{};
    EXPECT_LT(::read(watch.Get(), events.data(), events.size()), 0)
        << "the planted file was opened";
    EXPECT_LT(::accept(inet.Get(), nullptr, nullptr), 0);
    EXPECT_LT(::accept(local.Get(), nullptr, nullptr), 0);
    EXPECT_FALSE(fs::exists(home / "escaped"));
}

// Until the server waits for its decoder, which it does only once it has
// told the batch of it: acted on earlier, it would be replaced and the
// picture tried again.
void WaitUntilWaiting(pid_t server) {
    const std::string syscall = "/proc/" + std::to_string(server) + "/syscall";
    for (int i = 0; i < 2000; ++i) {
        std::ifstream in(syscall);
        long number = -1;
        if (in >> number && number == SYS_wait4) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// The server is this process's child and the decoder its grandchild: killed
// or stopped from outside, each costs the one file, with the truth, and the
// next picture gets a new server.
TEST_F(DecoderFaults, HelpersKilledOrStoppedFromOutsideCostOneFile) {
    const struct {
        const char* word;
        bool decoder;  // the decoder is acted on, else the server
        int signal;
        std::string_view reason;
    } cases[] = {
        {"sleep", true, SIGKILL, failure_reason::kDecoderKilled},
        {"sleep", false, SIGKILL, failure_reason::kDecoderKilled},
        {"nap", false, SIGSTOP, failure_reason::kStoppedResponding},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word + std::string(c.decoder ? " decoder " : " server ") +
                     std::to_string(c.signal));
        std::thread outsider([&] {
            const pid_t server = test_support::WaitForChildOf(::getpid());
            const pid_t decoder = test_support::WaitForChildOf(server);
            WaitUntilWaiting(server);
            ::kill(c.decoder ? decoder : server, c.signal);
        });
        DecoderSettings settings = Misbehaving();
        settings.deadline = std::chrono::minutes(1);  // the outsider acts first, however slow
        const std::vector<ProgressEvent> finals = Convert(c.word, settings, "good.png");
        outsider.join();
        ASSERT_EQ(finals.size(), 2u);
        EXPECT_EQ(finals[0].reason, c.reason);
        EXPECT_EQ(finals[1].kind, ProgressKind::kDone);
        fs::remove(Out() / "good.png");
    }
}

// Stop ends every wait within a second, even for a server that no longer
// runs at all.
TEST_F(DecoderFaults, StopEndsTheWaitForAStoppedServer) {
    ASSERT_TRUE(test_support::WriteFile(InPath("slow.png"), std::string_view("sleep")));
    const InputFile input = OpenInputFile(InPath("slow.png"));
    DecoderSettings settings = Misbehaving();
    settings.deadline = std::chrono::minutes(10);
    std::atomic<bool> stop{false};
    std::chrono::steady_clock::time_point stoppedAt;
    std::thread stopper([&] {
        const pid_t server = test_support::WaitForChildOf(::getpid());
        test_support::WaitForChildOf(server);
        ::kill(server, SIGSTOP);
        stoppedAt = std::chrono::steady_clock::now();
        stop = true;
    });
    const DecodedPicture decoded =
        DecodeInHelper({input.fd.Get(), input.size, "slow.png", 0, 0}, settings, &stop);
    const auto waited = std::chrono::steady_clock::now() - stoppedAt;
    stopper.join();
    EXPECT_TRUE(decoded.stopped);
    EXPECT_LT(waited, std::chrono::seconds(2));
}

// Copied alone, each program serves as its own decoder, before any toolkit
// is started (no display here).
TEST_F(DecoderFaults, EachProgramServesAsItsOwnDecoder) {
    ASSERT_TRUE(test_support::WritePng(InPath("a.png"), 40, 30, false));
    for (const fs::path program : {CORVANTA_WINDOW_PATH, CORVANTA_CONVERT_PATH}) {
        const fs::path alone = root_ / program.filename();
        fs::copy_file(program, alone);
        DecoderSettings settings;
        settings.program = {alone.string(), {decoder::kSelfOption}};
        const InputFile input = OpenInputFile(InPath("a.png"));
        const DecodedPicture decoded =
            DecodeInHelper({input.fd.Get(), input.size, "a.png", 0, 0}, settings);
        ASSERT_NE(decoded.image, nullptr) << program;
        EXPECT_EQ(gdk_pixbuf_get_width(decoded.image.get()), 40);
    }
}

TEST_F(DecoderFaults, AMissingDecoderIsAnErrorOfItsOwn) {
    DecoderSettings settings;
    settings.program.path = (root_ / "no-such-decoder").string();
    const std::vector<ProgressEvent> finals = Convert("anything", settings);
    ASSERT_EQ(finals.size(), 2u);
    EXPECT_EQ(finals[0].reason, failure_reason::kNoDecoder);
    EXPECT_EQ(finals[1].kind, ProgressKind::kDone);
}

TEST_F(DecoderFaults, StopEndsAPictureStillBeingDecoded) {
    ASSERT_TRUE(test_support::WriteFile(InPath("slow.png"), std::string_view("sleep")));
    DecoderSettings settings = Misbehaving();
    settings.deadline = std::chrono::minutes(10);  // only Stop can end it in time
    const std::int64_t size = 5;
    const InputFile input = OpenInputFile(InPath("slow.png"));
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    const DecodedPicture decoded =
        DecodeInHelper({input.fd.Get(), size, "slow.png", 0, 0}, settings, &stop);
    stopper.join();
    EXPECT_TRUE(decoded.stopped);
    EXPECT_EQ(decoded.image, nullptr);
    EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

// Once opened, the path no longer matters: a FIFO put in its place cannot
// make a loader wait for a writer.
TEST_F(DecoderFaults, AnInputSwappedForAFifoAfterItsCheckStillDecodes) {
    const std::string path = InPath("swapped.png");
    ASSERT_TRUE(test_support::WritePng(path, 40, 30, false));
    const InputFile input = OpenInputFile(path);
    ASSERT_TRUE(input.Opened());
    const std::string fifo = InPath("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::rename(fifo.c_str(), path.c_str()), 0);

    JpegDecoder jpeg;
    JpegLoad status = JpegLoad::kDecoded;
    EXPECT_EQ(LoadJpegScaled(jpeg, input.fd.Get(), input.size, 0, 0, nullptr, &status), nullptr);
    EXPECT_EQ(status, JpegLoad::kNotJpeg);
    const DecodedPicture decoded =
        DecodeInHelper({input.fd.Get(), input.size, "swapped.png", 0, 0}, DecoderSettings{});
    ASSERT_NE(decoded.image, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(decoded.image.get()), 40);
}

// A picture that decoded only in part is written and said to be damaged;
// one that lacks only its end marker is whole and stays a JPEG; every
// format is fitted as it is shown; a source without alpha gives RGB.
TEST_F(DecoderFaults, DamagedTurnedAndOpaquePicturesComeOutAsShown) {
    const Bytes jpeg = test_support::MakeJpeg(96, 64);
    const Bytes png = test_support::MakePng(96, 64, false);
    test_support::JpegOptions cmyk;
    cmyk.cmyk = true;
    const struct {
        const char* name;
        Bytes bytes;
        std::string line;
        const char* output;
    } cases[] = {
        {"noeoi.jpg", Bytes(jpeg.begin(), jpeg.end() - 2), "[Done]  noeoi.jpg", "noeoi.jpg"},
        {"half.jpg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2)),
         "[Done]  half.jpg (damaged: the picture ends early)", "half_jpg.png"},
        {"half.png", Bytes(png.begin(), png.begin() + static_cast<long>(png.size() / 2)),
         "[Done]  half.png (damaged: the picture ends early)", "half.png"},
        {"turned.tif", test_support::MakeTiff(100, 50, 6), "[Done]  turned.tif", "turned_tif.png"},
        {"cmyk.jpg", test_support::MakeJpeg(40, 30, cmyk), "[Done]  cmyk.jpg", "cmyk_jpg.png"},
    };
    ConversionJob job;
    job.outputFolder = Out().string();
    job.maxWidth = 60;
    job.maxHeight = 1000;
    for (const auto& c : cases) {
        ASSERT_TRUE(test_support::WriteFile(InPath(c.name), c.bytes));
        job.files.push_back(InPath(c.name));
    }
    SharedGradientTable gradient;
    BatchState state;
    FinalEvents sink;
    ConversionWorker(std::move(job), gradient, state, sink, 1);
    const std::vector<ProgressEvent> finals = sink.Take();
    ASSERT_EQ(finals.size(), std::size(cases));
    for (std::size_t i = 0; i < finals.size(); ++i) {
        EXPECT_EQ(FileStatusLine(finals[i].kind, finals[i].fileName, finals[i].reason),
                  cases[i].line);
        EXPECT_TRUE(test_support::FileExists((Out() / cases[i].output).string()))
            << cases[i].output;
    }
    const PixbufPtr turned(gdk_pixbuf_new_from_file((Out() / "turned_tif.png").c_str(), nullptr));
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(turned.get()), 50);
    EXPECT_EQ(gdk_pixbuf_get_height(turned.get()), 100);
    EXPECT_EQ(test_support::InspectPng(test_support::ReadFile((Out() / "cmyk_jpg.png").string()))
                  .colorType,
              2);
}

// TurboJPEG does not turn CMYK into RGB, so such a JPEG becomes a PNG, which
// cannot say how to show it: its pixels are turned upright instead.
TEST_F(DecoderFaults, ACmykJpegBecomesAnUprightPng) {
    test_support::JpegOptions cmyk;
    cmyk.cmyk = true;
    // Stored 64 x 32 with a dark left half and a light right half.
    const Bytes stored = test_support::MakeHalvesJpeg(64, 32, cmyk);
    ASSERT_FALSE(stored.empty());
    const Bytes turned = test_support::InsertAfterSoi(
        stored, test_support::MakeExifSegment(6, test_support::ByteOrder::kIntel));
    ASSERT_TRUE(test_support::WriteFile(InPath("plain.jpg"), stored));
    ASSERT_TRUE(test_support::WriteFile(InPath("turned.jpg"), turned));

    PixbufPtr plain = test_support::DecodeFile(InPath("plain.jpg"), 0, 0);
    PixbufPtr upright = test_support::DecodeFile(InPath("turned.jpg"), 16, 0);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(upright, nullptr);
    // Orientation 6 turns the stored picture a quarter clockwise: the right
    // half comes to the bottom, and the box applies to the turned picture.
    EXPECT_EQ(gdk_pixbuf_get_width(upright.get()), 16);
    EXPECT_EQ(gdk_pixbuf_get_height(upright.get()), 32);
    const auto at = [](const PixbufPtr& image, int x, int y) {
        return gdk_pixbuf_read_pixels(image.get())[y * gdk_pixbuf_get_rowstride(image.get()) +
                                                   x * gdk_pixbuf_get_n_channels(image.get())];
    };
    const int left = at(plain, 8, 16);
    const int right = at(plain, 56, 16);
    ASSERT_GT(std::abs(left - right), 64) << "the halves must tell the turn apart";
    EXPECT_NEAR(at(upright, 8, 4), left, 8);
    EXPECT_NEAR(at(upright, 8, 28), right, 8);
}

}  // namespace
}  // namespace corvanta
