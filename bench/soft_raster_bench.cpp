// Throughput of the software device on two loads: one full-screen quad with
// two trilinear stages, fog and translucent blending, and a frame of 1850
// separate draws of two small textured triangles. Prints Mpixels/s and draws/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "gfx/d3d8.h"
#include "gfx/soft/soft_device.h"

namespace
{

struct Bench {
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    IDirect3DVertexBuffer8* buffer = nullptr;
    IDirect3DTexture8* textures[2] = {};
    int width, height;

    Bench(int w, int h) : width(w), height(h)
    {
        soft_config_reset();
        d3d = soft_create_direct3d();
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = UINT(w);
        params.BackBufferHeight = UINT(h);
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.Windowed = 1;
        params.EnableAutoDepthStencil = 1;
        params.AutoDepthStencilFormat = D3DFMT_D16;
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params,
                          &device);
        device->CreateVertexBuffer(1024 * sizeof(Vertex), 0, VERTEX_FVF, D3DPOOL_DEFAULT, &buffer);
        for (int t = 0; t < 2; ++t) {
            device->CreateTexture(256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &textures[t]);
            for (DWORD level = 0; level < textures[t]->GetLevelCount(); ++level) {
                D3DSURFACE_DESC desc;
                textures[t]->GetLevelDesc(level, &desc);
                D3DLOCKED_RECT lock;
                textures[t]->LockRect(level, &lock, nullptr, 0);
                for (UINT y = 0; y < desc.Height; ++y)
                    for (UINT x = 0; x < desc.Width; ++x)
                        static_cast<uint32_t*>(lock.pBits)[y * UINT(lock.Pitch) / 4 + x] =
                            0x80000000u | ((x * 7 + y * 3 + UINT(t) * 50) & 0xFF) * 0x010101u;
                textures[t]->UnlockRect(level);
            }
        }
        device->SetStreamSource(0, buffer, sizeof(Vertex));
        device->SetVertexShader(VERTEX_FVF);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        for (DWORD s = 0; s < 2; ++s) {
            device->SetTexture(s, textures[s]);
            device->SetTextureStageState(s, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
            device->SetTextureStageState(s, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
            device->SetTextureStageState(s, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
        }
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        device->SetRenderState(D3DRS_FOGENABLE, 1);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_FOGCOLOR, 0x808080);
        device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(5.0f));
        device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(50.0f));
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

        Matrix m;
        mat_translation(&m, 0, 0, 0);
        device->SetTransform(D3DTS_WORLD, &m);
        device->SetTransform(D3DTS_VIEW, &m);
        mat_perspective_fov_lh(&m, 0.785f, float(w) / float(h), 0.1f, 5000.0f);
        device->SetTransform(D3DTS_PROJECTION, &m);
    }

    ~Bench()
    {
        for (IDirect3DTexture8* t : textures)
            t->Release();
        buffer->Release();
        device->Release();
        d3d->Release();
    }

    void upload(const std::vector<Vertex>& vertices)
    {
        BYTE* data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
        buffer->Unlock();
    }
};

void BM_FullScreenQuad(benchmark::State& state)
{
    Bench bench(640, 480);
    // A quad at depth 20 that overfills the view, textures repeating 8 times.
    bench.upload({{{-20, -20, 20}, 0, 0, 0, 0},
                  {{20, -20, 20}, 8, 0, 8, 0},
                  {{20, 20, 20}, 8, 8, 8, 8},
                  {{-20, 20, 20}, 0, 8, 0, 8}});
    for (auto _ : state) {
        bench.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        bench.device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    state.counters["Mpixels/s"] = benchmark::Counter(
        640.0 * 480.0 * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FullScreenQuad)->Unit(benchmark::kMillisecond);

void BM_ManySmallDraws(benchmark::State& state)
{
    Bench bench(640, 480);
    constexpr int DRAWS = 1850;
    std::vector<std::vector<Vertex>> quads(DRAWS);
    for (int i = 0; i < DRAWS; ++i) {
        float x = float(i % 50) * 0.8f - 20.0f, y = float(i / 50) * 0.6f - 11.0f;
        quads[size_t(i)] = {{{x, y, 20}, 0, 0, 0, 0},
                            {{x + 0.7f, y, 20}, 1, 0, 1, 0},
                            {{x + 0.7f, y + 0.5f, 20}, 1, 1, 1, 1},
                            {{x, y + 0.5f, 20}, 0, 1, 0, 1}};
    }
    for (auto _ : state) {
        bench.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        for (const std::vector<Vertex>& quad : quads) {
            bench.upload(quad);
            bench.device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["draws/s"] =
        benchmark::Counter(double(state.iterations()) * DRAWS, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ManySmallDraws)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
