#pragma once

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

namespace Tools {

// libvorbisenc's and libogg's state for one stream being encoded, kept out
// of OggEncoder's header.
struct EncoderState {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
};

} // namespace Tools
