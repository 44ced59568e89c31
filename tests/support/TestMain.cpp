// One main for every test program: the code under test waits on Qt event loops,
// so an application object must exist before the first test runs.
#include <gtest/gtest.h>

#ifdef MARVANE_GUI_MAIN
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    // Test discovery runs the program at build time, where no display may exist.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TestApp app(argc, argv);
    return RUN_ALL_TESTS();
}
