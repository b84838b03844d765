// The window tests' program: `ui_tests` runs every registered Qt Test class in turn,
// `ui_tests Class [Qt Test options and functions]` runs one class (CTest runs each class so,
// in a process of its own with its own configuration file).

#include <QApplication>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_class.h"

namespace qtam::test {
namespace {

// By name, so that a run of every class has the same order whatever the link order.
std::map<std::string, RunTestClass>& Classes() {
    static std::map<std::string, RunTestClass> classes;
    return classes;
}

}  // namespace

bool RegisterTestClass(const char* name, RunTestClass run) {
    Classes()[name] = run;
    return true;
}

}  // namespace qtam::test

int main(int argc, char** argv) {
    // As QTEST_MAIN makes its application (this takes out Qt's own options such as -platform).
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const auto& classes = qtam::test::Classes();

    if (argc > 1) {
        const auto found = classes.find(argv[1]);
        if (found == classes.end()) {
            std::fprintf(stderr, "%s: no test class %s; the classes are:\n", argv[0], argv[1]);
            for (const auto& [name, run] : classes) std::fprintf(stderr, "  %s\n", name.c_str());
            return 2;
        }
        // Qt Test sees the program's name and what follows the class.
        std::vector<char*> args{argv[0]};
        args.insert(args.end(), argv + 2, argv + argc);
        return found->second(static_cast<int>(args.size()), args.data());
    }

    std::vector<std::string> failed;
    for (const auto& [name, run] : classes)
        if (run(1, argv) != 0) failed.push_back(name);
    if (failed.empty()) return 0;
    std::fprintf(stderr, "Failed test classes:");
    for (const std::string& name : failed) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 1;
}
