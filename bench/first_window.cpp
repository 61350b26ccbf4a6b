// Times a program's start: milliseconds from starting it until its first window is mapped on
// the X display, then ends the program. The display should be a private one (Xvfb) where
// nothing else maps windows meanwhile.
//   first_window PROGRAM [ARGUMENTS...]

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: first_window PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "first_window: no X display\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    const auto deadline = start + std::chrono::seconds(30);
    int status = 1;
    while (std::chrono::steady_clock::now() < deadline) {
        if (XPending(display) == 0) {
            usleep(200);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify || event.xmap.override_redirect) continue;
        // Toolkits map small helper windows of their own; a window a person sees is larger.
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, event.xmap.window, &attributes) == 0 ||
            attributes.width < 50 || attributes.height < 50) {
            continue;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        std::printf("%.1f\n", took.count());
        status = 0;
        break;
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    return status;
}
