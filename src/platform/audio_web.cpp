// The audio device in a browser: a WebAudio context whose processing node
// pulls float stereo blocks from the mixer (storm_web_audio_fill calls
// ds_render), on the page's own thread between frames. Browsers start a
// context only inside a user gesture: it is made at once, and the page
// resumes it at the first click or key.
#include <emscripten.h>

#include "platform/platform_internal.h"
#include "snd/dsound.h"

// clang-format off
EM_JS(int, web_audio_open, (), {
    const AudioContext = window.AudioContext || window.webkitAudioContext;
    if (!AudioContext)
        return 0;
    let context;
    try {
        context = new AudioContext();
    } catch (e) {
        return 0;
    }
    // About 21 ms at 48 kHz, as the desktop's device pulls.
    const frames = 1024;
    const node = context.createScriptProcessor(frames, 0, 2);
    const block = Module['_malloc'](frames * 8);
    node.onaudioprocess = (event) => {
        const output = event.outputBuffer;
        const count = output.length;
        Module['_storm_web_audio_fill'](block, count);
        const mixed = HEAPF32.subarray(block >> 2, (block >> 2) + count * 2);
        const left = output.getChannelData(0), right = output.getChannelData(1);
        for (let i = 0; i < count; ++i) {
            left[i] = mixed[2 * i];
            right[i] = mixed[2 * i + 1];
        }
    };
    node.connect(context.destination);
    Module['stormAudio'] = {context: context, node: node, block: block};
    const resume = () => { if (context.state == 'suspended') context.resume(); };
    window.addEventListener('click', resume);
    window.addEventListener('keydown', resume);
    Module['stormAudio'].resume = resume;
    return context.sampleRate | 0;
});

EM_JS(void, web_audio_close, (), {
    const audio = Module['stormAudio'];
    if (!audio)
        return;
    audio.node.onaudioprocess = null;
    audio.node.disconnect();
    audio.context.close();
    window.removeEventListener('click', audio.resume);
    window.removeEventListener('keydown', audio.resume);
    Module['_free'](audio.block);
    Module['stormAudio'] = null;
});

EM_JS(int, web_audio_running, (), {
    const audio = Module['stormAudio'];
    return audio && audio.context.state != 'closed' ? 1 : 0;
});
// clang-format on

extern "C" EMSCRIPTEN_KEEPALIVE void storm_web_audio_fill(float* out, int frames)
{
    ds_render(out, frames);
}

static int open_output()
{
    return web_audio_open();
}

static void close_output()
{
    web_audio_close();
}

static int output_running()
{
    return web_audio_running();
}

const SndOutput* sys_audio_output()
{
    static const SndOutput OUTPUT = {open_output, close_output, output_running};
    return &OUTPUT;
}
