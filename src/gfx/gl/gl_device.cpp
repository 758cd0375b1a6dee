// OpenGL 3.3 device. Draws into a framebuffer object of the back buffer's
// size (8-bit colour, 16-bit depth as D16 has it) and shows it through the
// platform's present operation. The raw states live in an FfStates exactly as
// the program sets them; each draw turns them into a description
// (ff_describe), picks the program generated for its key, lets the state cache
// apply what changed and streams its vertices into a ring buffer.
//
// Direct3D's conventions are met in the transform: the picture is drawn
// upright (GL's bottom row is the frame's last row), pixel centres are moved
// onto GL's by just under half a pixel (so an edge through a centre keeps
// Direct3D's top-left ownership), and depth 0..1 becomes GL's -w..w. The
// frame's alpha stays opaque: draws never write it, as an X8R8G8B8 target has
// none to write.
#include "gfx/gl/gl_device.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/log.h"
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

class GlDirect3D;

} // namespace

class GlDevice final : public RefCounted<IDirect3DDevice8>
{
  public:
    GlDevice(IDirect3D8* d3d, HWND window, int width, int height);
    ~GlDevice() override;
    // Makes the GL objects; false when the context cannot give them.
    bool start();

    HRESULT GetDirect3D(IDirect3D8** d3d) override
    {
        if (!d3d)
            return D3DERR_INVALIDCALL;
        d3d_->AddRef();
        *d3d = d3d_;
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override
    {
        if (!caps)
            return D3DERR_INVALIDCALL;
        *caps = caps_;
        return D3D_OK;
    }
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override
    {
        if (!mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{UINT(width_), UINT(height_), 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override;
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface8** surface) override;

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                    const RGNDATA* dirty) override;

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override;
    HRESULT SetVertexShader(DWORD handle) override
    {
        fvf_ = handle;
        return D3D_OK;
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count) override;

    void read_back(GlLevel* into);
    void write_back(const GlLevel* from);

  private:
    void bind_target();
    void update_matrix();
    GLint stream(const BYTE* first, UINT count);

    IDirect3D8* d3d_;
    HWND window_;
    int width_, height_;
    D3DCAPS8 caps_ = {};
    bool in_scene_ = false;

    FfStates states_;
    GlTexture* texture_[D3D_MAX_TEXTURE_STAGES] = {};
    GlVertexBuffer* stream_ = nullptr;
    UINT stride_ = 0;
    DWORD fvf_ = 0;
    Matrix world_, view_, proj_;
    bool matrix_dirty_ = true;
    float wvp_[16] = {};
    uint64_t matrix_serial_ = 0;
    FfParams fog_ = {};
    uint64_t fog_serial_ = 0;
    bool have_fog_ = false;

    // The last draw's key and program: consecutive draws mostly share them.
    FfKey last_key_ = {};
    GlProgram* last_program_ = nullptr;
    bool have_last_ = false;

    GlStateCache* cache_ = nullptr;
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

class GlDirect3D final : public RefCounted<IDirect3D8>
{
  public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE, D3DFORMAT, DWORD usage,
                              D3DRESOURCETYPE resource_type, D3DFORMAT format) override
    {
        if (adapter != D3DADAPTER_DEFAULT)
            return D3DERR_INVALIDCALL;
        if (resource_type != D3DRTYPE_TEXTURE || usage != 0)
            return D3DERR_NOTAVAILABLE;
        return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 ? D3D_OK
                                                                      : D3DERR_NOTAVAILABLE;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focus_window, DWORD,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT || !params)
            return D3DERR_INVALIDCALL;
        // The frame is always 8 bits a channel; the program asks for that
        // first, so the 24- and 16-bit rungs of its ladder are never needed.
        if (params->BackBufferFormat != D3DFMT_X8R8G8B8 ||
            params->AutoDepthStencilFormat != D3DFMT_D16)
            return D3DERR_NOTAVAILABLE;
        if (params->BackBufferWidth < 1 || params->BackBufferHeight < 1 ||
            params->BackBufferWidth > 16384 || params->BackBufferHeight > 16384)
            return D3DERR_INVALIDCALL;
        HWND window = params->hDeviceWindow ? params->hDeviceWindow : focus_window;
        char why[256] = "";
        if (!gl_open(window, true, false, why, sizeof why)) {
            log_printf("gl: %s", why);
            return D3DERR_NOTAVAILABLE;
        }
        GlDevice* created = new (std::nothrow)
            GlDevice(this, window, int(params->BackBufferWidth), int(params->BackBufferHeight));
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
    : d3d_(d3d), window_(window), width_(width), height_(height),
      back_surface_(this, &back_level_, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, this)
{
    d3d_->AddRef(); // a device keeps its Direct3D object alive
    ff_state_defaults(&states_);
    for (Matrix* m : {&world_, &view_, &proj_})
        mat_translation(m, 0.0f, 0.0f, 0.0f);
    back_level_.width = width;
    back_level_.height = height;
    back_level_.texels.assign(size_t(width) * size_t(height), 0xFF000000u);
}

bool GlDevice::start()
{
    caps_ = device_caps();
    cache_ = gl_state_create();

    glGenTextures(1, &colour_);
    glActiveTexture(GL_TEXTURE0 + 7);
    glBindTexture(GL_TEXTURE_2D, colour_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
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
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return glGetError() == GL_NO_ERROR;
}

GlDevice::~GlDevice()
{
    for (GlTexture*& texture : texture_) {
        if (texture)
            texture->Release();
    }
    if (stream_)
        stream_->Release();
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
    d3d_->Release();
}

void GlDevice::bind_target()
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
    glBindVertexArray(vertex_array_);
    glBindBuffer(GL_ARRAY_BUFFER, ring_);
}

HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width < 1 || height < 1 || width > caps_.MaxTextureWidth ||
        height > caps_.MaxTextureHeight || usage != 0 || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8)
        return D3DERR_INVALIDCALL;
    UINT full = 1;
    for (UINT size = width > height ? width : height; size > 1; size /= 2)
        ++full;
    if (levels == 0 || levels > full)
        levels = full;
    GlTexture* created =
        new (std::nothrow) GlTexture(int(width), int(height), int(levels), format, pool);
    if (!created)
        return E_OUTOFMEMORY;
    *texture = created;
    return D3D_OK;
}

HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL pool,
                                     IDirect3DVertexBuffer8** buffer)
{
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20) || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    BYTE* bytes = static_cast<BYTE*>(std::calloc(length, 1));
    GlVertexBuffer* created = bytes ? new (std::nothrow) GlVertexBuffer(bytes, length) : nullptr;
    if (!created) {
        std::free(bytes);
        return E_OUTOFMEMORY;
    }
    *buffer = created;
    return D3D_OK;
}

