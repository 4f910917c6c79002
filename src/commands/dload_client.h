// Commands of a phone in download mode: the download protocol and the maker's extensions
// (parameters, communication mode, RAM download), the NAND programmer (trusted mode, partition
// table and header opens, image opens, the classic block write, finalize, EFS erase, reset),
// the pipelined flash write and the boot-code protection lock.
#pragma once

#include <cstdint>
#include <string>

#include "commands/command_client.h"
#include "commands/image_source.h"
#include "commands/sent_tally.h"

namespace tr52 {

// What GetParameters read (all zero before and after a failed read).
struct DloadParams {
  uint8_t valid = 0;
  uint8_t paramByte = 0;   // answer byte 2
  uint32_t paramWord = 0;  // answer bytes 35..38
  uint8_t flag0 = 0;       // bits 0..4 of answer byte 39
  uint8_t flag1 = 0;       // the phone offers the RAM download prepared by Dl_Init
  uint8_t flag2 = 0;
  uint8_t flag3 = 0;
  uint8_t flag4 = 0;
  uint8_t flag6 = 0;  // bit 6: the phone offers the RAM download prepared by Dl_Init_2nd
};

// Dl_Write results.
constexpr int kDlWriteFailed = 0;
constexpr int kDlWriteDone = 1;
constexpr int kDlWriteNotOpen = 6;

// Communication mode in which the phone takes the pipelined write.
constexpr int kCommModePipelined = 2;

class DloadClient : public CommandClient {
 public:
  DloadClient();

  // Images come from the process-wide store unless a source is given (null restores it).
  void SetImageSource(ImageSource source);

  // --- download protocol: session start and RAM download --------------------------------
  bool GetParameters();
  const DloadParams& Params() const { return params_; }
  // `mode` is set on success only. The steps pass CommMode().
  bool GetCommMode(int& mode);
  int& CommMode() { return commMode_; }
  bool Dl_Init();
  // AMSS (3) or WINCE (21) only.
  bool Dl_Init_2nd(ImageType type);
  // 1 done, 0 failed (or link aborted), 6 port not open.
  int Dl_Write(ImageType type);
  bool Dl_Program();
  // DLOAD_VERREQ_F. Sets MODE_DLOAD first. True only for a name starting with "KW" (any case).
  bool GetEmergencyModelName(std::string& name);
  // DLOAD_UNLOCK_F; a phone that does not answer at all counts as unlocked.
  bool DloadUnlock(const uint8_t code[8]);

  // --- NAND programmer ------------------------------------------------------------------
  bool SetTrustedMode(int secMode);
  // PARTITION TBL, OEMSBL HEADER, AMSS MODEM HEADER or MASTER ROM, image copied into the
  // request.
  bool NandFlashInitWithFile(ImageType type, int flag);
  bool NandFlashInitWithoutFile(ImageType type);
  bool NandFlashImageInit(ImageType type);
  // RAM-write packets of 4096 (MASTER ROM 4224) bytes, one program request per 16384 (16896)
  // byte block, starting at the type's nandStart.
  bool NandFlashWrite(ImageType type);
  bool NandFlashFinalize();
  bool EraseEfs();
  // Always true.
  bool DloadReset();

  // --- pipelined flash write --------------------------------------------------------------
  bool Dl_AsyncOptimizeWrite(ImageType type);

  // The image bytes the last image write (NandFlashInitWithFile, NandFlashWrite, Dl_Write,
  // Dl_AsyncOptimizeWrite) sent, each byte once, in order: all of the image when the write
  // succeeded, the part before the failure otherwise. Taking them starts the count over.
  SentBytes TakeSent() { return sent_.Take(); }

  // --- boot-code protection ---------------------------------------------------------------
  // True = the lock is on; false = off or the question failed.
  bool CheckBcplStatus();
  // True = the phone reports the lock released.
  bool UnlockBcpl();

 private:
  ImageView Image(ImageType type) const;

  int commMode_ = 0;
  DloadParams params_;
  ImageSource imageSource_;
  SentTally sent_;
};

}  // namespace tr52
