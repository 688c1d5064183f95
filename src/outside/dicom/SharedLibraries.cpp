// The FFmpeg functions that picture import and export reach (AVI in and out) are opened when a
// video is first handled: the command-line front's commands module takes in the picture code, and
// linking FFmpeg into it would load FFmpeg's hundred-odd libraries for every command. Measured with
//   bench/cli-start.sh
// on the 2-core development machine, shared with other builds (RUNS=20): 89 ms a start as it is,
// 179 ms with FFmpeg loaded at start (2.00x; storescu 53 ms); under heavier load 379 against
// 748 ms (1.97x). Other FFmpeg users of the layer (the H.264 transcode), which the module does
// not take in, call FFmpeg directly.

#include "SharedLibraries.h"

#include "Toolkit.h"

#include <dlfcn.h>

#include <mutex>

namespace orv::dicom {

namespace {

#define ORV_STR2(x) #x
#define ORV_STR(x) ORV_STR2(x)

void *open(const char *name)
{
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        fail(QStringLiteral("The library %1 cannot be loaded: %2").arg(QLatin1String(name), QString::fromLocal8Bit(dlerror())));
    return handle;
}

template<typename F>
void bind(F &f, void *lib, const char *name)
{
    f = reinterpret_cast<F>(dlsym(lib, name));
    if (!f)
        fail(QStringLiteral("The function %1 is missing from its library.").arg(QLatin1String(name)));
}

} // namespace

const FfmpegApi &ffmpeg()
{
    static FfmpegApi api;
    static std::once_flag once;
    static QString error;
    std::call_once(once, [] {
        try {
            void *avutil = open("libavutil.so." ORV_STR(LIBAVUTIL_VERSION_MAJOR));
            void *avcodec = open("libavcodec.so." ORV_STR(LIBAVCODEC_VERSION_MAJOR));
            void *avformat = open("libavformat.so." ORV_STR(LIBAVFORMAT_VERSION_MAJOR));
            void *swscale = open("libswscale.so." ORV_STR(LIBSWSCALE_VERSION_MAJOR));
#define ORV_BIND(lib, name) bind(api.name, lib, #name);
            ORV_FFMPEG_FUNCTIONS(ORV_BIND)
#undef ORV_BIND
            api.av_log_set_level(AV_LOG_FATAL);
        } catch (const Error &e) {
            error = e.description();
        }
    });
    if (!error.isEmpty())
        fail(error);
    return api;
}

} // namespace orv::dicom
