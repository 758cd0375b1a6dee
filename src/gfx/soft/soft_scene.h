// The deferred half of the software backend: a frame's draws are set up as
// they come and binned into screen tiles (soft_scene.cpp), then the tiles are
// rasterized and shaded by a pool of threads (soft_workers.cpp) when someone
// needs the pixels. Within a tile triangles keep their submission order, so
// depth and blending come out exactly as in the immediate path.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "gfx/soft/soft_fast.h"

// A fixed set of threads that runs numbered jobs. The thread that starts a
// batch is free until it finishes it, and then takes part; a pool of one
// thread has no worker of its own and runs a batch as it starts it.
class SoftWorkers
{
  public:
    typedef void (*Job)(void* user, int index);

    explicit SoftWorkers(int threads);
    ~SoftWorkers(); // finishes the batch under way
    SoftWorkers(const SoftWorkers&) = delete;
    SoftWorkers& operator=(const SoftWorkers&) = delete;

    int threads() const { return int(workers_.size()) + 1; }
    // Sets job(user, i) going for every i in [0, count), after finishing the
    // batch before.
    void start(int count, Job job, void* user);
    // Whether every job of the batch under way has run (true with none).
    bool done();
    // Helps with the jobs left, then waits until all have run.
    void finish();
    // start, then finish.
    void run(int count, Job job, void* user);

  private:
    void worker_loop();
    void take_jobs();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    bool started_ = false; // a batch is under way (the caller's own flag)
    // Under mutex_: the batch being run, numbered so a worker knows a new one.
    uint64_t batch_ = 0;
    int busy_ = 0; // workers still inside the current batch
    bool quit_ = false;
    Job job_ = nullptr;
    void* user_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0}; // the next job index to hand out
};

// The queued work of one device, a frame at a time: the draws of the frame so
// far with their set-up triangles, binned by tile, and a clear waiting to be
// applied. A submitted frame is rendered by the threads while the device
// queues the next one; the next is rendered only once the first is done, as
// both write the same target. The storage is kept from frame to frame, so a
// steady frame allocates nothing.
//
// Queued draws read textures as they were when the frame first sampled them.
// A texture the open frame samples is rendered before anyone writes it
// (before_write); one that only the frame in flight samples gets a copy of
// the level being written, and the frame in flight keeps reading the old
// texels, so the program can fill the next frame's texture while the last
// one is drawn.
class SoftScene
{
  public:
    // Renders into `target`'s colour (its buffers stay where they are for the
    // life of the scene) in tiles of `tile_size` pixels (even) on `threads`
    // threads. The depth buffer starts as the target's and is the scene's
    // own from then on: the target's is left as it was.
    SoftScene(const SoftTarget& target, int tile_size, int threads);
    ~SoftScene(); // waits for the frame in flight; drops what is queued
    SoftScene(const SoftScene&) = delete;
    SoftScene& operator=(const SoftScene&) = delete;

    int threads() const { return workers_.threads(); }

    // Sets up the draw and queues its triangles. The context is copied, and
    // the textures it samples are held until the frame is rendered.
    void add_draw(const FrontState& state, const SoftDrawContext& context, const FrontDraw& draw);

    // Queues a clear of the whole target. Draws already queued are rendered
    // first, so the clear lands after them.
    void clear(bool colour, uint32_t colour_value, bool depth, uint16_t depth_value);

    // Where a presented frame goes once it is rendered: show(user, pixels),
    // called on the device's thread before anything else is drawn into the
    // target, with the target's colour (or its R5G6B5 reduction).
    typedef void (*Show)(void* user, const uint32_t* pixels);
    void set_show(Show show, void* user);

    // Sends the frame queued so far to be rendered, once the frame in flight
    // is done, and returns while the threads render it. With `present`, the
    // finished frame is shown; for an R5G6B5 target `quantised` (same size)
    // receives what that target would show, and is shown instead.
    void submit(bool present = false, uint32_t* quantised = nullptr);
    // Waits until the frame in flight, if any, is rendered.
    void finish();
    // Renders everything queued and waits for it: every pixel is in the target.
    void render();

    // To be called before a level of a texture queued in this scene is
    // written: see the class comment.
    void before_write(SoftTexture* texture, TexelLevel* level);

  private:
    struct Triangle {
        TriangleSetup setup;
        uint32_t draw; // index into Frame::draws
    };

    struct Frame {
        uint64_t serial = 0;
        std::vector<SoftFastDraw> draws;
        std::vector<Triangle> triangles;
        std::vector<std::vector<uint32_t>> bins; // per tile: indices into triangles, in order
        std::vector<uint32_t> order;             // the tiles in the order they are handed out
        std::vector<SoftTexture*> held;          // textures its draws sample, one reference each
        std::deque<SoftLevelChain> chains;       // those textures' levels as its draws read them
        // Texels (plain and stacked) of levels written while this frame was
        // in flight, which its draws still read, and the levels they were
        // taken from.
        std::vector<std::vector<uint32_t>> retired;
        std::vector<const TexelLevel*> renamed;
        bool clear_colour = false, clear_depth = false;
        uint32_t clear_colour_value = 0;
        uint16_t clear_depth_value = 0;
        bool present = false;
        uint32_t* quantised = nullptr;
    };

    static void bin_triangle(void* scene, const TriangleSetup& setup);
    static void render_tile_job(void* scene, int index);
    void render_tile(const Frame& frame, int tile);
    SoftTile tile_bounds(int tile) const; // with the pitch of its depth
    const SoftLevelChain* hold_texture(SoftTexture* texture);
    void retire(Frame* frame);

    SoftTarget target_;
    int tile_size_;
    int tiles_x_, tiles_y_;
    Frame frames_[2];
    // The depth buffer, kept tile by tile as the tiles are drawn (nothing
    // else reads it), so it never moves between the target and a tile: each
    // tile's rows `pitch` apart from depth_at_[tile], with the margin of
    // SoftTile.
    std::vector<uint16_t> depth_;
    std::vector<size_t> depth_at_;
    Frame* open_ = &frames_[0]; // the frame draws are queued in
    Frame* flight_ = nullptr;   // the frame the threads render, if any
    Show show_ = nullptr;
    void* show_user_ = nullptr;
    SoftWorkers workers_; // last: gone before the frames
};

// Renders what `scene` has queued; for surfaces whose lock must see (or must
// not disturb) queued draws. Does nothing for null.
void soft_scene_render(SoftScene* scene);
