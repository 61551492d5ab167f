// Translated texts of the window (gettext, domain "corvanta"). The command's
// status lines, exit codes and the numbers written into files are never
// translated: scripts read them.
#pragma once

#include <glib/gi18n.h>

namespace corvanta {

constexpr const char* kTextDomain = "corvanta";
// GTK's own domain, for the stock button texts the program passes to GTK.
constexpr const char* kGtkTextDomain = "gtk30";

// Binds the domain to the translations beside the running program
// (../share/locale of its real folder), else to the installed ones; a
// program without either shows its texts in English.
void InitTranslations();

}  // namespace corvanta
