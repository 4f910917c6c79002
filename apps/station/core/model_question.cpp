#include "model_question.h"

#include "commands/diag_client.h"
#include "commands/dload_client.h"
#include "link/phone_link.h"
#include "session/phone_model.h"

namespace station {

const char* ModeName(PhoneMode mode) {
  return mode == PhoneMode::kNormal ? "normal mode" : "download mode";
}

ModelAnswer AskModel(const std::string& devNode) {
  ModelAnswer answer;
  tr52::PhoneLink link;
  if (!link.OpenDevice(devNode)) {
    answer.outcome = ModelAnswer::Outcome::kCannotOpen;
    answer.openError = link.LastError();
    return answer;
  }
  std::string text;
  tr52::DiagClient diag;
  diag.AttachLink(&link, nullptr);
  tr52::DloadClient dload;
  dload.AttachLink(&link, nullptr);
  if (diag.GetModelName(text)) {
    answer.outcome = ModelAnswer::Outcome::kAnswered;
    answer.mode = PhoneMode::kNormal;
    answer.model = text;
  } else if (text.clear(); dload.GetEmergencyModelName(text)) {
    answer.outcome = ModelAnswer::Outcome::kAnswered;
    answer.mode = PhoneMode::kDownload;
    answer.model = tr52::ModelFromEmergencyName(text);
  }
  link.Close();
  return answer;
}

}  // namespace station
