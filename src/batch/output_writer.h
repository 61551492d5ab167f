// Writing a converted image into the output folder under a name that never
// replaces an existing non-empty file, in one atomic step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "codecs/deflate_png_encoder.h"
#include "codecs/jpeg_encoder.h"
#include "common/scoped_fd.h"

namespace corvanta {

enum class OutputFormat { kJpeg, kPng };

// The 14-digit local date and time ("%Y%m%d%H%M%S") of the date suffix.
std::string DateSuffix(std::time_t when);

// candidate is the output folder followed directly by the input file name.
// Returns the path to write, or nothing when both the plain name and the
// date-suffixed name are taken. Free is: nothing there, or an empty regular
// file. Anything else is taken, a folder and a symbolic link (dangling or
// not) included. Only a lookup: PendingOutput
// decides again when it names its file.
std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format);
// The same, with the date suffix taken from when.
std::optional<std::string> ResolveOutputPath(const std::string& candidate, OutputFormat format,
                                             std::time_t when);

// An output being written: a file in the output folder that has no visible
// name until Publish gives it one, in a single step that fails rather than
// replaces when the name exists. Whatever happens before (a failed write, a
// signal, a killed process) leaves nothing under any visible name. The file
// is made with O_TMPFILE; where the file system cannot do that, it is a
// hidden ".corvanta-<16 hex digits>.tmp" in the same folder, locked while
// it is written and removed when the output is dropped; one that a killed
// process left behind is removed by RemoveStaleHiddenOutputs.
class PendingOutput {
  public:
    PendingOutput() = default;
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // How the file is made: without a name where the system can name it
    // later (O_TMPFILE, and /proc to reach it by), else under a hidden name;
    // kHiddenName takes the second way everywhere (for file systems that
    // refuse the first only at naming time, and for tests).
    enum class Naming { kUnnamedFirst, kHiddenName };

    // Opens the file in the folder of candidate (a path as ResolveOutputPath
    // takes it; a bare name is in the current folder). False when the
    // folder takes no files; Error() says why.
    bool Open(const std::string& candidate, Naming naming = Naming::kUnnamedFirst);
    int Fd() const { return fd_.Get(); }
    // The errno of the last step that failed, 0 when it failed for a name
    // that was taken.
    int Error() const { return error_; }

    // Names the written file by the rule of ResolveOutputPath, decided at the
    // moment of naming: the plain name, else the date-suffixed one. An empty
    // regular file under a name is replaced, but only while this process
    // holds its lock and it is still the file under that name, so two
    // writers never both take it. Returns the name given, or nothing (the
    // file is then dropped) when both are taken or naming failed.
    std::optional<std::string> Publish(const std::string& candidate, OutputFormat format);
    std::optional<std::string> Publish(const std::string& candidate, OutputFormat format,
                                       std::time_t when);

    // For a name the user gave: names the written file exactly name, in the
    // same single step, and takes nothing that is there, not even an empty
    // file. errno says why after kFailed.
    enum class Named { kPublished, kTaken, kFailed };
    Named PublishExactly(const std::string& name);

    // Drops the file unpublished.
    void Discard();

  private:
    enum class Placed { kPlaced, kTaken, kFailed };
    Placed PlaceAt(const std::string& name);
    Placed LinkTo(const std::string& name);

    ScopedFd fd_;
    std::string hiddenPath_;  // set only when O_TMPFILE was not available
    int error_ = 0;
};

// Removes the hidden files of outputs that a killed run left in folder:
// ours by name, owned by this user, older than a minute and locked by no
// writer.
void RemoveStaleHiddenOutputs(const std::string& folder);

// Encodes with 4:4:4 sampling at quality (clamped to 1..100) and writes a
// JPEG file; orientation != 0 inserts an EXIF APP1 segment carrying it.
// True only when every byte was written; a failed write leaves no file and
// puts its reason into *problem when asked for. The name given goes to
// *written when asked for.
bool WriteJpegOutput(JpegEncoder& encoder, const GdkPixbuf* image, const std::string& candidate,
                     int quality, std::uint8_t orientation, std::string* written = nullptr,
                     std::string_view* problem = nullptr);

// Writes an 8-bit RGB or RGBA PNG with the encoder (one per thread); a
// failed write leaves no file.
bool WritePngOutput(DeflatePngEncoder& encoder, const GdkPixbuf* image,
                    const std::string& candidate, std::string* written = nullptr,
                    std::string_view* problem = nullptr);

}  // namespace corvanta
