#include <clocale>
#include <cstdio>

#include <gtest/gtest.h>


// Runs every test under a decimal-comma locale when one is installed, the way Qt would set the
// process locale from a German technician's environment.
int main(int argc, char** argv) {
    const char* const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"};
    const char* chosen = nullptr;
    for (const char* name : candidates) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    std::printf("process locale: %s\n", chosen ? chosen : "C (no decimal-comma locale installed)");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
