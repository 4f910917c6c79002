// What a phone's answers to the model questions mean: the model text of the DIAG version
// answer (normal mode), and the name of the download-mode version answer ("KW?TR52/V10A").
#pragma once

#include <string>

namespace tr52 {

// True when a download-mode name starts with "KW" (any case).
bool IsEmergencyModelName(const std::string& name);
// "KW?TR52/V10A" -> "TR52": the characters from index 3 up to the last '/'; empty when there is
// no '/' after index 3.
std::string ModelFromEmergencyName(const std::string& name);
// True when `model` (any case) is the model this plug-in downloads.
bool IsDownloadedModel(const std::string& model);

}  // namespace tr52
