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
