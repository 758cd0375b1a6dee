// The OpenGL API under the backend: libepoxy's loader on the desktop (for
// desktop OpenGL and OpenGL ES contexts alike), the browser's WebGL 2 as
// OpenGL ES 3.0 through emscripten. The few names only desktop OpenGL has
// are defined for the browser too, so one source builds for both; the
// profile of the open context decides at run time which calls are made.
#pragma once

#ifdef __EMSCRIPTEN__
#include <GLES3/gl3.h>

#define GL_BGRA 0x80E1
#define GL_UNSIGNED_INT_8_8_8_8_REV 0x8367
#define GL_CLAMP_TO_BORDER 0x812D
#define GL_TEXTURE_BORDER_COLOR 0x1004
#define GL_TEXTURE_LOD_BIAS 0x8501

inline bool gl_api_is_desktop()
{
    return false;
}
inline int gl_api_version()
{
    return 30; // WebGL 2
}
inline void gl_api_clear_depth(float z)
{
    glClearDepthf(z);
}
// WebGL maps no buffers.
inline void* gl_api_map_for_write(GLintptr, GLsizeiptr)
{
    return nullptr;
}
inline void gl_api_unmap() {}
#else
#include <epoxy/gl.h>

inline bool gl_api_is_desktop()
{
    return epoxy_is_desktop_gl();
}
inline int gl_api_version()
{
    return epoxy_gl_version();
}
// glClearDepthf is OpenGL ES's (and only OpenGL 4.1's on the desktop).
inline void gl_api_clear_depth(float z)
{
    if (epoxy_is_desktop_gl())
        glClearDepth(double(z));
    else
        glClearDepthf(z);
}
// `bytes` of the bound array buffer from `start`, mapped for writing without
// waiting for draws that read other parts of it.
inline void* gl_api_map_for_write(GLintptr start, GLsizeiptr bytes)
{
    return glMapBufferRange(GL_ARRAY_BUFFER, start, bytes,
                            GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT |
                                GL_MAP_UNSYNCHRONIZED_BIT);
}
inline void gl_api_unmap()
{
    glUnmapBuffer(GL_ARRAY_BUFFER);
}
#endif
