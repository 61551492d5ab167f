// GUI test programs need GTK initialised (on the Xvfb display) before any test.
#include <clocale>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    gtk_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
