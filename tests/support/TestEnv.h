// Where a test finds the built vorlane binary, the source tree and the
// folder of kept black-box outputs. The environment variables VORLANE_BIN,
// VORLANE_SOURCE_DIR and VORLANE_TEST_OUTPUTS win over the paths the build
// compiled in.
#pragma once

#include <cstdlib>
#include <string>

#ifndef VORLANE_TEST_BIN
#define VORLANE_TEST_BIN ""
#endif
#ifndef VORLANE_TEST_SOURCE_DIR
#define VORLANE_TEST_SOURCE_DIR ""
#endif
#ifndef VORLANE_TEST_OUTPUT_DIR
#define VORLANE_TEST_OUTPUT_DIR ""
#endif

// The variable's value when set and not empty, else the compiled-in path.
inline std::string TestPathFromEnv(const char* variable, const char* compiledIn)
{
    const char* env = getenv(variable);
    return env && *env ? env : compiledIn;
}

inline std::string TestVorlaneBinary() { return TestPathFromEnv("VORLANE_BIN", VORLANE_TEST_BIN); }

inline std::string TestSourceDir() { return TestPathFromEnv("VORLANE_SOURCE_DIR", VORLANE_TEST_SOURCE_DIR); }

// Where the black-box harness keeps the outputs of each caster it ran; ""
// when nowhere.
inline std::string TestOutputDir() { return TestPathFromEnv("VORLANE_TEST_OUTPUTS", VORLANE_TEST_OUTPUT_DIR); }
