// Entry point of every test program: a QApplication on the offscreen platform
// (unless the caller chose another), so that windows, pictures and the
// clipboard work without a display and nothing waits for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
