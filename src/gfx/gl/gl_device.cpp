// OpenGL device, on desktop OpenGL 3.3 or OpenGL ES 3.0. Draws into a framebuffer object of the
// back buffer's size (8-bit colour, 16-bit depth as D16 has it) and shows it through the platform's
// present operation. The device front (gfx/device_front.h) checks the calls, keeps the bound state
// and describes each draw; this device picks the program generated for the description's key, lets
// the state cache apply what changed and streams the draw's vertices into a ring buffer.
//
// Direct3D's conventions are met in the transform: the picture is drawn
// upright (GL's bottom row is the frame's last row), pixel centres are moved
// onto GL's by just under half a pixel (so an edge through a centre keeps
// Direct3D's top-left ownership), and depth 0..1 becomes GL's -w..w. The
// frame's alpha stays opaque: draws never write it, as an X8R8G8B8 target has
// none to write.
//
// A context can be lost (a browser drops WebGL contexts) and given anew: the
// device then makes its GL objects again before it next draws, and the
// textures upload their levels again from memory. A context lost for good
// makes the device lost: Present says so.
#include "gfx/gl/gl_device.h"

#include <cstring>
#include <new>

#include "base/log.h"
#include "gfx/device_front.h"
#include "gfx/gl/gl_context.h"
#include "gfx/gl/gl_internal.h"

namespace
{

// Streamed vertices go into a ring of this size; a full ring is orphaned
// (GL hands out fresh storage) rather than waited for. A draw larger than
// the ring grows it to the draw's size.
constexpr GLsizeiptr RING_BYTES = 8 << 20;

// Just under half a pixel, in pixels (see the file comment).
constexpr float CENTRE_SHIFT = 63.0f / 128.0f;

// Serials of uploaded uniform values, unique across devices so a program
// kept from an earlier device never mistakes a value for its own.
uint64_t s_serial = 0;

D3DCAPS8 device_caps()
{
    D3DCAPS8 caps = {};
    caps.DeviceType = D3DDEVTYPE_HAL;
    caps.AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps.TextureCaps = D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_MIPMAP;
    GLint max_size = 2048;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    caps.MaxTextureWidth = DWORD(max_size < 2048 ? max_size : 2048);
    caps.MaxTextureHeight = caps.MaxTextureWidth;
    caps.MaxTextureAspectRatio = caps.MaxTextureWidth;
    caps.MaxAnisotropy = 16;
    caps.MaxPrimitiveCount = 0xFFFFF;
    caps.MaxVertexIndex = 0xFFFFF;
    return caps;
}

} // namespace

class GlDevice final : public DeviceFront
{
  public:
    GlDevice(IDirect3D8* d3d, HWND window, int width, int height);
    ~GlDevice() override;
    // Makes the GL objects; false when the context cannot give them.
    bool start();

    void read_back(GlLevel* into);
    void write_back(const GlLevel* from);

  private:
    HRESULT make_texture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool,
                         IDirect3DTexture8** texture) override
    {
        GlTexture* created = new (std::nothrow) GlTexture(width, height, levels, format, pool);
        *texture = created;
        return created ? D3D_OK : E_OUTOFMEMORY;
    }
    const D3DCAPS8& caps() const override { return caps_; }
    IDirect3DSurface8* back_buffer() override { return &back_surface_; }
    void clear(DWORD flags, D3DCOLOR colour, float z) override;
    void present(HWND window) override;
    void draw(const FrontDraw& draw) override;
    bool lost() const override { return gl_context_gone(); }

    bool make_objects();
    // Makes the GL objects again when the context was given anew; false
    // while there is nothing to draw with.
    bool have_context();
    void bind_target();
    void update_matrix();
    GLint stream(const BYTE* first, UINT count, UINT stride);

    D3DCAPS8 caps_ = {};
    // The transform serial the product below was made for.
    uint64_t matrix_made_for_ = ~uint64_t(0);
    float wvp_[16] = {};
    uint64_t matrix_serial_ = 0;
    FfParams fog_ = {};
    uint64_t fog_serial_ = 0;
    bool have_fog_ = false;

    // The last draw's key and program: consecutive draws mostly share them.
    GlShaderKey last_key_ = {};
    GlProgram* last_program_ = nullptr;
    bool have_last_ = false;

    GlStateCache* cache_ = nullptr;
    unsigned generation_ = 0; // the context generation the objects below belong to
    bool objects_made_ = false;
    GLuint framebuffer_ = 0, colour_ = 0, depth_ = 0;
    GLuint vertex_array_ = 0, ring_ = 0;
    GLsizeiptr ring_bytes_ = RING_BYTES, ring_used_ = 0;
    UINT attrib_stride_ = 0;

    GlLevel back_level_;
    GlSurface back_surface_;
    std::vector<uint32_t> rows_; // read-back scratch, GL's row order
};

