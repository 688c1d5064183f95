#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpls/djdecode.h>

#include <mutex>

namespace orv::dicom {

void initialiseCodecs()
{
    initialise();
    static std::once_flag once;
    std::call_once(once, [] {
        DJDecoderRegistration::registerCodecs();
        DJEncoderRegistration::registerCodecs(ECC_lossyYCbCr, EUC_never);
        DcmRLEDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
    });
}

} // namespace orv::dicom
