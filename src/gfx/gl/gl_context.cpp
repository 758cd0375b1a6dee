// Holds the platform's GL context operations for the backend.
#include "gfx/gl/gl_context.h"

static const GlContextOps* s_ops = nullptr;

void gl_set_context_ops(const GlContextOps* ops)
{
    s_ops = ops;
}

const GlContextOps* gl_context_ops()
{
    return s_ops;
}