namespace
{

class GlDirect3D final : public Direct3DFront
{
    bool takes_texture(D3DFORMAT) override { return true; }
    // The frame is always 8 bits a channel; the program asks for that
    // first, so the 24- and 16-bit rungs of its ladder are never needed.
    bool takes_target(D3DFORMAT colour, D3DFORMAT depth) override
    {
        return colour == D3DFMT_X8R8G8B8 && depth == D3DFMT_D16;
    }
    HRESULT make_device(HWND window, int width, int height, D3DFORMAT,
                        IDirect3DDevice8** device) override
    {
        char why[256] = "";
        if (!gl_open(window, true, false, gl_profile(), why, sizeof why)) {
            log_printf("gl: %s", why);
            return D3DERR_NOTAVAILABLE;
        }
        GlDevice* created = new (std::nothrow) GlDevice(this, window, width, height);
        if (!created)
            return D3DERR_OUTOFVIDEOMEMORY;
        if (!created->start()) {
            created->Release();
            return D3DERR_NOTAVAILABLE;
        }
        *device = created;
        return D3D_OK;
    }
};

} // namespace

void gl_device_read_back(GlDevice* device, GlLevel* into)
{
    device->read_back(into);
}

void gl_device_write_back(GlDevice* device, const GlLevel* from)
{
    device->write_back(from);
}

GlDevice::GlDevice(IDirect3D8* d3d, HWND window, int width, int height)
    : DeviceFront(d3d, window, width, height, D3DFMT_X8R8G8B8),
      back_surface_(this, &back_level_, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, this)
{
    back_level_.width = width;
    back_level_.height = height;
    back_level_.texels.assign(size_t(width) * size_t(height), 0xFF000000u);
}

bool GlDevice::start()
{
    caps_ = device_caps();
    cache_ = gl_state_create();
    generation_ = gl_context_generation();
    return make_objects();
}

bool GlDevice::make_objects()
{
    objects_made_ = false;
    glGenTextures(1, &colour_);
    glActiveTexture(GL_TEXTURE0 + 7);
    glBindTexture(GL_TEXTURE_2D, colour_);
    gl_upload_level(0, width_, height_, nullptr, false, true);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glGenRenderbuffers(1, &depth_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width_, height_);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        log_printf("gl: the %d x %d frame cannot be rendered to", width_, height_);
        return false;
    }

    glGenVertexArrays(1, &vertex_array_);
    glBindVertexArray(vertex_array_);
    glGenBuffers(1, &ring_);
    glBindBuffer(GL_ARRAY_BUFFER, ring_);
    glBufferData(GL_ARRAY_BUFFER, RING_BYTES, nullptr, GL_STREAM_DRAW);
    glEnableVertexAttribArray(GL_ATTR_POSITION);
    glEnableVertexAttribArray(GL_ATTR_COORD0);
    glEnableVertexAttribArray(GL_ATTR_COORD1);

    bind_target();
    // A new frame starts black and at the far plane, as the software one.
    gl_state_colour_mask(cache_, true);
    gl_state_depth_mask(cache_, true);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl_api_clear_depth(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    objects_made_ = glGetError() == GL_NO_ERROR;
    return objects_made_;
}

bool GlDevice::have_context()
{
    if (gl_context_gone())
        return false;
    if (generation_ == gl_context_generation())
        return objects_made_;
    // Every name below died with the old context; the programs and the
    // samplers are made again as draws ask for them.
    generation_ = gl_context_generation();
    framebuffer_ = colour_ = depth_ = vertex_array_ = ring_ = 0;
    ring_bytes_ = RING_BYTES;
    ring_used_ = 0;
    attrib_stride_ = 0;
    have_last_ = false;
    last_program_ = nullptr;
    gl_programs_forget();
    gl_state_lost(cache_);
    log_printf("gl: the context was given anew; its objects are made again");
    return make_objects();
}

