// Writing a scheme's lookup table for other programs: the .cube text and the
// level-8 Hald CLUT image, fitted, written and published in one step under
// exactly the name the user gave, never over anything there.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "batch/batch_engine.h"  // OutputFolderCheck
#include "batch/output_writer.h"
#include "scheme/color_scheme.h"
#include "tone/lut_file.h"
#include "tone/lut_table.h"

namespace corvanta {

enum class LutWrite { kWritten, kTaken, kFailed, kCancelled };

// Writes lut into output (opened in path's folder) in format and names it
// path; the Hald CLUT goes through the encoder of every PNG output. errno
// says why after kFailed. Once stop is set the file is dropped unnamed.
LutWrite WriteLutFile(PendingOutput& output, const LutTable& lut, LutFileFormat format,
                      std::string_view title, const std::string& path,
                      const std::atomic<bool>& stop);

// How an export ended.
struct LutExportResult {
    enum class Outcome {
        kWritten,
        kNotALutName,    // neither .cube nor .png
        kExists,         // something is there, before or by the time of naming
        kFolderProblem,  // folder says what is wrong with folderPath
        kCannotWrite,    // error says why
        kNoMemory,       // for a table of `size` points a side
        kCancelled,
    };
    Outcome outcome = Outcome::kWritten;
    OutputFolderCheck folder = OutputFolderCheck::kFine;
    std::string folderPath;  // kFolderProblem: the folder it names
    int error = 0;
    int size = 0;
};

// The scheme's table, fitted (cubeSize points a side for .cube, 64 for the
// Hald CLUT), written and published at path, titled title.
LutExportResult ExportLut(const ColorScheme& scheme, std::string_view title,
                          const std::string& path, int cubeSize, const std::atomic<bool>& stop);

}  // namespace corvanta
