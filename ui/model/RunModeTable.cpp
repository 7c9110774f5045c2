#include "RunModeTable.h"

#include "ControlIds.h"

namespace morrow {

const std::vector<RunModeRow>& runModeTable() {
    static const std::vector<RunModeRow> table = {
        {ctl::EvidencePath, Enable::Off, Enable::On},
        {ctl::EvidenceBrowse, Enable::Off, Enable::On},
        {ctl::EvidenceList, Enable::Off, Enable::On},
        {ctl::Add, Enable::Off, Enable::Kept},
        {ctl::Remove, Enable::Off, Enable::Kept},
        {ctl::KindList, Enable::Off, Enable::On},
        {ctl::AllPictureFiles, Enable::Off, Enable::On},
        {ctl::KindSelectAll, Enable::Off, Enable::On},
        {ctl::KindDeselectAll, Enable::Off, Enable::On},
        {ctl::EvidenceSelectAll, Enable::Off, Enable::On},
        {ctl::EvidenceDeselectAll, Enable::Off, Enable::On},
        {ctl::MaxFileSize, Enable::Off, Enable::On},
        {ctl::SizeSpin, Enable::Off, Enable::On},
        {ctl::CarvingPath, Enable::Off, Enable::On},
        {ctl::CarvingBrowse, Enable::Off, Enable::On},
        {ctl::Progress, Enable::Off, Enable::On},
        {ctl::Ok, Enable::Off, Enable::On},
        {ctl::ExactEnds, Enable::Off, Enable::On},
        {ctl::WriteDfxml, Enable::Off, Enable::On},
        {ctl::ReportOnly, Enable::Off, Enable::On},
        {ctl::UnallocatedOnly, Enable::Off, Enable::On},
        {ctl::ReassembleFragments, Enable::Off, Enable::On},
        {ctl::VerifyFiles, Enable::Off, Enable::On},
        {ctl::Stop, Enable::On, Enable::Off},
        {ctl::Cancel, Enable::Kept, Enable::Kept},
        {ctl::Help, Enable::Kept, Enable::Kept},
    };
    return table;
}

std::vector<EnableChange> runModeChanges(bool on) {
    std::vector<EnableChange> changes;
    const Enable first = on ? Enable::Off : Enable::On;
    const Enable second = on ? Enable::On : Enable::Off;
    for (Enable wanted : {first, second}) {
        for (const RunModeRow& row : runModeTable()) {
            if ((on ? row.inRun : row.afterRun) == wanted) {
                changes.push_back({row.id, wanted == Enable::On});
            }
        }
    }
    return changes;
}

} // namespace morrow
