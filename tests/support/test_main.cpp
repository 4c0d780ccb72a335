// The main of every test program: an application object (a widget one for the
// windows' tests), then each registered test class in turn.

#include "test_main.h"

#if defined(GNIS_TEST_WIDGETS)
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

int main(int argc, char** argv) {
    Application app(argc, argv);
    int failed = 0;
    for (const testsupport::TestRun run : testsupport::registeredTests())
        failed += run(argc, argv);
    return failed;
}
