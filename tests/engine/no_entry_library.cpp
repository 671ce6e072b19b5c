// A library that looks like the engine's but cannot make engines: it lacks createRizudAdaEngine.
// Its version entry point must never be asked, since the holder only asks libraries that can.
#if defined(_WIN32)
#define NO_ENTRY_EXPORT extern "C" __declspec(dllexport)
#else
#define NO_ENTRY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

NO_ENTRY_EXPORT const char* getRizudAdaEngineVersion(int* build) {
    if (build) *build = 99;
    return "not-an-engine";
}
