/* Libraries that fail to load, each for one reason, for the tests of
   `zelbridge check`: one source, built in variants chosen by a macro.
   FIXTURE_PROVIDER        exports ZelProvided, and ZelWithdrawn unless
                           FIXTURE_WITHDRAWN_MISSING is defined as well
   FIXTURE_NEEDS_PROVIDER  imports both from zel_provider.dll
   FIXTURE_ABSENT          exports ZelAbsent, from a folder no loader searches
   FIXTURE_NEEDS_ABSENT    imports ZelAbsent from zel_absent.dll
   none of them            exports ZelProbe and, on Windows, imports from
                           KERNEL32 only, built without a C runtime */
#if defined(_WIN32)
#define FIXTURE_EXPORT __declspec(dllexport)
#define FIXTURE_IMPORT __declspec(dllimport)
#else
#define FIXTURE_EXPORT __attribute__((visibility("default")))
#define FIXTURE_IMPORT
#endif

#if defined(FIXTURE_PROVIDER)
FIXTURE_EXPORT int ZelProvided(int value) { return value + 1; }
#if !defined(FIXTURE_WITHDRAWN_MISSING)
FIXTURE_EXPORT int ZelWithdrawn(int value) { return value + 2; }
#endif

#elif defined(FIXTURE_NEEDS_PROVIDER)
FIXTURE_IMPORT int ZelProvided(int value);
FIXTURE_IMPORT int ZelWithdrawn(int value);
FIXTURE_EXPORT int ZelUseProvider(int value) { return ZelProvided(value) + ZelWithdrawn(value); }

#elif defined(FIXTURE_ABSENT)
FIXTURE_EXPORT int ZelAbsent(int value) { return value; }

#elif defined(FIXTURE_NEEDS_ABSENT)
FIXTURE_IMPORT int ZelAbsent(int value);
FIXTURE_EXPORT int ZelUseAbsent(int value) { return ZelAbsent(value); }

#elif defined(_WIN32)
FIXTURE_IMPORT unsigned long __stdcall GetTickCount(void);
FIXTURE_EXPORT int ZelProbe(int value) { return value + (int)GetTickCount(); }
/* The entry point the linker looks for when there is no C runtime. */
int __stdcall DllMainCRTStartup(void* module, unsigned long reason, void* reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}

#else
FIXTURE_EXPORT int ZelProbe(int value) { return value + 1; }
#endif
