// Presenting part of a frame: copying rectangles of the back buffer to the
// window with GLX_MESA_copy_sub_buffer, where the GL stack has it. Kept apart
// from the drawing code: the X and GLX headers define names (None, Bool,
// Status) that clash with raylib's.
#include <cstdlib>
#include <cstring>
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#define GLFW_EXPOSE_NATIVE_GLX
#include <GLFW/glfw3native.h>

typedef void (*CopySubBuffer)(Display *display, GLXDrawable drawable, int x, int y, int width, int height);
typedef const char *(*QueryExtensions)(Display *display, int screen);
static CopySubBuffer copySubBuffer = nullptr;

// Whether a space-separated list names the extension, whole.
static bool listed(const char *list, const char *name)
{
    size_t n = std::strlen(name);
    for (const char *p = list; p && (p = std::strstr(p, name)); p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

bool canPresentPart()
{
    // A diagnostic switch: every frame is swapped whole, as on a stack without the extension.
    const char *full = std::getenv("MIRL_FULL_PRESENT");
    if (full && std::strcmp(full, "1") == 0) return false;
    Display *display = glfwGetX11Display();
    QueryExtensions query = (QueryExtensions)glfwGetProcAddress("glXQueryExtensionsString");
    if (!display || !query || !listed(query(display, DefaultScreen(display)), "GLX_MESA_copy_sub_buffer")) return false;
    copySubBuffer = (CopySubBuffer)glfwGetProcAddress("glXCopySubBufferMESA");
    return copySubBuffer != nullptr;
}

void presentPart(int x, int y, int width, int height)
{
    GLFWwindow *window = glfwGetCurrentContext();
    int w = 0, h = 0;
    glfwGetFramebufferSize(window, &w, &h);
    // A rectangle reaching outside the window is a fatal X error: keep it inside.
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y, x1 = x + width > w ? w : x + width, y1 = y + height > h ? h : y + height;
    if (!copySubBuffer || x1 <= x0 || y1 <= y0) return;
    // GL counts rows from the bottom of the window.
    copySubBuffer(glfwGetX11Display(), glfwGetGLXWindow(window), x0, h - y1, x1 - x0, y1 - y0);
}
