#include "session/download_session.h"

#include <atomic>
#include <exception>

#include "base/messages.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "platform/process_info.h"
#include "session/download_flows.h"
#include "session/download_record.h"
#include "session/download_steps.h"
#include "session/step_runner.h"

namespace tr52 {

DownloadSession::DownloadSession(const DownloadJob& job, ImageCatalogue& images)
    : runner_(std::make_unique<StepRunner>(job, images)) {}

DownloadSession::~DownloadSession() = default;

const DownloadJob& DownloadSession::Job() const {
  return runner_->Job();
}

void DownloadSession::Start(const DownloadJob& job) {
  runner_->Configure(job);
}

bool DownloadSession::OpenPort() {
  return runner_->Link()->Open(Port());
}

void DownloadSession::ReportError(ResultCode code) {
  const DownloadJob& job = Job();
  if (job.dialog == nullptr) return;
  win::PostMessage(job.dialog, job.notifyMsg, TYPE_WPARAM_UPGRADE_ERROR, ToInt(code));
  Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_ERROR", job.port);
}

ResultCode DownloadSession::Download(bool& finalMessage) {
  StepContext& ctx = runner_->Context();
  PhoneLink& link = *runner_->Link();
  const uint8_t port = Port();
  finalMessage = true;
  if (!link.Open(port)) {
    Log("[COM%d] __DownloadThread :: Port[%d] Open Fail", port, port);
    return ctx.run.facts.EndsAt("open port", ResultCode::OpenPort);
  }
  devicePath_ = link.DevicePath();

  // The port stays open until the session is deleted when the detection fails.
  ctx.run.step = "detect";
  const BootDetection found = GetBootingMode(ctx, BootMode::Unknown);
  if (Failed(found.result)) return ctx.run.facts.EndsAt("detect", found.result);
  // Taking the emergency flow sets the boot mode back to Diag, as every new job does; both flows
  // detect the phone again before they read it.
  runner_->Configure(IsDloadMode(found.mode) ? Job().WithFlow(kFlowEmergency) : Job());
  const DownloadJob& job = Job();
  ctx.run.facts.flow = job.flowType;

  if (job.dialog != nullptr) win::PostMessage(job.dialog, job.notifyMsg, TYPE_WPARAM_LOAD_BIN, 0);

  ResultCode result;
  ctx.run.step = "load images";
  ctx.images.SetImagePaths(kDownloadImageMask, job.packagePath);
  if (!ctx.images.LoadImages(job.packagePath, job.imageMask)) {
    result = ctx.run.facts.EndsAt("load images", ResultCode::LoadImages);
  } else {
    // What the images came from, as loaded: a package replaced or chosen since changes nothing
    // that this process sends to a phone.
    ctx.run.facts.package = ctx.images.LoadedPackageFacts();
    result = RunDownloadFlow(ctx);
  }
  link.Close();
  finalMessage = job.flowType == kFlowEmergency || job.flowType == kFlowDownload;
  return result;
}

void DownloadSession::Record(ResultCode result, std::chrono::system_clock::time_point started) {
  // Numbers the downloads of this process, so that a host tells its own records apart.
  static std::atomic<uint64_t> downloads{0};
  const uint64_t number = ++downloads;
  const std::string path = RecordPathFor(CurrentLogPath());
  std::string error;
  try {
    DownloadRecord record;
    record.hostPid = ProcessId();
    record.download = number;
    record.com = Port();
    if (!devicePath_.empty()) record.port = devicePath_;
    record.started = UtcTimestamp(started);
    record.ended = UtcTimestamp(std::chrono::system_clock::now());
    record.result = ToInt(result);
    record.resultName = ResultCodeName(result);
    record.facts = runner_->State().facts;
    if (AppendDownloadRecord(path, record, error)) return;
  } catch (const std::exception& e) {
    // The record never fails the download it records.
    error = e.what();
  }
  Log("[COM%d] download record not written to %s: %s", Port(), PrintableText(path).c_str(),
      error.c_str());
}

ResultCode DownloadSession::Run(ProgressSink& progress) {
  // The sink is the caller's: nothing keeps it once the download is over.
  struct ProgressUse {
    StepRunner& runner;
    ~ProgressUse() { runner.UseProgress(nullptr); }
  } use{*runner_};
  runner_->UseProgress(&progress);
  const auto started = std::chrono::system_clock::now();
  runner_->State().facts = DownloadFacts{};
  runner_->State().step.clear();
  devicePath_.clear();
  bool finalMessage = true;
  ResultCode result;
  try {
    result = Download(finalMessage);
  } catch (...) {
    // Where it happened, when a flow step was running.
    RunState& run = runner_->State();
    run.facts.EndsAt(run.step.empty() ? "unexpected failure" : run.step, ResultCode::Exception);
    Record(ResultCode::Exception, started);
    throw;
  }
  // On disk before the host learns the result: a host reading records when the result comes
  // finds this one.
  Record(result, started);
  const DownloadJob& job = Job();
  if (finalMessage && job.dialog != nullptr) {
    if (Failed(result)) {
      ReportError(result);
    } else {
      win::PostMessage(job.dialog, job.notifyMsg, TYPE_WPARAM_UPGRADE_OK, 0);
      Log("[COM%d] 메시지 보냄 - TYPE_WPARAM_UPGRADE_OK", job.port);
    }
  }
  return result;
}

}  // namespace tr52
