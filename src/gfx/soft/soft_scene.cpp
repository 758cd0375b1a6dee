// Binning and tile rendering. A draw is transformed, clipped and set up when
// it is made, with the same stages as the immediate path; each set-up
// triangle is stored once and its index appended to the bin of every tile
// its bounds touch, unless one of its edges leaves the whole tile outside.
// The draw's fixed-function description and the texels it samples are
// captured, never read from the device later. Rendering runs one job per
// tile, its colour in a buffer of the thread's own: the queued clear (or the
// target's pixels), then the tile's triangles in submission order clipped to
// the tile, then the pixels back to the target and (when presenting to an
// R5G6B5 target) the tile's part of the reduced frame. The tile's depth
// stays where it is drawn, in the scene's tile-by-tile depth buffer. Tiles
// are disjoint and start on even pixels, so no 2 x 2 quad straddles two of
// them and every pixel is computed exactly as the immediate path computes
// it, whichever thread takes the tile.
//
// Two frames take turns: one in flight, rendered by the workers, and one
// open, taking draws on the device's thread. Only that thread moves frames
// along (submit, finish), holds and releases textures, and swaps texels.
#include "gfx/soft/soft_scene.h"

#include <algorithm>
#include <cstdint>

SoftScene::SoftScene(const SoftTarget& target, int tile_size, int threads)
    : target_(target), tile_size_(tile_size), workers_(threads)
{
    tiles_x_ = (target.width + tile_size - 1) / tile_size;
    tiles_y_ = (target.height + tile_size - 1) / tile_size;
    for (Frame& frame : frames_) {
        frame.bins.resize(size_t(tiles_x_) * size_t(tiles_y_));
        frame.order.resize(frame.bins.size());
    }
    open_->serial = 1;
    // The depth buffer, tile by tile, starts as the target's.
    for (int tile = 0; tile < tiles_x_ * tiles_y_; ++tile) {
        const SoftTile t = tile_bounds(tile);
        depth_at_.push_back(depth_.size());
        depth_.resize(depth_.size() + size_t(t.pitch) * size_t(t.y1 - t.y0 + 1));
        uint16_t* rows = &depth_[depth_at_.back()];
        for (int y = t.y0; y < t.y1; ++y)
            std::copy_n(target.depth + size_t(y) * size_t(target.width) + size_t(t.x0), t.x1 - t.x0,
                        rows + size_t(y - t.y0) * size_t(t.pitch));
    }
}

SoftTile SoftScene::tile_bounds(int tile) const
{
    SoftTile t = {};
    t.x0 = tile % tiles_x_ * tile_size_;
    t.y0 = tile / tiles_x_ * tile_size_;
    t.x1 = std::min(t.x0 + tile_size_, target_.width);
    t.y1 = std::min(t.y0 + tile_size_, target_.height);
    t.pitch = t.x1 - t.x0 + SOFT_TILE_MARGIN;
    return t;
}

SoftScene::~SoftScene()
{
    show_ = nullptr; // what is still to be shown never will be
    finish();
    retire(open_);
}

void SoftScene::retire(Frame* frame)
{
    for (SoftTexture* texture : frame->held) {
        // Unless a later frame holds it too.
        if (texture->queued_in == this && texture->queued_frame == frame->serial)
            texture->queued_in = nullptr;
        texture->Release();
    }
    frame->held.clear();
    frame->chains.clear();
    frame->retired.clear();
    frame->renamed.clear();
    frame->draws.clear();
    frame->triangles.clear();
    for (std::vector<uint32_t>& bin : frame->bins)
        bin.clear();
    frame->clear_colour = frame->clear_depth = false;
    frame->present = false;
    frame->quantised = nullptr;
}

const SoftLevelChain* SoftScene::hold_texture(SoftTexture* texture)
{
    // A texture read by another device's queue: that queue goes first.
    if (texture->queued_in && texture->queued_in != this)
        texture->queued_in->render();
    if (texture->queued_in == this && texture->queued_frame == open_->serial)
        return texture->queued_chain;
    texture->queued_in = this;
    texture->queued_frame = open_->serial;
    texture->AddRef();
    open_->held.push_back(texture);
    SoftLevelChain& chain = open_->chains.emplace_back();
    soft_level_chain(*texture, &chain);
    texture->queued_chain = &chain;
    return &chain;
}

