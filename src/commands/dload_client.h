// Commands of a phone in download mode: the download protocol and the maker's extensions
// (parameters, communication mode, RAM download), the NAND programmer (trusted mode, partition
// table and header opens, image opens, the classic block write, finalize, EFS erase, reset),
// the pipelined flash write and the boot-code protection lock.
#pragma once

#include <cstdint>
#include <string>

#include "commands/dload_requests.h"
#include "commands/image_source.h"
#include "commands/sent_tally.h"
#include "link/link_client.h"

namespace tr52 {

// Dl_Write results.
enum class DlWriteResult : int { Failed = 0, Done = 1, NotOpen = 6 };

// Communication mode in which the phone takes the pipelined write.
constexpr int kCommModePipelined = 2;

class DloadClient : public LinkClient {
 public:
  DloadClient();

  // Where the images to write come from; without a source the client has none.
  void SetImageSource(ImageSource source);

  // --- download protocol: session start and RAM download --------------------------------
  [[nodiscard]] bool GetParameters();
  const DloadParams& Params() const { return params_; }
  // Asks the phone for its communication mode; CommMode() changes on success only.
  [[nodiscard]] bool GetCommMode();
  int CommMode() const { return commMode_; }
  [[nodiscard]] bool Dl_Init();
  // AMSS (3) or WINCE (21) only.
  [[nodiscard]] bool Dl_Init_2nd(ImageType type);
  // 1 done, 0 failed (or link aborted), 6 port not open.
  [[nodiscard]] DlWriteResult Dl_Write(ImageType type);
  [[nodiscard]] bool Dl_Program();
  // DLOAD_VERREQ_F. Sets Protocol::Dload first. True only for a name starting with "KW" (any case).
  [[nodiscard]] bool GetEmergencyModelName(std::string& name);
  // DLOAD_UNLOCK_F; a phone that does not answer at all counts as unlocked.
  [[nodiscard]] bool DloadUnlock(const uint8_t code[8]);

  // --- NAND programmer ------------------------------------------------------------------
  [[nodiscard]] bool SetTrustedMode(int secMode);
  // PARTITION TBL, OEMSBL HEADER, AMSS MODEM HEADER or MASTER ROM, image copied into the
  // request.
  [[nodiscard]] bool NandFlashInitWithFile(ImageType type, int flag);
  [[nodiscard]] bool NandFlashInitWithoutFile(ImageType type);
  [[nodiscard]] bool NandFlashImageInit(ImageType type);
  // RAM-write packets of 4096 (MASTER ROM 4224) bytes, one program request per 16384 (16896)
  // byte block, starting at the type's nandStart.
  [[nodiscard]] bool NandFlashWrite(ImageType type);
  [[nodiscard]] bool NandFlashFinalize();
  [[nodiscard]] bool EraseEfs();
  // The phone restarts instead of answering: nothing is checked.
  void DloadReset();

  // --- pipelined flash write --------------------------------------------------------------
  [[nodiscard]] bool Dl_AsyncOptimizeWrite(ImageType type);

  // The image bytes the last image write (NandFlashInitWithFile, NandFlashWrite, Dl_Write,
  // Dl_AsyncOptimizeWrite) sent, each byte once, in order: all of the image when the write
  // succeeded, the part before the failure otherwise. Taking them starts the count over.
  SentBytes TakeSent() { return sent_.Take(); }

  // --- boot-code protection ---------------------------------------------------------------
  // True = the lock is on; false = off or the question failed.
  [[nodiscard]] bool CheckBcplStatus();
  // True = the phone reports the lock released.
  [[nodiscard]] bool UnlockBcpl();

 private:
  ImageView Image(ImageType type) const;
  // False (after a log line) when the modem header is too long for a RAM initialisation.
  bool ModemHeaderFits(const ImageView& header) const;

  int commMode_ = 0;
  DloadParams params_;
  ImageSource imageSource_;
  SentTally sent_;
};

}  // namespace tr52
