// A tiny library for the module conformance tests: hmtestmod.dll on Windows,
// libhmtestmod.so beside the test program elsewhere.
#ifdef _WIN32
#define HM_TESTMOD_EXPORT __declspec(dllexport)
#else
#define HM_TESTMOD_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
HM_TESTMOD_EXPORT int HmTestModAnswer(void) {
    return 42;
}
HM_TESTMOD_EXPORT int HmTestModCounter = 7;
}
