/* An application that links every function of the header through the import
 * library (-lZelbridge) and looks each one up at run time by the name the
 * header documents for it, as application.md tells application developers. */
#include <stdio.h>
#include <string.h>

#include <zelbridge.h>

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE Module;
static Module module_of_process(void) { return GetModuleHandleA("Zelbridge.dll"); }
static int has_export(Module module, const char *name) { return GetProcAddress(module, name) != NULL; }
#else
#include <dlfcn.h>
typedef void *Module;
static Module module_of_process(void) { return dlopen(NULL, RTLD_NOW); }
static int has_export(Module module, const char *name) { return dlsym(module, name) != NULL; }
#endif

typedef void (*Function)(void);
struct HeaderFunction {
    const char *name;
    Function linked;
};

/* Every function the header declares, read from it by the test. */
static const struct HeaderFunction functions[] = {
#define HEADER_FUNCTION(name) {#name, (Function)name},
#include "header_functions.inc"
#undef HEADER_FUNCTION
};

int main(int argc, char **argv)
{
    const size_t count = sizeof functions / sizeof functions[0];
    size_t i;
    size_t found = 0;
    Module module = module_of_process();
    int system;

    if (argc != 3) {
        fprintf(stderr, "usage: names DRIVER PREFIX\n");
        return 2;
    }
    for (i = 0; i < count; ++i) {
        const char *exported = strcmp(functions[i].name, "ConnectPciBoard") == 0
                                   ? ZELBRIDGE_CONNECT_PCI_BOARD_EXPORT
                                   : functions[i].name;
        if (functions[i].linked != NULL && module != NULL && has_export(module, exported))
            ++found;
        else
            printf("not found: %s as \"%s\"\n", functions[i].name, exported);
    }
    printf("%u of %u header functions found by their documented names\n", (unsigned)found, (unsigned)count);

    system = DefineSystem(argv[1], argv[2]);
    printf("ConnectPciBoard through the import library: system %d, result %d\n", system,
           ConnectPciBoard(system, 0));
    CloseConnection(system);
    return found == count && system >= 0 ? 0 : 1;
}
