// Corvanta.dat through real starts and exits of the corvanta program, run
// from a temporary directory that becomes its program directory. Dialogs and
// keys go through the X server with xdotool; the scheme comes and goes
// through the clipboard with xclip.
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/close_signals.h"
#include "gui_harness.h"
#include "scheme/preset_store.h"
#include "scheme/scheme_text.h"
#include "x_clients.h"

namespace corvanta::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Client coordinates in the program's window at its start size.
constexpr int kMaxWidthFieldX = 6 + 98 + 20;
constexpr int kMaxWidthFieldY = 370 + 30 + 12;
constexpr int kPresetListX = 472 + 6 + 100;
constexpr int kPresetListY = 204 + 10;
constexpr int kInfoIconX = 472 + 234 + 12;
constexpr int kInfoIconY = 404 + 12;

Bytes StoreBytes(const StoredSettings& settings, const PresetTable& table) {
    const auto bytes = SerializePresetStore(settings, table);
    return {bytes.begin(), bytes.end()};
}

class ProgramStoreTest : public ::testing::Test {
  protected:
    std::string StoreFile() const { return dir_.File(kPresetStoreFileName); }
    void WriteStore(const Bytes& bytes) const {
        std::ofstream out(StoreFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    Bytes ReadStore() const {
        std::ifstream in(StoreFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Starts the program, lets it do nothing and closes it.
    void StartAndClose() {
        ProgramRun run(dir_.Path());
        ASSERT_TRUE(run.Start());
        EXPECT_EQ(run.Close(), 0);
    }

    TempDir dir_;
};

TEST_F(ProgramStoreTest, StoredPresetAndSettingsSurviveARestart) {
    StartAndClose();
    const PresetTable builtIn = MakePresetTable();
    EXPECT_EQ(ReadStore(), StoreBytes({8192, 8192, 1}, builtIn));  // exactly 496 bytes

    // Paste a scheme, store it as user preset 3, refuse preset 5 and empty
    // the width field.
    const ColorScheme scheme{0xFF102030, 0,          0x80FFFFFF, 0xFF0000FF, 0,
                             0,          0x00ABCDEF, 0,          0xFFFFFFFF};
    OfferClipboard("Try this one:\n" + FormatSchemeText(scheme) + "\n", dir_.Path());
    {
        ProgramRun run(dir_.Path());
        ASSERT_TRUE(run.Start());
        run.Keys({"ctrl+9"});
        ASSERT_TRUE(run.Answer("Clipboard data", "alt+y"));
        run.Keys({"ctrl+3"});
        ASSERT_TRUE(run.Answer("User presets", "alt+y"));
        run.Keys({"ctrl+5"});
        ASSERT_TRUE(run.Answer("User presets", "alt+n"));
        run.Click(kMaxWidthFieldX, kMaxWidthFieldY, 1);
        run.Keys({"ctrl+a", "BackSpace"});
        EXPECT_EQ(run.Close(), 0);
    }
    PresetTable stored = builtIn;
    stored.rows[23].slots = scheme;
    EXPECT_EQ(ReadStore(), StoreBytes({0, 8192, 1}, stored));

    // After a restart the row "User preset 3" holds the scheme (copied back
    // out through the info icon), and the width field shows "0", which is
    // what the next exit writes again.
    {
        ProgramRun run(dir_.Path());
        ASSERT_TRUE(run.Start());
        run.Click(kPresetListX, kPresetListY, 1);
        run.Keys({"End", "Up", "Up", "Up", "Up", "Up"});  // row 28, then up to row 23
        run.Click(kInfoIconX, kInfoIconY, 3);
        EXPECT_TRUE(PumpUntil([&] { return ReadClipboard() == FormatSchemeText(scheme); }, 10000));
        EXPECT_EQ(run.Close(), 0);
    }
    EXPECT_EQ(ReadStore(), StoreBytes({0, 8192, 1}, stored));
}

TEST_F(ProgramStoreTest, EveryShapeOfFileIsReadOrLeftAloneByteForByte) {
    const PresetTable builtIn = MakePresetTable();
    // Empty: not read, filled at exit.
    WriteStore({});
    StartAndClose();
    EXPECT_EQ(ReadStore(), StoreBytes({8192, 8192, 1}, builtIn));

    // Foreign, or too short to hold the magic: never read, never changed.
    Bytes foreign(600, 0xA5);
    foreign[0] = 0x89;
    foreign[1] = 'P';
    for (const Bytes& other : {foreign, Bytes{'C', 'V', '1'}, Bytes{'c', 'v', '1', '0', 0, 0}}) {
        WriteStore(other);
        StartAndClose();
        EXPECT_EQ(ReadStore(), other);
    }

    // Cut inside the height: its low bytes count, the quality reads 0
    // ("Medium"), the presets keep their built-in content.
    WriteStore({'C', 'V', '1', '0', 0xD2, 0x04, 0, 0, 0x39, 0x30});
    StartAndClose();
    EXPECT_EQ(ReadStore(), StoreBytes({1234, 12345, 0}, builtIn));

    // Cut inside the second preset record: the bytes present replace the
    // first record and the start of the second.
    PresetTable partial = builtIn;
    partial.rows[21].name.fill('A');
    partial.rows[21].slots.fill(0xFF00FF00);
    partial.rows[22].name.fill('B');
    partial.rows[22].slots.fill(0xFFEEDDCC);
    Bytes cut = StoreBytes({640, 480, 1}, partial);
    cut.resize(16 + 60 + 30);
    WriteStore(cut);
    StartAndClose();
    PresetTable expected = builtIn;
    StoredSettings settings;
    ASSERT_TRUE(ApplyPresetStoreBytes(cut.data(), cut.size(), settings, expected));
    EXPECT_EQ(expected.rows[22].name, partial.rows[22].name);
    EXPECT_EQ(expected.rows[22].slots[0], 0xFFEEDDCCu);
    EXPECT_EQ(expected.rows[22].slots[1], 0x0000DDCCu);  // cut after its two low bytes
    EXPECT_EQ(expected.rows[22].slots[2], 0u);
    EXPECT_EQ(ReadStore(), StoreBytes({640, 480, 1}, expected));

    // Longer, with odd names, an odd quality and a height wider than the
    // field: read, shown as "High" and "99999", cut to 496 bytes at exit,
    // the names carried through unchanged.
    PresetTable odd = builtIn;
    odd.rows[21].name.fill('\0');
    odd.rows[24].name.fill('\xE9');
    odd.rows[28].slots = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes longer = StoreBytes({-1, 100000, 7}, odd);
    longer.insert(longer.end(), 100, 0x42);
    WriteStore(longer);
    StartAndClose();
    EXPECT_EQ(ReadStore(), StoreBytes({-1, 99999, 1}, odd));
}

// Window B started first, window A second: each keeps what the other
// stored ("Gray", the scheme at start, as user presets 2 and 5).
TEST_F(ProgramStoreTest, TwoWindowsKeepEachOthersPresets) {
    ProgramRun b(dir_.Path());
    ProgramRun a(dir_.Path());
    ASSERT_TRUE(b.Start());
    ASSERT_TRUE(a.Start());
    a.Keys({"ctrl+2"});
    ASSERT_TRUE(a.Answer("User presets", "alt+y"));
    EXPECT_EQ(a.Close(), 0);
    b.Keys({"ctrl+5"});
    ASSERT_TRUE(b.Answer("User presets", "alt+y"));
    EXPECT_EQ(b.Close(), 0);
    PresetTable both = MakePresetTable();
    both.rows[22].slots = both.rows[0].slots;
    both.rows[25].slots = both.rows[0].slots;
    EXPECT_EQ(ReadStore(), StoreBytes({8192, 8192, 1}, both));
}

// A store that cannot be read at start-up (a FIFO under its name) is said
// at once; the good file put back meanwhile is left as it is.
TEST_F(ProgramStoreTest, AStoreUnreadableAtStartIsNeverWrittenOver) {
    ASSERT_EQ(::mkfifo(StoreFile().c_str(), 0644), 0);
    ProgramRun run(dir_.Path());
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.Answer("User presets", "Return"));
    std::remove(StoreFile().c_str());
    const Bytes good = StoreBytes({640, 480, 0}, MakePresetTable());
    WriteStore(good);
    run.Keys({"ctrl+1"});
    ASSERT_TRUE(run.Answer("User presets", "alt+y"));
    EXPECT_EQ(run.Close(), 0);
    EXPECT_EQ(ReadStore(), good);
}

// A stored preset is in the file at once, so it outlives a kill; SIGTERM,
// SIGHUP and SIGINT close the window as its close button does, and a lost
// display still saves the emptied width field.
TEST_F(ProgramStoreTest, AStoredPresetOutlivesEveryEndAndSignalsCloseCleanly) {
    PresetTable stored = MakePresetTable();
    stored.rows[24].slots = stored.rows[0].slots;
    const Bytes presetOnly = StoreBytes({8192, 8192, 1}, stored);
    const std::pair<int, int> ends[] = {{SIGTERM, 0},
                                        {SIGHUP, 0},
                                        {SIGINT, 0},
                                        {SIGKILL, -1},
                                        {ProgramRun::kLoseDisplay, kDisplayLostStatus}};
    for (const auto& [signal, status] : ends) {
        std::remove(StoreFile().c_str());
        ProgramRun run(dir_.Path());
        ASSERT_TRUE(run.Start());
        run.Keys({"ctrl+4"});
        ASSERT_TRUE(run.Answer("User presets", "alt+y"));
        EXPECT_TRUE(PumpUntil([&] { return ReadStore() == presetOnly; }, 10000)) << signal;
        run.Click(kMaxWidthFieldX, kMaxWidthFieldY, 1);
        run.Keys({"ctrl+a", "BackSpace"});  // saved by every end but the kill
        EXPECT_EQ(run.Close(signal), status) << signal;
        EXPECT_EQ(ReadStore(), signal == SIGKILL ? presetOnly : StoreBytes({0, 8192, 1}, stored))
            << signal;
    }
}

}  // namespace
}  // namespace corvanta::testing
