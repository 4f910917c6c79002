// One download per connected phone port: its StepRunner (which holds the download's job) and
// the body of the worker thread (Run).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "session/download_job.h"
#include "session/result_codes.h"

namespace tr52 {

class ImageCatalogue;
class ProgressSink;
class StepRunner;

// Fixed download parameters of this plug-in.
constexpr uint32_t kPluginImageMask = 0x07010148;
constexpr uint32_t kPluginOptions = 0x1800;

class DownloadSession {
 public:
  // Creates the StepRunner with its protocol objects for `job`; the downloads read their images
  // from `images`, which outlives the session.
  DownloadSession(const DownloadJob& job, ImageCatalogue& images);
  // Closes the port (when still open) and deletes the runner.
  virtual ~DownloadSession();

  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  // Takes the job of the download about to run and configures the runner with it.
  void Start(const DownloadJob& job);
  // The download (worker thread): port open, booting mode, image load, flow, port close, the
  // download's record (beside the process log) and the final step message, with its text lines
  // and bars reported to `progress` (the pane's) until it returns. Returns the result code. An
  // exception from the download is recorded as Exception and passed on.
  [[nodiscard]] ResultCode Run(ProgressSink& progress);

  // Opens the COM port through the link (IsConnected); true when open.
  [[nodiscard]] bool OpenPort();

  StepRunner& Runner() { return *runner_; }
  // The job the session runs (its flow is the emergency flow once a phone was found in
  // download mode).
  const DownloadJob& Job() const;
  uint8_t Port() const { return Job().port; }

 private:
  // Posts TYPE_WPARAM_UPGRADE_ERROR with `code` to the dialog and logs it (when there is one).
  void ReportError(ResultCode code);
  // Run up to its final message: the result code; `finalMessage` says whether one is due.
  ResultCode Download(bool& finalMessage);
  // Writes the download's record; a record that cannot be written is logged, nothing more.
  void Record(ResultCode result, std::chrono::system_clock::time_point started);

  std::unique_ptr<StepRunner> runner_;
  std::string devicePath_;  // of the port, once the download opened it
};

}  // namespace tr52
