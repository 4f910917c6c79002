// One download per connected phone port: its parameters, its StepRunner, and the body of the
// worker thread (Run).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "session/result_codes.h"
#include "win/window.h"

namespace tr52 {

class StepRunner;

// Fixed download parameters of this plug-in.
constexpr int kFlowDownload = 1;
constexpr int kFlowEmergency = 0;
constexpr uint32_t kPluginImageMask = 0x07010148;
constexpr uint32_t kPluginOptions = 0x1800;

struct SessionParams {
  win::HWND dialog = nullptr;  // window that receives the step messages; may be null
  int flowType = kFlowDownload;
  std::string packagePath;
  uint8_t port = 0;
  uint32_t imageMask = 0;
  uint32_t options = 0;
  unsigned notifyMsg = 0;
  // How much faster than real time the named waits of the download run (1 on a real line).
  double waitScale = 1.0;
};

class DownloadSession {
 public:
  // Copies the record and creates the StepRunner with its protocol objects.
  explicit DownloadSession(const SessionParams& params);
  // Closes the port (when still open) and deletes the runner.
  virtual ~DownloadSession();

  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  // Takes a complete parameter record and configures the runner with it.
  void Start(const SessionParams& params);
  // The download (worker thread): port open, booting mode, image load, flow, port close, the
  // download's record (beside the process log) and the final step message. Returns the result
  // code (0 = success). An exception from the download is recorded as code 500 and passed on.
  int Run();

  // Opens the COM port through the link (IsConnected); true when open.
  bool OpenPort();

  StepRunner& Runner() { return *runner_; }
  uint8_t Port() const { return port_; }
  int FlowType() const { return flowType_; }
  const std::string& PackagePath() const { return packagePath_; }
  win::HWND Dialog() const { return dialog_; }
  uint32_t ImageMask() const { return imageMask_; }
  uint32_t Options() const { return options_; }
  unsigned NotifyMsg() const { return notifyMsg_; }

 private:
  void CopyParams(const SessionParams& params);
  void ConfigureRunner();
  // Posts TYPE_WPARAM_UPGRADE_ERROR with `code` to the dialog and logs it (when there is one).
  void ReportError(int code);
  // Run up to its final message: the result code; `finalMessage` says whether one is due.
  int Download(bool& finalMessage);
  // Writes the download's record; a record that cannot be written is logged, nothing more.
  void Record(int result, std::chrono::system_clock::time_point started);

  std::unique_ptr<StepRunner> runner_;
  int flowType_ = kFlowDownload;
  std::string packagePath_;
  win::HWND dialog_ = nullptr;
  uint8_t port_ = 0;
  uint32_t imageMask_ = 0;
  uint32_t options_ = 0;
  unsigned notifyMsg_ = 0;
  double waitScale_ = 1.0;
  std::string devicePath_;  // of the port, once the download opened it
};

}  // namespace tr52