GlDevice::~GlDevice()
{
    if (generation_ != gl_context_generation() || gl_context_gone()) {
        // The names belong to a context that is gone.
        if (cache_)
            gl_state_lost(cache_);
        framebuffer_ = colour_ = depth_ = vertex_array_ = ring_ = 0;
    }
    if (cache_)
        gl_state_destroy(cache_);
    if (ring_)
        glDeleteBuffers(1, &ring_);
    if (vertex_array_)
        glDeleteVertexArrays(1, &vertex_array_);
    if (framebuffer_)
        glDeleteFramebuffers(1, &framebuffer_);
    if (depth_)
        glDeleteRenderbuffers(1, &depth_);
    if (colour_)
        glDeleteTextures(1, &colour_);
}

void GlDevice::bind_target()
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
    glBindVertexArray(vertex_array_);
    glBindBuffer(GL_ARRAY_BUFFER, ring_);
}

void GlDevice::read_back(GlLevel* into)
{
    if (!have_context())
        return; // what the level held before stands
    // GL keeps the bottom row first; the program expects the top row first.
    size_t row = size_t(width_);
    rows_.resize(row * size_t(height_));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (gl_profile() == GlProfile::es) {
        glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rows_.data());
        gl_swap_red_blue(rows_.data(), rows_.data(), rows_.size(), true);
    } else {
        glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows_.data());
    }
    for (int y = 0; y < height_; ++y) {
        const uint32_t* source = rows_.data() + size_t(height_ - 1 - y) * row;
        uint32_t* target = into->texels.data() + size_t(y) * row;
        for (size_t x = 0; x < row; ++x)
            target[x] = source[x] | 0xFF000000u;
    }
}

void GlDevice::write_back(const GlLevel* from)
{
    if (!have_context())
        return;
    size_t row = size_t(width_);
    rows_.resize(row * size_t(height_));
    for (int y = 0; y < height_; ++y)
        std::memcpy(rows_.data() + size_t(height_ - 1 - y) * row,
                    from->texels.data() + size_t(y) * row, row * 4);
    glActiveTexture(GL_TEXTURE0 + 7);
    glBindTexture(GL_TEXTURE_2D, colour_);
    gl_upload_level(0, width_, height_, rows_.data(), true, true);
}

void GlDevice::clear(DWORD flags, D3DCOLOR color, float z)
{
    if (!have_context())
        return;
    GLbitfield bits = 0;
    if (flags & D3DCLEAR_TARGET) {
        // Clears ignore the masks draws use; the frame's alpha stays opaque.
        gl_state_colour_mask(cache_, true);
        glClearColor(float((color >> 16) & 0xFF) / 255.0f, float((color >> 8) & 0xFF) / 255.0f,
                     float(color & 0xFF) / 255.0f, 1.0f);
        bits |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        gl_state_depth_mask(cache_, true);
        gl_api_clear_depth(z);
        bits |= GL_DEPTH_BUFFER_BIT;
    }
    if (bits)
        glClear(bits);
}

void GlDevice::present(HWND window)
{
    const GlContextOps* ops = gl_context_ops();
    if (have_context() && ops && ops->present) {
        ops->present(window, framebuffer_, width_, height_);
        // The platform used the context for its own drawing.
        gl_state_forget(cache_);
        bind_target();
    }
}

// world x view x projection, then Direct3D's clip space turned into GL's:
// x and y moved by just under half a pixel towards GL's pixel centres (right
// and down on the screen), z from 0..w to -w..w. As row vectors:
// x' = x + w·sx, y' = y - w·sy, z' = 2z - w, w' = w. GL reads the row-major
// array as the transpose, which is what its column-vector product wants.
void GlDevice::update_matrix()
{
    Matrix world_view, wvp;
    mat_multiply(&world_view, &state().world, &state().view);
    mat_multiply(&wvp, &world_view, &state().proj);
    float sx = CENTRE_SHIFT * 2.0f / float(width_);
    float sy = CENTRE_SHIFT * 2.0f / float(height_);
    for (int row = 0; row < 4; ++row) {
        const float* m = wvp.m + row * 4;
        float* out = wvp_ + row * 4;
        out[0] = m[0] + m[3] * sx;
        out[1] = m[1] - m[3] * sy;
        out[2] = 2.0f * m[2] - m[3];
        out[3] = m[3];
    }
    matrix_made_for_ = transform_serial();
    matrix_serial_ = ++s_serial;
}

