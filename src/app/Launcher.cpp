// The `lumra` command. A Lumra already running is asked to toggle its popup at once, in plain
// system calls; only otherwise is the application, with Qt and everything it needs, loaded.
#include "app/HandOver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/prctl.h>
#include <unistd.h>

// Qt's D-Bus thread keeps libdbus's read buffer until exit; not a leak of ours (sanitizer builds).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

// The application module, where it is installed (lib/lumra beside bin), else beside the command
// (the build tree). Found from the command's own place, not the library path.
void* loadApplication()
{
    char command[4096];
    const ssize_t length = ::readlink("/proc/self/exe", command, sizeof command - 1);
    if (length <= 0)
        return nullptr;
    command[length] = '\0';
    char* slash = std::strrchr(command, '/');
    if (!slash)
        return nullptr;
    *slash = '\0';
    void* application = nullptr;
    const char* const modules[] = {LUMRA_INSTALLED_APPLICATION, LUMRA_BUILT_APPLICATION};
    for (const char* module : modules) {
        char path[8192];
        if (std::snprintf(path, sizeof path, "%s/%s", command, module) < int(sizeof path)
            && ::access(path, R_OK) == 0 && (application = ::dlopen(path, RTLD_NOW | RTLD_GLOBAL)))
            break;
    }
    return application;
}

// What a person asking the command for help or its version is told; nothing is handed over for it.
bool answeredHere(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs("Usage: lumra [--help] [--version]\n"
                       "Starts Lumra, the clipboard history. Run again while Lumra runs, it opens the popup,\n"
                       "or closes it when it is open; bind it to a key where no program may grab keys.\n",
                       stdout);
            return true;
        }
        if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-v")) {
            std::fputs("lumra " LUMRA_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // Lumra holds every copy the user made: from its first line no other program of the user's may
    // attach to it or read its memory. The side programs it starts are confined instead.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (answeredHere(argc, argv))
        return 0;
    // Qt's own arguments and a restart (which waits for the Lumra it replaces) take the long road,
    // where SingleInstance decides.
    char path[4096];
    if (argc == 1 && !std::getenv("LUMRA_REPLACES_PID") && lumra::handover::socketPath(path, sizeof path)
        && lumra::handover::send(path)) {
        std::fputs("lumra.app: Lumra is already running; asked it to open or close its popup.\n", stderr);
        return 0;
    }
    void* application = loadApplication();
    using Main = int (*)(int, char**);
    auto* run = application ? reinterpret_cast<Main>(::dlsym(application, "lumraMain")) : nullptr;
    if (!run) {
        const char* error = ::dlerror();
        std::fprintf(stderr, "Lumra could not start: %s\n", error ? error : "its application module is missing");
        return 1;
    }
    return run(argc, argv);
}
