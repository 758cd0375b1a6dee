// Dispatch to the installed audio device, if any.
#include "snd/snd_output.h"

static const SndOutput* s_output = nullptr;

void snd_set_output(const SndOutput* output)
{
    s_output = output;
}

int snd_output_open()
{
    return s_output ? s_output->open() : 0;
}

void snd_output_close()
{
    if (s_output)
        s_output->close();
}

int snd_output_running()
{
    return s_output ? s_output->running() : 0;
}
