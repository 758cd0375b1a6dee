// Renderer core. For now it only marks its place in start-up and shutdown;
// the vertex buffer, the transforms and the drawing shapes come with the
// renderer proper.
#include "gfx/renderer.h"

#include "app/log.h"

int _r_init()
{
    log_printf("_r_init()");
    return 1;
}

void _r_deinit()
{
    log_printf("_r_deinit()");
}

void r_set_camera()
{
}

void r_set_ortho(float, float)
{
}
