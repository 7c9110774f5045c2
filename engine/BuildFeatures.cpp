#include "BuildFeatures.h"

#include "evidence/EwfEvidence.h"
#include "output/Digest.h"
#include "verify/FileCheck.h"
#include "volumes/FileSystemReader.h"

namespace morrow {

const char* dfxmlUnavailable() {
    return Digest::available()
               ? nullptr
               : "DFXML reports are not available in this build of Morrow: it was built without OpenSSL "
                 "(MORROW_WITH_DFXML).";
}

const char* unallocatedUnavailable() {
    return FileSystemReader::builtIn()
               ? nullptr
               : "Carving unallocated space only is not available in this build of Morrow: it was built "
                 "without The Sleuth Kit's library (MORROW_WITH_TSK).";
}

std::string buildFeatures() {
    std::string text = "Licensed under the Apache License, Version 2.0 (Apache-2.0).\nOptional parts: DFXML "
                       "reports and hashes ";
    text +=
        Digest::available() ? "(" + Digest::libraryVersion() + ")" : "not built (this build has no OpenSSL)";
    text += ".\nE01 images: ";
    text += EwfEvidence::builtIn() ? "read with libewf " + EwfEvidence::libraryVersion()
                                   : "not supported by this build";
    text += ".\nFile systems (--unallocated, owners in DFXML): ";
    text += FileSystemReader::builtIn() ? "read with libtsk " + FileSystemReader::libraryVersion()
                                        : "not read by this build";
    return text + "\n" + FileCheck::describe() + ".\n";
}

} // namespace morrow
