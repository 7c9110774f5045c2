#include "carve/PassContext.h"

#include "carve/CarvePass.h"
#include "search/HexText.h"

namespace morrow {

std::string CarvePass::headerBytes(const std::string& hex) const {
    return exactEnds ? HexText::toRawBytes(hex) : HexText::toBytes(hex);
}

bool PassContext::carve(const CarvePass& pass, std::int64_t number, std::int64_t offset, std::uint64_t length,
                        std::uint64_t spaceNeeded, const std::string& extension) {
    CarvedFile file;
    file.evidencePath = pass.evidencePath;
    file.type = pass.type;
    file.kindTag = pass.kindTag;
    file.number = number;
    file.runs = {ByteRun{offset, length}};
    file.spaceNeeded = spaceNeeded;
    file.path = carvedFilePath(pass.evidencePath, pass.kindTag, number, extension);
    return carve(file);
}

} // namespace morrow
