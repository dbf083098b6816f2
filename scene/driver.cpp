// The GL driver's lifetime: once a window has loaded it, it stays loaded.
#include <dlfcn.h>
#include <link.h>
#include "scene/scene.h"

static int pinLibrary(struct dl_phdr_info *info, size_t, void *)
{
    // The program itself has no name here; everything else is a loaded library.
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
        dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

// Keeps every library the window brought in (the GL driver above all) loaded until exit.
void keepGraphicsDriverLoaded()
{
    // Closing a window unloads the GL driver, and the next window loads and
    // initialises it all over again (the software renderer compiles its
    // shader machinery at load). Pinned, the probe window and the real window
    // share one load, and whatever the driver keeps for itself stays where a
    // leak checker can see whose it is.
    dl_iterate_phdr(pinLibrary, nullptr);
}
