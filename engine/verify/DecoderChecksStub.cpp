// A build without the format libraries (MORROW_WITH_DECODERS off): no picture or PDF is decoded.
#include "verify/DecoderChecks.h"

namespace morrow::decoder {

bool builtIn() {
    return false;
}
std::string versions() {
    return {};
}
FileVerdict checkJpeg(check::Bytes) {
    return check::notChecked();
}
FileVerdict checkPng(check::Bytes) {
    return check::notChecked();
}
FileVerdict checkGif(check::Bytes) {
    return check::notChecked();
}
FileVerdict checkTiff(check::Bytes) {
    return check::notChecked();
}
FileVerdict checkPdf(check::Bytes) {
    return check::notChecked();
}

} // namespace morrow::decoder
