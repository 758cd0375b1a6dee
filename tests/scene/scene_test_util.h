// The storm scene on a headless software device behind the recorder, with
// the generated data set and silent sound, as `storm --headless` runs it.
#pragma once
#include <cmath>
#include <vector>

#include "app/cmdline.h"
#include "app/loop.h"
#include "base/crt_rand.h"
#include "gfx/gfx_test_util.h"
#include "input/mouse.h"
#include "res/files.h"
#include "scene/storm.h"
#include "snd/sound.h"

class SceneTest : public GfxTest
{
  public:
    // One state-setting call: render state (stage -1) or a stage state.
    struct StateCall {
        int stage;
        DWORD type, value;
        bool operator==(const StateCall&) const = default;
    };

  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        const char* dirs[] = {STORM_BUILD_DIR};
        mf_set_search_dirs(dirs, 1);
        ASSERT_EQ(pak_open("data.pak"), 1) << "the build makes data.pak";
        ASSERT_EQ(_r_init(), 1);
        snd_init_null_output();
        g_width = 64;
        g_height = 48;
        g_time = g_clock = g_frame_dt = 0.0f;
        g_mouse_dx = g_mouse_dy = g_mouse_buttons = 0;
        g_cam_speed = 0.0f;
        g_flash = 0.0f;
        g_last_strike = 0.0f;
        crt_srand(1);
        rec_->clear();
        storm_init();
        init_states_ = state_calls();
        rec_->clear();
    }

    void TearDown() override
    {
        snd_deinit();
        pak_close();
        mf_set_search_dirs(nullptr, 0);
        GfxTest::TearDown();
    }

    std::vector<StateCall> state_calls() const
    {
        std::vector<StateCall> out;
        for (const RecordedCall& c : rec_->calls) {
            if (c.kind == REC_SET_RENDER_STATE)
                out.push_back({-1, c.type, c.value});
            else if (c.kind == REC_SET_STAGE_STATE)
                out.push_back({int(c.stage), c.type, c.value});
        }
        return out;
    }

    std::vector<const RecordedCall*> draws() const { return rec_->of(REC_DRAW); }

    std::vector<StateCall> init_states_; // what storm_init set
};

// Seeds the generator so that the n-th draw from now gives `value` modulo `m`.
inline uint32_t seed_where(int n, int m, int value)
{
    for (uint32_t seed = 1;; ++seed) {
        crt_srand(seed);
        for (int i = 0; i < n; ++i)
            crt_rand();
        if (crt_rand() % m == value)
            return seed;
    }
}

inline void PrintTo(const SceneTest::StateCall& c, std::ostream* os)
{
    *os << (c.stage < 0 ? "RS(" : "TSS" + std::to_string(c.stage) + "(") << c.type << ", "
        << c.value << ")";
}