// Copies `count` vertices into the ring and returns the index of the first.
// The mapping is unsynchronised: the ring only ever hands out space no
// pending draw reads, so neither side waits for the other. OpenGL ES takes
// them by glBufferSubData (WebGL maps no buffers).
GLint GlDevice::stream(const BYTE* first, UINT count, UINT stride)
{
    GLsizeiptr bytes = GLsizeiptr(count) * GLsizeiptr(stride);
    // Keep every draw's start a whole number of vertices into the ring.
    GLsizeiptr start =
        (ring_used_ + GLsizeiptr(stride) - 1) / GLsizeiptr(stride) * GLsizeiptr(stride);
    if (start + bytes > ring_bytes_) {
        if (bytes > ring_bytes_)
            ring_bytes_ = bytes;
        glBufferData(GL_ARRAY_BUFFER, ring_bytes_, nullptr, GL_STREAM_DRAW);
        start = 0;
    }
    if (gl_profile() == GlProfile::es) {
        glBufferSubData(GL_ARRAY_BUFFER, start, bytes, first);
        ring_used_ = start + bytes;
        return GLint(start / GLsizeiptr(stride));
    }
    void* target = gl_api_map_for_write(start, bytes);
    if (!target)
        return -1;
    std::memcpy(target, first, size_t(bytes));
    gl_api_unmap();
    ring_used_ = start + bytes;
    return GLint(start / GLsizeiptr(stride));
}

void GlDevice::draw(const FrontDraw& front)
{
    if (!have_context())
        return;
    const FfDraw& draw = *front.described;
    GLenum mode = front.type == D3DPT_TRIANGLELIST    ? GL_TRIANGLES
                  : front.type == D3DPT_TRIANGLESTRIP ? GL_TRIANGLE_STRIP
                                                      : GL_TRIANGLE_FAN;
    if (!have_last_ || front.described_anew) {
        GlShaderKey key = gl_shader_key(draw);
        if (!have_last_ || key != last_key_) {
            last_program_ = gl_program_for(key);
            last_key_ = key;
            have_last_ = true;
        }
    }
    GlProgram* program = last_program_;
    if (!program)
        return; // its compile failure is in the log

    gl_state_apply_key(cache_, draw.key);
    gl_state_colour_mask(cache_, false);
    gl_state_use_program(cache_, program->name);
    if (matrix_made_for_ != transform_serial())
        update_matrix();
    if (program->matrix_serial != matrix_serial_) {
        glUniformMatrix4fv(program->wvp, 1, GL_FALSE, wvp_);
        program->matrix_serial = matrix_serial_;
    }
    if (draw.key.fog_mode != D3DFOG_NONE) {
        if (!have_fog_ || std::memcmp(&fog_, &draw.params, sizeof fog_) != 0) {
            fog_ = draw.params;
            fog_serial_ = ++s_serial;
            have_fog_ = true;
        }
        if (program->fog_serial != fog_serial_) {
            glUniform4f(program->fog, fog_.fog_start, fog_.fog_end, fog_.fog_density, 0.0f);
            glUniform3fv(program->fog_colour, 1, fog_.fog_colour);
            program->fog_serial = fog_serial_;
        }
    }
    for (int s = 0; s < draw.key.stages; ++s) {
        if (draw.key.stage[s].sampled)
            gl_state_bind_texture(
                cache_, s,
                static_cast<GlTexture*>(state().texture[s])->prepare(draw.sampler[s].max_level),
                draw.sampler[s]);
    }

    GLint first = stream(front.vertices, front.vertex_count, front.stride);
    if (first < 0)
        return;
    if (attrib_stride_ != front.stride) {
        GLsizei stride = GLsizei(front.stride);
        glVertexAttribPointer(GL_ATTR_POSITION, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
        glVertexAttribPointer(GL_ATTR_COORD0, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(Vertex, u0)));
        glVertexAttribPointer(GL_ATTR_COORD1, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(Vertex, u1)));
        attrib_stride_ = front.stride;
    }
    glDrawArrays(mode, first, GLsizei(front.vertex_count));
}

IDirect3D8* gl_create_direct3d()
{
    if (!gl_context_ops())
        return nullptr;
    return new (std::nothrow) GlDirect3D;
}
