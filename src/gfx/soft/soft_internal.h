// Objects and pipeline state shared by the files of the software backend.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfx/backend_objects.h"
#include "gfx/d3d8.h"
#include "gfx/device_front.h"
#include "gfx/fixed_function.h"

class SoftScene;
class SoftTexture;
struct SoftLevelChain;

// A surface over memory that queued draws may read or write. Locking the
// back buffer renders the queue first, so the caller sees (and may change)
// what the draws produced. Locking a texture level leaves queued draws
// reading the contents from before the lock (see SoftScene::before_write).
class SoftSurface final : public MemorySurface
{
  public:
    // The back buffer: `queue` points at where the device keeps its scene,
    // null while there is none.
    SoftSurface(IUnknown8* owner, TexelLevel* level, D3DFORMAT format, D3DPOOL pool,
                SoftScene* const* queue)
        : MemorySurface(owner, level, format, pool), queue_(queue)
    {
    }
    // A level of `texture`.
    SoftSurface(SoftTexture* texture, TexelLevel* level, D3DFORMAT format, D3DPOOL pool);
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;

  private:
    SoftScene* const* queue_ = nullptr;
    SoftTexture* texture_ = nullptr;
    TexelLevel* level_ = nullptr;
};

class SoftTexture final : public LeveledTexture<SoftSurface>
{
  public:
    SoftTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool);

    int level_count() const { return static_cast<int>(levels_.size()); }
    const TexelLevel& level(int index) const { return levels_[size_t(index)]; }

    // A level's texels again with each row stacked on the next: texel (x, y)
    // beside (x, y + 1), for rows 0 to height - 2, so the four texels of a
    // bilinear footprint lie side by side. Made again when asked for after a
    // write to the level (written); null for a level of one row.
    const uint32_t* stacked(int index);
    // Where sampling level 0 reads nothing but transparent texels: a bit per
    // cell of half a texel on each side (cell (column, row) is bit row * 2 *
    // width + column, the rows packed with no gap, however narrow), set where every texel that
    // point or bilinear filtering, wrapping, can read for a coordinate in the cell has alpha 0.
    // Made again when asked for after a write; null unless both sides are powers of two.
    const uint32_t* clear_cells();
    // To be called before a level is written.
    void written(const TexelLevel* level);
    // The level's stacked texels, for a reader that must keep them while the
    // level is written; the texture makes new ones when next asked.
    std::vector<uint32_t> take_stacked(const TexelLevel* level);
    // The same for the clear cells.
    std::vector<uint32_t> take_clear_cells();

    // The scene whose queued draws sample this texture (it holds a reference
    // until it has rendered them), or null; the newest of its frames that
    // does, and the levels as that frame's draws read them.
    SoftScene* queued_in = nullptr;
    uint64_t queued_frame = 0;
    const SoftLevelChain* queued_chain = nullptr;

  private:
    size_t index_of(const TexelLevel* level) const { return size_t(level - levels_.data()); }

    std::vector<TexelLevel> levels_;
    std::vector<std::vector<uint32_t>> stacked_; // per level
    std::vector<bool> stacked_current_;          // per level: stacked_ matches the texels
    std::vector<uint32_t> clear_cells_;
    bool clear_cells_current_ = false;
};

// The texture bound to `stage`: always one of this backend's own.
inline SoftTexture* soft_texture(const FrontState& state, int stage)
{
    return static_cast<SoftTexture*>(state.texture[stage]);
}

// The render target a draw writes: colour and 16-bit depth, same size.
struct SoftTarget {
    int width = 0;
    int height = 0;
    uint32_t* colour = nullptr;
    uint16_t* depth = nullptr;
};

// Draws a checked draw made under `state` straight into `target`.
void soft_draw(const FrontState& state, const SoftTarget& target, const FrontDraw& draw);

// A 16-bit target keeps 5, 6 and 5 bits of each channel: what it would show
// of an X8R8G8B8 pixel.
inline uint32_t soft_quantise_r5g6b5(uint32_t pixel)
{
    uint32_t r = (pixel >> 19) & 0x1F, g = (pixel >> 10) & 0x3F, b = (pixel >> 3) & 0x1F;
    return 0xFF000000u | ((r << 3) | (r >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 |
           ((b << 3) | (b >> 2));
}
