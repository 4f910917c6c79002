#include "session/download_session.h"

#include <atomic>
#include <exception>

#include "base/messages.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "link/phone_link.h"
#include "package/image_store.h"
#include "platform/process_info.h"
#include "session/download_flows.h"
#include "session/download_record.h"
#include "session/download_steps.h"
#include "session/step_runner.h"

namespace tr52 {

DownloadSession::DownloadSession(const SessionParams& params) {
  CopyParams(params);
  runner_ = std::make_unique<StepRunner>(flowType_, dialog_, notifyMsg_, imageMask_, options_);
}

DownloadSession::~DownloadSession() = default;

void DownloadSession::CopyParams(const SessionParams& params) {
  dialog_ = params.dialog;
  flowType_ = params.flowType;
  packagePath_ = params.packagePath;
  port_ = params.port;
  imageMask_ = params.imageMask;
  options_ = params.options;
  notifyMsg_ = params.notifyMsg;
  waitScale_ = params.waitScale;
}

void DownloadSession::ConfigureRunner() {
  runner_->Configure(flowType_, dialog_, notifyMsg_, imageMask_, options_, port_);
  runner_->SetWaitScale(waitScale_);
}

void DownloadSession::Start(const SessionParams& params) {
  CopyParams(params);
  ConfigureRunner();
}

bool DownloadSession::OpenPort() {
  return runner_->Link()->Open(port_);
}

void DownloadSession::ReportError(int code) {
  if (dialog_ == nullptr) return;
  win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_UPGRADE_ERROR, code);
  Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_ERROR", port_);
}

int DownloadSession::Download(bool& finalMessage) {
  StepContext& ctx = runner_->Context();
  PhoneLink& link = *runner_->Link();
  finalMessage = true;
  if (!link.Open(port_)) {
    Log("[COM%d] __DownloadThread :: Port[%d] Open Fail", port_, port_);
    return ctx.facts.EndsAt("open port", kResultOpenPort);
  }
  devicePath_ = link.DevicePath();

  uint8_t mode = BOOT_UNKNOWN;
  // The port stays open until the session is deleted when the detection fails.
  if (const int rc = GetBootingMode(ctx, mode); rc != 0) return ctx.facts.EndsAt("detect", rc);
  if (IsDloadMode(mode)) flowType_ = kFlowEmergency;
  ConfigureRunner();
  ctx.facts.flow = flowType_;

  if (dialog_ != nullptr) win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_LOAD_BIN, 0);

  int result;
  if (!LoadImages(packagePath_, imageMask_)) {
    result = ctx.facts.EndsAt("load images", kResultLoadImages);
  } else {
    // What the images came from, as loaded: a package replaced or chosen since changes nothing
    // that this process sends to a phone.
    ctx.facts.package = LoadedPackageFacts();
    result = RunDownloadFlow(ctx);
  }
  link.Close();
  finalMessage = flowType_ == kFlowEmergency || flowType_ == kFlowDownload;
  return result;
}

void DownloadSession::Record(int result, std::chrono::system_clock::time_point started) {
  // Numbers the downloads of this process, so that a host tells its own records apart.
  static std::atomic<uint64_t> downloads{0};
  const uint64_t number = ++downloads;
  const std::string path = RecordPathFor(ProcessLog::Instance().Path());
  std::string error;
  try {
    DownloadRecord record;
    record.hostPid = ProcessId();
    record.download = number;
    record.com = port_;
    if (!devicePath_.empty()) record.port = devicePath_;
    record.started = UtcTimestamp(started);
    record.ended = UtcTimestamp(std::chrono::system_clock::now());
    record.result = result;
    record.resultName = ResultCodeName(result);
    record.facts = runner_->Context().facts;
    if (AppendDownloadRecord(path, record, error)) return;
  } catch (const std::exception& e) {
    // The record never fails the download it records.
    error = e.what();
  }
  Log("[COM%d] download record not written to %s: %s", port_, PrintableText(path).c_str(),
      error.c_str());
}

int DownloadSession::Run() {
  const auto started = std::chrono::system_clock::now();
  runner_->Context().facts = DownloadFacts{};
  devicePath_.clear();
  bool finalMessage = true;
  int result;
  try {
    result = Download(finalMessage);
  } catch (...) {
    runner_->Context().facts.EndsAt("unexpected failure", kResultException);
    Record(kResultException, started);
    throw;
  }
  // On disk before the host learns the result: a host reading records when the result comes
  // finds this one.
  Record(result, started);
  if (finalMessage && dialog_ != nullptr) {
    if (result != 0) {
      ReportError(result);
    } else {
      win::PostMessage(dialog_, notifyMsg_, TYPE_WPARAM_UPGRADE_OK, 0);
      Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_OK", port_);
    }
  }
  return result;
}

}  // namespace tr52
