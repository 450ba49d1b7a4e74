// The Qt tests' main: one QApplication for all of them, on the offscreen platform unless the environment
// names another (test discovery runs the program without the test's environment).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

extern "C" {
// Built in rather than passed through ctest (one variable only reaches a discovered test): the driver
// manager's allocations that live as long as the process.
const char* __lsan_default_suppressions() {
    return "leak:libodbc.so\nleak:libodbcinst.so\nleak:psqlodbcw.so\nleak:psqlodbca.so\nleak:libmaodbc.so\n"
           "leak:libsqlite3odbc\nleak:libltdl.so\n";
}
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
