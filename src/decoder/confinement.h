// The decoder's fence against a format library taken over by a crafted
// file: a clean environment, a system-call allow-list and file-system rules
// for reading as well as writing, so that such a loader reads and reaches
// nothing but its picture. Runs only in the decoder's processes.
#pragma once

#include <string>

namespace corvanta::decoder {

// What this kernel lets a decoder put on itself.
struct Protections {
    bool systemCallFilter = false;
    int landlockAbi = 0;  // 0: no Landlock, file opens stay unfiltered
};
Protections AvailableProtections();

// One line for `--version`: which protections a decoder gets here.
std::string DescribeProtections(const Protections& protections);

// The server's start, once every gdk-pixbuf loader is loaded: loads
// fontconfig (FcInit), notes the folders its decoders may read (fonts and
// their cache among them), compiles their system-call filter and keeps only LANG, LC_* and where
// gdk-pixbuf's loaders are in the environment they inherit.
void PrepareConfinement();

}  // namespace corvanta::decoder