HRESULT GlDevice::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface8** surface)
{
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (index != 0)
        return D3DERR_INVALIDCALL;
    back_surface_.AddRef();
    *surface = &back_surface_;
    return D3D_OK;
}

void GlDevice::read_back(GlLevel* into)
{
    // GL keeps the bottom row first; the program expects the top row first.
    size_t row = size_t(width_);
    rows_.resize(row * size_t(height_));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows_.data());
    for (int y = 0; y < height_; ++y) {
        const uint32_t* source = rows_.data() + size_t(height_ - 1 - y) * row;
        uint32_t* target = into->texels.data() + size_t(y) * row;
        for (size_t x = 0; x < row; ++x)
            target[x] = source[x] | 0xFF000000u;
    }
}

void GlDevice::write_back(const GlLevel* from)
{
    size_t row = size_t(width_);
    rows_.resize(row * size_t(height_));
    for (int y = 0; y < height_; ++y)
        std::memcpy(rows_.data() + size_t(height_ - 1 - y) * row,
                    from->texels.data() + size_t(y) * row, row * 4);
    glActiveTexture(GL_TEXTURE0 + 7);
    glBindTexture(GL_TEXTURE_2D, colour_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                    rows_.data());
}

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                        DWORD)
{
    if (count != 0 || rects)
        return D3DERR_INVALIDCALL; // the program only clears whole targets
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
        glClearDepth(z < 0.0f ? 0.0 : (z > 1.0f ? 1.0 : double(z)));
        bits |= GL_DEPTH_BUFFER_BIT;
    }
    if (bits)
        glClear(bits);
    return D3D_OK;
}

HRESULT GlDevice::BeginScene()
{
    if (in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene()
{
    if (!in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = false;
    return D3D_OK;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, HWND override_window, const RGNDATA*)
{
    const GlContextOps* ops = gl_context_ops();
    if (ops && ops->present) {
        ops->present(override_window ? override_window : window_, framebuffer_, width_, height_);
        // The platform used the context for its own drawing.
        gl_state_forget(cache_);
        bind_target();
    }
    return D3D_OK;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    if (!matrix)
        return D3DERR_INVALIDCALL;
    switch (state) {
    case D3DTS_WORLD:
        world_ = *matrix;
        break;
    case D3DTS_VIEW:
        view_ = *matrix;
        break;
    case D3DTS_PROJECTION:
        proj_ = *matrix;
        break;
    default:
        return D3DERR_INVALIDCALL;
    }
    matrix_dirty_ = true;
    return D3D_OK;
}

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    if (state >= D3D_RENDER_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    states_.render[state] = value;
    return D3D_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES || type >= D3D_STAGE_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    states_.stage[stage][type] = value;
    return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DTexture8* texture)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES)
        return D3DERR_INVALIDCALL;
    GlTexture* gl = static_cast<GlTexture*>(texture);
    if (gl)
        gl->AddRef();
    if (texture_[stage])
        texture_[stage]->Release();
    texture_[stage] = gl;
    return D3D_OK;
}

HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride)
{
    if (stream != 0)
        return D3DERR_INVALIDCALL;
    GlVertexBuffer* gl = static_cast<GlVertexBuffer*>(buffer);
    if (gl)
        gl->AddRef();
    if (stream_)
        stream_->Release();
    stream_ = gl;
    stride_ = stride;
    return D3D_OK;
}

