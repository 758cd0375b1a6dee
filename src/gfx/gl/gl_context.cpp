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

static unsigned s_generation = 0;

unsigned gl_context_generation()
{
    return s_generation;
}

void gl_context_restored()
{
    ++s_generation;
}

static bool s_gone = false;

void gl_context_set_gone(bool gone)
{
    s_gone = gone;
}

bool gl_context_gone()
{
    return s_gone;
}
