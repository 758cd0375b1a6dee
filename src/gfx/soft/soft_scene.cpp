// Binning and tile rendering. A draw is transformed, clipped and set up when
// it is made, with the same stages as the immediate path; each set-up
// triangle is stored once and its index appended to the bin of every tile
// its bounds touch, unless one of its edges leaves the whole tile outside.
// The draw's fixed-function description and texture pointers are copied,
// never read from the device later. Rendering runs one job per tile: the
// queued clear, then the tile's triangles in submission order clipped to the
// tile, then (for Present) the tile's part of the presented frame. Tiles are
// disjoint and start on even pixels, so no 2 x 2 quad straddles two of them
// and every pixel is computed exactly as the immediate path computes it,
// whichever thread takes the tile.
#include "gfx/soft/soft_scene.h"

#include <algorithm>

SoftScene::SoftScene(const SoftTarget& target, int tile_size, int threads)
    : target_(target), tile_size_(tile_size), workers_(threads)
{
    tiles_x_ = (target.width + tile_size - 1) / tile_size;
    tiles_y_ = (target.height + tile_size - 1) / tile_size;
    bins_.resize(size_t(tiles_x_) * size_t(tiles_y_));
}

SoftScene::~SoftScene()
{
    reset();
}

void SoftScene::reset()
{
    for (SoftTexture* texture : held_) {
        texture->queued_in = nullptr;
        texture->Release();
    }
    held_.clear();
    draws_.clear();
    triangles_.clear();
    for (std::vector<uint32_t>& bin : bins_)
        bin.clear();
    clear_colour_ = clear_depth_ = false;
}

void SoftScene::hold_textures(const SoftState& state, const SoftDrawContext& context)
{
    for (int s = 0; s < FF_STAGES; ++s) {
        if (!context.texture[s])
            continue;
        SoftTexture* texture = state.texture[s];
        if (texture->queued_in == this)
            continue;
        // A texture read by another device's queue: that queue goes first.
        soft_scene_render(texture->queued_in);
        texture->queued_in = this;
        texture->AddRef();
        held_.push_back(texture);
    }
}

void SoftScene::add_draw(const SoftState& state, const SoftDrawContext& context,
                         D3DPRIMITIVETYPE type, const BYTE* vertices, UINT stride,
                         UINT vertex_count, UINT primitive_count)
{
    draws_.emplace_back();
    soft_fast_prepare(context, &draws_.back());
    size_t before = triangles_.size();
    soft_setup_draw(state, context, type, vertices, stride, vertex_count, primitive_count,
                    bin_triangle, this);
    if (triangles_.size() == before) {
        draws_.pop_back(); // nothing to draw: nothing to keep or to hold
        return;
    }
    hold_textures(state, context);
}

// Largest value of a fixed-point edge function over the pixel centres of a
// rectangle (inclusive bounds): at the corner the edge's gradient points to.
static int64_t edge_max(const TriangleSetup& t, int i, int x0, int y0, int x1, int y1)
{
    int64_t dx = t.edge_dx[i], dy = t.edge_dy[i];
    return t.edge_c[i] + (dx > 0 ? dx * x1 : dx * x0) + (dy > 0 ? dy * y1 : dy * y0);
}

void SoftScene::bin_triangle(void* user, const TriangleSetup& setup)
{
    SoftScene& scene = *static_cast<SoftScene*>(user);
    const int size = scene.tile_size_;
    uint32_t index = uint32_t(scene.triangles_.size());
    bool binned = false;
    for (int ty = setup.min_y / size; ty <= setup.max_y / size; ++ty) {
        int y0 = std::max(ty * size, setup.min_y), y1 = std::min(ty * size + size - 1, setup.max_y);
        for (int tx = setup.min_x / size; tx <= setup.max_x / size; ++tx) {
            int x0 = std::max(tx * size, setup.min_x);
            int x1 = std::min(tx * size + size - 1, setup.max_x);
            bool outside = false;
            for (int i = 0; i < 3 && !outside; ++i)
                outside = edge_max(setup, i, x0, y0, x1, y1) < 0;
            if (outside)
                continue;
            scene.bins_[size_t(ty) * size_t(scene.tiles_x_) + size_t(tx)].push_back(index);
            binned = true;
        }
    }
    if (binned)
        scene.triangles_.push_back({setup, uint32_t(scene.draws_.size() - 1)});
}

void SoftScene::clear(bool colour, uint32_t colour_value, bool depth, uint16_t depth_value)
{
    if (!triangles_.empty())
        render();
    if (colour) {
        clear_colour_ = true;
        clear_colour_value_ = colour_value;
    }
    if (depth) {
        clear_depth_ = true;
        clear_depth_value_ = depth_value;
    }
}

void SoftScene::render_tile(int tile)
{
    int tx = tile % tiles_x_, ty = tile / tiles_x_;
    int x0 = tx * tile_size_, y0 = ty * tile_size_;
    int x1 = std::min(x0 + tile_size_, target_.width),
        y1 = std::min(y0 + tile_size_, target_.height);
    size_t pitch = size_t(target_.width);
    for (int y = y0; y < y1; ++y) {
        size_t row = size_t(y) * pitch;
        if (clear_colour_)
            std::fill(target_.colour + row + x0, target_.colour + row + x1, clear_colour_value_);
        if (clear_depth_)
            std::fill(target_.depth + row + x0, target_.depth + row + x1, clear_depth_value_);
    }
    for (uint32_t index : bins_[size_t(tile)]) {
        const Triangle& triangle = triangles_[index];
        const SoftFastDraw& draw = draws_[triangle.draw];
        draw.raster(draw, triangle.setup, x0, y0, x1, y1);
    }
    if (!presented_)
        return;
    for (int y = y0; y < y1; ++y) {
        size_t row = size_t(y) * pitch;
        const uint32_t* from = target_.colour + row;
        uint32_t* to = presented_ + row;
        if (r5g6b5_) {
            for (int x = x0; x < x1; ++x)
                to[x] = soft_quantise_r5g6b5(from[x]);
        } else {
            std::copy(from + x0, from + x1, to + x0);
        }
    }
}

void SoftScene::render_tile_job(void* scene, int tile)
{
    static_cast<SoftScene*>(scene)->render_tile(tile);
}

void SoftScene::render(uint32_t* presented, bool r5g6b5)
{
    if (triangles_.empty() && !clear_colour_ && !clear_depth_ && !presented)
        return;
    presented_ = presented;
    r5g6b5_ = r5g6b5;
    workers_.run(tiles_x_ * tiles_y_, render_tile_job, this);
    presented_ = nullptr;
    reset();
}

void soft_scene_render(SoftScene* scene)
{
    if (scene)
        scene->render();
}
