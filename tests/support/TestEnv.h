// Where a test finds the built vorlane binary and the source tree. The
// environment variables VORLANE_BIN and VORLANE_SOURCE_DIR win over the
// paths the build compiled in.
#pragma once

#include <cstdlib>
#include <string>

inline std::string TestVorlaneBinary()
{
    const char* env = getenv("VORLANE_BIN");
    if (env && *env) return env;
#ifdef VORLANE_TEST_BIN
    return VORLANE_TEST_BIN;
#else
    return "";
#endif
}

inline std::string TestSourceDir()
{
    const char* env = getenv("VORLANE_SOURCE_DIR");
    if (env && *env) return env;
#ifdef VORLANE_TEST_SOURCE_DIR
    return VORLANE_TEST_SOURCE_DIR;
#else
    return "";
#endif
}

// Where the black-box harness keeps the outputs of each caster it ran
// (VORLANE_TEST_OUTPUTS in the environment wins); "" when nowhere.
inline std::string TestOutputDir()
{
    const char* env = getenv("VORLANE_TEST_OUTPUTS");
    if (env && *env) return env;
#ifdef VORLANE_TEST_OUTPUT_DIR
    return VORLANE_TEST_OUTPUT_DIR;
#else
    return "";
#endif
}
