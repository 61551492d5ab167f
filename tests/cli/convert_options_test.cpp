#include "cli/convert_options.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "scheme/scheme_text.h"

namespace corvanta {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
    return ParseConvertOptions(args);
}

// The error of a command line that must be refused.
std::string ErrorOf(std::vector<std::string> args) {
    const ParsedOptions parsed = ParseConvertOptions(args);
    EXPECT_FALSE(parsed.options) << "accepted: " << (args.empty() ? "" : args.back());
    return parsed.error;
}

TEST(ConvertOptions, DefaultsAndForms) {
    const ParsedOptions parsed = Parse({"--output", "out", "a.jpg", "--", "--b.jpg", "-"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const ConvertOptions& o = *parsed.options;
    EXPECT_EQ(o.action, ConvertAction::kConvert);
    EXPECT_EQ(o.outputFolder, "out");
    EXPECT_EQ(o.scheme, *FindBuiltInPreset("Gray"));
    EXPECT_EQ(o.maxWidth, 8192);
    EXPECT_EQ(o.maxHeight, 8192);
    EXPECT_EQ(o.quality, 95);
    EXPECT_EQ(o.jobs, 0);
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.jpg", "--b.jpg", "-"}));

    const ParsedOptions inlined =
        Parse({"x.png", "--output=o/", "--max-size=0x600", "--quality=medium", "--jobs=3"});
    ASSERT_TRUE(inlined.options) << inlined.error;
    EXPECT_EQ(inlined.options->outputFolder, "o/");
    EXPECT_EQ(inlined.options->maxWidth, 0);
    EXPECT_EQ(inlined.options->maxHeight, 600);
    EXPECT_EQ(inlined.options->quality, 80);
    EXPECT_EQ(inlined.options->jobs, 3);

    EXPECT_EQ(Parse({"--list-presets"}).options->action, ConvertAction::kListPresets);
    EXPECT_EQ(Parse({"--bogus", "--help"}).error.empty(), false) << "first problem wins";
    EXPECT_EQ(Parse({"--output", "o", "--version"}).options->action, ConvertAction::kVersion);
}

TEST(ConvertOptions, SchemesAndPresets) {
    const ColorScheme scheme = {1, 2, 3, 4, 5, 6, 7, 8, 0xFFFFFFFF};
    const ParsedOptions fromText =
        Parse({"--output", "o", "--scheme", FormatSchemeText(scheme), "a"});
    ASSERT_TRUE(fromText.options);
    EXPECT_EQ(fromText.options->scheme, scheme);

    const ParsedOptions fromPreset = Parse({"--output", "o", "--preset", "sEPIA OLD", "a"});
    ASSERT_TRUE(fromPreset.options);
    EXPECT_EQ(fromPreset.options->scheme,
              (ColorScheme{0xFF144270, 0xFF144270, 0, 0, 0, 0, 0, 0xFFF0FCFF, 0xFFF0FCFF}));

    EXPECT_NE(ErrorOf({"--output", "o", "--preset", "Nope", "a"}).find("'Nope'"),
              std::string::npos);
    // Separators and user presets are no schemes to ask for.
    ErrorOf({"--output", "o", "--preset", "-", "a"});
    ErrorOf({"--output", "o", "--preset", "User preset 1", "a"});
    EXPECT_NE(ErrorOf({"--output", "o", "--scheme", "0x1,0x2", "a"}).find("nine"),
              std::string::npos);
    ErrorOf({"--output", "o", "--scheme", FormatSchemeText(scheme), "--preset", "Gray", "a"});

    // Each built-in name in the listing leads back to its own scheme line.
    const std::string listing = PresetListing();
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 19);
    EXPECT_NE(listing.find("Heat camera"), std::string::npos);
    EXPECT_EQ(listing.find("User preset"), std::string::npos);
    const std::size_t warm = listing.find("Warm brown");
    ASSERT_NE(warm, std::string::npos);
    EXPECT_EQ(ParseSchemeText(listing.substr(warm)), FindBuiltInPreset("warm brown"));
}

TEST(ConvertOptions, RefusesBadValuesWithTheirNames) {
    EXPECT_NE(ErrorOf({"--output", "o", "--frobnicate", "a"}).find("--frobnicate"),
              std::string::npos);
    EXPECT_NE(ErrorOf({"a.jpg"}).find("--output"), std::string::npos);
    ErrorOf({"--output", "o"});  // nothing to convert
    ErrorOf({"--output"});       // value missing
    ErrorOf({"--output", ""});
    for (const char* quality : {"0", "101", "-5", "hi", "95%", ""}) {
        EXPECT_NE(ErrorOf({"--output", "o", "--quality", quality, "a"}).find("--quality"),
                  std::string::npos);
    }
    for (const char* size : {"1000", "x", "10x", "-1x5", "1e3x5", "2147483648x1", "10 x 10"}) {
        EXPECT_NE(ErrorOf({"--output", "o", "--max-size", size, "a"}).find("--max-size"),
                  std::string::npos);
    }
    for (const char* jobs : {"0", "257", "two", "+2"}) {
        EXPECT_NE(ErrorOf({"--output", "o", "--jobs", jobs, "a"}).find("--jobs"),
                  std::string::npos);
    }
    const ParsedOptions extremes =
        Parse({"--output", "o", "--max-size", "2147483647X1", "--quality", "1", "a"});
    ASSERT_TRUE(extremes.options);
    EXPECT_EQ(extremes.options->maxWidth, 2147483647);
    EXPECT_EQ(extremes.options->quality, 1);
}

TEST(ConvertOptions, ExportLutTakesTheSchemeAndASizeButNoConversion) {
    const ParsedOptions plain = Parse({"--export-lut", "look.cube"});
    ASSERT_TRUE(plain.options) << plain.error;
    EXPECT_EQ(plain.options->action, ConvertAction::kExportLut);
    EXPECT_EQ(plain.options->lutFile, "look.cube");
    EXPECT_EQ(plain.options->lutSize, 65);
    EXPECT_EQ(plain.options->scheme, *FindBuiltInPreset("Gray"));
    EXPECT_EQ(plain.options->schemeName, "Gray");

    const ParsedOptions sized =
        Parse({"--preset", "heat CAMERA", "--lut-size=256", "--export-lut", "h.CUBE"});
    ASSERT_TRUE(sized.options) << sized.error;
    EXPECT_EQ(sized.options->lutSize, 256);
    EXPECT_EQ(sized.options->schemeName, "Heat camera");
    EXPECT_EQ(Parse({"--export-lut", "h.cube", "--lut-size", "2"}).options->lutSize, 2);

    const ColorScheme scheme = {1, 2, 3, 4, 5, 6, 7, 8, 0xFFFFFFFF};
    const ParsedOptions line =
        Parse({"--export-lut", "a.png", "--scheme", FormatSchemeText(scheme)});
    ASSERT_TRUE(line.options) << line.error;
    EXPECT_EQ(line.options->scheme, scheme);
    EXPECT_EQ(line.options->schemeName, FormatSchemeText(scheme));

    const struct {
        std::vector<std::string> args;
        const char* named;
    } refused[] = {
        {{"--export-lut", "look.txt"}, "'look.txt'"},
        {{"--export-lut", "look"}, ".cube or .png"},
        {{"--export-lut", "a.cube", "--lut-size", "1"}, "--lut-size"},
        {{"--export-lut", "a.cube", "--lut-size", "257"}, "2 to 256"},
        {{"--export-lut", "a.cube", "--lut-size", "big"}, "'big'"},
        {{"--export-lut", "a.cube", "b.jpg"}, "'b.jpg'"},
        {{"--export-lut", "a.cube", "--output", "o"}, "--output"},
        {{"--export-lut", "a.png", "--lut-size", "33"}, "Hald"},
        {{"--export-lut", "a.cube", "--quality", "high"}, "--quality"},
        {{"--output", "o", "--lut-size", "33", "a.jpg"}, "--export-lut"},
    };
    for (const auto& c : refused) {
        EXPECT_NE(ErrorOf(c.args).find(c.named), std::string::npos) << c.named;
    }
}

}  // namespace
}  // namespace corvanta