static bool same_sampler(const FfSampler& a, const FfSampler& b)
{
    return a.address_u == b.address_u && a.address_v == b.address_v &&
           a.mag_filter == b.mag_filter && a.min_filter == b.min_filter &&
           a.mip_filter == b.mip_filter && a.max_level == b.max_level &&
           a.has_alpha == b.has_alpha && a.lod_bias == b.lod_bias && a.border == b.border;
}

// Whether a draw under `context` shades exactly as the prepared draw `last`
// of the same frame: same kernel, states, values, textures and target. A
// frame holds one level chain per texture, so the same texture means the
// same texels. The terrain makes a draw of every cell, all alike, and they
// then share one prepared draw.
static bool shades_as(const SoftFastDraw& last, const SoftDrawContext& context)
{
    const FfDraw &a = last.context.draw, &b = context.draw;
    if (a.key != b.key || last.variant_raster != soft_fast_raster(b.key))
        return false;
    const FfParams &p = a.params, &q = b.params;
    if (p.fog_start != q.fog_start || p.fog_end != q.fog_end || p.fog_density != q.fog_density ||
        p.fog_colour[0] != q.fog_colour[0] || p.fog_colour[1] != q.fog_colour[1] ||
        p.fog_colour[2] != q.fog_colour[2])
        return false;
    const SoftTarget &t = last.context.target, &u = context.target;
    if (t.width != u.width || t.height != u.height || t.colour != u.colour || t.depth != u.depth)
        return false;
    for (int s = 0; s < FF_STAGES; ++s) {
        if (last.context.texture[s] != context.texture[s] ||
            !same_sampler(a.sampler[s], b.sampler[s]))
            return false;
    }
    return true;
}

void SoftScene::add_draw(const FrontState& state, const SoftDrawContext& context,
                         const FrontDraw& draw)
{
    const SoftLevelChain* chains[FF_STAGES] = {};
    for (int s = 0; s < FF_STAGES; ++s)
        if (context.texture[s])
            chains[s] = hold_texture(soft_texture(state, s));
    std::vector<SoftFastDraw>& draws = open_->draws;
    const bool shared = !draws.empty() && shades_as(draws.back(), context);
    if (!shared) {
        draws.emplace_back();
        soft_fast_prepare(context, chains, &draws.back());
        if (soft_fast_wants_clear_cells(draws.back())) {
            SoftTexture* texture = soft_texture(state, 0);
            const TexelLevel& top = texture->level(0);
            soft_fast_use_clear_cells(&draws.back(), texture->clear_cells(), top.width, top.height);
        }
    }
    size_t before = open_->triangles.size();
    soft_setup_draw(state, context, draw, bin_triangle, this);
    if (!shared && open_->triangles.size() == before)
        draws.pop_back(); // nothing to draw
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
    Frame& frame = *scene.open_;
    const int size = scene.tile_size_;
    uint32_t index = uint32_t(frame.triangles.size());
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
            frame.bins[size_t(ty) * size_t(scene.tiles_x_) + size_t(tx)].push_back(index);
            binned = true;
        }
    }
    if (binned)
        frame.triangles.push_back({setup, uint32_t(frame.draws.size() - 1)});
}

void SoftScene::clear(bool colour, uint32_t colour_value, bool depth, uint16_t depth_value)
{
    if (!open_->triangles.empty())
        render();
    if (colour) {
        open_->clear_colour = true;
        open_->clear_colour_value = colour_value;
    }
    if (depth) {
        open_->clear_depth = true;
        open_->clear_depth_value = depth_value;
    }
}

namespace
{

// A thread's buffer for the colour of the tile it renders (SoftTile), kept
// from tile to tile: a tile's pixels stay in the cache and on a few pages
// while its triangles are drawn, wherever its rows lie in the target.
thread_local std::vector<uint32_t> t_tile_colour;

} // namespace

