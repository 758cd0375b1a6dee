// storm_saverwin: plays the screensaver daemon's side for the X tests.
//   storm_saverwin open W H FILE
//       makes a black top-level W x H window at the screen's top-left, as a
//       screensaver daemon makes the window its hack draws in, writes its id
//       (0x...) into FILE and keeps it until killed.
//   storm_saverwin free WID
//       checks that whatever draws in WID took nothing a person uses: no
//       client listens for input on it, the pointer and the keyboard can be
//       grabbed (nobody holds them), and the pointer over it is visible.
// Exit 0 when it did what it was asked, 1 with a message otherwise.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

int fail(const char* what)
{
    std::printf("storm_saverwin: %s\n", what);
    return 1;
}

int open_window(Display* display, int width, int height, const char* file)
{
    XSetWindowAttributes attributes = {};
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    // Placed where it is made even under a window manager.
    attributes.override_redirect = True;
    Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, unsigned(width),
                                  unsigned(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                  CWBackPixel | CWOverrideRedirect, &attributes);
    XMapRaised(display, window);
    XSync(display, False);
    std::string temporary = std::string(file) + ".part";
    FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out)
        return fail("cannot write the id file");
    std::fprintf(out, "0x%lx\n", window);
    std::fclose(out);
    std::rename(temporary.c_str(), file);
    // The window lives as long as this connection: until the test kills us.
    for (;;)
        pause();
}

bool s_error = false;

int note_error(Display*, XErrorEvent*)
{
    s_error = true;
    return 0;
}

int check_free(Display* display, Window window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return fail("no such window");
    const long INPUT = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                       PointerMotionMask | ButtonMotionMask | EnterWindowMask | LeaveWindowMask |
                       FocusChangeMask;
    if (attributes.all_event_masks & INPUT) {
        std::printf("storm_saverwin: input events selected on the window: 0x%lx\n",
                    attributes.all_event_masks & INPUT);
        return 1;
    }
    // Button presses go to one client only: taking them must still work.
    XSetErrorHandler(note_error);
    XSelectInput(display, window, ButtonPressMask);
    XSync(display, False);
    if (s_error)
        return fail("another client takes the window's button presses");
    Window root = DefaultRootWindow(display);
    if (XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None,
                     None, CurrentTime) != GrabSuccess)
        return fail("the pointer is grabbed");
    XUngrabPointer(display, CurrentTime);
    if (XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) !=
        GrabSuccess)
        return fail("the keyboard is grabbed");
    XUngrabKeyboard(display, CurrentTime);

    // The pointer over the window shows a cursor with something to see.
    XWarpPointer(display, None, window, 0, 0, 0, 0, attributes.width / 2, attributes.height / 2);
    XSync(display, False);
    int event_base = 0, error_base = 0;
    if (!XFixesQueryExtension(display, &event_base, &error_base))
        return fail("the X server has no XFIXES to read the cursor with");
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    if (!cursor)
        return fail("cannot read the cursor");
    int visible = 0;
    for (int i = 0; i < int(cursor->width) * int(cursor->height); ++i)
        visible += (cursor->pixels[i] >> 24 & 0xFF) != 0;
    XFree(cursor);
    if (visible == 0)
        return fail("the pointer is hidden over the window");
    std::printf("storm_saverwin: no input taken, pointer and keyboard free, cursor of %d pixels\n",
                visible);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return fail("cannot open the display");
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "open" && argc == 5)
        return open_window(display, std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if (command == "free" && argc == 3)
        return check_free(display, Window(std::strtoul(argv[2], nullptr, 0)));
    std::fprintf(stderr, "usage: storm_saverwin open W H FILE | free WID\n");
    return 2;
}
