// storm-icon: writes the program's window icon as a PNG for desktop menus, so
// the installed icon is the very picture the window shows.
#include <cstdio>
#include <cstring>

#include "platform/sys.h"
#include "res/png_write.h"

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: storm-icon OUT.png\n");
        return argc == 2 ? 0 : 2;
    }
    uint32_t pixels[ICON_SIZE * ICON_SIZE];
    if (!sys_draw_icon(ICON_MAIN, pixels) ||
        !png_write(argv[1], pixels, ICON_SIZE, ICON_SIZE, ICON_SIZE * 4, true)) {
        std::fprintf(stderr, "storm-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
