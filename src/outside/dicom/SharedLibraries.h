#pragma once

// FFmpeg opened when a video is first handled, for picture import and export (why, with the
// bench figure: SharedLibraries.cpp). Internal.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace orv::dicom {

#define ORV_FFMPEG_FUNCTIONS(X)                                                                         \
    X(avformat, av_find_best_stream) X(avformat, av_guess_frame_rate) X(avformat, av_interleaved_write_frame) \
    X(avformat, av_read_frame) X(avformat, av_write_trailer) X(avformat, avformat_alloc_output_context2)      \
    X(avformat, avformat_close_input) X(avformat, avformat_find_stream_info) X(avformat, avformat_free_context) \
    X(avformat, avformat_new_stream) X(avformat, avformat_open_input) X(avformat, avformat_write_header)        \
    X(avformat, avio_closep) X(avformat, avio_open) X(avcodec, avcodec_alloc_context3)                         \
    X(avcodec, avcodec_find_encoder) X(avcodec, avcodec_free_context) X(avcodec, avcodec_open2)               \
    X(avcodec, avcodec_parameters_from_context) X(avcodec, avcodec_parameters_to_context)                     \
    X(avcodec, avcodec_receive_frame) X(avcodec, avcodec_receive_packet) X(avcodec, avcodec_send_frame)        \
    X(avcodec, avcodec_send_packet) X(avcodec, av_packet_alloc) X(avcodec, av_packet_free)                    \
    X(avcodec, av_packet_unref) X(avcodec, av_packet_rescale_ts) X(avutil, av_frame_alloc)                    \
    X(avutil, av_frame_free) X(avutil, av_frame_get_buffer) X(avutil, av_frame_make_writable)                 \
    X(avutil, av_log_set_level) X(avutil, av_strerror) X(swscale, sws_getCachedContext)                       \
    X(swscale, sws_getContext) X(swscale, sws_scale) X(swscale, sws_freeContext)

struct FfmpegApi
{
#define ORV_DECLARE(lib, name) decltype(&::name) name = nullptr;
    ORV_FFMPEG_FUNCTIONS(ORV_DECLARE)
#undef ORV_DECLARE
};


// The loaded functions; throw Error when the library cannot be opened.
const FfmpegApi &ffmpeg();

} // namespace orv::dicom