// world x view x projection, then Direct3D's clip space turned into GL's:
// x and y moved by just under half a pixel towards GL's pixel centres (right
// and down on the screen), z from 0..w to -w..w. As row vectors:
// x' = x + w·sx, y' = y - w·sy, z' = 2z - w, w' = w. GL reads the row-major
// array as the transpose, which is what its column-vector product wants.
void GlDevice::update_matrix()
{
    Matrix world_view, wvp;
    mat_multiply(&world_view, &world_, &view_);
    mat_multiply(&wvp, &world_view, &proj_);
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
    matrix_dirty_ = false;
    matrix_serial_ = ++s_serial;
}

// Copies `count` vertices into the ring and returns the index of the first.
// The mapping is unsynchronised: the ring only ever hands out space no
// pending draw reads, so neither side waits for the other.
GLint GlDevice::stream(const BYTE* first, UINT count)
{
    GLsizeiptr bytes = GLsizeiptr(count) * GLsizeiptr(stride_);
    // Keep every draw's start a whole number of vertices into the ring.
    GLsizeiptr start =
        (ring_used_ + GLsizeiptr(stride_) - 1) / GLsizeiptr(stride_) * GLsizeiptr(stride_);
    if (start + bytes > ring_bytes_) {
        if (bytes > ring_bytes_)
            ring_bytes_ = bytes;
        glBufferData(GL_ARRAY_BUFFER, ring_bytes_, nullptr, GL_STREAM_DRAW);
        start = 0;
    }
    void* target = glMapBufferRange(GL_ARRAY_BUFFER, start, bytes,
                                    GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT |
                                        GL_MAP_UNSYNCHRONIZED_BIT);
    if (!target)
        return -1;
    std::memcpy(target, first, size_t(bytes));
    glUnmapBuffer(GL_ARRAY_BUFFER);
    ring_used_ = start + bytes;
    return GLint(start / GLsizeiptr(stride_));
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count)
{
    if (!stream_ || fvf_ != (D3DFVF_XYZ | D3DFVF_TEX2) || stride_ < sizeof(Vertex))
        return D3DERR_INVALIDCALL;
    if (primitive_count > caps_.MaxPrimitiveCount)
        return D3DERR_INVALIDCALL;
    size_t available = stream_->size() / stride_;
    if (start_vertex > available)
        return D3DERR_INVALIDCALL;
    available -= start_vertex;

    // Draw only what the buffer holds, as the software device does.
    GLenum mode;
    UINT used;
    switch (type) {
    case D3DPT_TRIANGLELIST:
        if (uint64_t(primitive_count) * 3 > available)
            primitive_count = UINT(available / 3);
        mode = GL_TRIANGLES;
        used = primitive_count * 3;
        break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        if (uint64_t(primitive_count) + 2 > available)
            primitive_count = available >= 2 ? UINT(available - 2) : 0;
        mode = type == D3DPT_TRIANGLESTRIP ? GL_TRIANGLE_STRIP : GL_TRIANGLE_FAN;
        used = primitive_count + 2;
        break;
    default:
        return D3D_OK; // points and lines are not drawn by this device
    }
    if (primitive_count == 0)
        return D3D_OK;

    FfTexture textures[FF_STAGES];
    for (int s = 0; s < FF_STAGES; ++s) {
        textures[s].present = texture_[s] && texture_[s]->GetLevelCount() > 0;
        textures[s].has_alpha = texture_[s] && texture_[s]->has_alpha();
    }
    FfDraw draw;
    ff_describe(states_, textures, proj_, &draw);

    if (!have_last_ || draw.key != last_key_) {
        last_program_ = gl_program_for(gl_shader_key(draw.key));
        last_key_ = draw.key;
        have_last_ = true;
    }
    GlProgram* program = last_program_;
    if (!program)
        return D3D_OK; // its compile failure is in the log

    gl_state_apply_key(cache_, draw.key);
    gl_state_colour_mask(cache_, false);
    gl_state_use_program(cache_, program->name);
    if (matrix_dirty_)
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
            gl_state_bind_texture(cache_, s, texture_[s]->prepare(draw.sampler[s].max_level),
                                  draw.sampler[s]);
    }

    GLint first = stream(stream_->data() + size_t(start_vertex) * stride_, used);
    if (first < 0)
        return D3D_OK;
    if (attrib_stride_ != stride_) {
        GLsizei stride = GLsizei(stride_);
        glVertexAttribPointer(GL_ATTR_POSITION, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
        glVertexAttribPointer(GL_ATTR_COORD0, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(Vertex, u0)));
        glVertexAttribPointer(GL_ATTR_COORD1, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<const void*>(offsetof(Vertex, u1)));
        attrib_stride_ = stride_;
    }
    glDrawArrays(mode, first, GLsizei(used));
    return D3D_OK;
}

IDirect3D8* gl_create_direct3d()
{
    if (!gl_context_ops())
        return nullptr;
    return new (std::nothrow) GlDirect3D;
}
