#pragma once

#include "CarveHost.h"

namespace morrow {

// Control ids of the main dialog; the Qt view names each widget "control" + id.
namespace ctl {
inline constexpr int Ok = 1;     // Start
inline constexpr int Cancel = 2; // Quit
inline constexpr int KindList = 1000;
inline constexpr int KindSelectAll = 1001;
inline constexpr int KindDeselectAll = 1002;
inline constexpr int CarvingPath = control::CarvingPath; // the engine moves the focus here
inline constexpr int CarvingBrowse = 1004;
inline constexpr int SizeSpin = 1008;
inline constexpr int MaxFileSize = control::MaxFileSize; // and here
inline constexpr int AllPictureFiles = 1010;
inline constexpr int EvidenceList = 1011;
inline constexpr int Progress = 1012;
inline constexpr int Stop = 1018;
inline constexpr int EvidencePath = 1020;
inline constexpr int EvidenceBrowse = 1022;
inline constexpr int Add = 1023;
inline constexpr int Remove = 1024;
inline constexpr int Status = 1027;
inline constexpr int EvidenceSelectAll = 1030;
inline constexpr int EvidenceDeselectAll = 1031;
inline constexpr int Help = 1032;
inline constexpr int Percent = 1036;
inline constexpr int Animation = 1037;
// The opt-in modes beyond the design's controls.
inline constexpr int ExactEnds = 1040;
inline constexpr int WriteDfxml = 1041;
inline constexpr int ReportOnly = 1042;
inline constexpr int UnallocatedOnly = 1043;
inline constexpr int ReassembleFragments = 1044;
// The frame of the status area: no control of the form, but its caption is the run's overall line.
inline constexpr int StatusArea = 1045;
inline constexpr int VerifyFiles = 1046;
// Opens the gallery of the last run's files; enabled once a run has ended.
inline constexpr int ShowCarvedFiles = 1048;
} // namespace ctl

} // namespace morrow