void SoftScene::render_tile(const Frame& frame, int tile)
{
    SoftTile t = tile_bounds(tile);
    const int width = t.x1 - t.x0, height = t.y1 - t.y0;
    const size_t pitch = size_t(target_.width);
    auto target_colour = [&](int y) { return target_.colour + size_t(t.y0 + y) * pitch + t.x0; };
    t.depth = &depth_[depth_at_[size_t(tile)]];
    if (frame.clear_depth)
        for (int y = 0; y < height; ++y)
            std::fill_n(t.depth + size_t(y) * size_t(t.pitch), width, frame.clear_depth_value);
    const std::vector<uint32_t>& bin = frame.bins[size_t(tile)];
    if (bin.empty()) {
        // Nothing is drawn here: the clear goes straight to the target.
        if (frame.clear_colour)
            for (int y = 0; y < height; ++y)
                std::fill(target_colour(y), target_colour(y) + width, frame.clear_colour_value);
    } else {
        std::vector<uint32_t>& buffer = t_tile_colour;
        const size_t size = size_t(t.pitch) * size_t(height + 1);
        if (buffer.size() < size)
            buffer.resize(size);
        t.colour = buffer.data();
        for (int y = 0; y < height; ++y) {
            uint32_t* colour = t.colour + size_t(y) * size_t(t.pitch);
            if (frame.clear_colour)
                std::fill(colour, colour + width, frame.clear_colour_value);
            else
                std::copy(target_colour(y), target_colour(y) + width, colour);
        }
        for (uint32_t index : bin) {
            const Triangle& triangle = frame.triangles[index];
            const SoftFastDraw& draw = frame.draws[triangle.draw];
            draw.raster(draw, t, triangle.setup);
        }
        const SoftFastKernels& set = soft_fast_active();
        for (int y = 0; y < height; ++y)
            set.write_back(target_colour(y), t.colour + size_t(y) * size_t(t.pitch), width);
        set.fence();
    }
    if (!frame.quantised)
        return;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row =
            bin.empty() ? target_colour(y) : t.colour + size_t(y) * size_t(t.pitch);
        uint32_t* out = frame.quantised + size_t(t.y0 + y) * pitch + t.x0;
        for (int x = 0; x < width; ++x)
            out[x] = soft_quantise_r5g6b5(row[x]);
    }
}

void SoftScene::render_tile_job(void* user, int index)
{
    SoftScene& scene = *static_cast<SoftScene*>(user);
    scene.render_tile(*scene.flight_, int(scene.flight_->order[size_t(index)]));
}

void SoftScene::set_show(Show show, void* user)
{
    show_ = show;
    show_user_ = user;
}

void SoftScene::submit(bool present, uint32_t* quantised)
{
    finish();
    Frame* frame = open_;
    if (frame->triangles.empty() && !frame->clear_colour && !frame->clear_depth && !present)
        return;
    frame->present = present;
    frame->quantised = present ? quantised : nullptr;
    // Tiles with the most triangles go first: they tend to take longest, and
    // a long tile taken last would keep one thread busy while the rest wait.
    for (size_t tile = 0; tile < frame->order.size(); ++tile)
        frame->order[tile] = uint32_t(tile);
    std::stable_sort(frame->order.begin(), frame->order.end(), [&](uint32_t a, uint32_t b) {
        return frame->bins[a].size() > frame->bins[b].size();
    });
    flight_ = frame;
    open_ = frame == &frames_[0] ? &frames_[1] : &frames_[0];
    open_->serial = frame->serial + 1;
    workers_.start(tiles_x_ * tiles_y_, render_tile_job, this);
}

void SoftScene::finish()
{
    if (!flight_)
        return;
    workers_.finish();
    Frame* done = flight_;
    flight_ = nullptr;
    if (done->present && show_)
        show_(show_user_, done->quantised ? done->quantised : target_.colour);
    retire(done);
}

void SoftScene::render()
{
    submit();
    finish();
}

void SoftScene::before_write(SoftTexture* texture, TexelLevel* level)
{
    if (texture->queued_frame == open_->serial) {
        render(); // draws queued before the write read what was there
        return;
    }
    if (!flight_)
        return;
    if (workers_.done()) {
        finish(); // the frame in flight has read all it will
        return;
    }
    // Only the frame in flight reads the texture: it keeps the texels it
    // has, and the writer gets a copy of them, once per level and frame.
    if (std::find(flight_->renamed.begin(), flight_->renamed.end(), level) !=
        flight_->renamed.end())
        return;
    flight_->renamed.push_back(level);
    flight_->retired.push_back(std::move(level->texels));
    level->texels = flight_->retired.back();
    flight_->retired.push_back(texture->take_stacked(level));
    flight_->retired.push_back(texture->take_clear_cells());
}

void soft_scene_render(SoftScene* scene)
{
    if (scene)
        scene->render();
}
