// The audio device in a browser: a WebAudio context fed from the mixer
// (storm_web_audio_fill calls ds_render) on the page's own thread, between
// frames. Browsers start a context only inside a user gesture: it is made at
// once, and resumed at the first click or key.
//
// Where the browser offers an AudioWorklet (secure contexts only) a small
// processor plays blocks the page sends it through its port, and says
// through the same port how much it has played; the page mixes blocks to keep
// about 64 ms queued (more, up to 100 ms, once it has let the processor run
// dry), so the mix runs no further ahead of what is heard than that. A
// processor that finds nothing queued plays silence. Elsewhere, or
// when the worklet cannot be loaded, a ScriptProcessorNode pulls the mix
// itself. Either way nothing is mixed while the context is suspended, so the
// sounds wait with it, and Module.stormAudio.kind says which path plays.
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
    const rate = context.sampleRate;
    // Blocks of 512 frames (about 11 ms at 48 kHz); about 64 ms queued,
    // up to about 100 ms on a page whose frames keep the processor waiting.
    const chunk = 512;
    const block = Module['_malloc'](chunk * 8);
    const audio = {
        context: context, kind: null, node: null, block: block, rate: rate,
        target: chunk * Math.ceil(0.064 * rate / chunk),
        most: chunk * Math.floor(0.1 * rate / chunk),
        queued: 0, mixed: 0, played: 0, starved: 0, ready: false, failed: false, closed: false
    };
    Module['stormAudio'] = audio;

    /* Mixes the next `frames` frames into the block, which it returns as
       float stereo, interleaved, in the program's memory. */
    const mix = (frames) => {
        Module['_storm_web_audio_fill'](block, frames);
        audio.mixed += frames;
        return HEAPF32.subarray(block >> 2, (block >> 2) + frames * 2);
    };

    /* The processor, which runs on the audio thread: its source is this
       function's text. Blocks arrive interleaved; it counts what it plays and
       the render quanta it found nothing for, and reports every `report`
       frames, at once when it runs dry. */
    function stormMixerProcessor() {
        class StormMixer extends AudioWorkletProcessor {
            constructor(options) {
                super();
                this.blocks = [];
                this.offset = 0;
                this.played = 0;
                this.starved = 0;
                this.fed = false;
                this.report = options.processorOptions.report;
                this.port.onmessage = (event) => {
                    this.blocks.push(event.data);
                    this.fed = true;
                };
            }
            process(inputs, outputs) {
                const left = outputs[0][0], right = outputs[0][1];
                const count = left.length;
                let done = 0;
                while (done < count && this.blocks.length > 0) {
                    const samples = this.blocks[0];
                    const take = Math.min(count - done, samples.length / 2 - this.offset);
                    for (let i = 0; i < take; ++i) {
                        left[done + i] = samples[2 * (this.offset + i)];
                        right[done + i] = samples[2 * (this.offset + i) + 1];
                    }
                    done += take;
                    this.offset += take;
                    if (this.offset * 2 == samples.length) {
                        this.blocks.shift();
                        this.offset = 0;
                    }
                }
                const dry = done < count;
                if (dry) {
                    left.fill(0, done);
                    right.fill(0, done);
                    if (this.fed)
                        ++this.starved;
                }
                this.played += done;
                if (this.played >= this.report || (dry && this.fed)) {
                    this.port.postMessage({played: this.played, starved: this.starved});
                    this.played = 0;
                    this.starved = 0;
                }
                return true;
            }
        }
        registerProcessor('storm-mixer', StormMixer);
    }
    audio.processorSource = '(' + stormMixerProcessor.toString() + ')();';

    /* Keeps `target` frames queued at the processor while the context runs. */
    const feed = () => {
        if (audio.closed || audio.kind != 'worklet' || !audio.node || context.state != 'running')
            return;
        while (audio.queued < audio.target) {
            const samples = mix(chunk).slice();
            audio.node.port.postMessage(samples, [samples.buffer]);
            audio.queued += chunk;
        }
    };

    const startScriptProcessor = () => {
        audio.kind = 'script-processor';
        /* About 21 ms at 48 kHz, as the desktop's device pulls. */
        const frames = 1024;
        const node = context.createScriptProcessor(frames, 0, 2);
        node.onaudioprocess = (event) => {
            const output = event.outputBuffer;
            const left = output.getChannelData(0), right = output.getChannelData(1);
            for (let done = 0; done < output.length; done += chunk) {
                const count = Math.min(chunk, output.length - done);
                const mixed = mix(count);
                for (let i = 0; i < count; ++i) {
                    left[done + i] = mixed[2 * i];
                    right[done + i] = mixed[2 * i + 1];
                }
            }
            audio.played += output.length;
        };
        node.connect(context.destination);
        audio.node = node;
        audio.ready = true;
    };

    const startWorklet = () => {
        audio.kind = 'worklet';
        const url = URL.createObjectURL(new Blob([audio.processorSource],
                                                 {type: 'text/javascript'}));
        context.audioWorklet.addModule(url).then(() => {
            URL.revokeObjectURL(url);
            if (audio.closed)
                return;
            const node = new AudioWorkletNode(context, 'storm-mixer', {
                numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
                processorOptions: {report: chunk}
            });
            node.port.onmessage = (event) => {
                audio.queued -= event.data.played;
                audio.played += event.data.played;
                audio.starved += event.data.starved;
                if (event.data.starved && audio.target < audio.most)
                    audio.target += chunk;
                feed();
            };
            /* A processor that failed plays nothing more: the device counts
               as gone, and the next one opened is a ScriptProcessorNode. */
            node.onprocessorerror = () => {
                Module['stormAudioWorkletFailed'] = true;
                audio.failed = true;
            };
            node.connect(context.destination);
            audio.node = node;
            audio.ready = true;
            feed();
        }).catch((error) => {
            URL.revokeObjectURL(url);
            if (audio.closed)
                return;
            console.warn('storm: the AudioWorklet could not be loaded (' + error +
                         '); sound goes through a ScriptProcessorNode');
            startScriptProcessor();
        });
    };

    const worklet = window.isSecureContext && context.audioWorklet &&
                    typeof AudioWorkletNode == 'function' && !Module['stormAudioWorkletFailed'];
    if (worklet)
        startWorklet();
    else
        startScriptProcessor();
    const why = !window.isSecureContext ? 'an AudioWorklet needs a secure page'
                : Module['stormAudioWorkletFailed'] ? 'the AudioWorklet failed before'
                : 'this browser has no AudioWorklet';
    console.log('storm: sound at ' + rate + ' Hz through ' +
                (worklet ? 'an AudioWorklet' : 'a ScriptProcessorNode (' + why + ')'));

    context.onstatechange = feed;
    audio.resume = () => { if (context.state == 'suspended') context.resume(); };
    window.addEventListener('click', audio.resume);
    window.addEventListener('keydown', audio.resume);
    return rate | 0;
});

EM_JS(void, web_audio_close, (), {
    const audio = Module['stormAudio'];
    if (!audio)
        return;
    audio.closed = true;
    if (audio.node) {
        if (audio.kind == 'worklet')
            audio.node.port.onmessage = null;
        else
            audio.node.onaudioprocess = null;
        audio.node.disconnect();
    }
    audio.context.onstatechange = null;
    audio.context.close();
    window.removeEventListener('click', audio.resume);
    window.removeEventListener('keydown', audio.resume);
    Module['_free'](audio.block);
    Module['stormAudio'] = null;
});

EM_JS(int, web_audio_running, (), {
    const audio = Module['stormAudio'];
    return audio && !audio.failed && audio.context.state != 'closed' ? 1 : 0;
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
