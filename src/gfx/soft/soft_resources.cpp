// Resources of the software device: textures with their mip levels and
// vertex buffers, all in plain memory (the levels are the backends' common
// ones). A second lock of a locked object is refused, as on hardware. A
// lock of a surface that queued draws use goes through their scene first;
// vertex buffers need no such care, as draws read their vertices when they
// are made.

#include "gfx/soft/soft_internal.h"
#include "gfx/soft/soft_scene.h"

SoftSurface::SoftSurface(SoftTexture* texture, TexelLevel* level, D3DFORMAT format, D3DPOOL pool)
    : MemorySurface(texture, level, format, pool), texture_(texture), level_(level)
{
}

HRESULT SoftSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    if (texture_) {
        if (texture_->queued_in)
            texture_->queued_in->before_write(texture_, level_);
        texture_->written(level_);
    } else {
        soft_scene_render(*queue_);
    }
    return MemorySurface::LockRect(locked, rect, flags);
}

SoftTexture::SoftTexture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool)
{
    make_level_chain(&levels_, width, height, levels);
    for (TexelLevel& level : levels_)
        surfaces_.push_back(new SoftSurface(this, &level, format, pool));
    stacked_.resize(levels_.size());
    stacked_current_.resize(levels_.size());
}

const uint32_t* SoftTexture::stacked(int index)
{
    const TexelLevel& level = levels_[size_t(index)];
    if (level.height < 2)
        return nullptr;
    std::vector<uint32_t>& out = stacked_[size_t(index)];
    if (!stacked_current_[size_t(index)]) {
        const size_t width = size_t(level.width);
        out.resize(2 * width * size_t(level.height - 1));
        for (size_t y = 0; y + 1 < size_t(level.height); ++y) {
            const uint32_t* top = level.texels.data() + y * width;
            uint32_t* pairs = out.data() + 2 * y * width;
            for (size_t x = 0; x < width; ++x) {
                pairs[2 * x] = top[x];
                pairs[2 * x + 1] = top[x + width];
            }
        }
        stacked_current_[size_t(index)] = true;
    }
    return out.data();
}

static bool power_of_two(int size)
{
    return size > 0 && (size & (size - 1)) == 0;
}

const uint32_t* SoftTexture::clear_cells()
{
    const TexelLevel& top = levels_[0];
    const int width = top.width, height = top.height;
    if (!power_of_two(width) || !power_of_two(height))
        return nullptr;
    if (clear_cells_current_)
        return clear_cells_.data();
    // A coordinate in cell c of a side lies in [c, c + 1) / 2 texels: its
    // bilinear footprint starts at texel (c - 1) >> 1 (floor(c / 2 - 0.5)
    // at the least) and takes the next one, and a point sample reads one of
    // the two.
    const int columns = 2 * width, rows = 2 * height;
    clear_cells_.assign((size_t(columns) * size_t(rows) + 31) / 32, 0u);
    auto transparent = [&](int x, int y) {
        return (top.texels[size_t(y & (height - 1)) * size_t(width) + size_t(x & (width - 1))] >>
                24) == 0;
    };
    for (int row = 0; row < rows; ++row) {
        const int y = (row - 1) >> 1;
        for (int column = 0; column < columns; ++column) {
            const int x = (column - 1) >> 1;
            const size_t cell = size_t(row) * size_t(columns) + size_t(column);
            if (transparent(x, y) && transparent(x + 1, y) && transparent(x, y + 1) &&
                transparent(x + 1, y + 1))
                clear_cells_[cell / 32] |= 1u << (cell % 32);
        }
    }
    clear_cells_current_ = true;
    return clear_cells_.data();
}

void SoftTexture::written(const TexelLevel* level)
{
    stacked_current_[index_of(level)] = false;
    clear_cells_current_ = false;
}

std::vector<uint32_t> SoftTexture::take_stacked(const TexelLevel* level)
{
    stacked_current_[index_of(level)] = false;
    return std::move(stacked_[index_of(level)]);
}

std::vector<uint32_t> SoftTexture::take_clear_cells()
{
    clear_cells_current_ = false;
    return std::move(clear_cells_);
}
