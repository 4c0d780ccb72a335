#pragma once

// Several Qt Test classes in one program, one program per module: each class
// registers itself with GNIS_TEST_CLASS, and the program's main runs them all.

#include <QTest>

#include <utility>
#include <vector>

namespace testsupport {

using TestRun = int (*)(int argc, char** argv);

inline std::vector<TestRun>& registeredTests() {
    static std::vector<TestRun> all;
    return all;
}

struct RegisterTest {
    explicit RegisterTest(TestRun run) { registeredTests().push_back(run); }
};

} // namespace testsupport

#define GNIS_TEST_CLASS(Class)                                                                    \
    static int run##Class(int argc, char** argv) {                                                \
        Class test;                                                                               \
        return QTest::qExec(&test, argc, argv);                                                   \
    }                                                                                             \
    static const testsupport::RegisterTest register##Class(&run##Class);
