// The deferred half of the software backend: a frame's draws are set up as
// they come and binned into screen tiles (soft_scene.cpp), then the tiles are
// rasterized and shaded by a pool of threads (soft_workers.cpp) when someone
// needs the pixels. Within a tile triangles keep their submission order, so
// depth and blending come out exactly as in the immediate path.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "gfx/soft/soft_fast.h"

// A fixed set of threads that runs numbered jobs. The thread calling run
// takes part, so a pool of one thread has no worker of its own and runs
// everything on the caller.
class SoftWorkers
{
  public:
    typedef void (*Job)(void* user, int index);

    explicit SoftWorkers(int threads);
    ~SoftWorkers();
    SoftWorkers(const SoftWorkers&) = delete;
    SoftWorkers& operator=(const SoftWorkers&) = delete;

    int threads() const { return int(workers_.size()) + 1; }
    // Runs job(user, i) once for every i in [0, count), spread over the
    // threads; returns when all have finished.
    void run(int count, Job job, void* user);

  private:
    void worker_loop();
    void take_jobs();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    // Under mutex_: the batch being run, numbered so a worker knows a new one.
    uint64_t batch_ = 0;
    int busy_ = 0; // workers still inside the current batch
    bool quit_ = false;
    Job job_ = nullptr;
    void* user_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0}; // the next job index to hand out
};

// The queued work of one device: the draws of the frame so far with their
// set-up triangles, binned by tile, and a clear waiting to be applied. The
// storage is kept from frame to frame, so a steady frame allocates nothing.
class SoftScene
{
  public:
    // Renders into `target` (its buffers stay where they are for the life of
    // the scene) in tiles of `tile_size` pixels (even) on `threads` threads.
    SoftScene(const SoftTarget& target, int tile_size, int threads);
    ~SoftScene(); // drops what is queued
    SoftScene(const SoftScene&) = delete;
    SoftScene& operator=(const SoftScene&) = delete;

    int threads() const { return workers_.threads(); }

    // Sets up the draw and queues its triangles. The context is copied, and
    // the textures it samples are held until the scene is rendered; locking
    // one of them renders the scene first (see SoftTexture::queued_in).
    void add_draw(const SoftState& state, const SoftDrawContext& context, D3DPRIMITIVETYPE type,
                  const BYTE* vertices, UINT stride, UINT vertex_count, UINT primitive_count);

    // Queues a clear of the whole target. Draws already queued are rendered
    // first, so the clear lands after them.
    void clear(bool colour, uint32_t colour_value, bool depth, uint16_t depth_value);

    // Renders everything queued into the target and empties the queue. With
    // `presented`, also copies the finished frame there (same size), reduced
    // to what an R5G6B5 target shows when `r5g6b5` is set.
    void render(uint32_t* presented = nullptr, bool r5g6b5 = false);

  private:
    struct Triangle {
        TriangleSetup setup;
        uint32_t draw; // index into draws_
    };

    static void bin_triangle(void* scene, const TriangleSetup& setup);
    static void render_tile_job(void* scene, int tile);
    void render_tile(int tile);
    void hold_textures(const SoftState& state, const SoftDrawContext& context);
    void reset();

    SoftTarget target_;
    int tile_size_;
    int tiles_x_, tiles_y_;
    SoftWorkers workers_;

    std::vector<SoftFastDraw> draws_;
    std::vector<Triangle> triangles_;
    std::vector<std::vector<uint32_t>> bins_; // per tile: indices into triangles_, in order
    std::vector<SoftTexture*> held_;          // textures queued draws sample, one reference each
    bool clear_colour_ = false, clear_depth_ = false;
    uint32_t clear_colour_value_ = 0;
    uint16_t clear_depth_value_ = 0;
    // Set for the length of one render.
    uint32_t* presented_ = nullptr;
    bool r5g6b5_ = false;
};

// Renders what `scene` has queued; for surfaces whose lock must see (or must
// not disturb) queued draws. Does nothing for null.
void soft_scene_render(SoftScene* scene);
