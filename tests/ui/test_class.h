#pragma once
// The window tests' Qt Test classes share one program, linked once instead of once per class:
// a test file registers its class with QTAM_TEST_CLASS where it would say QTEST_MAIN, and
// test_main.cpp runs the class named on the command line, or every class.

#include <QTest>

namespace qtam::test {

using RunTestClass = int (*)(int argc, char** argv);

// Adds a class to the program's list (true, to initialise the static that registers it).
bool RegisterTestClass(const char* name, RunTestClass run);

}  // namespace qtam::test

// The class runs as QTEST_MAIN runs it, in the application the shared main has made.
#define QTAM_TEST_CLASS(TestObject)                                            \
    [[maybe_unused]] static const bool qtamRegistered##TestObject =            \
        qtam::test::RegisterTestClass(#TestObject, [](int argc, char** argv) { \
            TestObject tc;                                                     \
            QTEST_SET_MAIN_SOURCE_PATH                                         \
            return QTest::qExec(&tc, argc, argv);                              \
        });
