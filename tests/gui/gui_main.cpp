// GUI test programs need GTK initialised (on the Xvfb display) before any test.
#include <clocale>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "common/i18n.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    corvanta::InitTranslations();
    gtk_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
